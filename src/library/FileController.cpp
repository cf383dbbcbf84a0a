#include "library/FileController.h"

#include "library/FilePaths.h"
#include "library/LibraryController.h"
#include "platform/files/FileManager.h"
#include "platform/files/FolderListing.h"
#include "platform/files/FolderWatcher.h"
#include "platform/files/NameCollation.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Dispatch.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHash>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cerrno>

namespace lumora {

using filepaths::isInside;
using filepaths::lastComponent;
using filepaths::parentOf;

namespace {

QString cleanPath(const QString& path)
{
    return QDir::cleanPath(path);
}

// How long a change of an item that is not at its path waits for the
// move or deletion that explains it.
constexpr int kMissingSettleMs = 250;

bool existsOnDisk(const QString& path)
{
    struct stat st {};
    return ::lstat(NativePath::encode(path).constData(), &st) == 0;
}

// The tests' scan hook: swapped under the lock, called from a copy.
std::mutex g_scanHookLock;
std::shared_ptr<const std::function<void(const QString&)>> g_scanHook;

std::shared_ptr<const std::function<void(const QString&)>> scanHook()
{
    const std::lock_guard guard(g_scanHookLock);
    return g_scanHook;
}

} // namespace

FileController::FileController(const std::shared_ptr<Library>& library)
    : m_library(library), m_sortKey(library ? library->sortKey : Library::SortKey::name),
      m_watcher(std::make_unique<FolderWatcher>())
{
}

FileController::~FileController()
{
    cancelScan();
    m_watcher->stop();
}

void FileController::log(const QString& line) const
{
    if (logLevel() >= 2) qInfo().noquote() << line;
}

void FileController::connectWatcher()
{
    FolderWatcher* watcher = m_watcher.get();
    QObject::disconnect(watcher, nullptr, nullptr, nullptr);
    const std::weak_ptr<FileController> weak = weak_from_this();
    // Each handler holds the controller while it runs.
    auto with = [weak](auto fn) {
        return [weak, fn](auto... args) {
            if (const auto self = weak.lock()) fn(*self, args...);
        };
    };
    QObject::connect(watcher, &FolderWatcher::itemAppeared, watcher,
                     with([](FileController& c, const QString& path) {
                         c.log(QStringLiteral("presented subitem did appear at ") + path);
                         c.fileAppeared(path);
                     }));
    QObject::connect(watcher, &FolderWatcher::itemChanged, watcher,
                     with([](FileController& c, const QString& path) {
                         c.log(QStringLiteral("presented subitem did change ") + path);
                         c.fileChanged(path);
                     }));
    QObject::connect(watcher, &FolderWatcher::itemMoved, watcher,
                     with([](FileController& c, const QString& from, const QString& to) {
                         c.log(QStringLiteral("presented subitem at ") + from + QStringLiteral(" did move to ") + to);
                         c.fileMoved(from, to);
                     }));
    QObject::connect(watcher, &FolderWatcher::itemRemoved, watcher,
                     with([](FileController& c, const QString& path) {
                         c.log(QStringLiteral("presented subitem deleted ") + path);
                         c.fileRemoved(path);
                     }));
    QObject::connect(watcher, &FolderWatcher::rootMoved, watcher,
                     with([](FileController& c, const QString& path) {
                         c.log(QStringLiteral("presented item did move to ") + path);
                         c.rootMoved(path);
                     }));
    QObject::connect(watcher, &FolderWatcher::rootDeleted, watcher, with([](FileController& c) {
                         c.log(QStringLiteral("presented item deleted"));
                         c.rootDeleted();
                     }));
    QObject::connect(watcher, &FolderWatcher::rootUnavailable, watcher, with([](FileController& c) {
                         c.log(QStringLiteral("presented item is no longer available"));
                         c.rootUnavailable();
                     }));
    QObject::connect(watcher, &FolderWatcher::needsReconcile, watcher, with([](FileController& c) {
                         c.log(QStringLiteral("events were lost; comparing the library with the disk"));
                         c.reconcile();
                     }));
}

// Presenting ---------------------------------------------------------------------

PlatformStatus FileController::startPresenting()
{
    const auto library = m_library.lock();
    if (!library || library->url().isEmpty()) return {};
    // The folder it was, not whatever now stands at its path (the bare
    // mount point of a disk taken away).
    if (auto status = library->checkFolder(); !status) return status;
    connectWatcher();
    if (auto status = m_watcher->start(library->url()); !status) return status;
    auto scanned = Directory::scan(m_watcher->rootPath(), this);
    if (!scanned) {
        m_watcher->stop();
        return scanned.error();
    }
    m_root = std::move(scanned.value());
    return {};
}

// What the scanning thread shares with the main thread. The main thread
// cancels by clearing watcher under the lock; the scan, which takes the
// lock for each folder, then stops at the next one and never touches the
// watcher again.
struct FileController::ScanJob {
    std::mutex lock;
    FolderWatcher* watcher = nullptr;
    bool watchRefused = false;
    std::atomic<bool> cancelled{false};
    std::atomic<int> folders{0};
};

void FileController::startPresentingInBackground(std::function<void(const PlatformStatus&)> done)
{
    cancelScan();
    const auto library = m_library.lock();
    if (!library || library->url().isEmpty()) {
        if (done) done({});
        return;
    }
    if (auto status = library->checkFolder(); !status) {
        if (done) done(status);
        return;
    }
    connectWatcher();
    if (auto status = m_watcher->start(library->url()); !status) {
        if (done) done(status);
        return;
    }
    // Events wait in the kernel until the tree is there.
    m_watcher->setPaused(true);
    auto job = std::make_shared<ScanJob>();
    job->watcher = m_watcher.get();
    m_scan = job;
    m_scanDone = std::move(done);
    const QString root = m_watcher->rootPath();
    const std::weak_ptr<FileController> weak = weak_from_this();
    dispatch::background([job, root, weak] {
        auto scanned = Directory::scanDetached(root, [&job](const QString& folder) {
            if (const auto hook = scanHook()) (*hook)(folder);
            const std::lock_guard guard(job->lock);
            if (job->cancelled || !job->watcher) return false;
            // Watched before it is listed, so that nothing made meanwhile is missed.
            if (!job->watcher->watchFolderWhileScanning(folder)) job->watchRefused = true;
            job->folders.fetch_add(1, std::memory_order_relaxed);
            return true;
        });
        // The tree goes to the main thread, and is let go of there.
        auto result = std::make_shared<PlatformResult<std::unique_ptr<Directory>>>(std::move(scanned));
        dispatch::async([job, weak, result] {
            const auto self = weak.lock();
            if (!self || job->cancelled || self->m_scan != job) return;
            self->finishScan(job, std::move(*result));
        });
    });
}

void FileController::setScanHookForTesting(std::function<void(const QString& folder)> hook)
{
    const std::lock_guard guard(g_scanHookLock);
    g_scanHook = hook ? std::make_shared<const std::function<void(const QString&)>>(std::move(hook)) : nullptr;
}

FileController::ScanProgress FileController::scanProgress() const
{
    if (!m_scan) return {};
    return {m_scan->folders.load(std::memory_order_relaxed)};
}

void FileController::finishScan(const std::shared_ptr<ScanJob>& job, PlatformResult<std::unique_ptr<Directory>> scanned)
{
    bool refused = false;
    {
        const std::lock_guard guard(job->lock);
        job->watcher = nullptr;
        refused = job->watchRefused;
    }
    m_scan.reset();
    auto done = std::move(m_scanDone);
    m_scanDone = nullptr;
    if (!scanned) {
        m_watcher->stop();
        if (done) done(scanned.error());
        return;
    }
    // The order chosen while the folder was read.
    if (const auto library = m_library.lock()) m_sortKey = library->sortKey;
    m_root = std::move(scanned.value());
    m_root->adoptDetached(this);
    const std::shared_ptr<FileController> keep = shared_from_this();
    // What happened on disk meanwhile: the tree was watched all along.
    m_watcher->setPaused(false);
    if (refused) m_watcher->requestReconcile();
    if (done) done({});
}

void FileController::cancelScan()
{
    if (!m_scan) return;
    {
        const std::lock_guard guard(m_scan->lock);
        m_scan->cancelled = true;
        m_scan->watcher = nullptr;
    }
    m_scan.reset();
    m_scanDone = nullptr;
}

void FileController::stopPresenting()
{
    cancelScan();
    m_watcher->stop();
    // Views may still point into the tree until they hear of the change;
    // it goes with the controller.
    if (m_root) {
        auto retired = std::shared_ptr<Directory>(m_root.release());
        if (QCoreApplication::instance()) dispatch::async([retired] {});
    }
}

void FileController::setSortKey(Library::SortKey key)
{
    m_sortKey = key;
    const auto observers = observersSnapshot();
    for (FileObserver* o : observers) o->sortKeyWillChange();
    if (m_root) m_root->sort();
    for (FileObserver* o : observers)
        if (Directory* shown = o->filteredRootFile(); shown && shown != m_root.get()) shown->sort();
    for (FileObserver* o : observers) o->sortKeyChanged();
}

void FileController::addObserver(FileObserver* observer)
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void FileController::removeObserver(FileObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void FileController::fileDidChange(File& file)
{
    for (FileObserver* o : observersSnapshot())
        if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end()) o->fileDidChange(file);
}

void FileController::willListFolder(const QString& path)
{
    m_watcher->watchFolder(path);
}

// Tree changes ---------------------------------------------------------------------
//
// Views that show the controller's own tree hear of a change before and after
// it; views that show a filtered copy get their copy changed to match, after
// the tree.

void FileController::insertNode(Directory& parent, std::unique_ptr<File> node)
{
    File& inserted = *node;
    const int index = parent.insertionIndex(inserted);
    const auto observers = observersSnapshot();
    for (FileObserver* o : observers)
        if (o->filteredRootFile() == m_root.get()) o->willInsertRow(parent, index);
    parent.insertAt(index, std::move(node));
    for (FileObserver* o : observers)
        if (o->filteredRootFile() == m_root.get()) o->didInsertRow(parent, index);
    for (FileObserver* o : observers)
        if (o->filteredRootFile() && o->filteredRootFile() != m_root.get()) filteredInsert(*o, inserted);
}

void FileController::removeNode(Directory& parent, int index)
{
    const QString path = parent.child(index)->path();
    const auto observers = observersSnapshot();
    for (FileObserver* o : observers)
        if (o->filteredRootFile() == m_root.get()) o->willRemoveRow(parent, index);
    std::unique_ptr<File> removed = parent.takeAt(index);
    for (FileObserver* o : observers)
        if (o->filteredRootFile() == m_root.get()) o->didRemoveRow(parent, index);
    for (FileObserver* o : observers)
        if (o->filteredRootFile() && o->filteredRootFile() != m_root.get()) filteredRemove(*o, path);
    // The node goes last, when no view shows it any more.
}

void FileController::moveNode(File& node, Directory& to, const QString& newName)
{
    Directory& from = *node.parent();
    const int fromIndex = from.indexOf(&node);
    const QString oldPath = node.path();
    const bool renamed = newName != node.name();
    const QCollatorSortKey key = renamed ? NameCollation::sortKey(newName) : node.sortKey();
    const int toIndex = to.insertionIndex(key, newName, node.metadata(), &to == &from ? fromIndex : -1);
    const bool staysPut = &to == &from && toIndex == fromIndex;

    const auto observers = observersSnapshot();
    if (!staysPut)
        for (FileObserver* o : observers)
            if (o->filteredRootFile() == m_root.get()) o->willMoveRow(from, fromIndex, to, toIndex);
    std::unique_ptr<File> moving = from.takeAt(fromIndex);
    moving->setName(newName);
    to.insertAt(toIndex, std::move(moving));
    if (!staysPut)
        for (FileObserver* o : observers)
            if (o->filteredRootFile() == m_root.get()) o->didMoveRow(from, fromIndex, to, toIndex);
    if (renamed) fileDidChange(node);
    for (FileObserver* o : observers)
        if (o->filteredRootFile() && o->filteredRootFile() != m_root.get()) filteredMove(*o, node, oldPath);
}

void FileController::filteredInsert(FileObserver& observer, File& node)
{
    Directory* shown = observer.filteredRootFile();
    // The nearest folder of the node's that the filtered tree shows; the
    // folders below it are made for the node.
    std::vector<Directory*> missing;
    Directory* target = nullptr;
    for (Directory* folder = node.parent(); folder; folder = folder->parent()) {
        if ((target = dynamic_cast<Directory*>(shown->fileAtPath(folder->path())))) break;
        missing.push_back(folder);
    }
    if (!target) return;
    std::unique_ptr<File> copy = Directory::filteredCopy(node, observer.filter());
    if (!copy) return;
    for (Directory* folder : missing) {
        auto wrapper = std::make_unique<Directory>(folder->path(), Directory::Contents{}, this, folder->metadata());
        wrapper->expanded = true;
        wrapper->insertAt(0, std::move(copy));
        copy = std::move(wrapper);
    }
    const int index = target->insertionIndex(*copy);
    observer.willInsertRow(*target, index);
    target->insertAt(index, std::move(copy));
    observer.didInsertRow(*target, index);
}

void FileController::filteredRemove(FileObserver& observer, const QString& path)
{
    Directory* shown = observer.filteredRootFile();
    File* copy = shown->fileAtPath(path);
    if (!copy || copy == shown) return;
    Directory& parent = *copy->parent();
    const int index = parent.indexOf(copy);
    observer.willRemoveRow(parent, index);
    std::unique_ptr<File> removed = parent.takeAt(index);
    observer.didRemoveRow(parent, index);
}

void FileController::filteredMove(FileObserver& observer, File& node, const QString& oldPath)
{
    Directory* shown = observer.filteredRootFile();
    File* copy = shown->fileAtPath(oldPath);
    if (!Directory::filteredCopy(node, observer.filter())) {
        filteredRemove(observer, oldPath);
        return;
    }
    if (!copy || copy == shown) {
        filteredInsert(observer, node);
        return;
    }
    auto* to = dynamic_cast<Directory*>(shown->fileAtPath(parentOf(node.path())));
    if (!to) {
        filteredRemove(observer, oldPath);
        filteredInsert(observer, node);
        return;
    }
    Directory& from = *copy->parent();
    const int fromIndex = from.indexOf(copy);
    const int toIndex =
        to->insertionIndex(node.sortKey(), node.name(), node.metadata(), to == &from ? fromIndex : -1);
    const bool staysPut = to == &from && toIndex == fromIndex;
    if (!staysPut) observer.willMoveRow(from, fromIndex, *to, toIndex);
    std::unique_ptr<File> moving = from.takeAt(fromIndex);
    moving->setName(node.name());
    moving->m_metadata = node.metadata();
    to->insertAt(toIndex, std::move(moving));
    if (!staysPut) observer.didMoveRow(from, fromIndex, *to, toIndex);
    observer.fileDidChange(*copy);
}

// Events -----------------------------------------------------------------------------

File* FileController::fileAppeared(const QString& path)
{
    if (!m_root) return nullptr;
    const QString clean = cleanPath(path);
    auto* parent = dynamic_cast<Directory*>(m_root->fileAtPath(parentOf(clean)));
    if (!parent) return nullptr;
    if (File* existing = parent->childNamed(lastComponent(clean))) {
        const auto entry = FolderListing::examine(clean);
        const bool sameKind = entry && (entry->kind == FolderListing::Kind::folder) == existing->isDirectory();
        if (sameKind) {
            const File::Metadata before = existing->metadata();
            existing->update();
            // Another program's save replaced the file by a new one without
            // the library's record: the date it came into the folder stays.
            if (before.addedRecorded && before.added && !existing->metadata().addedRecorded)
                recordDateAdded(*existing, *before.added);
            moveNode(*existing, *parent, existing->name()); // to its place in the order
            return existing;
        }
        // Gone, or replaced by an item of the other kind.
        removeNode(*parent, parent->indexOf(existing));
        if (!entry) return nullptr;
    }
    std::unique_ptr<File> node = File::make(clean, this);
    if (!node) return nullptr;
    // It came into the folder now (made there, or moved in from outside).
    // So did what a new folder already holds when the library hears of it
    // (another program may make files in it before it is watched): each
    // keeps the date it was made, where known, and has it recorded.
    recordDateAdded(*node, QDateTime::currentMSecsSinceEpoch());
    if (node->isDirectory()) recordDatesAddedInside(static_cast<Directory&>(*node));
    File* inserted = node.get();
    insertNode(*parent, std::move(node));
    return inserted;
}

void FileController::recordDateAdded(File& node, qint64 milliseconds)
{
    node.m_metadata.added = milliseconds;
    node.m_metadata.addedRecorded = true;
    recordDatesOnDisk({{node.path(), milliseconds}});
}

void FileController::recordDatesAddedInside(Directory& folder)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<std::pair<QString, qint64>> dates;
    folder.forEach([&](File& node) {
        if (node.m_metadata.addedRecorded) return;
        node.m_metadata.added = node.m_metadata.added.value_or(now);
        node.m_metadata.addedRecorded = true;
        dates.emplace_back(node.path(), *node.m_metadata.added);
    });
    if (!dates.empty()) recordDatesOnDisk(std::move(dates));
}

