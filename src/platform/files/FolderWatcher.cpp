#include "platform/files/FolderWatcher.h"

#include "platform/files/MountWatcher.h"
#include "platform/files/NativePath.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace lumora {

namespace {

constexpr quint32 kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB
                                | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

QString join(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

bool isAtOrInside(const QString& path, const QString& folder)
{
    return path == folder
           || (path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/'));
}

PlatformError watchError(const QString& path, int error)
{
    QString reason = error == EMFILE || error == ENOSPC
                         ? platformText("files.reason.watchLimit",
                                        "The system's limit of watched folders is reached (see "
                                        "fs.inotify.max_user_watches and max_user_instances).")
                         : QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.');
    return PlatformError(error == ENOENT ? PlatformError::Code::fileNotFound : PlatformError::Code::generic,
                         platformText("files.error.watch", "Changes to the folder “%1” can't be followed.")
                             .arg(NativePath::shownNameOf(path)),
                         reason, path);
}

} // namespace

FolderWatcher::FolderWatcher(QObject* parent) : QObject(parent)
{
    m_pairingTimer.setSingleShot(true);
    connect(&m_pairingTimer, &QTimer::timeout, this, [this] { deliver(true); });
}

FolderWatcher::~FolderWatcher()
{
    stop();
}

PlatformStatus FolderWatcher::start(const QString& rootPath)
{
    stop();
    m_root = QDir::cleanPath(QFileInfo(rootPath).absoluteFilePath());
    m_rootFd = ::open(NativePath::encode(m_root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0) return watchError(m_root, errno);
    struct stat st {};
    if (::fstat(m_rootFd, &st) != 0) {
        const int error = errno;
        stop();
        return watchError(m_root, error);
    }
    m_rootDevice = st.st_dev;
    m_rootInode = st.st_ino;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        stop();
        return watchError(m_root, error);
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatcher::readEvents);
    const int wd = ::inotify_add_watch(m_fd, NativePath::encode(m_root).constData(), kFolderMask);
    if (wd < 0) {
        const int error = errno;
        stop();
        return watchError(m_root, error);
    }
    m_rootWatch = wd;
    m_paths.insert(wd, QString());
    m_watches.insert(QString(), wd);
    watchParent();
    // A disk taken away while held tells the folder nothing: the mount
    // table does.
    connect(&MountWatcher::shared(), &MountWatcher::mountsChanged, this, &FolderWatcher::refreshRootPath,
            Qt::UniqueConnection);
    return {};
}

void FolderWatcher::watchParent()
{
    if (m_parentWatch >= 0) ::inotify_rm_watch(m_fd, m_parentWatch);
    m_parentWatch = -1;
    if (m_root == QLatin1String("/")) return;
    const QString parent = QFileInfo(m_root).absolutePath();
    m_parentWatch = ::inotify_add_watch(m_fd, NativePath::encode(parent).constData(),
                                        IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR | IN_DONT_FOLLOW);
}

void FolderWatcher::setRoot(const QString& path)
{
    const bool newParent = QFileInfo(path).absolutePath() != QFileInfo(m_root).absolutePath();
    m_root = path;
    if (newParent) watchParent();
}

bool FolderWatcher::rootIsGone() const
{
    struct stat st {};
    return m_rootFd >= 0 && ::fstat(m_rootFd, &st) == 0 && st.st_nlink == 0;
}

bool FolderWatcher::leadsToRoot(const QString& path) const
{
    struct stat st {};
    return !path.isEmpty() && ::stat(NativePath::encode(path).constData(), &st) == 0 && quint64(st.st_dev) == m_rootDevice
           && quint64(st.st_ino) == m_rootInode;
}

void FolderWatcher::checkRoot()
{
    if (m_rootFd < 0 || m_rootGone) return;
    if (rootIsGone()) {
        m_rootGone = true;
        m_queue.push_back({Kind::rootDeleted});
        return;
    }
    const QString now = currentRootPath();
    if (!now.isEmpty()) {
        if (now != m_root) {
            setRoot(now);
            m_queue.push_back({Kind::rootMoved, {}, now});
        }
        return;
    }
    // Still there, but no path leads to it: its disk went away (the bare
    // mount point, or nothing, is at its path now).
    if (!leadsToRoot(m_root)) {
        m_rootGone = true;
        m_queue.push_back({Kind::rootUnavailable});
    }
}

void FolderWatcher::stop()
{
    // Stopping may come from a handler of the notifier's own signal.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    const std::lock_guard guard(m_lock);
    m_paused = false;
    m_rootCheckWaiting = false;
    if (m_fd >= 0) ::close(m_fd);
    if (m_rootFd >= 0) ::close(m_rootFd);
    m_fd = m_rootFd = m_rootWatch = m_parentWatch = -1;
    m_rootDevice = m_rootInode = 0;
    m_rootGone = false;
    disconnect(&MountWatcher::shared(), nullptr, this, nullptr);
    m_paths.clear();
    m_watches.clear();
    m_queue.clear();
    m_pairingTimer.stop();
    m_rewatching = false;
}

QString FolderWatcher::absolute(const QString& relative) const
{
    return relative.isEmpty() ? m_root : m_root + QLatin1Char('/') + relative;
}

QString FolderWatcher::relative(const QString& path) const
{
    const QString clean = QDir::cleanPath(path);
    if (clean == m_root) return QStringLiteral("");
    if (m_root == QLatin1String("/") && clean.startsWith(QLatin1Char('/'))) return clean.mid(1);
    if (clean.size() > m_root.size() && clean.startsWith(m_root) && clean.at(m_root.size()) == QLatin1Char('/'))
        return clean.mid(m_root.size() + 1);
    return {};
}

QString FolderWatcher::currentRootPath() const
{
    if (m_rootFd < 0) return {};
    char buffer[4096];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(m_rootFd);
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    const QByteArray target(buffer, n);
    if (target.endsWith(" (deleted)") || !target.startsWith('/')) return {};
    // Only a path that still leads to the folder is its place: the kernel
    // names a folder whose disk was taken away by where it stands on that
    // disk ("/"), which is somewhere else entirely now.
    const QString path = NativePath::decode(target);
    return leadsToRoot(path) ? path : QString();
}

void FolderWatcher::refreshRootPath()
{
    // A scan is reading the folder: the check waits for its end.
    if (m_paused) {
        m_rootCheckWaiting = true;
        return;
    }
    checkRoot();
    deliver(false);
}

int FolderWatcher::watchCount() const
{
    const std::lock_guard guard(m_lock);
    return int(m_paths.size());
}

void FolderWatcher::setPaused(bool paused)
{
    {
        const std::lock_guard guard(m_lock);
        if (m_paused == paused) return;
        m_paused = paused;
    }
    if (m_notifier) m_notifier->setEnabled(!paused);
    if (paused) return;
    QPointer<FolderWatcher> self(this);
    if (std::exchange(m_rootCheckWaiting, false)) refreshRootPath();
    if (self && isActive()) readEvents();
}

bool FolderWatcher::watchFolder(const QString& path)
{
    bool refused = false;
    if (addWatch(path, false, refused)) return true;
    if (refused && !m_rewatching) requestReconcile();
    return false;
}

bool FolderWatcher::watchFolderWhileScanning(const QString& path)
{
    bool refused = false;
    return addWatch(path, true, refused);
}

bool FolderWatcher::addWatch(const QString& path, bool quiet, bool& refused)
{
    const std::lock_guard guard(m_lock);
    if (m_fd < 0) return false;
    const QString rel = relative(path);
    if (rel.isNull()) return false;
    const int wd = ::inotify_add_watch(m_fd, NativePath::encode(absolute(rel)).constData(), kFolderMask);
    if (wd < 0) {
        const int error = errno;
        if (error != ENOENT && !quiet) qWarning().noquote() << watchError(absolute(rel), error).message();
        refused = true;
        return false;
    }
    // The same folder under a new name (it moved while events were lost).
    if (const auto old = m_paths.constFind(wd); old != m_paths.constEnd() && *old != rel
                                                 && m_watches.value(*old) == wd)
        m_watches.remove(*old);
    m_paths.insert(wd, rel);
    m_watches.insert(rel, wd);
    if (m_rewatching) m_renewed.insert(wd);
    return true;
}

void FolderWatcher::beginRewatch()
{
    m_rewatching = true;
    m_renewed.clear();
}

void FolderWatcher::endRewatch()
{
    if (!m_rewatching) return;
    m_rewatching = false;
    const QList<int> descriptors = m_paths.keys();
    for (int wd : descriptors) {
        if (wd == m_rootWatch || m_renewed.contains(wd)) continue;
        ::inotify_rm_watch(m_fd, wd);
        const QString rel = m_paths.take(wd);
        if (m_watches.value(rel) == wd) m_watches.remove(rel);
    }
    m_renewed.clear();
}

void FolderWatcher::dropWatchesUnder(const QString& rel)
{
    for (auto it = m_paths.begin(); it != m_paths.end();) {
        if (it.key() != m_rootWatch && isAtOrInside(*it, rel)) {
            ::inotify_rm_watch(m_fd, it.key());
            if (m_watches.value(*it) == it.key()) m_watches.remove(*it);
            it = m_paths.erase(it);
        } else {
            ++it;
        }
    }
}

void FolderWatcher::rebaseWatches(const QString& from, const QString& to)
{
    for (auto it = m_paths.begin(); it != m_paths.end(); ++it) {
        if (!isAtOrInside(*it, from)) continue;
        const QString rebased = to + it->mid(from.size());
        if (m_watches.value(*it) == it.key()) m_watches.remove(*it);
        *it = rebased;
        m_watches.insert(rebased, it.key());
    }
}

void FolderWatcher::requestReconcile()
{
    if (m_reconcileRequested) return;
    m_reconcileRequested = true;
    QTimer::singleShot(0, this, [this] {
        m_reconcileRequested = false;
        if (isActive()) emit needsReconcile();
    });
}

void FolderWatcher::processPendingEvents()
{
    readEvents();
}

void FolderWatcher::simulateOverflow()
{
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(),
                                 [](const Event& e) { return e.kind != Kind::rootMoved && e.kind != Kind::rootDeleted; }),
                  m_queue.end());
    QPointer<FolderWatcher> self(this);
    deliver(true);
    if (self && isActive()) emit needsReconcile();
}

