#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>

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
    void report();

    struct Folder {
        std::unique_ptr<FolderWatcher> watcher; // none when the folder cannot be followed
        int files = 0;                          // watches of files in it
    };
    QHash<QString, int> m_files;         // path -> count
    std::map<QString, Folder> m_folders; // folder path -> its watcher
    QHash<QString, QString> m_pending;   // path -> moved to (or empty)
    QTimer m_settle;
    int m_settlingMs = 150;
};

} // namespace lumora
