#pragma once

#include <QObject>
#include <QPalette>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace lumora {

struct LibraryPaneColors;

// The calm messages the library pane shows in place of its outline, each
// with its way out where there is one:
// - no library: the whole pane says so, with a button to add a folder;
// - the shown library's folder cannot be read: a caution sign and a button
//   to remove it from the list;
// - a large folder being read: what the pane is doing, and how far it got;
// - a search that finds nothing: says so, with the text searched for.
// The pane places the views; the buttons only report their clicks.
class LibraryPaneMessages : public QObject {
    Q_OBJECT

public:
    explicit LibraryPaneMessages(QObject* parent = nullptr);

    QWidget* emptyView() const { return m_emptyView; }
    QWidget* unavailableView() const { return m_unavailableView; }
    QWidget* loadingView() const { return m_loadingView; }
    QWidget* nothingFoundView() const { return m_nothingFoundView; }

    // The folder being read (by name) and how many of its folders are read.
    void setLoading(const QString& name, int foldersRead);
    // Nothing matches text: the message, wrapped to a body width wide.
    void setNothingFound(const QString& text, int width);

    // The pane's palette, with the messages in its quieter colour.
    void applyColors(const LibraryPaneColors& colors, const QPalette& pane);

signals:
    void addFolderClicked();
    void removeLibraryClicked();

private:
    QWidget* m_emptyView = nullptr;
    QLabel* m_emptyLabel = nullptr;
    QPushButton* m_addFolderButton = nullptr;
    QWidget* m_unavailableView = nullptr;
    QLabel* m_unavailableLabel = nullptr;
    QLabel* m_unavailableIcon = nullptr;
    QPushButton* m_removeLibraryButton = nullptr;
    QWidget* m_loadingView = nullptr;
    QLabel* m_loadingLabel = nullptr;
    QLabel* m_loadingCount = nullptr;
    QProgressBar* m_loadingBar = nullptr;
    QWidget* m_nothingFoundView = nullptr;
    QLabel* m_nothingFoundLabel = nullptr;
};

} // namespace lumora
