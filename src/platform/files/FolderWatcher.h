#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <deque>
#include <mutex>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace lumora {

// Follows a folder on disk and everything inside it, on the thread that
// made it (the main thread), through Linux inotify read by a
// QSocketNotifier.
//
// The owner adds a watch to each folder with watchFolder() before it lists
// the folder, so that nothing made in between is missed (an item that shows
// up both in the listing and as an event is reported twice: handlers must
// take a second appearance calmly). The watcher reports, in the order they
// happened:
//
// - itemAppeared: created, or moved in from outside (or from a name whose
//   move could not be paired);
// - itemChanged: written and closed, or its attributes changed;
// - itemMoved: renamed or moved within the folder: the two halves of a
//   rename are paired by their cookie; watches of a moved folder follow it;
// - itemRemoved: deleted, or moved away out of the folder;
// - rootMoved: the folder itself was renamed or moved: followed through
//   watches on the folders above it (a rename of any of them, or a move
//   from one of them into another), into a Trash, and wherever another
//   watcher of this process saw it arrive; else it is looked for by its
//   device and inode in the background (FolderSearch) before it is given
//   up as unavailable;
// - rootDeleted: the folder itself was deleted;
// - rootUnavailable: the folder can no longer be found: its disk went away
//   (unmounted, or taken away while another program held it), or it was
//   moved where it cannot be followed (not found by the search). Its path no longer leads to the
//   folder the watcher started with (its device and inode, recorded at the
//   start). Checked at every event, whenever the system's mount table
//   changes, and at refreshRootPath();
// - needsReconcile: events were lost (the kernel's queue overflowed) or a
//   folder could not be watched: the owner compares its picture with the
//   disk. Watches renewed between beginRewatch() and endRewatch() stay, the
//   others go.
//
// Paths are absolute and use the root's current path. Nothing is filtered:
// hidden names and files of every kind are reported.
//
// Nothing of the folder is held open: the watcher keeps its identity and
// inotify watches only, which the system drops when a disk is unmounted, so
// the disk the folder is on can be ejected while it is watched.
class FolderWatcher : public QObject {
    Q_OBJECT

public:
    explicit FolderWatcher(QObject* parent = nullptr);
    ~FolderWatcher() override;

    // Starts following the folder (it is watched at once). Fails, with the
    // reason, when the system refuses.
    PlatformStatus start(const QString& rootPath);
    void stop();
    bool isActive() const { return m_fd >= 0; }

    QString rootPath() const { return m_root; }
    // The device and inode of the folder the watcher started with.
    std::pair<quint64, quint64> rootIdentity() const { return {m_rootDevice, m_rootInode}; }
    // Reads what the system told and looks where the folder is now: reports
    // rootMoved when it moved, rootDeleted or rootUnavailable when it is no
    // longer there (an unexplained absence is reported once a move's other
    // half had its time to come).
    void refreshRootPath();

    // Watches the folder at path, the root or a folder inside it. False
    // when the system refuses (too many watches, the folder vanished); the
    // watcher then asks for a reconcile once the current work is done.
    bool watchFolder(const QString& path);
    int watchCount() const;

    // While a scan runs off the main thread: paused, the watcher reads no
    // events (the kernel keeps them until it goes on, and an overflow asks
    // for a reconcile), and the scanning thread adds its folders' watches
    // with watchFolderWhileScanning (it asks for nothing itself: false
    // tells the scan that a folder could not be watched). Going on reads
    // what waited.
    void setPaused(bool paused);
    bool watchFolderWhileScanning(const QString& path);
    // Asks the owner to compare its picture with the disk (needsReconcile),
    // once the current work is done.
    void requestReconcile();

    void beginRewatch();
    void endRewatch();

    // Reads what the kernel has queued now (tools and tests).
    void processPendingEvents();
    // Whether events read are held back, waiting for a rename's other half
    // or for the search for a folder that moved out of sight.
    bool holdsEvents() const { return m_pairingTimer.isActive() || m_searching; }
    // Behaves as if the kernel's queue had overflowed (tests).
    void simulateOverflow();

