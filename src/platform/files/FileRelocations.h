#pragma once

#include <QHash>
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
//   inside it follow it there and close;
// - moveFailed(path) when it did not move after all: documents at or inside
//   it look at their files again.
//
// The move itself runs on another thread, so a document's watcher may see
// its file leave before the move is done: while a move is announced and not
// ended (isMoving), a file gone from its path is no deletion by another
// program, for the end of the move says where it went.
class FileRelocations : public QObject {
    Q_OBJECT

public:
    static FileRelocations& shared();

    void announceWillMove(const QString& path);
    void announceMoved(const QString& from, const QString& to);
    void announceTrashed(const QString& path, const QString& pathInTrash);
    void announceMoveFailed(const QString& path);

    // Whether the item at path, or a folder it lies in, is being moved.
    bool isMoving(const QString& path) const;

    // path with from replaced by to, when path is from or lies inside it;
    // else an empty string.
    static QString relocated(const QString& path, const QString& from, const QString& to);

signals:
    void willMove(const QString& path);
    void didMove(const QString& from, const QString& to);
    void didTrash(const QString& path, const QString& pathInTrash);
    void moveFailed(const QString& path);

private:
    void moveEnded(const QString& path);

    QHash<QString, int> m_moving; // path -> moves announced and not ended
};

} // namespace lumora
