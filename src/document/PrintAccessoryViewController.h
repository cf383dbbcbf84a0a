#pragma once

#include <QWidget>

class QCheckBox;

namespace lumora {

class PrintView;

// The print panel's own control: one checkbox, "print.applyMarkdown", that
// switches between printing the Markdown rendered through HTML and printing
// its source. It is bound to the "applyMarkdown" preference (read when the
// accessory is made, written at every click, so the choice carries over to
// the next print) and passes each change to the print view's layout.
class PrintAccessoryViewController : public QWidget {
    Q_OBJECT

public:
    explicit PrintAccessoryViewController(QWidget* parent = nullptr);

    // The view being printed (not owned; it outlives the panel). Without
    // one, only the accessory's own flag changes.
    PrintView* printView = nullptr;

    bool applyMarkdown() const { return m_applyMarkdown; }
    void setApplyMarkdown(bool applyMarkdown);

    QCheckBox* checkbox() const { return m_checkbox; }

signals:
    // The option changed: the panel's preview lays the pages out again.
    void applyMarkdownChanged(bool applyMarkdown);

private:
    QCheckBox* m_checkbox = nullptr;
    bool m_applyMarkdown = false;
};

} // namespace lumora
