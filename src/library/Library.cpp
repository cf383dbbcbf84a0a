#include "library/Library.h"

#include "library/File.h"
#include "library/FileController.h"
#include "library/LibraryController.h"
#include "platform/files/Bookmark.h"
#include "platform/files/FolderSearch.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>

namespace lumora {

namespace {

PlatformError recordError(const QString& reason)
{
    return PlatformError(PlatformError::Code::readFailed,
                         platformText("library.error.record", "A library in your list couldn't be read."), reason);
}

} // namespace

QString Library::rawValue(SortKey key)
{
    switch (key) {
    case SortKey::dateAdded:
        return QStringLiteral("dateAdded");
    case SortKey::dateModified:
        return QStringLiteral("dateModified");
    case SortKey::name:
        break;
    }
    return QStringLiteral("name");
}

std::optional<Library::SortKey> Library::sortKeyFromRawValue(const QString& raw)
{
    for (SortKey key : allSortKeys)
        if (rawValue(key) == raw) return key;
    return std::nullopt;
}

QString Library::title(SortKey key)
{
    return localized(QStringLiteral("library.sort.") + rawValue(key));
}

std::shared_ptr<Library> Library::make(const QString& folderPath)
{
    std::shared_ptr<Library> library(new Library());
    library->m_url = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    library->recordFolder();
    return library;
}

PlatformResult<std::shared_ptr<Library>> Library::decode(const QVariant& record)
{
    if (record.typeId() != QMetaType::QVariantMap)
        return recordError(platformText("library.error.record.notRecord", "The stored entry is not a library record."));
    const QVariantMap map = record.toMap();
    const QVariant bookmark = map.value(QStringLiteral("bookmarkData"));
    if (bookmark.typeId() != QMetaType::QByteArray)
        return recordError(platformText("library.error.record.noBookmark", "It holds no link to its folder."));
    std::shared_ptr<Library> library(new Library());
    library->m_bookmarkData = bookmark.toByteArray();
    if (map.contains(QStringLiteral("sortKey"))) {
        const QVariant raw = map.value(QStringLiteral("sortKey"));
        const auto key = raw.typeId() == QMetaType::QString ? sortKeyFromRawValue(raw.toString()) : std::nullopt;
        if (!key)
            return recordError(platformText("library.error.record.sortKey", "Its sort order “%1” is unknown.")
                                   .arg(raw.toString()));
        library->sortKey = *key;
    }
    const QVariantMap expanded = map.value(QStringLiteral("expanded")).toMap();
    for (auto it = expanded.begin(); it != expanded.end(); ++it)
        if (it->typeId() == QMetaType::Bool) library->expanded.insert(it.key(), it->toBool());
    const QVariantMap states = map.value(QStringLiteral("documentState")).toMap();
    for (auto it = states.begin(); it != states.end(); ++it)
        if (it->typeId() == QMetaType::QByteArray) library->documentState.insert(it.key(), it->toByteArray());
    library->resolveBookmark();
    return library;
}

QVariantMap Library::encode() const
{
    QVariantMap record;
    record.insert(QStringLiteral("bookmarkData"), m_bookmarkData.value_or(QByteArray()));
    record.insert(QStringLiteral("sortKey"), rawValue(sortKey));
    QVariantMap folders;
    for (auto it = expanded.begin(); it != expanded.end(); ++it) folders.insert(it.key(), it.value());
    record.insert(QStringLiteral("expanded"), folders);
    QVariantMap states;
    for (auto it = documentState.begin(); it != documentState.end(); ++it) states.insert(it.key(), it.value());
    record.insert(QStringLiteral("documentState"), states);
    return record;
}

QString Library::recordIdentity(const QVariant& record)
{
    const auto bookmark = Bookmark::fromData(record.toMap().value(QStringLiteral("bookmarkData")).toByteArray());
    if (!bookmark) return {};
    return QString::number(bookmark->device()) + QLatin1Char(':') + QString::number(bookmark->inode());
}

Library::~Library()
{
    releaseFileController();
}

void Library::resolveBookmark()
{
    if (!m_bookmarkData) return;
    const auto bookmark = Bookmark::fromData(*m_bookmarkData);
    const auto resolved = bookmark ? bookmark->resolve() : std::nullopt;
    if (!resolved) {
        m_url.clear();
        // Moved elsewhere on its disk while Lumora was closed.
        if (bookmark && bookmark->isDirectory())
            lookForMovedFolder(bookmark->path(), bookmark->device(), bookmark->inode(), bookmark->birth());
        return;
    }
    m_url = resolved->path;
    recordFolder();
    if (resolved->isStale) {
        if (const auto renewed = Bookmark::create(m_url)) {
            m_bookmarkData = renewed->data();
            m_bookmarkRenewed = true;
        }
    }
}

void Library::makeBookmark()
{
    const auto bookmark = m_url.isEmpty() ? std::nullopt : Bookmark::create(m_url);
    if (bookmark) m_bookmarkData = bookmark->data();
    else m_bookmarkData.reset();
}

void Library::folderMoved(const QString& newPath)
{
    m_url = newPath;
    recordFolder();
    if (!isLinked()) return;
    if (const auto renewed = Bookmark::create(newPath)) {
        m_bookmarkData = renewed->data();
        m_bookmarkRenewed = true;
    }
}

void Library::lookForMovedFolder(const QString& oldPath, quint64 device, quint64 inode, qint64 birth)
{
    if (m_searching) return;
    m_searching = true;
    const std::weak_ptr<Library> weak = weak_from_this();
    FolderSearch::findInBackground(oldPath, {device, inode, birth}, nullptr, [weak](const QString& found) {
        if (const auto self = weak.lock()) self->movedFolderFound(found);
    });
}

void Library::movedFolderFound(const QString& path)
{
    m_searching = false;
    if (path.isEmpty() || path == m_url) return;
    // Shown meanwhile from where it was: its watcher follows it.
    if (m_fileController || m_loading) return;
    const bool wasUnavailable = isUnavailable();
    folderMoved(path);
    m_unavailable = false;
    if (!m_owner) return;
    m_owner->libraryFolderMoved(*this);
    if (wasUnavailable) m_owner->libraryAvailabilityChanged(*this);
}

void Library::recordFolder()
{
    const auto identity = m_url.isEmpty() ? std::nullopt : FolderSearch::identityOf(m_url);
    if (!identity) return;
    m_folder = std::pair<quint64, quint64>(identity->device, identity->inode);
    m_folderBirth = identity->birth;
}

PlatformStatus Library::checkFolder()
{
    const auto unavailable = [this](const QString& reason) {
        return PlatformError(PlatformError::Code::fileNotFound,
                             platformText("library.error.unavailable", "The folder “%1” isn't available.")
                                 .arg(url::localizedName(m_url)),
                             reason, m_url);
    };
    if (m_url.isEmpty()) return unavailable(QString());
    struct stat st {};
    const bool there = ::stat(NativePath::encode(m_url).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    // Its own disk (the folder itself, or one made anew at its path), or its
    // folder on a disk that came back under another device number. A bare
    // mount point is neither.
    const bool itsOwn = !m_folder || quint64(st.st_dev) == m_folder->first || quint64(st.st_ino) == m_folder->second;
    if (!there || !itsOwn) {
        m_unavailable = true;
        // Nothing at its path: moved elsewhere on its disk while nothing
        // watched it, maybe.
        if (!there && m_folder) lookForMovedFolder(m_url, m_folder->first, m_folder->second, m_folderBirth);
        return unavailable(there ? platformText("library.error.unavailable.disk",
                                                "The disk it was on has been removed; another folder stands at its "
                                                "place.")
                                 : platformText("library.error.unavailable.gone",
                                                "It may have been deleted, moved where Lumora cannot follow it, or its disk removed."));
    }
    recordFolder();
    m_unavailable = false;
    return {};
}

void Library::folderBecameUnavailable()
{
    m_unavailable = true;
    releaseFileController();
    if (m_owner) m_owner->libraryAvailabilityChanged(*this);
}

void Library::applySavedStates(Directory& root)
{
    for (auto it = documentState.begin(); it != documentState.end(); ++it)
        if (auto* file = dynamic_cast<RegularFile*>(root.fileAtPath(it.key()))) file->stateData = it.value();
    for (auto it = expanded.begin(); it != expanded.end(); ++it)
        if (auto* folder = dynamic_cast<Directory*>(root.fileAtPath(it.key()))) folder->expanded = it.value();
}

PlatformStatus Library::loadFileTree()
{
    if (m_fileController) return {};
    // A load under way on another thread gives way to this one.
    if (m_loading) {
        m_loading->stopPresenting();
        m_loading.reset();
    }
    auto controller = std::make_shared<FileController>(shared_from_this());
    PlatformStatus status = controller->startPresenting();
    if (status && controller->rootFile()) {
        applySavedStates(*controller->rootFile());
        m_fileController = std::move(controller);
    }
    const auto waiters = std::exchange(m_waiters, {});
    for (const auto& waiter : waiters)
        if (waiter.second) waiter.second(status);
    return status;
}

quint64 Library::loadFileTreeInBackground(std::function<void(const PlatformStatus&)> done)
{
    if (m_fileController) {
        if (done) done({});
        return 0;
    }
    const quint64 ticket = m_nextTicket++;
    m_waiters.emplace_back(ticket, std::move(done));
    if (!m_loading) {
        auto controller = std::make_shared<FileController>(shared_from_this());
        m_loading = controller;
        const std::weak_ptr<Library> weak = weak_from_this();
        controller->startPresentingInBackground([weak](const PlatformStatus& status) {
            if (const auto self = weak.lock()) self->finishLoading(status);
        });
    }
    // Done at once (a folder that is not there): no ticket to keep.
    const bool waiting = std::any_of(m_waiters.begin(), m_waiters.end(),
                                     [ticket](const auto& waiter) { return waiter.first == ticket; });
    return waiting ? ticket : 0;
}

void Library::finishLoading(const PlatformStatus& status)
{
    const std::shared_ptr<FileController> controller = std::exchange(m_loading, nullptr);
    if (status && controller && controller->rootFile()) {
        applySavedStates(*controller->rootFile());
        m_fileController = controller;
    } else if (controller) {
        controller->stopPresenting();
        if (QCoreApplication::instance()) dispatch::async([controller] {});
    }
    const auto waiters = std::exchange(m_waiters, {});
    for (const auto& waiter : waiters)
        if (waiter.second) waiter.second(status);
    // No view took it (they all went meanwhile): nobody shows the library.
    if (m_fileController && m_fileController->observers().empty()) releaseFileController();
}

void Library::stopWaitingForFileTree(quint64 ticket)
{
    if (ticket == 0) return;
    m_waiters.erase(std::remove_if(m_waiters.begin(), m_waiters.end(),
                                   [ticket](const auto& waiter) { return waiter.first == ticket; }),
                    m_waiters.end());
    if (!m_waiters.empty() || !m_loading) return;
    // The last view that waited went: the scan stops.
    const std::shared_ptr<FileController> controller = std::exchange(m_loading, nullptr);
    controller->stopPresenting();
    if (QCoreApplication::instance()) dispatch::async([controller] {});
}

int Library::loadedFolderCount() const
{
    return m_loading ? m_loading->scanProgress().folders : 0;
}

void Library::releaseFileController()
{
    if (m_loading) {
        const std::shared_ptr<FileController> loading = std::exchange(m_loading, nullptr);
        loading->stopPresenting();
        if (QCoreApplication::instance()) dispatch::async([loading] {});
        const auto waiters = std::exchange(m_waiters, {});
        for (const auto& waiter : waiters)
            if (waiter.second) waiter.second(PlatformError::cancelled());
    }
    if (!m_fileController) return;
    std::shared_ptr<FileController> controller = std::move(m_fileController);
    controller->stopPresenting();
    // The last reference goes on a later turn of the event loop, never from
    // inside one of the controller's own callbacks.
    if (QCoreApplication::instance()) dispatch::async([controller] {});
}

void Library::saveList()
{
    if (m_owner) m_owner->save();
}

void Library::saveExpandedState()
{
    expanded.clear();
    if (m_fileController && m_fileController->rootFile()) {
        m_fileController->rootFile()->forEach([this](File& node) {
            if (node.isDirectory()) expanded.insert(node.path(), static_cast<Directory&>(node).expanded);
        });
    }
    saveList();
}

void Library::saveDocumentStates()
{
    documentState.clear();
    if (m_fileController && m_fileController->rootFile()) {
        m_fileController->rootFile()->forEach([this](File& node) {
            if (node.isDirectory()) return;
            const auto& file = static_cast<RegularFile&>(node);
            if (!file.stateData.isNull()) documentState.insert(node.path(), file.stateData);
        });
    }
    saveList();
}

} // namespace lumora
