#pragma once

#include <QModelIndexList>
#include <QPersistentModelIndex>

namespace lumora {

class File;
class LibraryOutlineView;
class LibraryViewController;

// Which rows of the library pane's outline are chosen: the rows the file
// commands act on, and the row of the window's document, which is selected
// whenever nothing else is.
class LibrarySelection {
public:
    LibrarySelection(LibraryViewController& pane, LibraryOutlineView& view);

    // The rows a command acts on: the clicked row (context menu) when it
    // lies outside the selection, else the selected rows, in outline order.
    QModelIndexList rowsToActOn() const;
    // The row the context menu was opened on, while it is open (none after).
    void setClickedRow(const QModelIndex& row) { m_clickedRow = row; }

    // Selects a file's row alone (none clears the selection), scrolled into
    // view, without opening it.
    void selectFile(File* file);
    // With nothing selected, selects the window's document's row when it is
    // in view (its folders open).
    void selectDocumentRowIfNone();

private:
    LibraryViewController& m_pane;
    LibraryOutlineView& m_view;
    QPersistentModelIndex m_clickedRow;
};

} // namespace lumora
