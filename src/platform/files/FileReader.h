#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

namespace lumora {

struct FileReadOptions {
    // Files larger than this many bytes are refused before anything is
    // read (PlatformError::Code::tooLarge); negative for no bound.
    qint64 maximumSize = -1;
    // Refuses the files of the kernel's virtual file systems (/proc, /sys,
    // debugfs, ...; PlatformError::Code::notAFile). They look like regular
    // files, but some never end and some wait for events forever when
    // read: nothing a page names may come from there.
    bool diskFilesOnly = false;
};

// Reads a whole regular file. Anything else is refused at once, without
// reading from it: a folder, a device (/dev/zero would never end), a named
// pipe (it would wait for a writer) or a socket gives
// PlatformError::Code::notAFile. Every read is checked; a failure gives the
// real reason ("Permission denied.", "The disk reported an input/output
// error."). The error's description is "The file “<name>” couldn't be
// read."; callers with words of their own keep the suggestion.
PlatformResult<QByteArray> readFileSafely(const QString& path, const FileReadOptions& options = {});

// The checks readFileSafely makes before it opens a file, made without
// opening it (only stat and statfs): whether the path names a regular file
// (links followed) that the options allow. The same errors.
PlatformStatus checkFileForReading(const QString& path, const FileReadOptions& options = {});

// "12.5 MB": a size as the writer reads it.
QString formattedFileSize(qint64 bytes);

} // namespace lumora
