#include "platform/files/FileWriter.h"

#include "platform/files/FileLock.h"
#include "platform/files/FolderListing.h"
#include "platform/files/NativePath.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace lumora {

namespace {

FileFaultHook& faultHook()
{
    static FileFaultHook hook;
    return hook;
}

// The file being written or read on this thread, for the test hook.
thread_local QString t_currentPath;

// Asks the test hook whether this step fails; 0 when it does not.
int injected(const char* step)
{
    const auto& hook = faultHook();
    return hook ? hook(step, t_currentPath) : 0;
}

QByteArray encoded(const QString& path) { return NativePath::encode(path); }

// Closes a descriptor that was not closed on purpose (on the failure paths).
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    // Closes and reports the close's own error: on some file systems a
    // failed write only shows there.
    int close(const char* step = "close")
    {
        const int fault = injected(step);
        const int result = ::close(fd);
        const int error = errno;
        fd = -1;
        if (fault) return fault;
        return (result != 0 && error != EINTR) ? error : 0;
    }
};

int writeAll(int fd, const QByteArray& bytes, const char* step)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    do {
        if (const int fault = injected(step)) return fault;
        if (left == 0) break;
        const ssize_t n = ::write(fd, data, static_cast<size_t>(std::min<qint64>(left, qint64(1) << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        left -= n;
    } while (left > 0);
    return 0;
}

int syncDescriptor(int fd, const char* step = "sync")
{
    if (const int fault = injected(step)) return fault;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Syncs a folder so that a rename in it is durable. File systems that
// cannot sync folders say EINVAL; that is not a failure of ours.
int syncFolder(const QByteArray& folder)
{
    if (const int fault = injected("syncFolder")) return fault;
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0; // a folder we may write but not read: nothing we can sync
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result == 0 || error == EINVAL || error == EROFS || error == ENOTSUP) return 0;
    return error;
}

// The file a path names, following symbolic links (a dangling link names
// the file it would point to).
QString resolvedTarget(const QString& path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        // By the name's own bytes: QFileInfo cannot find a name that is not UTF-8.
        const QByteArray bytes = encoded(current);
        struct stat st {};
        if (::lstat(bytes.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(bytes.constData(), buffer, sizeof buffer);
        if (n <= 0 || n >= ssize_t(sizeof buffer)) return current;
        const QString target = NativePath::decode(QByteArrayView(buffer, n));
        current = QDir::cleanPath(QDir::isAbsolutePath(target) ? target
                                                               : QFileInfo(current).absolutePath() + QLatin1Char('/') + target);
    }
    return current;
}

// The start every temporary name beside `fileName` shares: ".<name>.lumora-",
// with the name cut (at a character boundary) so that the whole temporary
// name stays within 255 bytes.
QByteArray temporaryPrefix(const QString& fileName)
{
    constexpr int kMaxName = 255;
    const QByteArray tail = ".lumora-";
    const int room = kMaxName - 1 - tail.size() - 6;
    QString name = fileName;
    while (encoded(name).size() > room) name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    return "." + encoded(name) + tail;
}

QByteArray randomSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, '0');
    for (char& c : suffix) c = alphabet[QRandomGenerator::global()->bounded(62)];
    return suffix;
}

// Creates a new, empty temporary file beside the target. The mode is the
// one a new file gets (0666 less the umask); an existing file's own mode is
// copied onto it afterwards.
int createTemporary(const QByteArray& folder, const QString& fileName, Descriptor& out, QByteArray& tempPath)
{
    if (const int fault = injected("open")) return fault;
    const QByteArray prefix = folder + '/' + temporaryPrefix(fileName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = prefix + randomSuffix();
        const int fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            out.fd = fd;
            tempPath = candidate;
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Copies the extended attributes of `source` (ACLs among them) onto the
// open file. Any attribute that cannot be copied is a failure: the caller
// then writes in place rather than drop it.
int copyAttributes(const QByteArray& source, int fd)
{
    if (const int fault = injected("xattr")) return fault;
    ssize_t size = ::llistxattr(source.constData(), nullptr, 0);
    if (size < 0) return (errno == ENOTSUP || errno == ENOSYS) ? 0 : errno;
    if (size == 0) return 0;
    std::vector<char> names(static_cast<size_t>(size));
    size = ::llistxattr(source.constData(), names.data(), names.size());
    if (size < 0) return errno;
    for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        const ssize_t length = ::lgetxattr(source.constData(), name, nullptr, 0);
        if (length < 0) return errno;
        std::vector<char> value(static_cast<size_t>(length));
        const ssize_t got = ::lgetxattr(source.constData(), name, value.data(), value.size());
        if (got < 0) return errno;
        if (::fsetxattr(fd, name, value.data(), static_cast<size_t>(got), 0) != 0) return errno;
    }
    return 0;
}

// A document the library has no date-added record for shows its birth time,
// which a replacement would renew: the new file gets a record of the date
// the old one showed, so that its date added stays. A disk without user
// attributes keeps none (the birth time stands in, as before).
void keepDateAdded(const QByteArray& source, const QString& fileName, int fd)
{
    if (!FolderListing::isDocumentName(fileName)) return;
    char value[64];
    if (::getxattr(source.constData(), FolderListing::dateAddedAttribute, value, sizeof value) > 0)
        return; // copied with the other attributes
    struct statx st {};
    if (::statx(AT_FDCWD, source.constData(), AT_STATX_SYNC_AS_STAT, STATX_BTIME, &st) != 0
        || !(st.stx_mask & STATX_BTIME) || st.stx_btime.tv_sec == 0)
        return;
    const qint64 born = qint64(st.stx_btime.tv_sec) * 1000 + st.stx_btime.tv_nsec / 1000000;
    const QByteArray date = QDateTime::fromMSecsSinceEpoch(born, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
    (void)::fsetxattr(fd, FolderListing::dateAddedAttribute, date.constData(), size_t(date.size()), 0);
}

// Gives the new file the old one's owner, group and mode. EPERM: this
// process may not keep them, and the file must be written in place.
int copyOwnership(const struct stat& old, int fd)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0) return errno;
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (const int fault = injected("chown")) return fault;
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) return errno;
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return errno;
    return 0;
}