    // How long the first half of a rename waits for its second half.
    static constexpr int pairingWindowMs = 20;

signals:
    void itemAppeared(const QString& path);
    void itemChanged(const QString& path);
    void itemMoved(const QString& from, const QString& to);
    void itemRemoved(const QString& path);
    void rootMoved(const QString& newPath);
    void rootDeleted();
    void rootUnavailable();
    void needsReconcile();

private:
    enum class Kind { appeared, changed, moved, removed, movedAway, rootMoved, rootDeleted, rootUnavailable };
    struct Event {
        Kind kind = Kind::appeared;
        QString from{}; // absolute, with the root's path at the time
        QString to{};
        quint32 cookie = 0;
        bool isFolder = false;
        QString folder{}; // a folder's path relative to the root, where its watches matter
    };

    // A folder above the root: where a rename of the next folder down the
    // way to the root (childName) shows.
    struct Ancestor {
        QString path;
        QString childName;
    };

    void readEvents();
    // Handles what the kernel has queued; true when events were lost.
    bool readKernelEvents();
    void handle(int wd, quint32 mask, quint32 cookie, const QString& name);
    void handleAncestorEvent(int level, quint32 mask, quint32 cookie, const QString& name);
    void pairingTimeout();
    void deliver(bool all);
    bool emitEvent(const Event& event);
    void dropWatchesUnder(const QString& relative);
    void rebaseWatches(const QString& from, const QString& to);
    bool addWatch(const QString& path, bool quiet, bool& refused);
    QString absolute(const QString& relative) const;
    QString relative(const QString& path) const;
    bool leadsToRoot(const QString& path) const;
    void checkRoot(bool final);
    void rootIsGone(Kind kind);
    void setRoot(const QString& path);
    void watchAncestors();
    void followRoot(const QString& path);
    void searchForRoot();
    // Another watcher of this process saw a folder move from one path to
    // another: a root that was at or inside it follows at once.
    static void announceFolderMove(const FolderWatcher* by, const QString& from, const QString& to);
    void folderMovedElsewhere(const QString& from, const QString& to);

    int m_fd = -1;
    int m_rootWatch = -1;
    QString m_root;
    // The folder the watcher started with: what its path must still lead to.
    quint64 m_rootDevice = 0;
    quint64 m_rootInode = 0;
    bool m_rootGone = false;
    // The root's path does not lead to it: a verdict waits for the other
    // half of a move.
    bool m_rootCheckPending = false;
    QHash<int, int> m_ancestorWatches; // watch descriptor -> level (1: the root's parent)
    std::vector<Ancestor> m_ancestors;  // the root's parent first, up to "/"
    QHash<quint32, int> m_chainMoves;   // cookie of a folder on the way to the root moved away -> its level
    QSocketNotifier* m_notifier = nullptr;
    QHash<int, QString> m_paths;   // watch descriptor -> folder relative to the root
    QHash<QString, int> m_watches; // folder relative to the root -> watch descriptor
    bool m_rewatching = false;
    QSet<int> m_renewed;
    bool m_reconcileRequested = false;
    bool m_paused = false;
    bool m_rootCheckWaiting = false;
    // The root is being looked for in the background; a result that comes
    // after another search started, or after a stop, is dropped.
    bool m_searching = false;
    quint64 m_searchGeneration = 0;
    // The mount the root was reached through (empty: unknown). A root whose
    // mount is gone went with its disk and is not looked for elsewhere (a
    // folder of a bind mount stays reachable at its source, which is not
    // where the writer put it).
    QByteArray m_rootMount;
    qint64 m_rootBirth = 0; // its birth time (ns), where the disk keeps one
    // Guards the descriptor and the watch tables while a scan adds watches
    // from its own thread.
    mutable std::mutex m_lock;
    std::deque<Event> m_queue; // in order; a first half of a rename waits
    QTimer m_pairingTimer;
};

} // namespace lumora