void FileController::recordDatesOnDisk(std::vector<std::pair<QString, qint64>> dates)
{
    // Off the main thread; where the file system keeps no such record, the
    // date lives in the tree until the next scan, which takes the birth time.
    dispatch::background([dates = std::move(dates)] {
        for (const auto& [path, milliseconds] : dates) {
            const PlatformStatus status = FolderListing::recordDateAdded(path, milliseconds);
            if (!status && logLevel() >= 2)
                qInfo().noquote() << "the date added of" << path << "couldn't be recorded:" << status.error().message();
        }
    });
}

File* FileController::fileMoved(const QString& fromPath, const QString& toPath)
{
    if (!m_root) return nullptr;
    const QString from = cleanPath(fromPath);
    const QString to = cleanPath(toPath);
    File* node = m_root->fileAtPath(from);
    if (!node || node == m_root.get()) return fileAppeared(to);
    auto* newParent = dynamic_cast<Directory*>(m_root->fileAtPath(parentOf(to)));
    const QString newName = lastComponent(to);
    const bool shown = newParent
                       && (node->isDirectory() ? !FolderListing::isHiddenName(newName)
                                               : FolderListing::isDocumentName(newName));
    if (!shown) {
        // It went where the library shows nothing (a hidden folder, a name
        // of another type): its row goes.
        removeNode(*node->parent(), node->parent()->indexOf(node));
        return nullptr;
    }
    if (newParent == node || isInside(newParent->path(), from)) return node; // cannot happen on disk
    if (File* existing = newParent->childNamed(newName)) {
        if (existing == node) return node;
        // The move replaced what was there.
        removeNode(*newParent, newParent->indexOf(existing));
    }
    // Into another folder: it came into that folder now (recorded once it
    // stands at its new path). A rename keeps the date.
    const bool cameIn = newParent != node->parent();
    if (cameIn) node->m_metadata.added = QDateTime::currentMSecsSinceEpoch();
    moveNode(*node, *newParent, newName);
    if (cameIn) recordDateAdded(*node, *node->m_metadata.added);
    return node;
}