// Whether an errno of making or renaming the replacement means "the
// folder does not let us", as opposed to a real failure of the disk.
bool folderRefuses(int error) { return error == EACCES || error == EPERM || error == EROFS; }

int renameOver(const QByteArray& from, const QByteArray& to, bool createOnly)
{
    if (const int fault = injected("rename")) return fault;
    if (!createOnly) return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link never replaces.
    if (::link(from.constData(), to.constData()) != 0) return errno;
    ::unlink(from.constData());
    return 0;
}

struct Failure {
    int error = 0;
    const char* step = nullptr;
    QString detail; // more for the writer to know, e.g. where a backup is

    Failure() = default;
    Failure(int e, const char* s, QString d = {}) : error(e), step(s), detail(std::move(d)) {}
};

// Writes a replacement beside the target and renames it over the target.
// `inPlace` comes back true when the folder or the file's attributes do
// not allow a replacement and nothing has been changed yet.
Failure replace(const QByteArray& target, const QString& fileName, const struct stat* old, const QByteArray& bytes,
                bool createOnly, bool ownerOnly, bool& inPlace)
{
    inPlace = false;
    const QByteArray folder = encoded(QFileInfo(NativePath::decode(target)).absolutePath());
    Descriptor temp;
    QByteArray tempPath;
    if (const int error = createTemporary(folder, fileName, temp, tempPath)) {
        if (old && folderRefuses(error)) inPlace = true;
        return {error, "open"};
    }
    const auto discard = [&](int error, const char* step) {
        temp.fd >= 0 ? void(::close(temp.fd)) : void();
        temp.fd = -1;
        ::unlink(tempPath.constData());
        return Failure{error, step};
    };
    if (!old && ownerOnly && ::fchmod(temp.fd, 0600) != 0) return discard(errno, "open");
    if (old) {
        if (const int error = copyOwnership(*old, temp.fd)) {
            if (error == EPERM || error == EINVAL) inPlace = true;
            return discard(error, "chown");
        }
        if (const int error = copyAttributes(target, temp.fd)) {
            inPlace = true;
            return discard(error, "xattr");
        }
        keepDateAdded(target, fileName, temp.fd);
    }
    if (const int error = writeAll(temp.fd, bytes, "write")) return discard(error, "write");
    if (const int error = syncDescriptor(temp.fd)) return discard(error, "sync");
    if (const int error = temp.close()) return discard(error, "close");
    if (const int error = renameOver(tempPath, target, createOnly)) {
        // A sticky folder (/tmp) lets us write our file but not replace one
        // that someone else owns.
        if (old && folderRefuses(error)) inPlace = true;
        return discard(error, "rename");
    }
    if (const int error = syncFolder(folder)) return {error, "syncFolder"};
    return {};
}

QByteArray readAll(const QByteArray& path, int& error)
{
    error = 0;
    Descriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) {
        error = errno;
        return {};
    }
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return {};
        }
        if (n == 0) break;
        bytes.append(buffer, n);
    }
    return bytes;
}

