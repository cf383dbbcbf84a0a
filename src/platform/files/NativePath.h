#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QUrl>

namespace lumora {

// File names as the disk holds them.
//
// A Linux file name is a string of bytes, and nothing makes it valid UTF-8.
// Lumora carries paths as QString: the bytes of a name that are valid UTF-8
// are decoded as usual, and each byte that is not becomes a code unit of its
// own, U+DC80 plus the byte (a lone low surrogate, which no valid text
// holds). encode() turns such a path back into exactly the bytes it came
// from. Qt's QFile::encodeName and decodeName replace those bytes with
// U+FFFD and then name another file (Qt 6.4 even leaves such names out of
// QDir listings), so every system call on a path takes encode(), every name
// read from the disk goes through decode(), and whatever is shown to the
// writer goes through shown(), where each kept byte reads as U+FFFD.
//
// Paths that are valid UTF-8 are unchanged by all of this.
class NativePath {
public:
    // The bytes of a path for the system.
    static QByteArray encode(QStringView path);
    // A path or name read from the system, every byte kept.
    static QString decode(QByteArrayView bytes);
    // The path or name as the writer reads it: each byte that is not UTF-8
    // shown as U+FFFD (the real name stays in the path itself).
    static QString shown(const QString& path);
    // A file name as the writer sees it, the same in the library's rows,
    // window titles, menus and messages: shown(), with each ":" as "/" (a
    // "/" typed in a name is stored as ":", see diskName()) and each line
    // break or other control character as a mark every font draws ("¶" for
    // a line break, U+FFFD for the others), so that the name keeps to one
    // line.
    static QString shownName(const QString& name);
    // The shown name of the path's last component; for a path without one
    // ("/"), the path shown.
    static QString shownNameOf(const QString& path);
    // The name stored for a name the writer typed: each "/" as ":".
    static QString diskName(const QString& typedName);
    // True when the path holds bytes that are not UTF-8.
    static bool hasRawBytes(QStringView path);

    // A file URL of the path, and the path of a file URL, byte for byte
    // (QUrl's own conversions are not).
    static QUrl fileUrl(const QString& path);
    static QString fromFileUrl(const QUrl& url);

    // Questions to the disk about a path, by its real bytes.
    static bool exists(const QString& path);        // anything, a dangling link too
    static bool isFolder(const QString& path);      // a folder, or a link to one
    static bool isRegularFile(const QString& path); // a regular file, or a link to one
    static bool isWritable(const QString& path);    // by this process
};

} // namespace lumora
