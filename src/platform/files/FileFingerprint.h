#pragma once

#include <QString>
#include <QtGlobal>

namespace lumora {

// What tells one state of a file on disk from another: device, inode, size
// and modification time (nanoseconds). A program that rewrites the file in
// place changes the size or the time; one that saves by replacing it
// changes the inode.
struct FileFingerprint {
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    // The fingerprint of the file at path, following symbolic links; one
    // that does not exist when nothing is there.
    static FileFingerprint of(const QString& path);

    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

} // namespace lumora