// Puts `bytes` into the existing file itself, keeping its inode.
int overwrite(const QByteArray& target, const QByteArray& bytes, const char* writeStep)
{
    Descriptor file(::open(target.constData(), O_WRONLY | O_CLOEXEC));
    if (file.fd < 0) return errno;
    if (const int error = writeAll(file.fd, bytes, writeStep)) return error;
    if (const int fault = injected("truncate")) return fault;
    if (::ftruncate(file.fd, bytes.size()) != 0) return errno;
    if (const int error = syncDescriptor(file.fd, "syncInPlace")) return error;
    return file.close("closeInPlace");
}

QString backupKey(const QByteArray& target)
{
    return QString::fromLatin1(QCryptographicHash::hash(target, QCryptographicHash::Sha1).toHex());
}

QByteArray digest(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

qint64 changeTimeNs(const struct stat& st) { return qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec; }

// The files an in-place write of one target keeps in the backups folder
// while it runs: the old bytes, the new bytes, and the note that says what
// the write was about to do.
struct BackupFiles {
    QString folder;
    QString oldBytes;
    QString newBytes;
    QString note;

    explicit BackupFiles(const QByteArray& target)
        : folder(privateStateFolder(QStringLiteral("backups")))
    {
        oldBytes = folder + QLatin1Char('/') + backupKey(target);
        newBytes = oldBytes + QStringLiteral(".new");
        note = oldBytes + QStringLiteral(".json");
    }

    // The note goes first: without it, what is left is a write that had not
    // begun, which the next clean-up removes. The folder is synced after, so
    // that a power cut cannot bring the note back.
    void remove() const
    {
        QFile::remove(note);
        QFile::remove(newBytes);
        QFile::remove(oldBytes);
        syncFolder(encoded(folder));
    }
};

// How long a write waits for another write of the same file to end, and how
// long a clean-up waits before it passes over a write going on.
constexpr int kWriteWaitMs = 10000;
constexpr int kCleanUpWaitMs = 2000;

QString turnLockPath(const QString& backupsFolder, const QString& key)
{
    return backupsFolder + QStringLiteral("/.") + key + QStringLiteral(".lock");
}

// The file itself, whatever its name: two hard links of one file, or a name
// and a symbolic link to it, are one file and take one turn. A file not made
// yet is its folder (by device and inode) and its name there.
QByteArray fileIdentity(const QByteArray& device, const QByteArray& inode)
{
    return "file:" + device + ':' + inode;
}

// The name of the turn at an identity, as its lock file carries it.
QString identityTurnKey(const QByteArray& identity)
{
    return QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Sha1).toHex());
}

QString identityKey(const QByteArray& target)
{
    struct stat st {};
    QByteArray identity;
    if (::stat(target.constData(), &st) == 0) {
        identity = fileIdentity(QByteArray::number(quint64(st.st_dev)), QByteArray::number(quint64(st.st_ino)));
    } else {
        const QFileInfo info(NativePath::decode(target));
        const QByteArray folder = encoded(info.absolutePath());
        if (::stat(folder.constData(), &st) == 0)
            identity = "new:" + QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino))
                       + '/' + encoded(info.fileName());
        else
            identity = "path:" + target;
    }
    return identityTurnKey(identity);
}

// The turns this process holds, by lock path, and the thread holding each:
// a write made by the holder of a turn (a document that took it to look at
// its file and then write it) goes on in that turn instead of waiting for
// itself. Another thread of this process waits like another process.
struct HeldTurns {
    QMutex mutex;
    QHash<QString, std::pair<Qt::HANDLE, int>> held;
};

HeldTurns& heldTurns()
{
    static HeldTurns turns;
    return turns;
}

} // namespace

// One write or clean-up of a file at a time, across processes and threads.
// The turn is two locks in the backups folder, held for the whole write so
// that nobody takes a write going on for one that was cut short: first the
// file's own (by device and inode, so that every name of the file shares
// it), then its path's (".<key>.lock", beside what an in-place write of that
// path keeps there). Lock files go when the turn ends; one that a killed
// process left is nobody's.
struct FileWriteTurn::State {
    std::vector<std::unique_ptr<FileLock>> locks; // taken by this turn
    std::vector<QString> borrowed;                // held already by this thread
};

FileWriteTurn::FileWriteTurn() : m_state(std::make_unique<State>()) {}

FileWriteTurn::~FileWriteTurn()
{
    HeldTurns& turns = heldTurns();
    const QMutexLocker locker(&turns.mutex);
    for (const QString& path : m_state->borrowed)
        if (auto it = turns.held.find(path); it != turns.held.end()) --it->second;
    // The path's lock first: the reverse of taking.
    for (auto it = m_state->locks.rbegin(); it != m_state->locks.rend(); ++it) {
        turns.held.remove((*it)->path());
        (*it)->removeFile(); // while still held: nobody locks a name about to go
        it->reset();
    }
}

