#pragma once

#include <QString>
#include <QWidget>

namespace lumora {

class OneLineLabel;

// The library pane of a document window (the left side pane). Until the
// libraries arrive it holds the folder the window was opened with and shows
// that folder's name, quietly, on the sidebar's colours; without a folder it
// says that none is open.
class LibraryViewController : public QWidget {
    Q_OBJECT

public:
    explicit LibraryViewController(QWidget* parent = nullptr);

    // The folder shown (an absolute path), empty for none.
    QString folder() const { return m_folder; }
    void setFolder(const QString& path);

    // Set by the window: the window's title strip never hides while this is
    // on (a window in a tab group).
    bool titleBarIsAlwaysVisible = false;

    // The sidebar's background and text colours from the current theme.
    void applyTheme();

    QSize sizeHint() const override;

private:
    QString m_folder;
    OneLineLabel* m_title = nullptr;
};

} // namespace lumora
