#include "library/LibraryTreeLoader.h"

#include "library/FileController.h"
#include "library/LibraryChooser.h"
#include "library/LibraryController.h"
#include "library/LibraryRows.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"

#include <QPointer>

namespace lumora {

namespace {

// How long a folder may take to read before the pane shows its progress.
constexpr qint64 kLoadingDelay = 150;

} // namespace

LibraryTreeLoader::LibraryTreeLoader(LibraryViewController& pane) : m_pane(pane)
{
    m_progress.setInterval(100);
    connect(&m_progress, &QTimer::timeout, this, [this] {
        // A folder read in a blink shows no progress at all.
        if (m_loading && m_pane.library()) m_pane.showState();
    });
}

bool LibraryTreeLoader::showsProgress() const
{
    return m_shownAt.isValid() && m_shownAt.elapsed() >= kLoadingDelay;
}

void LibraryTreeLoader::show(bool presentErrors)
{
    const std::shared_ptr<Library> library = m_pane.library();
    m_pane.chooser().selectCurrentLibraryItem();
    if (library->fileController()) {
        showLoaded();
        return;
    }
    // Read on another thread: the window goes on answering, and the pane
    // shows how far the reading got; it fills in when the tree is there.
    m_pane.rows().setShownRoot(nullptr, nullptr);
    m_loading = true;
    QPointer<LibraryTreeLoader> self(this);
    const std::weak_ptr<Library> weak = library;
    const quint64 ticket = library->loadFileTreeInBackground([self, weak, presentErrors](const PlatformStatus& status) {
        const auto loaded = weak.lock();
        if (!self || !loaded || loaded != self->m_pane.library() || !self->m_loading) return;
        self->m_ticket = 0;
        self->m_loading = false;
        self->m_progress.stop();
        if (!status && presentErrors && !status.error().isCancellation()) {
            LibraryViewController* pane = &self->m_pane;
            QMetaObject::invokeMethod(
                pane, [pane, error = status.error()] { pane->presentError(error); }, Qt::QueuedConnection);
        }
        self->showLoaded();
    });
    if (!m_loading) return; // done at once
    m_ticket = ticket;
    m_shownAt.start();
    m_progress.start();
    m_pane.rows().sortKeyChanged();
    m_pane.showState();
}

void LibraryTreeLoader::showLoaded()
{
    const std::shared_ptr<Library> library = m_pane.library();
    FileController* controller = library ? library->fileController() : nullptr;
    LibraryRows& rows = m_pane.rows();
    if (controller && controller->rootFile()) {
        m_observed = library->sharedFileController();
        controller->addObserver(&rows);
        if (m_pane.search().text().isEmpty()) rows.setShownRoot(controller->rootFile(), nullptr);
        else m_pane.search().applyFilter();
    } else {
        rows.setShownRoot(nullptr, nullptr);
    }
    rows.sortKeyChanged();
    m_pane.showState();
    m_pane.selection().selectDocumentRowIfNone();
}

void LibraryTreeLoader::leave()
{
    // A tree still being read is not waited for any more.
    const std::shared_ptr<Library> library = m_pane.library();
    if (m_ticket && library) library->stopWaitingForFileTree(m_ticket);
    m_ticket = 0;
    m_loading = false;
    m_progress.stop();
    // Rows go first: the tree may go with the controller.
    m_pane.rows().setShownRoot(nullptr, nullptr);
    if (const std::shared_ptr<FileController> observed = std::move(m_observed)) {
        LibraryController::shared().removeObserver(static_cast<FileObserver*>(&m_pane.rows()), *observed);
    }
}

} // namespace lumora
