#pragma once

#include "library/File.h"
#include "library/FileOperations.h"
#include "library/Library.h"
#include "platform/foundation/PlatformError.h"

#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lumora {

class FolderWatcher;

// A view of one library's tree (the library sidebar). Row changes come in
// pairs around the change of the tree the view shows, so that a Qt item
// model can announce them: will... before, did... after. A folder is passed
// as itself; the shown root stands for the top level.
class FileObserver {
public:
    virtual ~FileObserver() = default;

    // The search text; empty when there is no search.
    virtual QString filter() const = 0;
    // The root the view shows: the controller's own tree without a search,
    // the view's filtered copy with one; none while it shows no tree.
    virtual Directory* filteredRootFile() const = 0;

    virtual void willInsertRow(Directory& parent, int index) = 0;
    virtual void didInsertRow(Directory& parent, int index) = 0;
    virtual void willRemoveRow(Directory& parent, int index) = 0;
    virtual void didRemoveRow(Directory& parent, int index) = 0;
    // toIndex is the row's index in `to` once it has moved.
    virtual void willMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex) = 0;
    virtual void didMoveRow(Directory& from, int fromIndex, Directory& to, int toIndex) = 0;
    // A node's name, dates or summary changed (of any tree the view shows).
    virtual void fileDidChange(File& file) = 0;
    // The whole tree is re-sorted in between.
    virtual void sortKeyWillChange() = 0;
    virtual void sortKeyChanged() = 0;
};

// Watches one library's folder and keeps its tree, and every view of it, in
// step with the disk, one small change at a time: an item that appears is
// inserted at its sorted place, one that changes is refreshed and moved to
// its new place, one that moves takes its node (and everything inside it)
// along, one that goes is removed. When events were lost the tree is
// compared with the disk, keeping the nodes that still exist.
//
// Its FileOperations carry out the writer's file operations in the folder
// (create, move, rename, trash) and bring the tree up to date as each one
// succeeds.
//
// Main thread only. Shared: operations under way keep it alive.
class FileController : public std::enable_shared_from_this<FileController> {
public:
    explicit FileController(const std::shared_ptr<Library>& library);
    ~FileController();
    FileController(const FileController&) = delete;
    FileController& operator=(const FileController&) = delete;

    std::shared_ptr<Library> library() const { return m_library.lock(); }
    Directory* rootFile() const { return m_root.get(); }

    // The order of the tree; setting it re-sorts the tree and every view's.
    Library::SortKey sortKey() const { return m_sortKey; }
    void setSortKey(Library::SortKey key);

    const std::vector<FileObserver*>& observers() const { return m_observers; }
    void addObserver(FileObserver* observer);
    void removeObserver(FileObserver* observer);

    // Starts watching the library's folder and scans it into rootFile().
    // Fails with the scan's error (nothing is watched then). Does nothing
    // for a library without a folder.
    PlatformStatus startPresenting();
    // The same with the scan on another thread, so that a large or cold
    // folder never holds up the window: done runs on the main thread once
    // rootFile() is there (or with the error). Changes made on disk during
    // the scan are applied as soon as it ends.
    void startPresentingInBackground(std::function<void(const PlatformStatus&)> done);
    bool isScanning() const { return m_scan != nullptr; }
    // What the scan has read so far.
    struct ScanProgress {
        int folders = 0; // listed so far
    };
    ScanProgress scanProgress() const;
    // Called on the scanning thread before each folder is read (tests:
    // a scan that takes its time, deterministically).
    static void setScanHookForTesting(std::function<void(const QString& folder)> hook);
    // Stops watching and drops the tree; a scan under way stops (its done
    // is not called).
    void stopPresenting();

    // Applying what happened on disk (the watcher's events, and the file
    // operations once they succeeded). Each change reaches the views.
    File* fileAppeared(const QString& path);
    File* fileMoved(const QString& from, const QString& to);
    void fileRemoved(const QString& path);
    void fileChanged(const QString& path);
    void rootMoved(const QString& newPath);
    void rootDeleted();
    // The folder's disk went away: the library shows its folder as
    // unavailable (it stays in the list, and comes back with its disk).
    void rootUnavailable();
    // Compares the whole tree with the disk and mends the differences,
    // after making sure the folder is still the one it was.
    void reconcile();

    // From the nodes: a node's shown data changed.
    void fileDidChange(File& file);
    // From a scan: the folder is about to be listed (it is watched first).
    void willListFolder(const QString& path);

    // The writer's file operations in the folder.
    FileOperations& operations() { return m_operations; }

    // The watcher (tools and tests).
    FolderWatcher& watcher() { return *m_watcher; }

private:
    std::vector<FileObserver*> observersSnapshot() const { return m_observers; }
    void insertNode(Directory& parent, std::unique_ptr<File> node);
    void removeNode(Directory& parent, int index);
    void moveNode(File& node, Directory& to, const QString& newName);
    void reconcileFolder(Directory& folder);
    // The node came into its folder at that time: kept on the node now, and
    // recorded on the item on disk (see FolderListing::dateAddedAttribute).
    void recordDateAdded(File& node, qint64 milliseconds);
    // The same for every item inside a folder that just came in and has no
    // record: the date it was made where the disk knows it, else now.
    void recordDatesAddedInside(Directory& folder);
    void recordDatesOnDisk(std::vector<std::pair<QString, qint64>> dates);

    void filteredInsert(FileObserver& observer, File& node);
    void filteredRemove(FileObserver& observer, const QString& path);
    void filteredMove(FileObserver& observer, File& node, const QString& oldPath);

    void connectWatcher();
    void log(const QString& line) const;

    struct ScanJob;
    void finishScan(const std::shared_ptr<ScanJob>& job, PlatformResult<std::unique_ptr<Directory>> scanned);
    void cancelScan();

    std::weak_ptr<Library> m_library;
    std::shared_ptr<ScanJob> m_scan;
    std::function<void(const PlatformStatus&)> m_scanDone;
    Library::SortKey m_sortKey = Library::SortKey::name;
    std::unique_ptr<Directory> m_root;
    std::vector<FileObserver*> m_observers;
    std::unique_ptr<FolderWatcher> m_watcher;
    FileOperations m_operations{*this};
};

} // namespace lumora
