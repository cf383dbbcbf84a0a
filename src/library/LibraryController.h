#pragma once

#include "library/Library.h"
#include "platform/foundation/PlatformError.h"

#include <QMetaObject>
#include <QString>
#include <QVariantList>

#include <memory>
#include <vector>

namespace lumora {

class Bookmark;

class FileController;
class FileObserver;
class UserDefaults;

// A view of the library list (each library sidebar's popup). Every change
// of the list reaches each observer once, with the index it concerns.
class LibrariesObserver {
public:
    virtual ~LibrariesObserver() = default;
    virtual void libraryInserted(int index) = 0;
    virtual void libraryMoved(int from, int to) = 0;
    virtual void libraryRemoved(int index) = 0;
    virtual void libraryTitleChanged(int index) = 0;
    // The library's folder went away with its disk, or came back with it.
    virtual void libraryAvailabilityChanged(int /*index*/) {}
};

// The application's list of libraries: linked ones first (kept in the
// preferences under "libraries"), then unlinked ones (this run only).
//
// The stored list is never lost: each record is read on its own; one that
// cannot be read is reported, kept exactly as it was and written back
// unchanged at every save, and the others work. Saves replace the
// preferences file atomically.
//
// Main thread only.
class LibraryController {
public:
    // A list over the given preferences (tests); the application's list is
    // shared().
    explicit LibraryController(UserDefaults& defaults);
    ~LibraryController();
    LibraryController(const LibraryController&) = delete;
    LibraryController& operator=(const LibraryController&) = delete;

    static LibraryController& shared();

    const std::vector<std::shared_ptr<Library>>& libraries() const { return m_libraries; }
    int indexOf(const Library& library) const;
    // The library of that folder, or none.
    std::shared_ptr<Library> libraryWithURL(const QString& folderPath) const;
    // The library whose folder the bookmark links to (its device and inode),
    // wherever that folder is now, or is being looked for; none if no library
    // has it.
    std::shared_ptr<Library> libraryWithBookmark(const Bookmark& bookmark) const;

    void addObserver(LibrariesObserver* observer);
    void removeObserver(LibrariesObserver* observer);

    // Reads the stored list. Fails when records could not be read: the
    // error says how many; they are kept as they were.
    PlatformStatus load();
    // Stores the linked libraries, and the records that could not be read.
    void save();

    // A folder not in the list becomes an unlinked library, after the
    // linked ones and before the other unlinked ones.
    std::shared_ptr<Library> openLibrary(const QString& folderPath);
    // A folder becomes a linked library at index (one already in the list
    // moves there and is linked); the list is saved.
    std::shared_ptr<Library> addLibrary(const QString& folderPath, int index);
    // Links an unlinked library (it moves to the top) or unlinks a linked
    // one (it leaves the list); the list is saved.
    PlatformStatus toggleLinked(Library& library);
    // A library whose folder was deleted leaves the list (the stored list
    // keeps it until the next save).
    void removeLibrary(Library& library);
    // The library's folder moved: its title and the stored bookmark follow.
    void libraryFolderMoved(Library& library);
    // The library's folder went away with its disk (or came back): its
    // views hear of it. Whenever a disk is mounted, the libraries whose
    // folders went away look for them again.
    void libraryAvailabilityChanged(Library& library);
    void lookForUnavailableFolders();

    // Popup titles: each folder's name, and the parent folder names that
    // tell folders of the same name apart.
    void rebuildTitles();

    // The library for a document: the first whose folder holds the file,
    // else the one last chosen ("selectedLibrary"), else the first; none
    // for an empty list.
    std::shared_ptr<Library> libraryForDocument(const QString& documentPath) const;

    // A sidebar stops showing a library; the last one to go stops the
    // folder's watching and drops its tree.
    void removeObserver(FileObserver* observer, FileController& controller);

private:
    void insert(std::shared_ptr<Library> library, int index);
    std::shared_ptr<Library> take(int index);
    template <typename Fn>
    void tellObservers(Fn fn);

    UserDefaults& m_defaults;
    QMetaObject::Connection m_mounts;
    std::vector<LibrariesObserver*> m_observers;
    std::vector<std::shared_ptr<Library>> m_libraries;
    QVariantList m_unreadable; // stored records that could not be read, kept as they were
};

} // namespace lumora
