#pragma once

#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace lumora {

// Finds a folder again by its device and inode after another program moved
// it where no watch saw it arrive (into a folder nobody watches). Nothing of
// the folder is held open meanwhile (its disk must stay ejectable), so the
// folder is looked for: from the folders above its old place, the nearest
// first, down a few levels, on its own disk only, symbolic links not
// followed, and within a bound on the folders read, so that a search never
// walks a whole disk. Inode numbers are used again once a folder is deleted:
// where the disk keeps birth times, the folder's must match too, so that a
// newer folder that took the number is never taken for it.
class FolderSearch {
public:
    struct Bounds {
        int levelsUp = 4;       // folders above the old place searched from
        int levelsDown = 4;     // how deep below each of them
        int folders = 20'000;   // folders read at most, in all
    };

    // The folder looked for: its device and inode, and its birth time in
    // nanoseconds since the epoch (0: not known).
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 birth = 0;
    };
    // The identity of the folder at path; none when there is no folder.
    static std::optional<Identity> identityOf(const QString& path);
    // Whether the folder at path is the one of that identity.
    static bool isFolder(const QString& path, const Identity& identity);

    // The folder's path now, or empty when it was not found within the
    // bounds. Reads folders: never on the window's thread.
    static QString find(const QString& oldPath, const Identity& identity, const Bounds& bounds);
    static QString find(const QString& oldPath, const Identity& identity) { return find(oldPath, identity, Bounds{}); }

    // find() on the background pool; found (with the path, or empty) runs on
    // the main thread afterwards, unless context is gone by then (none: it
    // always runs).
    static void findInBackground(const QString& oldPath, const Identity& identity, QObject* context,
                                 std::function<void(const QString& found)> found);
};

} // namespace lumora