void FolderWatcher::readEvents()
{
    if (m_fd < 0) return;
    alignas(inotify_event) char buffer[64 * 1024];
    bool overflow = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (const char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            QString name;
            if (event->len > 0) name = NativePath::decode(QByteArrayView(event->name, qsizetype(std::strlen(event->name))));
            handle(event->wd, event->mask, event->cookie, name);
        }
    }
    if (overflow) {
        simulateOverflow();
        return;
    }
    // A parent folder renamed moves the root without telling it; a disk
    // taken away leaves it without a path.
    checkRoot();
    deliver(false);
}

void FolderWatcher::handle(int wd, quint32 mask, quint32 cookie, const QString& name)
{
    if (mask & IN_IGNORED) {
        if (wd == m_parentWatch) m_parentWatch = -1;
        // The root's own watch went: the folder was deleted or its disk
        // unmounted.
        if (wd == m_rootWatch && !m_rootGone) {
            m_rootGone = true;
            m_queue.push_back({rootIsGone() ? Kind::rootDeleted : Kind::rootUnavailable});
        }
        if (const auto it = m_paths.find(wd); it != m_paths.end()) {
            if (m_watches.value(*it) == wd) m_watches.remove(*it);
            m_paths.erase(it);
        }
        return;
    }
    if (wd == m_parentWatch) {
        // Only what happens to the root itself counts here.
        if (name != QFileInfo(m_root).fileName()) return;
        if ((mask & IN_DELETE) && !m_rootGone && rootIsGone()) {
            m_rootGone = true;
            m_queue.push_back({Kind::rootDeleted});
        } else if (mask & IN_MOVED_FROM) {
            const QString now = currentRootPath();
            if (!now.isEmpty() && now != m_root) {
                setRoot(now);
                m_queue.push_back({Kind::rootMoved, {}, now});
            }
        }
        return;
    }
    const auto it = m_paths.constFind(wd);
    if (it == m_paths.constEnd()) return;
    const QString folder = *it;

    if (wd == m_rootWatch) {
        if (mask & IN_DELETE_SELF) {
            if (!m_rootGone) m_queue.push_back({Kind::rootDeleted});
            m_rootGone = true;
            return;
        }
        // Unmounted: the folder may come back with its disk; it is not deleted.
        if (mask & IN_UNMOUNT) {
            if (!m_rootGone) m_queue.push_back({Kind::rootUnavailable});
            m_rootGone = true;
            return;
        }
        if (mask & IN_MOVE_SELF) {
            const QString now = currentRootPath();
            if (!now.isEmpty() && now != m_root) {
                setRoot(now);
                m_queue.push_back({Kind::rootMoved, {}, now});
            }
            return;
        }
    }
    // A sub-folder's own deletion or move is told by its parent.
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT) || name.isEmpty()) return;

    const QString rel = join(folder, name);
    const QString path = absolute(rel);
    const bool isFolder = mask & IN_ISDIR;
    if (mask & IN_MOVED_FROM) {
        m_queue.push_back({Kind::movedAway, path, {}, cookie, isFolder, isFolder ? rel : QString()});
        return;
    }
    if (mask & IN_MOVED_TO) {
        for (auto e = m_queue.rbegin(); e != m_queue.rend(); ++e) {
            if (e->kind != Kind::movedAway || e->cookie != cookie) continue;
            e->kind = Kind::moved;
            e->to = path;
            if (isFolder) rebaseWatches(e->folder, rel);
            return;
        }
        m_queue.push_back({Kind::appeared, path, {}, 0, isFolder});
        return;
    }
    if (mask & IN_CREATE) {
        m_queue.push_back({Kind::appeared, path, {}, 0, isFolder});
    } else if (mask & IN_DELETE) {
        m_queue.push_back({Kind::removed, path, {}, 0, isFolder});
    } else if (mask & (IN_CLOSE_WRITE | IN_ATTRIB)) {
        if (!m_queue.empty() && m_queue.back().kind == Kind::changed && m_queue.back().from == path) return;
        m_queue.push_back({Kind::changed, path, {}, 0, isFolder});
    }
}

