#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace lumora {

class FileController;
class LibraryViewController;

// Brings the library pane's library on screen: its tree is read on another
// thread (unless another pane holds it already), so that the window goes
// on answering; once the reading takes a moment the pane shows how far it
// got, and it fills in when the tree is there. While shown, the pane
// observes the tree's FileController (and keeps it alive); leaving lets go
// of it, and of a reading no pane waits for any more.
class LibraryTreeLoader : public QObject {
public:
    explicit LibraryTreeLoader(LibraryViewController& pane);

    // Shows the pane's library, reading its tree first when no pane holds
    // it; a reading that fails is presented when presentErrors says so.
    void show(bool presentErrors);
    // The pane stops showing its library's tree.
    void leave();

    // The shown library's tree is being read.
    bool isLoading() const { return m_loading; }
    // The reading took long enough to show its progress.
    bool showsProgress() const;

private:
    void showLoaded();

    LibraryViewController& m_pane;
    // The controller the pane observes (kept alive while it does).
    std::shared_ptr<FileController> m_observed;
    // The tree being read for the shown library, and since when.
    bool m_loading = false;
    quint64 m_ticket = 0;
    QElapsedTimer m_shownAt;
    QTimer m_progress;
};

} // namespace lumora
