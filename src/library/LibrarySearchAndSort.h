#pragma once

#include "library/Library.h"

#include <QObject>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

namespace lumora {

class FileRowDelegate;
class LibraryPaneHeader;
class LibraryViewController;

// The library pane's search and sort order, behind its header's search
// field and sort button.
//
// - Search filters the tree as the writer types: the outline shows a copy
//   of the library's tree with the documents that match and their folders;
//   the selected files stay selected when they are still there. Enter
//   opens the first document found. Each library keeps its own search while
//   the pane shows another.
// - The sort order is the shown library's, kept with it across launches;
//   dates show on the rows unless they are sorted by name.
class LibrarySearchAndSort : public QObject {
public:
    LibrarySearchAndSort(LibraryViewController& pane, LibraryPaneHeader& header, FileRowDelegate& delegate);

    // The search text; empty when there is no search.
    QString text() const { return m_filter; }
    // Searches for text (the field shows it).
    void setFilter(const QString& text);
    // Shows the search's rows for the tree as it is now.
    void applyFilter();
    // Ends the search: the whole tree again.
    void clearSearch();
    // Enter in the field: opens the first document found.
    void searchFieldAction();

    // The pane leaves library: its search is kept for when it comes back.
    void rememberSearchOf(const Library& library);
    // The pane shows library (or none): the field shows its search.
    void showSearchOf(const Library* library);

    // The shown library takes the order, and its tree is sorted by it.
    void chooseSortKey(Library::SortKey key);
    // The header and the rows follow the shown library's order.
    void showSortKey();

private:
    Library::SortKey shownSortKey() const;

    LibraryViewController& m_pane;
    LibraryPaneHeader& m_header;
    FileRowDelegate& m_delegate;
    QString m_filter;
    // The search of each library this pane showed (the shown one's is m_filter).
    std::vector<std::pair<std::weak_ptr<Library>, QString>> m_searches;
};

} // namespace lumora
