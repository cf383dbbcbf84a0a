#include "library/LibrarySelection.h"

#include "library/LibraryOutlineView.h"
#include "library/LibraryRows.h"
#include "library/LibraryViewController.h"
#include "widgets/ViewUtilities.h"

#include <algorithm>

namespace lumora {

LibrarySelection::LibrarySelection(LibraryViewController& pane, LibraryOutlineView& view) : m_pane(pane), m_view(view)
{
}

QModelIndexList LibrarySelection::rowsToActOn() const
{
    QModelIndexList rows = views::rowsToActOn(&m_view, m_clickedRow);
    // Only rows that still show a file.
    const LibraryRows& shown = m_pane.rows();
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [&shown](const QModelIndex& row) { return !shown.fileAtRow(row); }),
               rows.end());
    return rows;
}

void LibrarySelection::selectFile(File* file)
{
    QItemSelectionModel* selection = m_view.selectionModel();
    const QModelIndex index = m_pane.rows().indexOfFile(file);
    if (!index.isValid()) {
        selection->clearSelection();
        return;
    }
    m_pane.rows().expandAbove(index);
    m_view.scrollTo(index);
    selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void LibrarySelection::selectDocumentRowIfNone()
{
    if (!m_view.selectionModel() || m_view.selectionModel()->hasSelection()) return;
    LibraryRows& rows = m_pane.rows();
    const RegularFile* file = rows.documentFile();
    if (!file) return;
    const QModelIndex index = rows.indexOfFile(file);
    if (!index.isValid()) return;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        if (!m_view.isExpanded(up)) return;
    m_view.selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_view.scrollTo(index);
}

} // namespace lumora
