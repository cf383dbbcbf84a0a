#pragma once

#include "platform/foundation/PlatformError.h"
#include "settings/URLExtensions.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace lumora {

class Directory;
class FileController;
class LibraryController;

// One folder the writer browses in the library sidebar: where it is, how its
// tree is sorted, which of its folders are expanded and the saved editor
// state of its documents, and, while a sidebar shows it, the FileController
// that watches it and holds its tree.
//
// A linked library holds a bookmark of its folder and is kept in the
// library list across launches; an unlinked one lives for this run only.
// The folder is known by its device and inode: one that moved elsewhere on
// its disk, while Lumora was closed or while nothing showed it, is looked
// for by them in the background (FolderSearch) and followed when found; its
// bookmark is then renewed (and the list saved).
//
// Libraries are shared: make them with make() or decode().
class Library : public std::enable_shared_from_this<Library> {
public:
    enum class SortKey { dateAdded, dateModified, name };
    static constexpr std::array<SortKey, 3> allSortKeys{SortKey::dateAdded, SortKey::dateModified, SortKey::name};
    static QString rawValue(SortKey key);
    static std::optional<SortKey> sortKeyFromRawValue(const QString& raw);
    // The key's title in the sort menu ("library.sort.name", ...).
    static QString title(SortKey key);

    // An unlinked library of the folder.
    static std::shared_ptr<Library> make(const QString& folderPath);
    // A library from its stored record: "bookmarkData" (required),
    // "sortKey" (absent: name order), "expanded" (folder path to bool) and
    // "documentState" (document path to data). Fails, saying why, for a
    // record without a bookmark or with an unknown sort key.
    static PlatformResult<std::shared_ptr<Library>> decode(const QVariant& record);
    // The stored record of a linked library.
    QVariantMap encode() const;
    // What tells stored records apart: the folder their bookmark links to
    // (its device and inode, which a move keeps); empty for a record without
    // a readable bookmark.
    static QString recordIdentity(const QVariant& record);

    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool isLinked() const { return m_bookmarkData.has_value(); }
    const std::optional<QByteArray>& bookmarkData() const { return m_bookmarkData; }
    // The folder's absolute path; empty when the bookmark found nothing
    // (the library is unavailable).
    const QString& url() const { return m_url; }
    // The folder cannot be shown: the bookmark found nothing, or its disk
    // went away while Lumora ran.
    bool isUnavailable() const { return m_url.isEmpty() || m_unavailable; }
    // Whether the folder at url() is still the one the library had in this
    // run (its device and inode): a disk taken away leaves a bare mount
    // point, or nothing, at the path. A folder replaced on the same disk is
    // taken as the library's folder, and so is the folder of a disk that came
    // back under another device number. Fails with a message that says so.
    PlatformStatus checkFolder();
    // The folder is being looked for by its identity (it is not at its path).
    bool isLookingForItsFolder() const { return m_searching; }
    // The watcher found the folder gone with its disk: the tree goes, and
    // the list's views hear of it.
    void folderBecameUnavailable();

    // Present while a sidebar shows the library.
    FileController* fileController() const { return m_fileController.get(); }
    std::shared_ptr<FileController> sharedFileController() const { return m_fileController; }

    QHash<QString, bool> expanded;
    QHash<QString, QByteArray> documentState;
    url::AttributedDisplayName displayName;
    SortKey sortKey = SortKey::name;

    // The list that holds the library (set by the list), or none.
    LibraryController* owner() const { return m_owner; }

    // Makes the file controller, scans the folder and restores the saved
    // folder and document states; does nothing when a tree is loaded.
    // Fails with the error of the scan.
    PlatformStatus loadFileTree();
    // The same with the scan on another thread (a large or cold folder takes
    // seconds): done runs on the main thread once the tree is loaded or the
    // load failed (with a cancellation when the tree was let go of
    // meanwhile). With the tree loaded already, done runs at once and the
    // result is 0; otherwise it is a ticket for stopWaitingForFileTree.
    // Several views may wait for one load; once the last one stops waiting,
    // the scan stops. A loaded tree that no view took is let go of.
    quint64 loadFileTreeInBackground(std::function<void(const PlatformStatus&)> done);
    void stopWaitingForFileTree(quint64 ticket);
    bool isLoadingFileTree() const { return m_loading != nullptr; }
    // How many folders the load has read so far.
    int loadedFolderCount() const;
    // Stops watching the folder and drops the tree (no sidebar shows it).
    void releaseFileController();

    // Finds the folder again from the bookmark (renewing a stale one).
    void resolveBookmark();
    // Links the library: a bookmark of its folder (none when that fails).
    void makeBookmark();
    // The folder moved while it was shown: the library follows it, and a
    // linked one renews its bookmark.
    void folderMoved(const QString& newPath);
    // The bookmark was renewed since the last save of the list.
    bool bookmarkWasRenewed() const { return m_bookmarkRenewed; }

    // Rebuild the saved maps from the tree, then save the library list.
    void saveExpandedState();
    void saveDocumentStates();

private:
    friend class LibraryController;
    Library() = default;
    void saveList();
    void recordFolder();
    // Looks for the folder by its device and inode off the main thread; the
    // library follows it when it is found where its path no longer leads.
    void lookForMovedFolder(const QString& oldPath, quint64 device, quint64 inode, qint64 birth);
    void movedFolderFound(const QString& path);
    void applySavedStates(Directory& root);
    void finishLoading(const PlatformStatus& status);

    std::optional<QByteArray> m_bookmarkData;
    QString m_url;
    // The folder's device and inode when the library found it in this run.
    std::optional<std::pair<quint64, quint64>> m_folder;
    qint64 m_folderBirth = 0; // its birth time (ns), where the disk keeps one
    bool m_unavailable = false;
    bool m_searching = false; // the folder is being looked for
    std::shared_ptr<FileController> m_fileController;
    // A load under way, and the views waiting for it.
    std::shared_ptr<FileController> m_loading;
    std::vector<std::pair<quint64, std::function<void(const PlatformStatus&)>>> m_waiters;
    quint64 m_nextTicket = 1;
    LibraryController* m_owner = nullptr;
    bool m_bookmarkRenewed = false;
};

} // namespace lumora
