#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace lumora {

class FileLock;

// A note of one move to the Trash while it is under way, so that a kill in
// the middle leaves nothing behind for long: the record written first (which
// a desktop Trash lists but cannot restore), a temporary copy of it, or an
// item at two names where the move went by a hard link.
//
// The notes live in the private state folder "trash": <id>.lock, held while
// the move runs (a FileLock), and <id>.json, naming the item, the place it
// goes, its record and the record's bytes. A move that ends, however it
// ends, removes both. cleanUpInterrupted, run at start-up, takes back what
// the moves of a killed Lumora left: only what their notes name, only a
// record holding exactly the bytes that move wrote, never what a move still
// under way (in this Lumora or another) is doing, and never another
// program's entry.
class TrashJournal {
public:
    TrashJournal();
    ~TrashJournal();
    TrashJournal(const TrashJournal&) = delete;
    TrashJournal& operator=(const TrashJournal&) = delete;

    // Notes the next try: item goes to target, with its record at record
    // holding recordBytes. False when no note could be written (the state
    // folder cannot be written): the move goes on without one.
    bool note(const QString& item, const QString& target, const QString& record, const QByteArray& recordBytes);

    // Takes back what killed moves left, on every disk that is there (a note
    // whose Trash is on a disk that is away waits for a later start). The
    // number of moves taken back.
    static int cleanUpInterrupted();

private:
    QString m_folder;
    QString m_id;
    std::unique_ptr<FileLock> m_lock;
};

} // namespace lumora
