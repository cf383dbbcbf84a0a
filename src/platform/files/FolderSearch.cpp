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
#include <unistd.h>

#include <cstring>
#include <deque>
#include <utility>

namespace lumora {

namespace {

struct Walk {
    quint64 device;
    quint64 inode;
    int budget;
};

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
            struct stat st {};
            if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
            // Another disk mounted here is not where a move could take it.
            if (quint64(st.st_dev) != walk.device) continue;
            const QString path = childPath(folder, NativePath::decode(QByteArrayView(entry->d_name)));
            if (quint64(st.st_ino) == walk.inode) {
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

QString FolderSearch::find(const QString& oldPath, quint64 device, quint64 inode, const Bounds& bounds)
{
    Walk walk{device, inode, bounds.folders};
    QString below = QDir::cleanPath(oldPath);
    QString searched; // the folder searched last, not read twice
    for (int level = 0; level < bounds.levelsUp && below != QLatin1String("/") && walk.budget > 0; ++level) {
        const QString folder = QFileInfo(below).absolutePath();
        below = folder;
        struct stat st {};
        // A folder above on another disk (a mount point) holds nothing of it.
        if (::stat(NativePath::encode(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)
            || quint64(st.st_dev) != device)
            continue;
        if (quint64(st.st_ino) == inode) return folder;
        if (QString found = searchBelow(folder, searched, bounds.levelsDown, walk); !found.isEmpty()) return found;
        searched = folder;
    }
    return {};
}

void FolderSearch::findInBackground(const QString& oldPath, quint64 device, quint64 inode, QObject* context,
                                    std::function<void(const QString& found)> found)
{
    QPointer<QObject> receiver(context);
    dispatch::background([oldPath, device, inode, receiver, found = std::move(found)]() mutable {
        const QString path = find(oldPath, device, inode);
        dispatch::async([receiver, found = std::move(found), path] {
            if (receiver) found(path);
        });
    });
}

} // namespace lumora
