#include "platform/files/FileManager.h"

#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "platform/files/TrashJournal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace lumora {

namespace {

// What a copy to another file system refuses: devices, pipes, sockets.
constexpr int kCannotCopy = ENOTSUP;

QByteArray native(const QString& path)
{
    return NativePath::encode(path);
}

QString nameOf(const QString& path)
{
    return NativePath::shownNameOf(path);
}

QString parentOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

QString quoted(const QString& text)
{
    return QStringLiteral("“") + text + QStringLiteral("”");
}

int writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

bool isInside(const QString& path, const QString& folder)
{
    return path.size() > folder.size() && path.startsWith(folder)
           && (folder.endsWith(QLatin1Char('/')) || path.at(folder.size()) == QLatin1Char('/'));
}

// Extended attributes go along where both file systems keep them.
void copyAttributes(int from, int to)
{
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> names(size_t(size) + 1, '\0');
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got <= 0) return;
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + got; name += std::strlen(name) + 1) {
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) continue;
        value.resize(size_t(length) + 1);
        const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
        if (read >= 0) ::fsetxattr(to, name, value.data(), size_t(read), 0);
    }
}

struct CopyFailure {
    int error = 0;
    QString path; // the item that failed
};

int copyFileContents(const QByteArray& from, const QByteArray& to, const struct stat& st)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return errno;
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        if ((error = writeAll(out, buffer.data(), size_t(n))) != 0) break;
    }
    if (error == 0) {
        copyAttributes(in, out);
        (void)::fchown(out, st.st_uid, st.st_gid); // only where allowed
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::fchmod(out, st.st_mode & 07777) != 0 || ::futimens(out, times) != 0 || ::fsync(out) != 0)
            error = errno;
    }
    if (::close(out) != 0 && error == 0) error = errno;
    ::close(in);
    return error;
}

CopyFailure copyTree(const QString& from, const QString& to);

