#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

namespace lumora {

// Creating, moving and trashing the user's files and folders, without ever
// replacing or deleting anything as a side effect.
//
// - New files and folders are made exclusively (O_EXCL, a single mkdir):
//   an item already at the name is never opened, truncated or reused.
// - Moves never replace what is at the destination (renameat2 with
//   RENAME_NOREPLACE; where a file system refuses the flag, a hard link
//   and unlink, else a rename after checking that the name is free). A
//   rename that only changes the case of a name on a file system that
//   ignores case is allowed.
// - A move to another file system copies into a hidden temporary name at
//   the destination (contents, permissions, times, extended attributes and,
//   where allowed, the owner), syncs it, renames it into place without
//   replacing, and only then removes the original. On any failure the copy
//   is removed and the original stays.
// - The Trash is the freedesktop.org Trash: the home Trash for the home
//   disk, a Trash folder at the top of any other disk. The record that lets
//   the desktop list and restore the item (its .trashinfo) is written first,
//   through the checked writer, and only then does the item move there, by
//   its real name (bytes that are not UTF-8 included), or, where the
//   record's name (the name and ".trashinfo") would not fit in 255 bytes,
//   by a shortened one; the record keeps the whole path. An item that cannot
//   go to the Trash (no Trash on its disk, a full disk) is reported with the
//   reason and left where it is, without a record; nothing is ever deleted
//   instead. Each move is noted while it runs (TrashJournal), so that what
//   a kill in the middle leaves is taken back at the next start.
//
// Every call blocks on the disk: run it off the main thread. Errors name the
// item and say why, in words for the writer.
class FileManager {
public:
    enum class Action { list, createFile, createFolder, move, rename, trash };

    // The error for a failed system call (errno) while doing action to the
    // item at path; destination is the other end of a move or rename.
    static PlatformError errorFor(int error, Action action, const QString& path, const QString& destination = {});

    // Creates a new file at path holding contents, written and synced before
    // it returns. When the name is taken and numberOnClash is set, takes the
    // first free numbered name ("Notes 2.txt", "Notes 3.txt", ...). Returns
    // the path made.
    static PlatformResult<QString> createFile(const QString& path, const QByteArray& contents, bool numberOnClash);
    // Creates one folder (its parent must exist), numbered the same way.
    static PlatformResult<QString> createFolder(const QString& path, bool numberOnClash);

    // Moves or renames the item at from to to; to must not exist.
    static PlatformStatus moveItem(const QString& from, const QString& to);

    // Moves the item to the Trash and returns where it went.
    // The fault hook of the checked writer (FileWriter.h) is asked
    // "moveToTrash", for the item, right before it moves into the Trash.
    static PlatformResult<QString> moveItemToTrash(const QString& path);
    // Takes back what moves to the Trash cut short by a kill left behind
    // (records without their item, temporary records); run at start-up, off
    // the main thread. The number of moves taken back.
    static int cleanUpInterruptedTrashMoves();

    // True for a path inside one of the user's trash folders (a library
    // folder moved there counts as deleted).
    static bool isInTrash(const QString& path);
    // Where the item that was at formerPath (its device and inode) lies in a
    // Trash its disk uses, when another program moved it there; empty when
    // it is in none.
    static QString findInTrash(const QString& formerPath, quint64 device, quint64 inode);

    // "Notes.txt" numbered n: "Notes 2.txt". The extension follows the last
    // dot; a name without one gets the number at its end (a leading dot, as
    // in ".notes", or a trailing one starts no extension).
    static QString numberedPath(const QString& path, quint64 n);

    // The rename that never replaces, alone: 0 or the errno of the failure.
    // forceFallback skips renameat2 (tests of file systems that refuse it).
    static int renameWithoutReplacing(const QString& from, const QString& to, bool forceFallback = false);

    // Makes the folder's entries durable (after a rename in it): 0 or the
    // errno. A file system without the notion (EINVAL) counts as done.
    static int syncFolder(const QString& folder);
};

} // namespace lumora
