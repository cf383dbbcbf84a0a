#pragma once

#include "library/LibraryController.h"

#include <QObject>
#include <QStringList>

namespace lumora {

class LibraryPopup;
class LibraryViewController;

// Which library the library pane shows, and its view of the library list
// (LibrariesObserver): the header's popup follows the list, item for item;
// a library chosen in it is shown (and remembered as "selectedLibrary" for
// the next launch); folders dropped on the pane or added with its button
// become libraries, and a library whose folder cannot be read can be
// removed from the list. When the shown library leaves the list, the pane
// shows the library of its document, else the one chosen last, else the
// first.
class LibraryChooser : public QObject, public LibrariesObserver {
public:
    LibraryChooser(LibraryViewController& pane, LibraryPopup& popup);

    // Joins the library list (once), and fills the popup from it.
    void join();
    // Leaves the library list.
    void leave();

    // The popup's current item is the shown library's.
    void selectCurrentLibraryItem();
    // Shows the library of a popup item.
    void openLibraryAt(int popupIndex);
    // Folders become linked libraries, at the top of the list; the last one
    // is shown.
    void addLibraries(const QStringList& folders);
    // The shown library leaves the list (a linked one is unlinked).
    void removeShownLibrary();
    // The library for the pane's document (see LibraryController::libraryForDocument).
    std::shared_ptr<Library> libraryForDocument() const;

    // LibrariesObserver
    void libraryInserted(int index) override;
    void libraryMoved(int from, int to) override;
    void libraryRemoved(int index) override;
    void libraryTitleChanged(int index) override;
    void libraryAvailabilityChanged(int index) override;

private:
    void rebuildPopup();

    LibraryViewController& m_pane;
    LibraryPopup& m_popup;
    bool m_joined = false;
};

} // namespace lumora