std::unique_ptr<FileWriteTurn> FileWriteTurn::tryTake(const QString& path)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    const QByteArray target = encoded(resolvedTarget(path));
    const QString backups = privateStateFolder(QStringLiteral("backups"));
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString identity = identityKey(target);
        auto turn = std::unique_ptr<FileWriteTurn>(new FileWriteTurn());
        bool busy = false;
        for (const QString& lockPath : {turnLockPath(backups, identity), turnLockPath(backups, backupKey(target))}) {
            {
                HeldTurns& turns = heldTurns();
                const QMutexLocker locker(&turns.mutex);
                if (auto it = turns.held.find(lockPath); it != turns.held.end()) {
                    if (it->first != QThread::currentThreadId()) {
                        busy = true;
                        break;
                    }
                    ++it->second;
                    turn->m_state->borrowed.push_back(lockPath);
                    continue;
                }
            }
            auto lock = FileLock::tryAcquire(lockPath);
            // Not held, yet not had: let go just now, or no lock file can be
            // made there at all (a state folder that takes no files), and
            // then the write goes on as it would without one.
            if (!lock && !FileLock::isHeld(lockPath)) lock = FileLock::tryAcquire(lockPath);
            if (!lock) {
                if (FileLock::isHeld(lockPath)) {
                    busy = true;
                    break;
                }
                continue;
            }
            HeldTurns& turns = heldTurns();
            const QMutexLocker locker(&turns.mutex);
            turns.held.insert(lockPath, {QThread::currentThreadId(), 1});
            turn->m_state->locks.push_back(std::move(lock));
        }
        if (busy) return nullptr;
        // Replaced (or made) while the turn was taken: the turn of the file
        // that is there now.
        if (identityKey(target) == identity) return turn;
    }
    return nullptr;
}

PlatformError fileBusyError(const QString& path)
{
    return PlatformError(PlatformError::Code::writeFailed,
                         platformText("file.error.write", "The file “%1” couldn't be written.")
                             .arg(NativePath::shownNameOf(path)),
                         platformText("file.error.busy", "Another Lumora is writing this file at this moment. Try "
                                                         "again once it has finished."),
                         path);
}

namespace {

struct Turn {
    std::unique_ptr<FileWriteTurn> held;
    int error = 0; // EBUSY: another write kept it past the limit; or the test hook's errno
};

Turn takeTurn(const QByteArray& target, int limitMs)
{
    Turn turn;
    const QString path = NativePath::decode(target);
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if ((turn.held = FileWriteTurn::tryTake(path))) return turn;
        if (timer.elapsed() >= limitMs) {
            turn.error = EBUSY;
            return turn;
        }
        if (const int fault = injected("waitForTurn")) {
            turn.error = fault;
            return turn;
        }
        QThread::msleep(10);
    }
}

InterruptedWrite cleanUpInTurn(const QString& targetPath);

// The in-place road: old and new bytes to a private backup, with a note of
// the file as it is before the write, then the file itself; the backup goes
// once the new bytes are synced. A kill in between leaves the backup and the
// note for cleanUpInterruptedWrite to mend.
Failure writeInPlace(const QByteArray& target, const QByteArray& bytes)
{
    int error = 0;
    const QByteArray oldBytes = readAll(target, error);
    if (error) return {error, "read"};
    struct stat before {};
    if (::stat(target.constData(), &before) != 0) return {errno, "read"};

    const BackupFiles backup(target);
    if (const int fault = injected("backup")) return {fault, "backup"};
    if (auto status = writeFileSafely(backup.oldBytes, oldBytes); !status)
        return {EIO, "backup", status.error().message()};
    // The new bytes too: only with both can a later look at the file prove
    // that it is the one this write left half done.
    if (auto status = writeFileSafely(backup.newBytes, bytes); !status) {
        backup.remove();
        return {EIO, "backup", status.error().message()};
    }
    const QJsonObject noteJson{{QStringLiteral("path"), NativePath::decode(target)},
                               {QStringLiteral("device"), QString::number(quint64(before.st_dev))},
                               {QStringLiteral("inode"), QString::number(quint64(before.st_ino))},
                               {QStringLiteral("changedNs"), QString::number(changeTimeNs(before))},
                               {QStringLiteral("oldSize"), double(oldBytes.size())},
                               {QStringLiteral("oldSha256"), QString::fromLatin1(digest(oldBytes))},
                               {QStringLiteral("newSize"), double(bytes.size())},
                               {QStringLiteral("newSha256"), QString::fromLatin1(digest(bytes))}};
    if (auto status = writeFileSafely(backup.note, QJsonDocument(noteJson).toJson(QJsonDocument::Compact)); !status) {
        backup.remove();
        return {EIO, "backup", status.error().message()};
    }

    if (const int writeError = overwrite(target, bytes, "writeInPlace")) {
        if (overwrite(target, oldBytes, "restore") != 0)
            return {writeError, "writeInPlace", backup.oldBytes}; // backup and note stay for the next open
        backup.remove();
        return {writeError, "writeInPlace"};
    }
    if (const int fault = injected("removeBackup")) return {fault, "removeBackup"};
    backup.remove();
    return {};
}