CopyFailure copyFolder(const QString& from, const QString& to, const struct stat& st)
{
    const QByteArray target = native(to);
    if (::mkdir(target.constData(), 0700) != 0) return {errno, to};
    DIR* dir = ::opendir(native(from).constData());
    if (!dir) return {errno, from};
    CopyFailure failure;
    errno = 0;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        const QString name = NativePath::decode(d->d_name);
        failure = copyTree(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
        if (failure.error) break;
        errno = 0;
    }
    if (!failure.error && errno != 0) failure = {errno, from};
    ::closedir(dir);
    if (failure.error) return failure;

    const int in = ::open(native(from).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int out = ::open(target.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = in < 0 || out < 0 ? errno : 0;
    if (!error) {
        copyAttributes(in, out);
        (void)::fchown(out, st.st_uid, st.st_gid);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        if (::fchmod(out, st.st_mode & 07777) != 0 || ::futimens(out, times) != 0
            || (::fsync(out) != 0 && errno != EINVAL))
            error = errno;
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    return error ? CopyFailure{error, to} : CopyFailure{};
}

CopyFailure copyTree(const QString& from, const QString& to)
{
    const QByteArray source = native(from);
    struct stat st {};
    if (::lstat(source.constData(), &st) != 0) return {errno, from};
    if (S_ISDIR(st.st_mode)) return copyFolder(from, to, st);
    if (S_ISREG(st.st_mode)) {
        const int error = copyFileContents(source, native(to), st);
        return error ? CopyFailure{error, from} : CopyFailure{};
    }
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> link(size_t(st.st_size) + 2);
        const ssize_t n = ::readlink(source.constData(), link.data(), link.size() - 1);
        if (n < 0) return {errno, from};
        link[size_t(n)] = '\0';
        const QByteArray target = native(to);
        if (::symlink(link.data(), target.constData()) != 0) return {errno, to};
        (void)::lchown(target.constData(), st.st_uid, st.st_gid);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        (void)::utimensat(AT_FDCWD, target.constData(), times, AT_SYMLINK_NOFOLLOW);
        return {};
    }
    return {kCannotCopy, from};
}

// Removes an item and, for a folder, everything in it; symbolic links are
// removed, never followed. The first error, or 0.
int removeTree(const QString& path)
{
    const QByteArray bytes = native(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISDIR(st.st_mode)) return ::unlink(bytes.constData()) == 0 ? 0 : errno;
    DIR* dir = ::opendir(bytes.constData());
    if (!dir) return errno;
    int error = 0;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        if (int e = removeTree(path + QLatin1Char('/') + NativePath::decode(d->d_name)); e && !error) error = e;
    }
    ::closedir(dir);
    if (error) return error;
    return ::rmdir(bytes.constData()) == 0 ? 0 : errno;
}

bool sameItem(const QByteArray& a, const QByteArray& b)
{
    struct stat sa {};
    struct stat sb {};
    return ::lstat(a.constData(), &sa) == 0 && ::lstat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

PlatformStatus moveAcrossFileSystems(const QString& from, const QString& to)
{
    struct stat st {};
    if (::lstat(native(to).constData(), &st) == 0) return FileManager::errorFor(EEXIST, FileManager::Action::move, from, to);
    // Short, so that a long name still fits.
    const QString temporary = parentOf(to) + QStringLiteral("/.moving-")
                              + QString::number(QRandomGenerator::global()->generate64(), 36);
    const CopyFailure copy = copyTree(from, temporary);
    if (copy.error) {
        removeTree(temporary);
        if (copy.error == kCannotCopy)
            return PlatformError(PlatformError::Code::writeFailed,
                                 platformText("files.error.move", "“%1” couldn't be moved.").arg(nameOf(from)),
                                 platformText("files.error.cannotCopy",
                                              "%1 is a device, pipe or socket, which can't be copied to another "
                                              "disk. Nothing was changed.")
                                     .arg(quoted(nameOf(copy.path))),
                                 from);
        return FileManager::errorFor(copy.error, FileManager::Action::move, from, to);
    }
    if (const int error = FileManager::syncFolder(parentOf(temporary)); error && error != EINVAL) {
        removeTree(temporary);
        return FileManager::errorFor(error, FileManager::Action::move, from, to);
    }
    if (const int error = FileManager::renameWithoutReplacing(temporary, to)) {
        removeTree(temporary);
        return FileManager::errorFor(error, FileManager::Action::move, from, to);
    }
    FileManager::syncFolder(parentOf(to));
    if (const int error = removeTree(from))
        return PlatformError(PlatformError::Code::writeFailed,
                             platformText("files.error.moveOriginalKept",
                                          "“%1” was copied to “%2”, but the original couldn't be removed.")
                                 .arg(nameOf(from), nameOf(parentOf(to))),
                             fileErrorReason(error), from);
    FileManager::syncFolder(parentOf(from));
    return {};
}

} // namespace

PlatformError FileManager::errorFor(int error, Action action, const QString& path, const QString& destination)
{
    const QString name = nameOf(path);
    QString description;
    switch (action) {
    case Action::list:
        description = platformText("files.error.list", "The folder “%1” couldn't be read.").arg(name);
        break;
    case Action::createFile:
        description = platformText("files.error.createFile", "The document “%1” couldn't be created.").arg(name);
        break;
    case Action::createFolder:
        description = platformText("files.error.createFolder", "The folder “%1” couldn't be created.").arg(name);
        break;
    case Action::move:
        description = destination.isEmpty()
                          ? platformText("files.error.move", "“%1” couldn't be moved.").arg(name)
                          : platformText("files.error.moveTo", "“%1” couldn't be moved to “%2”.")
                                .arg(name, nameOf(parentOf(destination)));
        break;
    case Action::rename:
        description = platformText("files.error.rename", "“%1” couldn't be renamed to “%2”.")
                          .arg(name, nameOf(destination));
        break;
    case Action::trash:
        description = platformText("files.error.trash", "“%1” couldn't be moved to the Trash.").arg(name);
        break;
    }

    PlatformError::Code code =
        action == Action::list ? PlatformError::Code::readFailed : PlatformError::Code::writeFailed;
    QString reason;
    switch (error) {
    case EEXIST:
    case ENOTEMPTY:
        reason = platformText("files.reason.exists", "An item named “%1” is already there.")
                     .arg(nameOf(destination.isEmpty() ? path : destination));
        break;
    case EACCES:
    case EPERM:
        code = PlatformError::Code::permissionDenied;
        reason = platformText("files.reason.permission", "You don't have permission to change that folder.");
        break;
    case ENOENT:
        code = PlatformError::Code::fileNotFound;
        reason = action == Action::createFile || action == Action::createFolder
                     ? fileErrorReason(error)
                     : platformText("files.reason.missing", "It is no longer there.");
        break;
    case EINVAL:
        if (action == Action::move || action == Action::rename) {
            reason = platformText("files.reason.intoItself", "A folder can't be moved into itself.");
            break;
        }
        [[fallthrough]];
    default:
        reason = fileErrorReason(error);
        break;
    }
    return PlatformError(code, description, reason, path);
}

QString FileManager::numberedPath(const QString& path, quint64 n)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    return info.path() + QLatin1Char('/') + stem + QLatin1Char(' ') + QString::number(n) + extension;
}

