#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace lumora {

class FolderWatcher;

// Tells when open files change on disk. It follows the folder of each file
// (a FolderWatcher), not the file itself, so that every way of changing a
// file is seen: a write in place, a new file renamed over it (as most
// editors save), a deletion, a rename, the folder renamed or going away.
// Events for one file are gathered for a short settling time (another
// editor's save is several steps) and reported once; the receiver then
// looks at the disk itself.
//
// Nothing is held open (see FolderWatcher), so a disk with open files can
// be ejected. While a folder's disk is away its files are not reported (they
// were not changed); when the folder comes back (its path leads to the same
// device and inode again, looked at whenever the mount table changes), it is
// followed again and each file watched in it is reported once, to be looked
// at again.
//
// Main thread only; one per process (shared()).
class FileChangeWatcher : public QObject {
    Q_OBJECT

public:
    static FileChangeWatcher& shared();

    // Starts or stops watching the file at path (absolute). Watches are
    // counted: each watch() wants its unwatch().
    void watch(const QString& path);
    void unwatch(const QString& path);
    bool isWatching(const QString& path) const { return m_files.contains(path); }

    // How long events for one file gather before they are reported (ms).
    int settlingTime() const { return m_settlingMs; }
    void setSettlingTime(int milliseconds) { m_settlingMs = milliseconds; }
    // Whether what happened to the watched files so far is still on its way
    // to fileChanged: queued by the system (read now), waiting for a
    // rename's other half, or settling. Tools and tests wait for the end.
    bool hasEventsOnTheirWay();
    // Whether the folder of the watched file at path was deleted (what the
    // system told so far included), rather than moved out of sight or
    // taken away with its disk.
    bool folderWasDeleted(const QString& path);

signals:
    // Something happened to the file at path. movedTo is where it went when
    // it was renamed within its folder, or its folder was renamed; else
    // empty.
    void fileChanged(const QString& path, const QString& movedTo);

private:
    explicit FileChangeWatcher(QObject* parent = nullptr);
    ~FileChangeWatcher() override;
    void startFolder(const QString& folder);
    void noteEvent(const QString& path, const QString& movedTo = {});
    void noteFolder(const QString& folder, const QString& movedTo = {});
    void folderWentAway(const QString& folder);
    void lookForFoldersBack();
    bool waitsForItsFolder(const QString& path) const;
    void report();

    struct Folder {
        std::unique_ptr<FolderWatcher> watcher; // none when the folder cannot be followed
        int files = 0;                          // watches of files in it
        // While its disk is away: the folder's device and inode, to know it
        // again.
        std::optional<std::pair<quint64, quint64>> away;
        bool deleted = false; // the folder itself was deleted
    };
    QHash<QString, int> m_files;         // path -> count
    std::map<QString, Folder> m_folders; // folder path -> its watcher
    QHash<QString, QString> m_pending;   // path -> moved to (or empty)
    QTimer m_settle;
    int m_settlingMs = 150;
};

} // namespace lumora