// Whether `now` is what an in-place write of `newBytes` over `oldBytes`
// leaves when cut short: at every offset the old byte or the new one (the
// new bytes go in from the start; a power cut may keep any of the blocks),
// and a length between the two.
bool isHalfWritten(const QByteArray& now, const QByteArray& oldBytes, const QByteArray& newBytes)
{
    const qsizetype shorter = std::min(oldBytes.size(), newBytes.size());
    const qsizetype longer = std::max(oldBytes.size(), newBytes.size());
    if (now.size() < shorter || now.size() > longer) return false;
    for (qsizetype i = 0; i < now.size(); ++i) {
        const char c = now.at(i);
        const bool fromOld = i < oldBytes.size() && oldBytes.at(i) == c;
        const bool fromNew = i < newBytes.size() && newBytes.at(i) == c;
        if (!fromOld && !fromNew) return false;
    }
    return true;
}

// What a step of writing does, for a failure whose errno says little.
QString operationOf(const char* step)
{
    const std::string_view s = step ? step : "";
    if (s == "open") return platformText("file.step.create", "Creating the new file");
    if (s == "write" || s == "writeInPlace") return platformText("file.step.write", "Writing the file");
    if (s == "sync" || s == "syncInPlace") return platformText("file.step.sync", "Flushing the file to the disk");
    if (s == "close" || s == "closeInPlace") return platformText("file.step.close", "Closing the file");
    if (s == "rename") return platformText("file.step.rename", "Putting the new file in place");
    if (s == "syncFolder") return platformText("file.step.syncFolder", "Flushing the folder to the disk");
    if (s == "chown") return platformText("file.step.chown", "Keeping the file's owner");
    if (s == "xattr") return platformText("file.step.xattr", "Copying the file's attributes");
    if (s == "backup" || s == "read") return platformText("file.step.backup", "Copying the old contents aside");
    if (s == "truncate") return platformText("file.step.truncate", "Cutting the file to its new length");
    return platformText("file.step.other", "Writing the file");
}

PlatformError failureError(const QString& path, const Failure& failure)
{
    PlatformError::Code code = PlatformError::Code::writeFailed;
    if (failure.error == EACCES || failure.error == EPERM || failure.error == EROFS)
        code = PlatformError::Code::permissionDenied;
    else if (failure.error == EEXIST)
        code = PlatformError::Code::fileExists;
    QString reason = fileErrorReason(failure.error, operationOf(failure.step));
    if (failure.step && std::strcmp(failure.step, "waitForTurn") == 0 && failure.error == EBUSY)
        reason = platformText("file.error.busy",
                              "Another Lumora is writing this file at this moment. Try again once it has finished.");
    else if (failure.step && std::strcmp(failure.step, "writeInPlace") == 0 && !failure.detail.isEmpty())
        reason += QLatin1Char(' ') + platformText("file.error.backupKept",
                                                  "The file may be incomplete; its earlier contents are kept "
                                                  "at “%1” and are put back when it is next opened, unless "
                                                  "another program writes it first.")
                                         .arg(failure.detail);
    else if (!failure.detail.isEmpty())
        reason += QLatin1Char(' ') + failure.detail;
    return PlatformError(code,
                         platformText("file.error.write", "The file “%1” couldn't be written.")
                             .arg(NativePath::shownNameOf(path)),
                         reason, path);
}

} // namespace

namespace {

std::optional<QString> knownReason(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT: return platformText("file.error.diskFull", "The disk is full.");
    case EACCES:
    case EPERM: return platformText("file.error.permission", "Permission denied.");
    case EROFS: return platformText("file.error.readOnlyDisk", "The disk is read-only.");
    case ENOENT: return platformText("file.error.noFolder", "The folder no longer exists.");
    case ENOTDIR: return platformText("file.error.notFolder", "A part of the path is not a folder.");
    case EFBIG: return platformText("file.error.tooLarge", "The file is too large for this disk.");
    case ENAMETOOLONG: return platformText("file.error.nameTooLong", "The name is too long.");
    case EEXIST: return platformText("file.error.exists", "A file with that name already exists.");
    case EISDIR: return platformText("file.error.isFolder", "It is a folder.");
    case EIO: return platformText("file.error.io", "The disk reported an input/output error.");
    default: return std::nullopt;
    }
}

