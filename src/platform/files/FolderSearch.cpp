#include "platform/files/FolderSearch.h"

#include "platform/files/NativePath.h"
#include "platform/foundation/Dispatch.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <utility>

namespace lumora {

namespace {

struct Walk {
    FolderSearch::Identity identity;
    int budget;
};

std::optional<FolderSearch::Identity> identityAt(int dirfd, const char* name)
{
    struct statx st {};
    if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, STATX_TYPE | STATX_INO | STATX_BTIME, &st)
            != 0
        || !S_ISDIR(st.stx_mode))
        return std::nullopt;
    FolderSearch::Identity id;
    id.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    id.inode = st.stx_ino;
    if (st.stx_mask & STATX_BTIME) id.birth = qint64(st.stx_btime.tv_sec) * 1'000'000'000 + st.stx_btime.tv_nsec;
    return id;
}

bool matches(const FolderSearch::Identity& found, const FolderSearch::Identity& wanted)
{
    return found.device == wanted.device && found.inode == wanted.inode
           && (!found.birth || !wanted.birth || found.birth == wanted.birth);
}

QString childPath(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

// Breadth first below start (itself not a candidate), skipping the folder
// already searched; the match's path, or empty.
QString searchBelow(const QString& start, const QString& skip, int levels, Walk& walk)
{
    std::deque<std::pair<QString, int>> queue{{start, 0}};
    while (!queue.empty() && walk.budget > 0) {
        auto [folder, depth] = std::move(queue.front());
        queue.pop_front();
        --walk.budget;
        DIR* dir = ::opendir(NativePath::encode(folder).constData());
        if (!dir) continue;
        const int fd = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
            const auto id = identityAt(fd, entry->d_name);
            // Another disk mounted here is not where a move could take it.
            if (!id || id->device != walk.identity.device) continue;
            const QString path = childPath(folder, NativePath::decode(QByteArrayView(entry->d_name)));
            if (matches(*id, walk.identity)) {
                ::closedir(dir);
                return path;
            }
            if (depth + 1 < levels && path != skip) queue.emplace_back(path, depth + 1);
        }
        ::closedir(dir);
    }
    return {};
}

} // namespace

std::optional<FolderSearch::Identity> FolderSearch::identityOf(const QString& path)
{
    return identityAt(AT_FDCWD, NativePath::encode(path).constData());
}

bool FolderSearch::isFolder(const QString& path, const Identity& identity)
{
    const auto id = identityOf(path);
    return id && matches(*id, identity);
}

QString FolderSearch::find(const QString& oldPath, const Identity& identity, const Bounds& bounds)
{
    Walk walk{identity, bounds.folders};
    QString below = QDir::cleanPath(oldPath);
    QString searched; // the folder searched last, not read twice
    for (int level = 0; level < bounds.levelsUp && below != QLatin1String("/") && walk.budget > 0; ++level) {
        const QString folder = QFileInfo(below).absolutePath();
        below = folder;
        const auto id = identityOf(folder);
        // A folder above on another disk (a mount point) holds nothing of it.
        if (!id || id->device != identity.device) continue;
        if (matches(*id, identity)) return folder;
        if (QString found = searchBelow(folder, searched, bounds.levelsDown, walk); !found.isEmpty()) return found;
        searched = folder;
    }
    return {};
}

void FolderSearch::findInBackground(const QString& oldPath, const Identity& identity, QObject* context,
                                    std::function<void(const QString& found)> found)
{
    QPointer<QObject> receiver(context);
    const bool bound = context != nullptr;
    dispatch::background([oldPath, identity, receiver, bound, found = std::move(found)]() mutable {
        const QString path = find(oldPath, identity);
        dispatch::async([receiver, bound, found = std::move(found), path] {
            if (!bound || receiver) found(path);
        });
    });
}

} // namespace lumora
