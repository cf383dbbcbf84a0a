#include "platform/files/FolderWatcher.h"

#include "platform/files/FileManager.h"
#include "platform/files/FolderSearch.h"
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

// What the folders above the root tell: renames and moves of the folder on
// the way to the root, and (in its parent) the root's deletion.
constexpr quint32 kAncestorMask = IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW | IN_MASK_ADD;

QString join(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

QString childPath(const QString& folder, const QString& name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
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

// A mount's line in this process's mount table, reduced to what tells it
// apart: its number, device, root and mount point (numbers of unmounted
// mounts are given to new ones).
QByteArray mountSignature(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() < 5) return {};
    return fields[0] + ' ' + fields[2] + ' ' + fields[3] + ' ' + fields[4];
}

QList<QByteArray> mountTable()
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly)) return {};
    return table.readAll().split('\n');
}

// The mount the folder at path is reached through; empty when the system
// does not tell.
QByteArray mountOf(const QString& path)
{
    struct statx st {};
    if (::statx(AT_FDCWD, NativePath::encode(path).constData(), AT_STATX_SYNC_AS_STAT, STATX_MNT_ID, &st) != 0
        || !(st.stx_mask & STATX_MNT_ID))
        return {};
    const QByteArray id = QByteArray::number(quint64(st.stx_mnt_id)) + ' ';
    for (const QByteArray& line : mountTable())
        if (line.startsWith(id)) return mountSignature(line);
    return {};
}

qint64 birthOf(const QString& path)
{
    const auto identity = FolderSearch::identityOf(path);
    return identity ? identity->birth : 0;
}

// Whether the mount is still in this process's mount table.
bool isMounted(const QByteArray& signature)
{
    const QList<QByteArray> table = mountTable();
    if (table.isEmpty()) return true;
    for (const QByteArray& line : table)
        if (mountSignature(line) == signature) return true;
    return false;
}

// The watchers of this process (main thread only): what one sees of a
// folder's move, another whose folder went along may need.
std::vector<FolderWatcher*>& liveWatchers()
{
    static std::vector<FolderWatcher*> watchers;
    return watchers;
}

} // namespace

FolderWatcher::FolderWatcher(QObject* parent) : QObject(parent)
{
    m_pairingTimer.setSingleShot(true);
    connect(&m_pairingTimer, &QTimer::timeout, this, &FolderWatcher::pairingTimeout);
    liveWatchers().push_back(this);
}

FolderWatcher::~FolderWatcher()
{
    auto& watchers = liveWatchers();
    watchers.erase(std::remove(watchers.begin(), watchers.end(), this), watchers.end());
    stop();
}

void FolderWatcher::announceFolderMove(const FolderWatcher* by, const QString& from, const QString& to)
{
    // A copy: a watcher may be made or destroyed by what a follower emits.
    const std::vector<QPointer<FolderWatcher>> watchers(liveWatchers().begin(), liveWatchers().end());
    for (const QPointer<FolderWatcher>& watcher : watchers)
        if (watcher && watcher != by) watcher->folderMovedElsewhere(from, to);
}

void FolderWatcher::folderMovedElsewhere(const QString& from, const QString& to)
{
    // While a scan adds watches from its thread, the root stays as it is:
    // its own check, once the scan is done, finds the folder.
    if (m_fd < 0 || m_rootGone || m_paused || !isAtOrInside(m_root, from) || leadsToRoot(m_root)) return;
    const QString now = to + m_root.mid(from.size());
    if (!leadsToRoot(now)) return;
    followRoot(now);
    // Told on a turn of its own, not inside the other watcher's signal.
    QMetaObject::invokeMethod(
        this, [this] { if (isActive()) deliver(false); }, Qt::QueuedConnection);
}

void FolderWatcher::followRoot(const QString& path)
{
    const QString before = m_root;
    m_rootCheckPending = false;
    if (m_searching) {
        m_searching = false;
        ++m_searchGeneration;
    }
    setRoot(path);
    m_queue.push_back({Kind::rootMoved, before, path});
}

void FolderWatcher::searchForRoot()
{
    m_searching = true;
    const quint64 generation = ++m_searchGeneration;
    const FolderSearch::Identity identity{m_rootDevice, m_rootInode, m_rootBirth};
    FolderSearch::findInBackground(m_root, identity, this, [this, generation](const QString& found) {
        if (generation != m_searchGeneration || !m_searching || m_fd < 0 || m_rootGone) return;
        m_searching = false;
        // A scan adds watches meanwhile: the root is looked at again (and
        // for) once it is done.
        if (m_paused) {
            m_rootCheckWaiting = true;
            return;
        }
        if (leadsToRoot(m_root)) {
            // Back where it was meanwhile.
        } else if (!found.isEmpty() && leadsToRoot(found)) {
            followRoot(found);
        } else {
            // Moved where it cannot be followed, or its disk went away.
            rootIsGone(Kind::rootUnavailable);
        }
        deliver(false);
    });
}