QString errnoText(int error)
{
    QString text = QString::fromLocal8Bit(std::strerror(error));
    if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
    return text;
}

} // namespace

QString fileErrorReason(int error)
{
    if (auto known = knownReason(error)) return *known;
    return errnoText(error);
}

QString fileErrorReason(int error, const QString& operation)
{
    if (auto known = knownReason(error)) return *known;
    if (operation.isEmpty()) return errnoText(error);
    return platformText("file.error.operation", "%1 failed: %2").arg(operation, errnoText(error));
}

PlatformStatus writeFileSafely(const QString& path, const QByteArray& bytes, const FileWriteOptions& options)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    const QFileInfo given(path);
    if (options.createOnly && NativePath::exists(path)) return failureError(path, {EEXIST, "open"});
    const QString targetPath = options.createOnly ? given.absoluteFilePath() : resolvedTarget(path);
    const QByteArray target = encoded(targetPath);
    const QString fileName = QFileInfo(targetPath).fileName();

    // Another process writing the file now ends first.
    const Turn turn = takeTurn(target, kWriteWaitMs);
    if (turn.error) return failureError(path, {turn.error, "waitForTurn"});
    if (options.createOnly && NativePath::exists(path)) return failureError(path, {EEXIST, "open"});

    struct stat old {};
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return failureError(path, {S_ISDIR(old.st_mode) ? EISDIR : EINVAL, "open"});
    if (exists && ::access(target.constData(), W_OK) != 0) return failureError(path, {errno, "open"});

    cleanUpInTurn(targetPath);

    // Several names share this file: a replacement would split them.
    if (exists && old.st_nlink > 1) {
        const Failure failure = writeInPlace(target, bytes);
        return failure.error ? PlatformStatus(failureError(path, failure)) : PlatformStatus();
    }
    bool inPlace = false;
    const Failure failure = replace(target, fileName, exists ? &old : nullptr, bytes, options.createOnly, options.ownerOnly, inPlace);
    if (!failure.error) return {};
    if (!inPlace) return failureError(path, failure);
    const Failure second = writeInPlace(target, bytes);
    return second.error ? PlatformStatus(failureError(path, second)) : PlatformStatus();
}

PlatformStatus writeExtendedAttributeSafely(const QString& path, const char* name, const QByteArray& value)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    // Opened for reading only: the contents are never touched, and a folder
    // opens too. No FIFO or device is ever opened (it could block).
    Descriptor item(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (item.fd < 0) return failureError(path, {errno, "open"});
    struct stat st {};
    if (::fstat(item.fd, &st) != 0) return failureError(path, {errno, "open"});
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return failureError(path, {EINVAL, "open"});
    if (const int fault = injected("xattr")) return failureError(path, {fault, "xattr"});
    if (::fsetxattr(item.fd, name, value.constData(), size_t(value.size()), 0) != 0)
        return failureError(path, {errno, "xattr"});
    if (const int error = syncDescriptor(item.fd); error && error != EINVAL) return failureError(path, {error, "sync"});
    if (const int error = item.close()) return failureError(path, {error, "close"});
    return {};
}

InterruptedWrite cleanUpInterruptedWrite(const QString& path)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    const QString targetPath = resolvedTarget(path);
    // A write of the file going on now (in another Lumora, or on another
    // thread) was not cut short: it is given a moment to end, and passed
    // over while it goes on. Its lock tells.
    const Turn turn = takeTurn(encoded(targetPath), kCleanUpWaitMs);
    if (turn.error) return {};
    return cleanUpInTurn(targetPath);
}

namespace {

// Removes the temporaries in folder whose names start with one of the
// prefixes (each followed by six characters), made by this user.
void removeTemporaries(const QByteArray& folder, const std::vector<QByteArray>& prefixes)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        const bool ours = std::any_of(prefixes.begin(), prefixes.end(), [&](const QByteArray& prefix) {
            return length == size_t(prefix.size()) + 6
                   && std::strncmp(entry->d_name, prefix.constData(), size_t(prefix.size())) == 0;
        });
        if (!ours) continue;
        const QByteArray leftover = folder + '/' + entry->d_name;
        struct stat st {};
        if (::lstat(leftover.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == me)
            ::unlink(leftover.constData());
    }
    ::closedir(dir);
}

