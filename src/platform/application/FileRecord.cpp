#include "platform/application/FileRecord.h"

#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileReader.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumora {

void FileRecord::take(const FileFingerprint& now, std::optional<quint64> bytesDigest)
{
    fingerprint = now;
    digest = bytesDigest;
    missing = false;
}

void FileRecord::forget()
{
    fingerprint = FileFingerprint{};
    digest.reset();
    missing = false;
}

void FileRecord::rememberFolder(const QString& path) { folder = documentFiles::folderIdentityOf(path); }

FileRecord::DiskState FileRecord::check(const QString& path, qint64 maximumSize, PlatformError* unreadable)
{
    if (path.isEmpty()) return DiskState::unchanged;
    const FileFingerprint now = FileFingerprint::of(path);
    if (!now.exists) return DiskState::unchanged;
    if (fingerprint.exists && now == fingerprint) return DiskState::unchanged;
    auto bytes = readFileSafely(path, {.maximumSize = maximumSize});
    if (!bytes && (bytes.error().code == PlatformError::Code::permissionDenied
                   || bytes.error().code == PlatformError::Code::readFailed)) {
        if (unreadable)
            *unreadable = documentFiles::writeError(
                path, PlatformError::Code::permissionDenied,
                platformText("document.error.write.unreadable",
                             "Its file can no longer be read: %1 Another program may have "
                             "changed its permissions. It was left as it is; use Save As to "
                             "save your text somewhere else.")
                    .arg(bytes.error().recoverySuggestion));
        return DiskState::unreadable;
    }
    // Touched, or its attributes changed: the same bytes are no change.
    if (bytes && digest && contentDigest(*bytes) == *digest) {
        fingerprint = now;
        return DiskState::unchanged;
    }
    return DiskState::changed;
}

bool FileRecord::folderIsUnreadable(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    return ::faccessat(AT_FDCWD, NativePath::encode(folder).constData(), X_OK, AT_EACCESS) != 0 && errno == EACCES;
}

std::optional<PlatformError> FileRecord::folderProblem(const QString& path) const
{
    // Its permissions taken away: nothing in it can be looked at or written.
    if (folderIsUnreadable(path))
        return documentFiles::writeError(
            path, PlatformError::Code::permissionDenied,
            platformText("document.error.write.folderUnreadable",
                         "Its folder “%1” can no longer be read: another program may have changed its "
                         "permissions. Nothing was written there. Use Save As to save it somewhere else.")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())));
    const auto now = documentFiles::folderIdentityOf(path);
    // Deleted, or moved out of sight: a folder moved by another program is
    // followed wherever it can be found (the watcher looks for it), so one
    // still missing went where Lumora cannot follow it.
    if (!now && (!folder || FileChangeWatcher::shared().folderWasDeleted(path)))
        return documentFiles::writeError(
            path, PlatformError::Code::writeFailed,
            platformText("document.error.write.noFolder",
                         "Its folder no longer exists. Use Save As to save it somewhere else."));
    if (!now)
        return documentFiles::writeError(
            path, PlatformError::Code::writeFailed,
            platformText("document.error.write.folderLost",
                         "Its folder “%1” was moved where Lumora cannot follow it. Use Save As to save it "
                         "somewhere else.")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())));
    if (folder && *now != *folder)
        return documentFiles::writeError(
            path, PlatformError::Code::writeFailed,
            platformText("document.error.write.otherFolder",
                         "Its folder “%1” is not the folder it was in: the disk it was on may have "
                         "been removed, or the folder replaced by another of the same name. "
                         "Nothing was written there. Use Save As to save it somewhere else.")
                .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())));
    return std::nullopt;
}

bool FileRecord::isGoneFromItsFolder(const QString& path) const
{
    if (!fingerprint.exists) return false;
    // Only a file that is not there is gone; one that cannot be looked at
    // (its folder's permissions taken away) may still be.
    struct stat st {};
    if (::stat(NativePath::encode(path).constData(), &st) == 0 || errno != ENOENT) return false;
    // A folder that is gone, or not the document's any more, is another
    // matter: nothing may be written there at all.
    const auto now = documentFiles::folderIdentityOf(path);
    return now && (!folder || *now == *folder);
}

void FileRecord::followMove(const QString& path)
{
    const FileFingerprint now = FileFingerprint::of(path);
    if (fingerprint.exists && now.exists && now.size == fingerprint.size && now.modifiedNs == fingerprint.modifiedNs)
        fingerprint = now;
}

} // namespace lumora
