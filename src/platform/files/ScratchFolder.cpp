#include "platform/files/ScratchFolder.h"

#include "platform/files/FileLock.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

// A folder only its owner may enter, made when missing. False when it
// cannot be made, or when what is there is not such a folder of ours.
bool privateFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(name.constData(), 0700) != 0) return false;
    return true;
}

// The process number a folder's name starts with ("1234-Ab3xYz").
pid_t ownerOf(const QString& name)
{
    bool ok = false;
    const long pid = name.section(QLatin1Char('-'), 0, 0).toLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

// Whether the process may still be running (a process we may not signal
// runs too).
bool processRuns(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// Removes a folder and everything in it, never following a link out of it.
void removeTree(const QString& path) { QDir(path).removeRecursively(); }

QString lockPath(const QString& folder) { return folder + QStringLiteral("/.lock"); }

} // namespace

QString ScratchFolder::parentFolder(const QString& kind)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir::isAbsolutePath(base) || !QFileInfo(base).isDir()) {
        base = qEnvironmentVariable("XDG_CACHE_HOME");
        if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.cache");
    }
    return base + QStringLiteral("/Lumora/") + kind;
}

ScratchFolder::ScratchFolder(const QString& kind)
{
    const QString parent = parentFolder(kind);
    QDir().mkpath(QFileInfo(parent).path());
    if (!privateFolder(QFileInfo(parent).path()) || !privateFolder(parent)) return;
    QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/%1-XXXXXX").arg(::getpid()));
    if (!::mkdtemp(pattern.data())) return; // made 0700
    const QString path = QFile::decodeName(pattern);
    m_lock = FileLock::tryAcquire(lockPath(path));
    if (!m_lock) {
        ::rmdir(pattern.constData());
        return;
    }
    m_path = path;
}

ScratchFolder::~ScratchFolder()
{
    // Removed while still locked: the lock goes last.
    if (m_lock) removeTree(m_path);
}

QString ScratchFolder::filePath(const QString& name) const { return m_path + QLatin1Char('/') + name; }

int ScratchFolder::removeAbandoned(const QString& kind)
{
    const QString parent = parentFolder(kind);
    int removed = 0;
    const QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : names) {
        const QString path = parent + QLatin1Char('/') + name;
        // Its process still runs (or a new one has its number): left alone.
        // A process that has just made its folder runs, and holds no lock yet.
        if (processRuns(ownerOf(name))) continue;
        // Locked: another Lumora (in another process namespace) uses it.
        if (FileLock::isHeld(lockPath(path))) continue;
        removeTree(path);
        ++removed;
    }
    return removed;
}

} // namespace lumora
