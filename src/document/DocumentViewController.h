#pragma once

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace lumora {

class TextView;

// The editor pane of a document window: the editor, which scrolls its own
// text, and below it the statistics line, shown while the preference says
// so. The pane applies the theme to the editor and follows the theme and
// statistics-line notifications.
class DocumentViewController : public QWidget {
    Q_OBJECT

public:
    explicit DocumentViewController(QWidget* parent = nullptr);
    ~DocumentViewController() override;

    TextView* textView() const { return m_textView; }

    // The statistics line (owned by the pane once set); none until the
    // document's statistics exist.
    void setInfoView(QWidget* infoView);
    QWidget* infoView() const { return m_infoView; }

    // Background, caret and selection colours and the focus colours of the
    // editor from the current theme.
    void applyTheme();
    // Shows or hides the statistics line as the preference says.
    void applyInfoViewVisibility();

private:
    QVBoxLayout* m_layout = nullptr;
    TextView* m_textView = nullptr;
    QPointer<QWidget> m_infoView;
};

} // namespace lumora
