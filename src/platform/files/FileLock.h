#pragma once

#include <QString>

#include <memory>

namespace lumora {

// An advisory lock (flock) on a small lock file, held for as long as the
// object lives, and let go by the system when the process ends, however it
// ends. Two Lumora processes use it to tell what belongs to a live process
// (a recovery file being kept up to date) from what a dead one left behind,
// and to take turns at a file both write (the preferences).
//
// The lock file is made owner-only when missing; it holds no bytes. A lock
// taken on a lock file that another process removed meanwhile is no lock:
// acquiring checks that the path still names the locked file, and tries
// again when it does not.
class FileLock {
public:
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The lock at path, taken without waiting; none when another process
    // (or another FileLock of this one) holds it, or the lock file cannot be
    // made.
    static std::unique_ptr<FileLock> tryAcquire(const QString& path);
    // The same, waiting up to timeoutMs for a holder to let go.
    static std::unique_ptr<FileLock> acquire(const QString& path, int timeoutMs);
    // Whether someone holds the lock at path now. A missing lock file is
    // held by no one.
    static bool isHeld(const QString& path);

    const QString& path() const { return m_path; }
    // Removes the lock file while the lock is still held, for when what it
    // guards is gone too. The lock is let go when the object goes.
    void removeFile();

private:
    FileLock(QString path, int fd) : m_path(std::move(path)), m_fd(fd) {}

    QString m_path;
    int m_fd = -1;
};

} // namespace lumora
