#include "library/LibraryDocumentOpener.h"

#include "document/Document.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryRows.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"

#include <QPointer>

namespace lumora {

LibraryDocumentOpener::LibraryDocumentOpener(LibraryViewController& pane) : m_pane(pane) {}

void LibraryDocumentOpener::openSelectedFile()
{
    if (!m_pane.document()) return;
    openFileAtActedRow();
}

bool LibraryDocumentOpener::canOpenSelectedFile() const
{
    const QWidget* focus = m_pane.window() ? m_pane.window()->focusWidget() : nullptr;
    return focus == m_pane.fileView();
}

void LibraryDocumentOpener::selectAndOpenFile(File* file)
{
    if (file && file->isDirectory()) return;
    m_pane.selection().selectFile(file);
    if (file && m_pane.fileView()->selectionModel()->hasSelection()) openFileAtActedRow();
}

void LibraryDocumentOpener::openFileAtActedRow()
{
    const QModelIndexList acted = m_pane.selection().rowsToActOn();
    if (acted.isEmpty()) return;
    LibraryRows& rows = m_pane.rows();
    auto* file = dynamic_cast<RegularFile*>(rows.fileAtRow(acted.first()));
    if (!file) return;
    const QString path = file->path();
    // A search's copy and the library's own row share their document.
    Document* bound = file->document();
    if (!bound)
        if (RegularFile* own = rows.regularFile(path)) bound = own->document();
    if (bound) {
        bindDocument(path, bound);
        if (bound != m_pane.document()) switchWindowToFile(path);
        return;
    }
    openDocumentAt(path);
}

void LibraryDocumentOpener::openDocumentAt(const QString& path)
{
    QPointer<LibraryDocumentOpener> self(this);
    Document::openLibraryFile(path, [self, path](Document* opened, const std::optional<PlatformError>& error) {
        if (!self) return;
        LibraryViewController& pane = self->m_pane;
        if (error || !opened) {
            if (error) pane.presentError(*error);
            return;
        }
        self->bindDocument(path, opened);
        if (opened->referencesCount() == 0 && opened->editors().empty() && Document::host()) {
            // Its row went while it opened: nothing holds it.
            Document::host()->closeChildDocument(*opened);
            return;
        }
        // A selection that moved on while the file opened is respected.
        const QModelIndexList rows = pane.selection().rowsToActOn();
        const File* first = rows.isEmpty() ? nullptr : pane.rows().fileAtRow(rows.first());
        if (!first || first->path() != path) return;
        if (opened != pane.document()) self->switchWindowToFile(path);
    });
}

void LibraryDocumentOpener::bindDocument(const QString& path, Document* document)
{
    LibraryRows& rows = m_pane.rows();
    if (RegularFile* own = rows.regularFile(path); own && !own->document()) own->setDocument(document);
    if (auto* shown = dynamic_cast<RegularFile*>(rows.shownFileAt(path)); shown && !shown->document())
        shown->setDocument(document);
}

void LibraryDocumentOpener::switchWindowToFile(const QString& path)
{
    if (!m_pane.host()) return;
    LibraryRows& rows = m_pane.rows();
    RegularFile* file = rows.regularFile(path);
    auto* shown = dynamic_cast<RegularFile*>(rows.shownFileAt(path));
    QPointer<Document> next = file && file->document() ? file->document() : shown ? shown->document() : nullptr;
    Document* current = m_pane.document();
    if (!next || next == current) return;
    if (RegularFile* currentFile = rows.documentFile()) saveDocumentState(*currentFile);
    // The window's document agrees to go first (it may ask the writer).
    if (!m_pane.host()->leaveDocument()) {
        m_pane.selection().selectFile(rows.documentFile());
        return;
    }
    if (!next || next->isClosed()) return;
    m_pane.host()->showDocument(*next);
    if (RegularFile* own = rows.regularFile(path)) restoreDocumentState(*own);
    else m_pane.host()->restoreEditorState({});
}

void LibraryDocumentOpener::saveDocumentState(RegularFile& file)
{
    LibraryPaneHost* host = m_pane.host();
    if (!host) return;
    file.stateData = host->editorState();
    if (const std::shared_ptr<Library> library = m_pane.library()) library->saveDocumentStates();
}

void LibraryDocumentOpener::restoreDocumentState(RegularFile& file)
{
    if (LibraryPaneHost* host = m_pane.host()) host->restoreEditorState(file.stateData);
}

} // namespace lumora