// The clean-up of the file at targetPath (links resolved), by whoever has
// the turn at it.
InterruptedWrite cleanUpInTurn(const QString& targetPath)
{
    const QFileInfo info(targetPath);
    const QByteArray folder = encoded(info.absolutePath());
    const QByteArray prefix = temporaryPrefix(info.fileName());

    removeTemporaries(folder, {prefix});

    const QByteArray target = encoded(targetPath);
    const BackupFiles backup(target);
    // The copies aside of a write of this file, cut short while they were
    // written: nobody else writes them (the turn is ours).
    removeTemporaries(encoded(backup.folder),
                      {temporaryPrefix(QFileInfo(backup.oldBytes).fileName()),
                       temporaryPrefix(QFileInfo(backup.newBytes).fileName()),
                       temporaryPrefix(QFileInfo(backup.note).fileName())});
    if (!QFileInfo::exists(backup.oldBytes)) {
        if (QFileInfo::exists(backup.note) || QFileInfo::exists(backup.newBytes)) backup.remove();
        return {};
    }
    // Without a note the write had not begun: the file was never touched.
    if (!QFileInfo::exists(backup.note)) {
        backup.remove();
        return {};
    }

    const auto keepAside = [&]() -> InterruptedWrite {
        const QString label = platformText("file.backup.kept", "before an interrupted save %1")
                                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
        QString kept = backup.folder + QLatin1Char('/') + labelledFileName(info.fileName(), label);
        for (int n = 2; QFileInfo::exists(kept) || QFileInfo(kept).isSymLink(); ++n)
            kept = backup.folder + QLatin1Char('/')
                   + labelledFileName(info.fileName(), label + QLatin1Char(' ') + QString::number(n));
        if (::rename(encoded(backup.oldBytes).constData(), encoded(kept).constData()) != 0)
            return {InterruptedWrite::Outcome::pending, {}}; // stays as it is: tried again next time
        backup.remove();
        std::fprintf(stderr,
                     "Lumora: a save of %s was interrupted and the file changed since; it was left as it is, "
                     "and its earlier contents are kept at %s\n",
                     qPrintable(targetPath), qPrintable(kept));
        return {InterruptedWrite::Outcome::keptAside, kept};
    };

    int error = 0;
    const QJsonObject note = QJsonDocument::fromJson(readAll(encoded(backup.note), error)).object();
    if (error) return {InterruptedWrite::Outcome::pending, {}};
    // The killed write's turn at the file as it was then: its lock file is
    // nobody's now, and nobody takes that turn again once the file was
    // replaced or removed.
    if (note.contains(QStringLiteral("device")) && note.contains(QStringLiteral("inode"))) {
        const QString stale = turnLockPath(
            backup.folder, identityTurnKey(fileIdentity(note.value(QStringLiteral("device")).toString().toLatin1(),
                                                        note.value(QStringLiteral("inode")).toString().toLatin1())));
        bool ours = false;
        {
            const QMutexLocker locker(&heldTurns().mutex);
            ours = heldTurns().held.contains(stale);
        }
        if (!ours && QFileInfo::exists(stale))
            if (auto lock = FileLock::tryAcquire(stale)) lock->removeFile();
    }
    const QString newSha = note.value(QStringLiteral("newSha256")).toString();
    const QString oldSha = note.value(QStringLiteral("oldSha256")).toString();
    if (newSha.isEmpty() || oldSha.isEmpty()) return keepAside(); // a note that says too little proves nothing

    struct stat now {};
    if (::stat(target.constData(), &now) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return keepAside(); // removed since: nothing to put back into
        return {InterruptedWrite::Outcome::pending, {}};
    }
    const QByteArray current = S_ISREG(now.st_mode) ? readAll(target, error) : QByteArray();
    if (!S_ISREG(now.st_mode)) return keepAside();
    if (error) return {InterruptedWrite::Outcome::pending, {}};
    const QString currentSha = QString::fromLatin1(digest(current));
    // Finished, or never begun: the file holds a whole version of ours.
    if (currentSha == newSha || currentSha == oldSha) {
        backup.remove();
        return {};
    }
    const bool sameFile = note.value(QStringLiteral("device")).toString() == QString::number(quint64(now.st_dev))
                          && note.value(QStringLiteral("inode")).toString() == QString::number(quint64(now.st_ino));
    const bool changedSince = note.value(QStringLiteral("changedNs")).toString() != QString::number(changeTimeNs(now));
    if (!sameFile || !changedSince) return keepAside();
    const QByteArray oldBytes = readAll(encoded(backup.oldBytes), error);
    if (error) return {InterruptedWrite::Outcome::pending, {}};
    const QByteArray newBytes = readAll(encoded(backup.newBytes), error);
    if (error || QString::fromLatin1(digest(newBytes)) != newSha || QString::fromLatin1(digest(oldBytes)) != oldSha
        || !isHalfWritten(current, oldBytes, newBytes))
        return keepAside();
    if (overwrite(target, oldBytes, "restore") != 0) return {InterruptedWrite::Outcome::pending, {}};
    backup.remove();
    return {InterruptedWrite::Outcome::restored, {}};
}

} // namespace