void FolderWatcher::deliver(bool all)
{
    while (!m_queue.empty()) {
        Event& front = m_queue.front();
        if (front.kind == Kind::movedAway) {
            if (!all) break;
            // No second half came: it left the folder.
            front.kind = Kind::removed;
            if (front.isFolder) dropWatchesUnder(front.folder);
        }
        const Event event = std::move(front);
        m_queue.pop_front();
        if (!emitEvent(event)) return;
    }
    if (m_queue.empty()) m_pairingTimer.stop();
    else if (!m_pairingTimer.isActive()) m_pairingTimer.start(pairingWindowMs);
}

bool FolderWatcher::emitEvent(const Event& event)
{
    QPointer<FolderWatcher> self(this);
    switch (event.kind) {
    case Kind::appeared:
        emit itemAppeared(event.from);
        break;
    case Kind::changed:
        emit itemChanged(event.from);
        break;
    case Kind::moved:
        emit itemMoved(event.from, event.to);
        break;
    case Kind::removed:
    case Kind::movedAway:
        emit itemRemoved(event.from);
        break;
    case Kind::rootMoved:
        emit rootMoved(event.to);
        break;
    case Kind::rootDeleted:
        emit rootDeleted();
        break;
    case Kind::rootUnavailable:
        emit rootUnavailable();
        break;
    }
    // A handler may have stopped or destroyed the watcher.
    return self && isActive();
}

} // namespace lumora
