#include "library/LibraryRows.h"

#include "document/Document.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibrarySearchAndSort.h"
#include "library/LibrarySelection.h"
#include "library/LibraryViewController.h"

#include <QDir>

#include <utility>

namespace lumora {

LibraryRows::LibraryRows(LibraryViewController& pane, LibraryOutlineModel& model, LibraryOutlineView& view)
    : m_pane(pane), m_model(model), m_view(view)
{
    connect(&m_view, &QTreeView::expanded, this, [this](const QModelIndex& index) { userExpanded(index, true); });
    connect(&m_view, &QTreeView::collapsed, this, [this](const QModelIndex& index) { userExpanded(index, false); });
    // A tree shown afresh keeps its expansion and the window's row.
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (m_filteredRootFile) {
            restoreExpansion(*m_filteredRootFile);
            m_pane.selection().selectDocumentRowIfNone();
        }
    });
}

void LibraryRows::setShownRoot(Directory* root, std::unique_ptr<Directory> copy)
{
    // The model lets go of the old rows before the old copy goes.
    std::unique_ptr<Directory> old = std::move(m_filteredCopy);
    m_filteredRootFile = root;
    m_filteredCopy = std::move(copy);
    m_model.setRoot(root);
    old.reset();
}

// Lookups ------------------------------------------------------------------------------

File* LibraryRows::fileAtRow(const QModelIndex& row) const { return m_model.fileAt(row); }

std::vector<File*> LibraryRows::filesAtRows(const QModelIndexList& rows) const
{
    std::vector<File*> files;
    for (const QModelIndex& row : rows)
        if (File* file = fileAtRow(row)) files.push_back(file);
    return files;
}

File* LibraryRows::shownFileAt(const QString& path) const
{
    if (!m_filteredRootFile || path.isEmpty()) return nullptr;
    File* file = m_filteredRootFile->fileAtPath(QDir::cleanPath(path));
    return file == m_filteredRootFile ? nullptr : file;
}

RegularFile* LibraryRows::regularFile(const QString& path) const
{
    FileController* controller = m_pane.fileController();
    if (!controller || !controller->rootFile() || path.isEmpty()) return nullptr;
    return dynamic_cast<RegularFile*>(controller->rootFile()->fileAtPath(QDir::cleanPath(path)));
}

RegularFile* LibraryRows::documentFile() const
{
    const Document* d = m_pane.document();
    if (!d || d->isUntitled()) return nullptr;
    return regularFile(d->filePath());
}

QModelIndex LibraryRows::indexOfFile(const File* file)
{
    if (!file) return {};
    // A file of the library's tree stands for its copy in a search's tree.
    if (m_filteredCopy) return m_model.indexOf(shownFileAt(file->path()));
    return m_model.indexOf(file);
}

// Open folders ---------------------------------------------------------------------------

void LibraryRows::restoreExpansion(Directory& folder)
{
    restoreExpansion(folder, folder.parent() ? indexOfFile(&folder) : QModelIndex());
}

void LibraryRows::restoreExpansion(Directory& folder, const QModelIndex& index)
{
    if (!folder.expanded) return;
    const bool was = std::exchange(m_restoringExpansion, true);
    if (index.isValid()) m_view.expand(index);
    for (int row = 0; row < folder.count(); ++row) {
        File* child = folder.child(row);
        if (!child->isDirectory()) continue;
        restoreExpansion(static_cast<Directory&>(*child), m_model.index(row, 0, index));
    }
    m_restoringExpansion = was;
}

void LibraryRows::expandAbove(const QModelIndex& index)
{
    const bool was = std::exchange(m_restoringExpansion, true);
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) m_view.expand(up);
    m_restoringExpansion = was;
}

void LibraryRows::userExpanded(const QModelIndex& index, bool expanded)
{
    if (m_restoringExpansion) return;
    auto* folder = dynamic_cast<Directory*>(fileAtRow(index));
    if (!folder) return;
    folder->expanded = expanded;
    // Only the library's own tree is saved: a search's copies come and go.
    const std::shared_ptr<Library> library = m_pane.library();
    FileController* controller = m_pane.fileController();
    if (library && controller && m_filteredRootFile == controller->rootFile()) library->saveExpandedState();
    if (!expanded) return;
    const bool was = std::exchange(m_restoringExpansion, true);
    for (int row = 0; row < folder->count(); ++row)
        if (folder->child(row)->isDirectory())
            restoreExpansion(static_cast<Directory&>(*folder->child(row)), m_model.index(row, 0, index));
    m_restoringExpansion = was;
}

// Following the disk ------------------------------------------------------------------------

QString LibraryRows::filter() const { return m_pane.search().text(); }

void LibraryRows::willInsertRow(Directory& parent, int index) { m_model.willInsertRow(parent, index); }

void LibraryRows::didInsertRow(Directory& parent, int index)
{
    m_model.didInsertRow(parent, index);
    m_pane.selection().selectDocumentRowIfNone();
    // A search that found nothing may find this.
    if (!filter().isEmpty()) m_pane.showState();
}

void LibraryRows::willRemoveRow(Directory& parent, int index) { m_model.willRemoveRow(parent, index); }

void LibraryRows::didRemoveRow(Directory& parent, int index)
{
    m_model.didRemoveRow(parent, index);
    if (!filter().isEmpty()) m_pane.showState();
}

void LibraryRows::willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    m_model.willMoveRow(from, fromIndex, to, toIndex);
}

void LibraryRows::didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex)
{
    m_model.didMoveRow(from, fromIndex, to, toIndex);
    // The row being worked on stays in view when it moved.
    if (toIndex < 0 || toIndex >= to.count()) return;
    const QModelIndexList acted = m_pane.selection().rowsToActOn();
    if (!acted.isEmpty() && fileAtRow(acted.first()) == to.child(toIndex)) m_view.scrollTo(acted.first());
}

void LibraryRows::fileDidChange(File& file) { m_model.fileDidChange(file); }

void LibraryRows::sortKeyWillChange() { m_model.sortWillChange(); }

void LibraryRows::sortKeyChanged()
{
    if (m_model.root()) m_model.sortDidChange();
    m_pane.search().showSortKey();
    m_view.viewport()->update();
}

} // namespace lumora
