#pragma once

#include <QObject>
#include <QString>

namespace lumora {

// Where the program tells open documents that it moves, renames or trashes
// files, so that a document never writes its text back at a path its file
// has left. Documents listen (DocumentBase); the library's file operations
// announce, on the main thread:
//
// - willMove(path) before the item at path (a file or a folder) is moved,
//   renamed or trashed: documents at or inside it save their pending edits;
// - didMove(from, to) after it moved: documents at or inside it take their
//   new paths;
// - didTrash(path, pathInTrash) after it went to the Trash: documents at or
//   inside it follow it there and close.
class FileRelocations : public QObject {
    Q_OBJECT

public:
    static FileRelocations& shared();

    void announceWillMove(const QString& path) { emit willMove(path); }
    void announceMoved(const QString& from, const QString& to) { emit didMove(from, to); }
    void announceTrashed(const QString& path, const QString& pathInTrash) { emit didTrash(path, pathInTrash); }

    // path with from replaced by to, when path is from or lies inside it;
    // else an empty string.
    static QString relocated(const QString& path, const QString& from, const QString& to);

signals:
    void willMove(const QString& path);
    void didMove(const QString& from, const QString& to);
    void didTrash(const QString& path, const QString& pathInTrash);
};

} // namespace lumora