PlatformStatus FolderWatcher::start(const QString& rootPath)
{
    stop();
    m_root = QDir::cleanPath(QFileInfo(rootPath).absoluteFilePath());
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        stop();
        return watchError(m_root, error);
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FolderWatcher::readEvents);
    const QByteArray native = NativePath::encode(m_root);
    const int wd = ::inotify_add_watch(m_fd, native.constData(), kFolderMask);
    // The folder watched is known by its identity from now on, not held:
    // an open descriptor would keep its disk from being ejected.
    struct stat st {};
    if (wd < 0 || ::stat(native.constData(), &st) != 0) {
        const int error = errno;
        stop();
        return watchError(m_root, error);
    }
    m_rootDevice = st.st_dev;
    m_rootInode = st.st_ino;
    m_rootMount = mountOf(m_root);
    m_rootBirth = birthOf(m_root);
    m_rootWatch = wd;
    m_paths.insert(wd, QString());
    m_watches.insert(QString(), wd);
    watchAncestors();
    // A disk taken away while another program holds it tells the folder
    // nothing: the mount table does.
    connect(&MountWatcher::shared(), &MountWatcher::mountsChanged, this, &FolderWatcher::refreshRootPath,
            Qt::UniqueConnection);
    return {};
}

void FolderWatcher::watchAncestors()
{
    for (auto it = m_ancestorWatches.cbegin(); it != m_ancestorWatches.cend(); ++it)
        ::inotify_rm_watch(m_fd, it.key());
    m_ancestorWatches.clear();
    m_ancestors.clear();
    m_chainMoves.clear();
    for (QString below = m_root; below != QLatin1String("/");) {
        const QString folder = QFileInfo(below).absolutePath();
        m_ancestors.push_back({folder, QFileInfo(below).fileName()});
        const quint32 mask = kAncestorMask | (m_ancestors.size() == 1 ? IN_DELETE : 0);
        // A folder the system lets no one watch is passed over: what
        // happens there is found at the next check of the root's path.
        const int wd = ::inotify_add_watch(m_fd, NativePath::encode(folder).constData(), mask);
        if (wd >= 0 && !m_paths.contains(wd)) m_ancestorWatches.insert(wd, int(m_ancestors.size()));
        below = folder;
    }
}

void FolderWatcher::setRoot(const QString& path)
{
    m_root = path;
    m_rootMount = mountOf(path);
    m_rootBirth = birthOf(path);
    watchAncestors();
}

bool FolderWatcher::leadsToRoot(const QString& path) const
{
    struct stat st {};
    return !path.isEmpty() && ::stat(NativePath::encode(path).constData(), &st) == 0 && quint64(st.st_dev) == m_rootDevice
           && quint64(st.st_ino) == m_rootInode;
}

void FolderWatcher::rootIsGone(Kind kind)
{
    if (m_rootGone) return;
    m_rootGone = true;
    m_rootCheckPending = false;
    m_searching = false;
    ++m_searchGeneration;
    m_queue.push_back({kind});
}

void FolderWatcher::checkRoot(bool final)
{
    if (m_fd < 0 || m_rootGone) return;
    if (leadsToRoot(m_root)) {
        m_rootCheckPending = false;
        if (m_searching) {
            m_searching = false;
            ++m_searchGeneration;
        }
        return;
    }
    // Looked for already: the search tells.
    if (m_searching) return;
    // Not where it was: the other half of a move, or its deletion, may
    // still be on its way.
    if (!final) {
        m_rootCheckPending = true;
        return;
    }
    m_rootCheckPending = false;
    // Moved to the Trash by another program.
    if (const QString trashed = FileManager::findInTrash(m_root, m_rootDevice, m_rootInode); !trashed.isEmpty()) {
        followRoot(trashed);
        return;
    }
    // Its disk went away: the bare mount point, or nothing, is at its path.
    if (!m_rootMount.isEmpty() && !isMounted(m_rootMount)) {
        rootIsGone(Kind::rootUnavailable);
        return;
    }
    // Moved into a folder nobody watches: looked for by its identity, off
    // the main thread.
    searchForRoot();
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
    m_rootCheckPending = false;
    m_searching = false;
    ++m_searchGeneration;
    m_rootMount.clear();
    m_rootBirth = 0;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = m_rootWatch = -1;
    m_rootDevice = m_rootInode = 0;
    m_rootGone = false;
    disconnect(&MountWatcher::shared(), nullptr, this, nullptr);
    m_paths.clear();
    m_watches.clear();
    m_ancestorWatches.clear();
    m_ancestors.clear();
    m_chainMoves.clear();
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

void FolderWatcher::refreshRootPath()
{
    // A scan is reading the folder: the check waits for its end.
    if (m_paused) {
        m_rootCheckWaiting = true;
        return;
    }
    readEvents();
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
                                 [](const Event& e) {
                                     return e.kind != Kind::rootMoved && e.kind != Kind::rootDeleted
                                            && e.kind != Kind::rootUnavailable;
                                 }),
                  m_queue.end());
    QPointer<FolderWatcher> self(this);
    deliver(true);
    if (self && isActive()) emit needsReconcile();
}