PlatformResult<QString> FileManager::createFile(const QString& path, const QByteArray& contents, bool numberOnClash)
{
    for (quint64 n = 1;; ++n) {
        const QString candidate = n == 1 ? path : numberedPath(path, n);
        const bool last = !numberOnClash || n >= 100000;
        if (!contents.isEmpty()) {
            // A file with contents is written by the checked writer, which
            // never replaces anything when told to create only.
            const PlatformStatus written = writeFileSafely(candidate, contents, FileWriteOptions{true});
            if (written) return candidate;
            if (written.error().code == PlatformError::Code::fileExists && !last) continue;
            return written.error();
        }
        // An empty file is made exclusively: nothing to write, nothing to replace.
        const QByteArray bytes = native(candidate);
        const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            const int error = errno;
            if (error == EEXIST && !last) continue;
            return errorFor(error, Action::createFile, candidate);
        }
        int error = ::fsync(fd) == 0 ? 0 : errno;
        if (::close(fd) != 0 && !error) error = errno;
        if (!error) error = FileManager::syncFolder(parentOf(candidate));
        if (error) {
            ::unlink(bytes.constData()); // ours: made above, exclusively
            return errorFor(error, Action::createFile, candidate);
        }
        return candidate;
    }
}

PlatformResult<QString> FileManager::createFolder(const QString& path, bool numberOnClash)
{
    for (quint64 n = 1;; ++n) {
        const QString candidate = n == 1 ? path : numberedPath(path, n);
        if (::mkdir(native(candidate).constData(), 0777) != 0) {
            const int error = errno;
            if (error == EEXIST && numberOnClash && n < 100000) continue;
            return errorFor(error, Action::createFolder, candidate);
        }
        if (const int error = FileManager::syncFolder(parentOf(candidate))) return errorFor(error, Action::createFolder, candidate);
        return candidate;
    }
}

