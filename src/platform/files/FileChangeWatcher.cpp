#include "platform/files/FileChangeWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <sys/inotify.h>
#include <unistd.h>

namespace lumora {

namespace {

constexpr uint32_t kFolderMask = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM
                                 | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

} // namespace

FileChangeWatcher& FileChangeWatcher::shared()
{
    static FileChangeWatcher* watcher = new FileChangeWatcher();
    return *watcher;
}

FileChangeWatcher::FileChangeWatcher(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &FileChangeWatcher::report);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        std::fprintf(stderr, "Lumora: changes made to open files by other programs won't be noticed (%s).\n",
                     std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FileChangeWatcher::readEvents);
}

FileChangeWatcher::~FileChangeWatcher()
{
    if (m_fd >= 0) ::close(m_fd);
}

void FileChangeWatcher::watch(const QString& path)
{
    if (path.isEmpty()) return;
    if (m_files[path]++ > 0) return;
    const QString folder = folderOf(path);
    Folder& entry = m_folders[folder];
    if (entry.files++ > 0 || m_fd < 0) return;
    const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), kFolderMask);
    if (wd < 0) return; // a folder that cannot be watched: changes are still found when saving
    entry.watch = wd;
    m_folderOfWatch.insert(wd, folder);
}

void FileChangeWatcher::unwatch(const QString& path)
{
    const auto file = m_files.find(path);
    if (file == m_files.end()) return;
    if (--file.value() > 0) return;
    m_files.erase(file);
    m_pending.remove(path);
    const QString folder = folderOf(path);
    const auto entry = m_folders.find(folder);
    if (entry == m_folders.end() || --entry->files > 0) return;
    if (entry->watch >= 0) {
        ::inotify_rm_watch(m_fd, entry->watch);
        m_folderOfWatch.remove(entry->watch);
    }
    m_folders.erase(entry);
}

void FileChangeWatcher::readEvents()
{
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every watched file is looked at again.
                for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) noteEvent(it.key());
                continue;
            }
            const QString folder = m_folderOfWatch.value(event->wd);
            if (folder.isEmpty()) continue;
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                // The folder itself went: every file in it is gone from its place.
                for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
                    if (folderOf(it.key()) == folder) noteEvent(it.key());
                if (event->mask & IN_IGNORED) {
                    m_folderOfWatch.remove(event->wd);
                    if (auto entry = m_folders.find(folder); entry != m_folders.end()) entry->watch = -1;
                }
                continue;
            }
            if (event->len == 0) continue;
            const QString path = folder + QLatin1Char('/') + QFile::decodeName(event->name);
            if (event->mask & IN_MOVED_FROM) {
                if (m_files.contains(path)) {
                    m_movedFrom.insert(event->cookie, path);
                    noteEvent(path);
                }
                continue;
            }
            if (event->mask & IN_MOVED_TO) {
                const QString from = m_movedFrom.take(event->cookie);
                if (!from.isEmpty()) noteEvent(from, path);
            }
            if (m_files.contains(path)) noteEvent(path);
        }
    }
}

void FileChangeWatcher::noteEvent(const QString& path, const QString& movedTo)
{
    QString& pending = m_pending[path];
    if (!movedTo.isEmpty()) pending = movedTo;
    // Reported a settling time after the first event, with whatever came
    // meanwhile (a file written without pause is still reported).
    if (!m_settle.isActive()) m_settle.start(m_settlingMs);
}

void FileChangeWatcher::report()
{
    const QHash<QString, QString> pending = std::exchange(m_pending, {});
    m_movedFrom.clear();
    for (auto it = pending.cbegin(); it != pending.cend(); ++it)
        if (m_files.contains(it.key())) emit fileChanged(it.key(), it.value());
}

} // namespace lumora
