#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

namespace lumora {

// What tells one state of a file on disk from another: device, inode, size,
// modification time and change time (nanoseconds). A program that rewrites
// the file in place changes the size or the times; one that saves by
// replacing it changes the inode. The change time is set by the system on
// every write and cannot be set back, so a program that restores the
// modification time after writing is noticed too.
struct FileFingerprint {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    // The fingerprint of the file at path, following symbolic links; one
    // that does not exist when nothing is there.
    static FileFingerprint of(const QString& path);

    // Whether this is the same file (device and inode) as other.
    bool isSameFile(const FileFingerprint& other) const
    {
        return exists && other.exists && device == other.device && inode == other.inode;
    }

    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

// A quick digest of a file's bytes, to tell whether a file whose
// fingerprint changed (touched, its attributes changed) still holds the
// same text. Not for security.
quint64 contentDigest(QByteArrayView bytes);

} // namespace lumora