void FileController::fileRemoved(const QString& path)
{
    if (!m_root) return;
    File* node = m_root->fileAtPath(cleanPath(path));
    if (!node || node == m_root.get()) return;
    removeNode(*node->parent(), node->parent()->indexOf(node));
}

void FileController::fileChanged(const QString& path)
{
    if (existsOnDisk(path)) {
        fileAppeared(path);
        return;
    }
    // Gone from its path: a deletion or a move says so in an event of its
    // own, maybe one not read yet (the item, or a folder above it, may have
    // just moved: taking the change for a deletion would lose its row). The
    // item goes only if it is still missing once those events are in.
    const std::weak_ptr<FileController> weak = weak_from_this();
    const QString clean = cleanPath(path);
    dispatch::after(kMissingSettleMs, [weak, clean] {
        const auto self = weak.lock();
        if (!self || !self->m_root || existsOnDisk(clean)) return;
        self->fileRemoved(clean);
    });
}

void FileController::rootMoved(const QString& newPath)
{
    if (!m_root) return;
    if (FileManager::isInTrash(newPath)) {
        rootDeleted();
        return;
    }
    const QString clean = cleanPath(newPath);
    m_root->setPath(clean);
    for (FileObserver* o : observersSnapshot())
        if (Directory* shown = o->filteredRootFile(); shown && shown != m_root.get()) shown->setPath(clean);
    if (const auto library = m_library.lock()) {
        library->folderMoved(clean);
        if (library->owner()) library->owner()->libraryFolderMoved(*library);
    }
}

