#pragma once

#include "library/Library.h"

#include <QWidget>

class QLineEdit;
class QMenu;

namespace lumora {

class LibraryPopup;
class SortButton;
struct LibraryPaneColors;

// The header of the library pane, under the window's title strip: the
// library popup, the search field and the sort button with its menu of
// orders. It only shows: the pane's parts act on what the writer does with
// its controls.
class LibraryPaneHeader : public QWidget {
    Q_OBJECT

public:
    explicit LibraryPaneHeader(QWidget* parent = nullptr);

    LibraryPopup* popup() const { return m_popup; }
    QLineEdit* searchField() const { return m_searchField; }
    SortButton* sortButton() const { return m_sortButton; }
    QMenu* sortMenu() const { return m_sortMenu; }

    // The order the button names.
    void showSortKey(Library::SortKey key);
    // The order the menu checks.
    void checkSortKey(Library::SortKey key);
    // The search field and the sort button act only on a tree.
    void setTreeControlsEnabled(bool enabled);
    // Its distance below the window's title strip.
    void resetInsets();
    void applyColors(const LibraryPaneColors& colors);

signals:
    // An order chosen in the sort menu.
    void sortKeyChosen(Library::SortKey key);

private:
    LibraryPopup* m_popup = nullptr;
    QLineEdit* m_searchField = nullptr;
    SortButton* m_sortButton = nullptr;
    QMenu* m_sortMenu = nullptr;
};

} // namespace lumora