void FolderWatcher::readEvents()
{
    if (m_fd < 0) return;
    if (readKernelEvents()) {
        simulateOverflow();
        return;
    }
    // A folder above the root renamed where it is not watched, a disk
    // taken away: the root's path no longer leads to it.
    checkRoot(false);
    deliver(false);
}

bool FolderWatcher::readKernelEvents()
{
    alignas(inotify_event) char buffer[64 * 1024];
    bool overflow = false;
    while (m_fd >= 0) {
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
    return overflow;
}

void FolderWatcher::pairingTimeout()
{
    if (m_fd < 0) return;
    // The other halves that came meanwhile are read first; what is still
    // missing one now has had its time.
    const bool overflow = !m_paused && readKernelEvents();
    m_chainMoves.clear();
    if (overflow) {
        simulateOverflow();
        return;
    }
    if (!m_paused) checkRoot(true);
    else if (m_rootCheckPending) m_rootCheckWaiting = true;
    deliver(true);
}

void FolderWatcher::handle(int wd, quint32 mask, quint32 cookie, const QString& name)
{
    if (const auto ancestor = m_ancestorWatches.constFind(wd); ancestor != m_ancestorWatches.constEnd()) {
        if (mask & IN_IGNORED) m_ancestorWatches.erase(ancestor);
        else handleAncestorEvent(*ancestor, mask, cookie, name);
        return;
    }
    if (mask & IN_IGNORED) {
        // The root's own watch went: told first why (deleted, unmounted),
        // else the system dropped it.
        if (wd == m_rootWatch) rootIsGone(Kind::rootUnavailable);
        if (const auto it = m_paths.find(wd); it != m_paths.end()) {
            if (m_watches.value(*it) == wd) m_watches.remove(*it);
            m_paths.erase(it);
        }
        return;
    }
    const auto it = m_paths.constFind(wd);
    if (it == m_paths.constEnd()) return;
    const QString folder = *it;

    if (wd == m_rootWatch) {
        if (mask & IN_DELETE_SELF) {
            rootIsGone(Kind::rootDeleted);
            return;
        }
        // Unmounted: the folder may come back with its disk; it is not deleted.
        if (mask & IN_UNMOUNT) {
            rootIsGone(Kind::rootUnavailable);
            return;
        }
        // Where it went shows in the folders above it.
        if (mask & IN_MOVE_SELF) return;
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

void FolderWatcher::handleAncestorEvent(int level, quint32 mask, quint32 cookie, const QString& name)
{
    const Ancestor& ancestor = m_ancestors[size_t(level - 1)];
    if (mask & IN_MOVED_TO) {
        const auto moved = m_chainMoves.constFind(cookie);
        if (moved == m_chainMoves.constEnd()) return;
        // The folder on the way to the root that left its place (the root
        // itself for the parent's) is name in this folder now.
        const int movedLevel = *moved;
        m_chainMoves.erase(moved);
        const QString before = movedLevel == 1 ? m_root : m_ancestors[size_t(movedLevel - 2)].path;
        const QString now = childPath(ancestor.path, name) + m_root.mid(before.size());
        if (now != m_root && leadsToRoot(now)) followRoot(now);
        return;
    }
    if (name != ancestor.childName) return;
    if (mask & IN_MOVED_FROM) {
        m_chainMoves.insert(cookie, level);
    } else if ((mask & IN_DELETE) && level == 1 && m_chainMoves.isEmpty() && !leadsToRoot(m_root)) {
        // (Not an item that took its name after the root moved away.)
        rootIsGone(Kind::rootDeleted);
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
    // A first half of a rename, or a root not where it was, waits for what
    // may still come.
    if (m_queue.empty() && m_chainMoves.isEmpty() && !m_rootCheckPending) m_pairingTimer.stop();
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
        if (event.isFolder) announceFolderMove(this, event.from, event.to);
        if (!self || !isActive()) return false;
        emit itemMoved(event.from, event.to);
        break;
    case Kind::removed:
    case Kind::movedAway:
        emit itemRemoved(event.from);
        break;
    case Kind::rootMoved:
        if (!event.from.isEmpty()) announceFolderMove(this, event.from, event.to);
        if (!self || !isActive()) return false;
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