int FileManager::renameWithoutReplacing(const QString& fromPath, const QString& toPath, bool forceFallback)
{
    const QByteArray from = native(fromPath);
    const QByteArray to = native(toPath);
    if (!forceFallback) {
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
        const int error = errno;
        // A new case of the same name, where the file system ignores case.
        if (error == EEXIST && sameItem(from, to)) return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
        // Only a file system that refuses the flag goes on to the fallback.
        if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;
    }

    struct stat source {};
    if (::lstat(from.constData(), &source) != 0) return errno;
    struct stat target {};
    if (::lstat(to.constData(), &target) == 0) {
        if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
        return EEXIST;
    }
    if (errno != ENOENT) return errno;
    if (!S_ISDIR(source.st_mode)) {
        // A hard link is made only where nothing is: the atomic way.
        if (::link(from.constData(), to.constData()) == 0) {
            if (::unlink(from.constData()) == 0) return 0;
            const int error = errno;
            ::unlink(to.constData());
            return error;
        }
        switch (errno) {
        case EEXIST:
        case ENOENT:
        case EACCES:
        case EROFS:
        case EXDEV:
        case ENAMETOOLONG:
        case ENOSPC:
        case EDQUOT:
            return errno;
        default:
            break; // no hard links on this file system
        }
    }
    // Folders, and files where links are refused: the name was free a moment
    // ago; look once more right before the rename.
    if (::lstat(to.constData(), &target) == 0) return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

int FileManager::syncFolder(const QString& folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return error;
}

PlatformStatus FileManager::moveItem(const QString& fromPath, const QString& toPath)
{
    const QString from = QDir::cleanPath(fromPath);
    const QString to = QDir::cleanPath(toPath);
    if (from == to) return {};
    const Action action = parentOf(from) == parentOf(to) ? Action::rename : Action::move;
    if (isInside(to, from)) return errorFor(EINVAL, action, from, to);
    const int error = renameWithoutReplacing(from, to);
    if (error == EXDEV) return moveAcrossFileSystems(from, to);
    if (error) return errorFor(error, action, from, to);
    FileManager::syncFolder(parentOf(to));
    if (action == Action::move) FileManager::syncFolder(parentOf(from));
    return {};
}

namespace {

// A folder of the Trash: "files" and "info" inside it.
struct TrashFolder {
    QString path;
    QString topFolder; // the disk's top folder for a Trash on that disk; empty for the home Trash
};

std::optional<dev_t> deviceOf(const QString& path, bool follow = true)
{
    struct stat st {};
    const QByteArray bytes = native(path);
    if ((follow ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st)) != 0) return std::nullopt;
    return st.st_dev;
}

// The top folder of the disk that holds folder (its mount point).
QString topFolderOf(const QString& folder, dev_t device)
{
    QString top = QDir::cleanPath(folder);
    while (top != QLatin1String("/")) {
        const QString up = parentOf(top);
        if (deviceOf(up) != device) break;
        top = up;
    }
    return top;
}

// Makes a private folder (0700) where none is; an existing one must be a
// real folder (not a link) of ours.
bool privateFolder(const QString& path)
{
    const QByteArray bytes = native(path);
    if (::mkdir(bytes.constData(), 0700) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(bytes.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The Trash folders an item on device may go to, as the freedesktop.org
// Trash standard orders them: the home Trash for the disk of the home
// data folder; on another disk $top/.Trash/$uid (when the administrator made
// $top/.Trash, sticky and not a link), then $top/.Trash-$uid.
std::vector<TrashFolder> trashFoldersFor(const QString& item, dev_t device)
{
    std::vector<TrashFolder> folders;
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(dataHome);
    if (deviceOf(dataHome) == device) {
        folders.push_back({dataHome + QStringLiteral("/Trash"), QString()});
        return folders;
    }
    const QString top = topFolderOf(parentOf(item), device);
    const QString uid = QString::number(::geteuid());
    const QString shared = (top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash");
    struct stat st {};
    if (::lstat(native(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        folders.push_back({shared + QLatin1Char('/') + uid, top});
    folders.push_back({(top == QLatin1String("/") ? QString() : top) + QStringLiteral("/.Trash-") + uid, top});
    return folders;
}

// The Trash's record of an item: where it was and when it was trashed.
QByteArray trashInfo(const QString& item, const QString& topFolder)
{
    // A Trash on the item's own disk records the path from the disk's top.
    QByteArray where = native(item);
    if (!topFolder.isEmpty() && topFolder != QLatin1String("/")) where = where.mid(native(topFolder).size() + 1);
    return QByteArrayLiteral("[Trash Info]\nPath=") + where.toPercentEncoding("/")
           + QByteArrayLiteral("\nDeletionDate=")
           + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1()
           + QByteArrayLiteral("\n");
}

// The name the item takes in the Trash at try n: its own name, then
// numbered ("Notes 2.md"). The record's name adds ".trashinfo" to it, and
// both must fit in a name of 255 bytes: a longer name is cut between
// characters, its extension kept (the record keeps the whole path).
QString trashName(const QString& name, quint64 n)
{
    constexpr qsizetype kRoom = 255 - qsizetype(sizeof ".trashinfo" - 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString number = n > 1 ? QLatin1Char(' ') + QString::number(n) : QString();
    QString stem = hasExtension ? name.left(dot) : name;
    QString tail = number + (hasExtension ? name.mid(dot) : QString());
    if (native(stem + tail).size() <= kRoom) return stem + tail;
    if (native(tail).size() > kRoom / 2) tail = number; // no real extension is that long
    while (!stem.isEmpty() && native(stem + tail).size() > kRoom) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate()) stem.chop(1);
    }
    return stem + tail;
}

PlatformError trashError(const QString& path, const QString& reason)
{
    return PlatformError(PlatformError::Code::writeFailed,
                         platformText("files.error.trash", "“%1” couldn't be moved to the Trash.").arg(nameOf(path)),
                         reason + QLatin1Char(' ')
                             + platformText("files.reason.leftInPlace", "It was left where it is."),
                         path);
}

} // namespace

PlatformResult<QString> FileManager::moveItemToTrash(const QString& path)
{
    const QString item = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    struct stat st {};
    if (::lstat(native(item).constData(), &st) != 0) return errorFor(errno, Action::trash, item);

    // The record goes first, through the checked writer: a Trash that could
    // not list or restore the item is no Trash. Only then does the item move,
    // by a rename on its own disk; a failed move takes the record back. Each
    // try is noted first, so that what a kill leaves is taken back at the
    // next start.
    TrashJournal journal;
    const detail::FaultPathScope scope(item);
    std::optional<PlatformError> failure;
    for (const TrashFolder& trash : trashFoldersFor(item, st.st_dev)) {
        const QString files = trash.path + QStringLiteral("/files");
        const QString info = trash.path + QStringLiteral("/info");
        if (!trash.topFolder.isEmpty() && !privateFolder(trash.path)) continue;
        if (trash.topFolder.isEmpty()) QDir().mkpath(trash.path);
        if (!privateFolder(files) || !privateFolder(info)) continue;
        const QByteArray record = trashInfo(item, trash.topFolder);
        for (quint64 n = 1; n < 100000; ++n) {
            const QString name = trashName(QFileInfo(item).fileName(), n);
            const QString infoPath = info + QLatin1Char('/') + name + QStringLiteral(".trashinfo");
            const QString target = files + QLatin1Char('/') + name;
            if (::access(native(target).constData(), F_OK) == 0) continue;
            if (::access(native(infoPath).constData(), F_OK) == 0) continue;
            journal.note(item, target, infoPath, record);
            const PlatformStatus written = writeFileSafely(infoPath, record, FileWriteOptions{true});
            if (!written) {
                if (written.error().code == PlatformError::Code::fileExists) continue;
                return trashError(item, written.error().recoverySuggestion);
            }
            const int fault = detail::injectedFileFault("moveToTrash");
            const int moved = fault ? fault : renameWithoutReplacing(item, target);
            if (moved == EEXIST) {
                ::unlink(native(infoPath).constData());
                continue;
            }
            if (moved != 0) {
                ::unlink(native(infoPath).constData());
                if (moved == EXDEV) break; // another disk after all (a bind mount): the next Trash
                return errorFor(moved, Action::trash, item);
            }
            const int synced = FileManager::syncFolder(files);
            const int syncedSource = FileManager::syncFolder(parentOf(item));
            if (const int error = synced ? synced : syncedSource; error && error != EINVAL) {
                // Not durable: it goes back where it was, with its record.
                if (renameWithoutReplacing(target, item) == 0) ::unlink(native(infoPath).constData());
                return trashError(item, fileErrorReason(error));
            }
            return target;
        }
        failure = trashError(item, platformText("files.reason.noTrash", "There is no Trash on the disk it is on."));
    }
    return failure.value_or(
        trashError(item, platformText("files.reason.noTrash", "There is no Trash on the disk it is on.")));
}

int FileManager::cleanUpInterruptedTrashMoves()
{
    return TrashJournal::cleanUpInterrupted();
}

bool FileManager::isInTrash(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString home =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash"));
    if (isInside(clean, home)) return true;
    const QString uid = QString::number(::getuid());
    return clean.contains(QStringLiteral("/.Trash-") + uid + QLatin1Char('/'))
           || clean.contains(QStringLiteral("/.Trash/") + uid + QLatin1Char('/'));
}

QString FileManager::findInTrash(const QString& formerPath, quint64 device, quint64 inode)
{
    for (const TrashFolder& trash : trashFoldersFor(QDir::cleanPath(formerPath), dev_t(device))) {
        const QString files = trash.path + QStringLiteral("/files");
        DIR* dir = ::opendir(native(files).constData());
        if (!dir) continue;
        QString found;
        while (const dirent* d = ::readdir(dir)) {
            struct stat st {};
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0
                || ::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (quint64(st.st_dev) == device && quint64(st.st_ino) == inode) {
                found = files + QLatin1Char('/') + NativePath::decode(d->d_name);
                break;
            }
        }
        ::closedir(dir);
        if (!found.isEmpty()) return found;
    }
    return {};
}

} // namespace lumora
