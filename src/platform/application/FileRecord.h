#pragma once

#include "platform/application/DocumentFiles.h"
#include "platform/files/FileFingerprint.h"
#include "platform/foundation/PlatformError.h"

#include <QString>

#include <optional>

namespace lumora {

// What a document knows of its file as it last read or wrote it, and the
// check made against the file on disk before anything is written over it:
// a file changed by another program is never silently overwritten, and
// nothing is written in a folder that is not the file's own any more (its
// disk was unmounted and the bare mount point is left, or the folder was
// replaced by one of the same name).
struct FileRecord {
    enum class DiskState { unchanged, changed, unreadable };

    FileFingerprint fingerprint; // of the file as last read or written
    std::optional<quint64> digest; // of its bytes then
    // The folder the file was opened or saved in (device and inode), to
    // notice when its path names another folder.
    std::optional<documentFiles::FolderIdentity> folder;
    // The file was deleted (or moved where it cannot be followed) while the
    // document was open.
    bool missing = false;

    // The file was read or written just now.
    void take(const FileFingerprint& now, std::optional<quint64> bytesDigest);
    // Nothing read (a file to be made): a file that appears at its path
    // meanwhile is another program's.
    void forget();
    // The folder of the file at path is the file's own from now on.
    void rememberFolder(const QString& path);

    // Whether the file at path is not the one last read or written. A file
    // that has gone away counts as unchanged (saving writes it anew), and so
    // does one whose times changed but whose bytes did not (its fingerprint
    // is then taken). One that can no longer be read (its permissions
    // changed) is unreadable, and unreadable says why, in the words of a
    // failed save.
    DiskState check(const QString& path, qint64 maximumSize, PlatformError* unreadable = nullptr);
    // Why nothing may be written at path: its folder can no longer be read
    // (its permissions were taken away), is gone, or is not the folder the
    // file was in.
    std::optional<PlatformError> folderProblem(const QString& path) const;
    // Whether nothing in the folder of path can be looked at any more: the
    // folder, or one above it, lets this user no longer through.
    static bool folderIsUnreadable(const QString& path);
    // Whether the file is gone from a folder that is still its own: another
    // program deleted it.
    bool isGoneFromItsFolder(const QString& path) const;
    // The program moved the file to path. A move to another disk copies the
    // file (a new inode, the same size and time): the record follows it.
    void followMove(const QString& path);
};

} // namespace lumora
