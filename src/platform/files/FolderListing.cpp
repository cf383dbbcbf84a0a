#include "platform/files/FolderListing.h"

#include "platform/files/FileManager.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumora {

namespace {

constexpr unsigned kStatxMask = STATX_TYPE | STATX_MTIME | STATX_BTIME;

qint64 milliseconds(const struct statx_timestamp& t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The date added the library recorded on the item, in milliseconds since
// the epoch; none when there is no record (or it cannot be read).
std::optional<qint64> recordedDateAdded(const QByteArray& path)
{
    char value[64];
    const ssize_t n = ::getxattr(path.constData(), FolderListing::dateAddedAttribute, value, sizeof value);
    if (n <= 0) return std::nullopt;
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(value, n), Qt::ISODateWithMs);
    if (!date.isValid()) return std::nullopt;
    return date.toMSecsSinceEpoch();
}

std::optional<FolderListing::Entry> entryFor(int dirfd, const QByteArray& folder, const char* rawName, QString name)
{
    if (FolderListing::isHiddenName(name)) return std::nullopt;
    struct statx st {};
    if (::statx(dirfd, rawName, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kStatxMask, &st) != 0)
        return std::nullopt;
    FolderListing::Entry entry;
    const mode_t type = st.stx_mode & S_IFMT;
    if (type == S_IFDIR) {
        entry.kind = FolderListing::Kind::folder;
    } else if (type == S_IFREG || type == S_IFLNK) {
        if (!FolderListing::isDocumentName(name)) return std::nullopt;
        // A link counts as the document it points to, with its dates.
        if (type == S_IFLNK
            && (::statx(dirfd, rawName, AT_STATX_SYNC_AS_STAT, kStatxMask, &st) != 0
                || (st.stx_mode & S_IFMT) != S_IFREG))
            return std::nullopt;
        entry.kind = FolderListing::Kind::document;
    } else {
        return std::nullopt; // FIFOs, sockets, devices
    }
    entry.name = std::move(name);
    if (st.stx_mask & STATX_MTIME) entry.modified = milliseconds(st.stx_mtime);
    if (const auto recorded = recordedDateAdded(folder + '/' + rawName)) {
        entry.added = recorded;
        entry.addedRecorded = true;
    } else if ((st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec != 0) {
        // Until the library records one, the item's birth is its date.
        entry.added = milliseconds(st.stx_btime);
    }
    return entry;
}

} // namespace

const std::vector<QString>& FolderListing::documentExtensions()
{
    static const std::vector<QString> list{
        QStringLiteral("txt"),   QStringLiteral("text"),  QStringLiteral("md"),    QStringLiteral("markdown"),
        QStringLiteral("mdown"), QStringLiteral("mkd"),   QStringLiteral("mkdn"),  QStringLiteral("mdwn"),
        QStringLiteral("mdtxt"), QStringLiteral("mdtext"),
    };
    return list;
}

bool FolderListing::isDocumentExtension(QStringView extension)
{
    for (const QString& known : documentExtensions())
        if (extension.compare(known, Qt::CaseInsensitive) == 0) return true;
    return false;
}

bool FolderListing::isDocumentName(QStringView name)
{
    if (isHiddenName(name)) return false;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && isDocumentExtension(name.mid(dot + 1));
}

PlatformResult<std::vector<FolderListing::Entry>> FolderListing::list(const QString& path)
{
    const QByteArray native = NativePath::encode(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        return FileManager::errorFor(error, FileManager::Action::list, path);
    }
    std::vector<Entry> entries;
    errno = 0;
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.') continue; // hidden, "." and ".."
        // Every byte of the name is kept, valid UTF-8 or not.
        if (auto entry = entryFor(::dirfd(dir), native, d->d_name, NativePath::decode(d->d_name)))
            entries.push_back(std::move(*entry));
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) return FileManager::errorFor(readError, FileManager::Action::list, path);
    return entries;
}

std::optional<FolderListing::Entry> FolderListing::examine(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty()) return std::nullopt;
    const QByteArray parent = NativePath::encode(info.absolutePath());
    const int dirfd = ::open(parent.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0) return std::nullopt;
    const QByteArray rawName = NativePath::encode(name);
    auto entry = entryFor(dirfd, parent, rawName.constData(), name);
    ::close(dirfd);
    return entry;
}

PlatformStatus FolderListing::recordDateAdded(const QString& path, qint64 milliseconds)
{
    const QByteArray value =
        QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
    return writeExtendedAttributeSafely(path, dateAddedAttribute, value);
}

} // namespace lumora
