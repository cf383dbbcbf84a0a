#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace lumora {

// What a page of the writer's HTML may load from this computer, the one
// rule printing and the preview share. A page names images (and style
// sheets) by address; only a local file is ever read, and only an
// ordinary one:
//
// - a regular file (links followed) on a disk: never a folder, a named
//   pipe (reading one waits for a writer forever), a device (/dev/zero
//   never ends), a socket, or a file of the kernel's virtual file systems
//   (/proc, /sys, ...), some of which wait for events when read;
// - at most maximumLocalResourceSize bytes.
//
// Anywhere the user can read: the page runs no scripts and reaches no
// network, so showing a file sends it nowhere. Addresses of other kinds
// (http, https, ftp, qrc, ...) name nothing local and are never loaded by
// these rules; data: addresses carry their bytes in the page itself.

// The largest file a page may show, in bytes.
inline constexpr qint64 maximumLocalResourceSize = qint64(64) * 1024 * 1024;

// The local file an address on a page names: a file: URL on this
// computer, an absolute path, or a relative reference resolved against
// folder (the document's folder; a relative reference names nothing
// without one). Nothing for every other address.
std::optional<QString> localResourcePath(const QUrl& url, const QString& folder);

// Whether the file at path may be shown, checked without opening it (stat
// and statfs only), so a pipe or device is never touched. The errors of
// checkFileForReading.
PlatformStatus checkLocalResource(const QString& path, qint64 maximumSize = maximumLocalResourceSize);

// Reads a file a page shows: the check above, then readFileSafely, which
// opens without waiting and checks what it opened again (a pipe put in
// the file's place after the check is refused, not waited for). A read
// from a disk that hangs can still take forever: run it where that does
// not matter (dispatch::runWithin).
PlatformResult<QByteArray> readLocalResource(const QString& path, qint64 maximumSize = maximumLocalResourceSize);

} // namespace lumora
