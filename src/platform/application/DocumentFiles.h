#pragma once

#include "platform/foundation/PlatformError.h"

#include <QString>

#include <optional>
#include <utility>

// What the parts of a document share about its files: the words of read
// and write errors, file names any file system takes, and a folder's
// identity. For the document's own parts only.
namespace lumora::documentFiles {

// “The file … couldn't be opened.”, with the reason given.
PlatformError readError(const QString& path, PlatformError::Code code, const QString& suggestion);
// The reader's reason under the document's own description.
PlatformError readError(const QString& path, const PlatformError& failure);

// “The document … couldn't be saved.”, with the reason given.
PlatformError writeError(const QString& path, PlatformError::Code code, const QString& suggestion);
// The writer's own words for a failed write: what to do next depends on why.
PlatformError writeError(const QString& path, const PlatformError& failure);

// A file name made of a document's name that any file system takes.
QString safeFileName(QString name);

// The folder holding the file, by device and inode; none when there is no
// folder at that path.
using FolderIdentity = std::pair<quint64, quint64>;
std::optional<FolderIdentity> folderIdentityOf(const QString& filePath);

} // namespace lumora::documentFiles