void FileController::rootDeleted()
{
    const auto library = m_library.lock();
    stopPresenting();
    if (!library) return;
    if (library->owner()) library->owner()->removeLibrary(*library);
    else library->releaseFileController();
}

void FileController::rootUnavailable()
{
    const auto library = m_library.lock();
    stopPresenting();
    if (library) library->folderBecameUnavailable();
}

void FileController::reconcile()
{
    if (!m_root) return;
    m_watcher->refreshRootPath();
    if (!m_root) return;
    m_watcher->beginRewatch();
    m_watcher->watchFolder(m_root->path());
    reconcileFolder(*m_root);
    m_watcher->endRewatch();
}

void FileController::reconcileFolder(Directory& folder)
{
    const QString path = folder.path();
    if (&folder != m_root.get()) m_watcher->watchFolder(path);
    auto listing = FolderListing::list(path);
    if (!listing) return; // left as it is; its parent's listing decides whether it is still there
    QHash<QString, const FolderListing::Entry*> onDisk;
    onDisk.reserve(qsizetype(listing->size()));
    for (const FolderListing::Entry& entry : *listing) onDisk.insert(entry.name, &entry);

    for (int i = folder.count() - 1; i >= 0; --i) {
        const File* child = folder.child(i);
        const FolderListing::Entry* entry = onDisk.value(child->name(), nullptr);
        if (!entry || (entry->kind == FolderListing::Kind::folder) != child->isDirectory()) removeNode(folder, i);
    }
    for (const FolderListing::Entry& entry : *listing) {
        const File::Metadata metadata{entry.added, entry.modified, entry.addedRecorded};
        if (File* child = folder.childNamed(entry.name)) {
            if (!(child->metadata().added == metadata.added && child->metadata().modified == metadata.modified)) {
                child->update();
                moveNode(*child, folder, child->name());
            }
            if (child->isDirectory()) reconcileFolder(static_cast<Directory&>(*child));
            continue;
        }
        const QString childPath = path + QLatin1Char('/') + entry.name;
        std::unique_ptr<File> node;
        if (entry.kind == FolderListing::Kind::document) {
            node = std::make_unique<RegularFile>(childPath, this, metadata);
        } else if (auto scanned = Directory::scan(childPath, this, &metadata)) {
            node = std::move(scanned.value());
        } else {
            node = std::make_unique<Directory>(childPath, Directory::Contents{}, this, metadata);
        }
        insertNode(folder, std::move(node));
    }
}

} // namespace lumora