void removeAbandonedBackups()
{
    const QString folder = privateStateFolder(QStringLiteral("backups"));
    // What a write of the file with that key keeps here: its backups
    // ("<key>", "<key>.new", "<key>.json"), their temporaries while they are
    // written (".<key>.lumora-XXXXXX" and so on) and its lock. Anything else
    // (an earlier version kept aside) is the writer's.
    static const QRegularExpression own(QStringLiteral(
        "^(?:([0-9a-f]{40})(?:\\.new|\\.json)?|\\.([0-9a-f]{40})(?:\\.lock|(?:\\.new|\\.json)?\\.lumora-[A-Za-z0-9]{6}))$"));
    QHash<QString, QStringList> byKey;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = own.match(name);
        if (match.hasMatch()) byKey[match.captured(1) + match.captured(2)].append(name);
    }
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it) {
        const QString& key = it.key();
        // Held: a write of that file goes on now, in this process or another.
        const auto lock = FileLock::tryAcquire(turnLockPath(folder, key));
        if (!lock) continue;
        // With its note, the file may be half written: the backups stay, and
        // mend it when it is next opened or saved. Without one, the write had
        // not begun and the file was never touched.
        const bool noted = QFileInfo::exists(folder + QLatin1Char('/') + key + QStringLiteral(".json"));
        for (const QString& name : it.value()) {
            const bool temporary = name.contains(QStringLiteral(".lumora-"));
            if (temporary || (!noted && !name.startsWith(QLatin1Char('.'))))
                QFile::remove(folder + QLatin1Char('/') + name);
        }
        lock->removeFile();
    }
    syncFolder(encoded(folder));
}

void removeAbandonedTemporaries(const QString& folder)
{
    static const QRegularExpression temporary(QStringLiteral("^\\.(.+)\\.lumora-[A-Za-z0-9]{6}$"));
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QSet<QString> done;
    bool removed = false;
    for (const QString& name : names) {
        const QRegularExpressionMatch match = temporary.match(name);
        if (!match.hasMatch() || done.contains(match.captured(1))) continue;
        done.insert(match.captured(1));
        const QByteArray prefix = "." + encoded(match.captured(1)) + ".lumora-";
        // The files its temporaries may be for: the name itself, and names
        // shortened into it (a long name's temporaries carry the start of it).
        QStringList targets{match.captured(1)};
        for (const QString& other : names)
            if (other != match.captured(1) && !other.contains(QStringLiteral(".lumora-"))
                && temporaryPrefix(other) == prefix)
                targets << other;
        std::vector<std::unique_ptr<FileWriteTurn>> turns;
        bool held = false;
        for (const QString& target : targets) {
            auto turn = FileWriteTurn::tryTake(folder + QLatin1Char('/') + target);
            if (!turn) {
                held = true; // a write going on now
                break;
            }
            turns.push_back(std::move(turn));
        }
        if (held) continue;
        removeTemporaries(encoded(folder), {prefix});
        removed = true;
    }
    if (removed) syncFolder(encoded(folder));
}

QString labelledFileName(const QString& fileName, const QString& label)
{
    constexpr qsizetype kMaxName = 255;
    const QFileInfo info(fileName);
    QString base = info.completeBaseName();
    QString suffix = info.suffix();
    if (base.isEmpty()) { // ".notes": a hidden name without an extension
        base = fileName;
        suffix.clear();
    }
    const QString labelled = QStringLiteral(" (") + label + QLatin1Char(')');
    QString tail = suffix.isEmpty() ? labelled : labelled + QLatin1Char('.') + suffix;
    // An extension too long to keep beside the label is dropped (no real one is).
    if (encoded(tail).size() >= kMaxName) tail = labelled;
    const qsizetype room = kMaxName - encoded(tail).size();
    while (!base.isEmpty() && encoded(base).size() > room)
        base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    return base + tail;
}

QString privateStateFolder(const QString& name)
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/state");
    const QString folder = base + QStringLiteral("/Lumora/") + name;
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        QFile::setPermissions(base + QStringLiteral("/Lumora"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return folder;
}

void setFileWriteFaultHook(FileWriteFaultHook hook)
{
    if (!hook) {
        faultHook() = {};
        return;
    }
    faultHook() = [hook = std::move(hook)](const char* step, const QString&) { return hook(step); };
}

void setFileFaultHook(FileFaultHook hook) { faultHook() = std::move(hook); }

int detail::injectedFileFault(const char* step) { return injected(step); }

detail::FaultPathScope::FaultPathScope(const QString& path) : m_previous(std::exchange(t_currentPath, path)) {}

detail::FaultPathScope::~FaultPathScope() { t_currentPath = std::move(m_previous); }

} // namespace lumora
