#pragma once

#include "platform/foundation/PlatformError.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace lumora {

// What a library shows of a folder: its documents and its sub-folders.
//
// - Documents are regular files whose name ends in one of a fixed list of
//   plain-text extensions (txt, text, md, markdown, mdown, mkd, mkdn, mdwn,
//   mdtxt, mdtext), in any case. A symbolic link to such a file counts as the
//   document, with the dates of the file it points to.
// - Folders are real folders; a symbolic link to a folder is left out (no
//   loops, nothing shown twice).
// - Everything else is left out: hidden names (a leading "."), other files,
//   FIFOs, sockets and devices (they are never opened).
// - Names keep every byte the disk holds, UTF-8 or not (see NativePath).
//
// Each entry costs one statx call (two for a symbolic link).
class FolderListing {
public:
    enum class Kind { document, folder };

    struct Entry {
        QString name;
        Kind kind = Kind::document;
        // Milliseconds since the epoch; none where the file system keeps no
        // such time. "added" is the date the item came into its folder, as
        // the library recorded it (addedRecorded); without a record, the
        // item's creation (birth) time.
        std::optional<qint64> added;
        std::optional<qint64> modified;
        bool addedRecorded = false;
    };

    // Linux keeps no date an item came into its folder, and the birth time
    // is renewed by every save that replaces a file. So the library records
    // the date itself, in an extended attribute of the item (ISO 8601, UTC):
    // when Lumora makes an item, when an item comes into a folder of a
    // library (moved or made there by any program), and again when another
    // program's save replaced a file without it. Lumora's own saves keep it,
    // as they keep every attribute; so does a rename. File systems without
    // user attributes keep no record: the birth time stands in.
    static constexpr const char* dateAddedAttribute = "user.lumora.added";
    // Records the date on the item at path (through the checked writer).
    static PlatformStatus recordDateAdded(const QString& path, qint64 milliseconds);

    // The shown entries of the folder at path, in no particular order.
    // Fails, naming the folder and the reason, when it cannot be read.
    static PlatformResult<std::vector<Entry>> list(const QString& path);

    // The one item at path, as list() would show it; none when the item is
    // missing or would not be shown.
    static std::optional<Entry> examine(const QString& path);

    // The fixed list of document extensions, lower case.
    static const std::vector<QString>& documentExtensions();
    static bool isDocumentExtension(QStringView extension);
    // A shown document name: not hidden and with a document extension.
    static bool isDocumentName(QStringView name);
    static bool isHiddenName(QStringView name) { return name.startsWith(QLatin1Char('.')); }
};

} // namespace lumora
