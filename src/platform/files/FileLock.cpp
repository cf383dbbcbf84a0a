#include "platform/files/FileLock.h"

#include "platform/files/NativePath.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

// Opens the lock file (made when missing) and locks it without waiting. -1
// when the lock is held elsewhere or the file cannot be opened.
int lockNow(const QByteArray& name)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return -1;
        int result;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            ::close(fd);
            return -1;
        }
        // The holder before us may have removed the file between our open
        // and our lock: then we hold a lock on a name no one else sees.
        struct stat locked {}, named {};
        if (::fstat(fd, &locked) == 0 && ::stat(name.constData(), &named) == 0 && locked.st_dev == named.st_dev
            && locked.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}

} // namespace

FileLock::~FileLock()
{
    if (m_fd >= 0) ::close(m_fd); // closing the last descriptor lets the lock go
}

std::unique_ptr<FileLock> FileLock::tryAcquire(const QString& path)
{
    const int fd = lockNow(NativePath::encode(path));
    if (fd < 0) return nullptr;
    return std::unique_ptr<FileLock>(new FileLock(path, fd));
}

std::unique_ptr<FileLock> FileLock::acquire(const QString& path, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (auto lock = tryAcquire(path)) return lock;
        if (timer.elapsed() >= timeoutMs) return nullptr;
        QThread::msleep(5);
    }
}

bool FileLock::isHeld(const QString& path)
{
    const int fd = ::open(NativePath::encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    // A shared lock is enough to ask, and never keeps out another asker.
    int result;
    do {
        result = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    const bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

void FileLock::removeFile()
{
    ::unlink(NativePath::encode(m_path).constData());
}

} // namespace lumora
