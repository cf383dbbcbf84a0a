#pragma once

#include <QString>

#include <functional>

class QObject;

namespace lumora {

// Finds a folder again by its device and inode after another program moved
// it where no watch saw it arrive (into a folder nobody watches). Nothing of
// the folder is held open meanwhile (its disk must stay ejectable), so the
// folder is looked for: from the folders above its old place, the nearest
// first, down a few levels, on its own disk only, symbolic links not
// followed, and within a bound on the folders read, so that a search never
// walks a whole disk.
class FolderSearch {
public:
    struct Bounds {
        int levelsUp = 4;       // folders above the old place searched from
        int levelsDown = 4;     // how deep below each of them
        int folders = 20'000;   // folders read at most, in all
    };

    // The folder's path now, or empty when it was not found within the
    // bounds. Reads folders: never on the window's thread.
    static QString find(const QString& oldPath, quint64 device, quint64 inode, const Bounds& bounds);
    static QString find(const QString& oldPath, quint64 device, quint64 inode) { return find(oldPath, device, inode, Bounds{}); }

    // find() on the background pool; found (with the path, or empty) runs on
    // the main thread afterwards, unless context is gone by then.
    static void findInBackground(const QString& oldPath, quint64 device, quint64 inode, QObject* context,
                                 std::function<void(const QString& found)> found);
};

} // namespace lumora
