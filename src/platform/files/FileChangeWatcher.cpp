#include "platform/files/FileChangeWatcher.h"

#include "platform/files/FolderWatcher.h"
#include "platform/files/MountWatcher.h"
#include "platform/files/NativePath.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <cstdio>
#include <utility>

namespace lumora {

namespace {

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
    connect(&MountWatcher::shared(), &MountWatcher::mountsChanged, this, &FileChangeWatcher::lookForFoldersBack);
}

FileChangeWatcher::~FileChangeWatcher() = default;

void FileChangeWatcher::watch(const QString& path)
{
    if (path.isEmpty()) return;
    if (m_files[path]++ > 0) return;
    const QString folder = folderOf(path);
    if (m_folders[folder].files++ == 0) startFolder(folder);
}

void FileChangeWatcher::startFolder(const QString& folder)
{
    auto watcher = std::make_unique<FolderWatcher>();
    if (const PlatformStatus status = watcher->start(folder); !status) {
        // Changes are still found when the document saves.
        std::fprintf(stderr, "Lumora: changes other programs make in %s won't be noticed at once: %s\n",
                     qPrintable(folder), qPrintable(status.error().recoverySuggestion));
        return;
    }
    FolderWatcher* raw = watcher.get();
    connect(raw, &FolderWatcher::itemAppeared, this, [this](const QString& path) { noteEvent(path); });
    connect(raw, &FolderWatcher::itemChanged, this, [this](const QString& path) { noteEvent(path); });
    connect(raw, &FolderWatcher::itemRemoved, this, [this](const QString& path) { noteEvent(path); });
    connect(raw, &FolderWatcher::itemMoved, this, [this](const QString& from, const QString& to) {
        noteEvent(from, to);
        noteEvent(to);
    });
    // The folder itself moved or went: every file watched in it is looked at.
    connect(raw, &FolderWatcher::rootMoved, this,
            [this, folder](const QString& newPath) { noteFolder(folder, newPath); });
    connect(raw, &FolderWatcher::rootDeleted, this, [this, folder] {
        if (const auto entry = m_folders.find(folder); entry != m_folders.end()) entry->second.deleted = true;
        noteFolder(folder);
    });
    connect(raw, &FolderWatcher::rootUnavailable, this, [this, folder] { folderWentAway(folder); });
    connect(raw, &FolderWatcher::needsReconcile, this, [this, folder] { noteFolder(folder); });
    m_folders[folder].watcher = std::move(watcher);
}

void FileChangeWatcher::unwatch(const QString& path)
{
    const auto file = m_files.find(path);
    if (file == m_files.end()) return;
    if (--file.value() > 0) return;
    m_files.erase(file);
    m_pending.remove(path);
    const auto entry = m_folders.find(folderOf(path));
    if (entry == m_folders.end() || --entry->second.files > 0) return;
    m_folders.erase(entry);
}

void FileChangeWatcher::folderWentAway(const QString& folder)
{
    const auto entry = m_folders.find(folder);
    if (entry == m_folders.end() || !entry->second.watcher) return;
    // Told from the watcher's own signal: stopped, not destroyed.
    entry->second.away = entry->second.watcher->rootIdentity();
    entry->second.watcher->stop();
    // Nothing happened to its files: they are looked at when it is back.
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (folderOf(it.key()) == folder) it = m_pending.erase(it);
        else ++it;
    }
}

bool FileChangeWatcher::waitsForItsFolder(const QString& path) const
{
    const auto entry = m_folders.find(folderOf(path));
    if (entry == m_folders.end() || !entry->second.watcher || entry->second.deleted) return false;
    if (entry->second.away) return true;
    struct stat st {};
    if (::stat(NativePath::encode(path).constData(), &st) == 0) return false;
    return ::stat(NativePath::encode(entry->first).constData(), &st) != 0
           || std::pair<quint64, quint64>(st.st_dev, st.st_ino) != entry->second.watcher->rootIdentity();
}

void FileChangeWatcher::lookForFoldersBack()
{
    QStringList back;
    for (auto& [folder, entry] : m_folders) {
        if (!entry.away) continue;
        struct stat st {};
        if (::stat(NativePath::encode(folder).constData(), &st) != 0
            || std::pair<quint64, quint64>(st.st_dev, st.st_ino) != *entry.away)
            continue;
        if (!entry.watcher->start(folder)) continue;
        entry.away.reset();
        back << folder;
    }
    // What happened to the files while away is looked at now.
    for (const QString& folder : std::as_const(back)) noteFolder(folder);
}

void FileChangeWatcher::noteFolder(const QString& folder, const QString& movedTo)
{
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (folderOf(it.key()) != folder) continue;
        noteEvent(it.key(), movedTo.isEmpty() ? QString() : movedTo + QLatin1Char('/') + QFileInfo(it.key()).fileName());
    }
}

void FileChangeWatcher::noteEvent(const QString& path, const QString& movedTo)
{
    if (!m_files.contains(path)) return;
    QString& pending = m_pending[path];
    if (!movedTo.isEmpty()) pending = movedTo;
    // Reported a settling time after the first event, with whatever came
    // meanwhile (a file written without pause is still reported).
    if (!m_settle.isActive()) m_settle.start(m_settlingMs);
}

bool FileChangeWatcher::hasEventsOnTheirWay()
{
    bool held = false;
    for (auto& [path, folder] : m_folders) {
        if (!folder.watcher) continue;
        folder.watcher->processPendingEvents();
        held = held || folder.watcher->holdsEvents();
    }
    return held || m_settle.isActive();
}

bool FileChangeWatcher::folderWasDeleted(const QString& path)
{
    const QString folder = folderOf(path);
    if (const auto entry = m_folders.find(folder); entry != m_folders.end() && entry->second.watcher
                                                    && entry->second.watcher->isActive())
        entry->second.watcher->processPendingEvents();
    const auto entry = m_folders.find(folder);
    return entry != m_folders.end() && entry->second.deleted;
}

void FileChangeWatcher::report()
{
    const QHash<QString, QString> pending = std::exchange(m_pending, {});
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        if (!m_files.contains(it.key())) continue;
        // Not at its path because its folder is not where it was: the
        // folder's own news (moved, deleted, its disk gone and back) looks
        // at every file in it again.
        if (it.value().isEmpty() && waitsForItsFolder(it.key())) continue;
        emit fileChanged(it.key(), it.value());
    }
}

} // namespace lumora
