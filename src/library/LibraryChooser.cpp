#include "library/LibraryChooser.h"

#include "document/Document.h"
#include "library/LibraryPopup.h"
#include "library/LibraryTreeLoader.h"
#include "library/LibraryViewController.h"
#include "platform/files/UserDefaults.h"

namespace lumora {

namespace {

const QString kSelectedLibrary = QStringLiteral("selectedLibrary");

} // namespace

LibraryChooser::LibraryChooser(LibraryViewController& pane, LibraryPopup& popup) : m_pane(pane), m_popup(popup)
{
    connect(&m_popup, &QComboBox::activated, this, [this](int index) { openLibraryAt(index); });
}

void LibraryChooser::join()
{
    rebuildPopup();
    if (m_joined) return;
    LibraryController::shared().addObserver(this);
    m_joined = true;
}

void LibraryChooser::leave()
{
    if (!m_joined) return;
    LibraryController::shared().removeObserver(static_cast<LibrariesObserver*>(this));
    m_joined = false;
}

std::shared_ptr<Library> LibraryChooser::libraryForDocument() const
{
    const Document* d = m_pane.document();
    return LibraryController::shared().libraryForDocument(d && !d->isUntitled() ? d->filePath() : QString());
}

void LibraryChooser::rebuildPopup()
{
    m_popup.clearLibraries();
    const auto& libraries = LibraryController::shared().libraries();
    for (size_t i = 0; i < libraries.size(); ++i) m_popup.insertLibrary(int(i), libraries[i]);
    selectCurrentLibraryItem();
    m_pane.showState();
}

void LibraryChooser::selectCurrentLibraryItem()
{
    const std::shared_ptr<Library> shown = m_pane.library();
    int found = -1;
    for (int i = 0; i < m_popup.count(); ++i) {
        if (shown && m_popup.libraryAt(i) == shown) {
            found = i;
            break;
        }
    }
    m_popup.setCurrentIndex(found);
    m_popup.updateGeometry();
    m_popup.update();
}

void LibraryChooser::openLibraryAt(int popupIndex)
{
    const std::shared_ptr<Library> chosen = m_popup.libraryAt(popupIndex);
    if (!chosen || chosen == m_pane.library()) {
        selectCurrentLibraryItem();
        return;
    }
    m_pane.setLibrary(chosen);
    if (chosen->bookmarkData()) UserDefaults::standard().set(kSelectedLibrary, *chosen->bookmarkData());
}

void LibraryChooser::addLibraries(const QStringList& folders)
{
    for (const QString& folder : folders) {
        std::shared_ptr<Library> added = LibraryController::shared().addLibrary(folder, 0);
        if (!added) continue;
        m_pane.setLibrary(added);
        // The library shown is the one chosen last, also at the next launch.
        if (added->bookmarkData()) UserDefaults::standard().set(kSelectedLibrary, *added->bookmarkData());
    }
}

void LibraryChooser::removeShownLibrary()
{
    const std::shared_ptr<Library> library = m_pane.library();
    if (!library) return;
    if (library->isLinked()) {
        if (PlatformStatus status = LibraryController::shared().toggleLinked(*library); !status)
            m_pane.presentError(status.error());
    } else {
        LibraryController::shared().removeLibrary(*library);
    }
}

// The list's changes ----------------------------------------------------------------------

void LibraryChooser::libraryInserted(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= int(libraries.size()) || m_popup.count() + 1 != int(libraries.size())) {
        rebuildPopup();
    } else {
        m_popup.insertLibrary(index, libraries[size_t(index)]);
        selectCurrentLibraryItem();
    }
    m_pane.showState();
    if (libraries.size() == 1 && m_pane.library() != libraries.front()) m_pane.setLibrary(libraries.front());
}

void LibraryChooser::libraryMoved(int from, int to)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (from < 0 || from >= m_popup.count() || to < 0 || to >= int(libraries.size())
        || m_popup.count() != int(libraries.size())) {
        rebuildPopup();
        return;
    }
    m_popup.removeLibrary(from);
    m_popup.insertLibrary(to, libraries[size_t(to)]);
    selectCurrentLibraryItem();
}

void LibraryChooser::libraryRemoved(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= m_popup.count() || m_popup.count() != int(libraries.size()) + 1)
        rebuildPopup();
    else
        m_popup.removeLibrary(index);
    // A pane that showed the library that left shows another.
    const std::shared_ptr<Library> shown = m_pane.library();
    const bool shownLeft = shown && LibraryController::shared().indexOf(*shown) < 0;
    if (shownLeft || !shown) m_pane.setLibrary(libraryForDocument());
    selectCurrentLibraryItem();
    m_pane.showState();
}

void LibraryChooser::libraryTitleChanged(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    if (index < 0 || index >= m_popup.count() || m_popup.count() != int(libraries.size())) {
        rebuildPopup();
        return;
    }
    m_popup.setItem(index, libraries[size_t(index)]);
    m_popup.updateGeometry();
    m_popup.update();
}

void LibraryChooser::libraryAvailabilityChanged(int index)
{
    const auto& libraries = LibraryController::shared().libraries();
    const std::shared_ptr<Library> shown = m_pane.library();
    if (!shown || index < 0 || index >= int(libraries.size()) || libraries[size_t(index)] != shown) return;
    // Its disk went away (the pane says the folder can't be found, without
    // a dialog) or came back (the tree is read again).
    m_pane.loader().leave();
    m_pane.loader().show(false);
}

} // namespace lumora
