#include "library/LibrarySearchAndSort.h"

#include "library/FileController.h"
#include "library/FileRowDelegate.h"
#include "library/LibraryController.h"
#include "library/LibraryDocumentOpener.h"
#include "library/LibraryOutlineModel.h"
#include "library/LibraryOutlineView.h"
#include "library/LibraryPaneHeader.h"
#include "library/LibraryRows.h"
#include "library/LibraryViewController.h"

#include <QLineEdit>
#include <QMenu>

#include <algorithm>

namespace lumora {

LibrarySearchAndSort::LibrarySearchAndSort(LibraryViewController& pane, LibraryPaneHeader& header,
                                           FileRowDelegate& delegate)
    : m_pane(pane), m_header(header), m_delegate(delegate)
{
    QLineEdit* field = m_header.searchField();
    connect(field, &QLineEdit::textEdited, this, [this](const QString& text) { setFilter(text); });
    // The clear button changes the text without an edit.
    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != m_filter) setFilter(text);
    });
    connect(field, &QLineEdit::returnPressed, this, [this] { searchFieldAction(); });
    connect(&m_header, &LibraryPaneHeader::sortKeyChosen, this, [this](Library::SortKey key) { chooseSortKey(key); });
    // The check mark on the shown library's order (name without one).
    connect(m_header.sortMenu(), &QMenu::aboutToShow, this, [this] { m_header.checkSortKey(shownSortKey()); });
}

// Search -------------------------------------------------------------------------------------

void LibrarySearchAndSort::setFilter(const QString& text)
{
    m_filter = text;
    if (m_header.searchField()->text() != text) m_header.searchField()->setText(text);
    applyFilter();
}

void LibrarySearchAndSort::applyFilter()
{
    FileController* controller = m_pane.fileController();
    if (!controller || !controller->rootFile()) return;
    LibraryRows& rows = m_pane.rows();
    QItemSelectionModel* selection = m_pane.fileView()->selectionModel();
    // The selected files stay selected in the new rows, when they are there.
    QStringList selected;
    for (const QModelIndex& row : selection->selectedRows())
        if (File* file = rows.fileAtRow(row)) selected << file->path();
    Directory::FilteredTree filtered = controller->rootFile()->filtered(m_filter);
    if (!filtered.root) {
        // Nothing matches yet: an empty copy, so that a match made later
        // still comes in (and the pane says that nothing is found).
        Directory* root = controller->rootFile();
        filtered.copy = std::make_unique<Directory>(root->path(), Directory::Contents{}, controller, root->metadata());
        filtered.copy->expanded = true;
        filtered.root = filtered.copy.get();
    }
    rows.setShownRoot(filtered.root, std::move(filtered.copy));
    m_pane.showState();
    for (const QString& path : selected) {
        const QModelIndex index = m_pane.model().indexOf(rows.shownFileAt(path));
        if (index.isValid()) selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void LibrarySearchAndSort::clearSearch()
{
    QLineEdit* field = m_header.searchField();
    if (m_filter.isEmpty() && field->text().isEmpty()) return;
    m_filter.clear();
    field->clear(); // its clear button goes with the text (see showSearchOf)
    applyFilter();
    m_pane.showState();
}

void LibrarySearchAndSort::searchFieldAction()
{
    Directory* shown = m_pane.rows().filteredRootFile();
    if (m_filter.isEmpty() || !shown) return;
    m_pane.opener().selectAndOpenFile(shown->firstDocument());
}

void LibrarySearchAndSort::rememberSearchOf(const Library& library)
{
    m_searches.erase(std::remove_if(m_searches.begin(), m_searches.end(),
                                    [&library](const auto& entry) {
                                        const auto held = entry.first.lock();
                                        return !held || held.get() == &library;
                                    }),
                     m_searches.end());
    if (!m_filter.isEmpty()) m_searches.emplace_back(std::const_pointer_cast<Library>(library.shared_from_this()), m_filter);
}

void LibrarySearchAndSort::showSearchOf(const Library* library)
{
    m_filter.clear();
    if (library)
        for (const auto& [held, text] : m_searches)
            if (held.lock().get() == library) {
                m_filter = text;
                break;
            }
    // Not with the field's signals blocked: its clear button hears of the
    // new text through them (and the filter already matches it, so the
    // search is not run again).
    m_header.searchField()->setText(m_filter);
}

// Sort ---------------------------------------------------------------------------------------

Library::SortKey LibrarySearchAndSort::shownSortKey() const
{
    const std::shared_ptr<Library> library = m_pane.library();
    return library ? library->sortKey : Library::SortKey::name;
}

void LibrarySearchAndSort::chooseSortKey(Library::SortKey key)
{
    const std::shared_ptr<Library> library = m_pane.library();
    if (!library) return;
    library->sortKey = key;
    if (FileController* controller = m_pane.fileController()) controller->setSortKey(key);
    else showSortKey(); // a tree still being read takes the order when it is there
    LibraryController::shared().save();
}

void LibrarySearchAndSort::showSortKey()
{
    const Library::SortKey key = shownSortKey();
    m_header.showSortKey(key);
    m_delegate.setShowsDates(key != Library::SortKey::name);
}

} // namespace lumora
