#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace lumora {

struct FileWriteOptions {
    // Fail with PlatformError::Code::fileExists when something is already at
    // the path, instead of replacing it (a new file that must not clobber one
    // another program made meanwhile).
    bool createOnly = false;
    // A new file is readable and writable by its owner alone (0600) rather
    // than as the umask leaves it. An existing file keeps its mode.
    bool ownerOnly = false;
};

// The one way Lumora writes a file. Afterwards either the new bytes are on
// disk, complete and synced, or the file is as it was and the error says
// why; a failure is never reported as success.
//
// - Every write, the sync and the close are checked before the new file is
//   committed; the folder is synced after the rename, so the new name
//   survives a power cut.
// - A file that is a symbolic link is written through the link.
// - A file with several hard links, one whose owner, group or extended
//   attributes (ACLs included) a replacement could not keep, and one in a
//   folder where no replacement can be made (read-only, or sticky like /tmp)
//   is written in place instead: its old bytes and the new ones are first
//   copied to a private backup with a note of the file (device, inode,
//   change time, digests), the new bytes are written, synced and cut to
//   length, and on any failure the old bytes are put back. A save killed in
//   the middle is mended by cleanUpInterruptedWrite at the next open or save.
// - One write of a file at a time, across processes: a write holds the
//   turn at the file (FileWriteTurn: locks in the backups folder, one for
//   the file itself, whatever name it is written by) from start to end, and
//   one that finds it held waits for the other to end (a while, then fails
//   saying so), so that two Lumoras never mix their bytes or backups. A
//   write by the thread that holds the turn already goes on in it.
// - A document the library has no date-added record for keeps the date it
//   showed (its birth time), recorded on the file that replaces it.
// - Temporary names stay within 255 bytes, so a long file name saves too.
PlatformStatus writeFileSafely(const QString& path, const QByteArray& bytes, const FileWriteOptions& options = {});

// The turn at one file: while it lives, no other write or clean-up of the
// file, in this process or another Lumora, runs (they wait, or pass over
// it). Every name of the file shares it (hard links, symbolic links); a
// file not made yet is known by its folder and its name. A holder looks at
// the file and then writes it in one turn, so that nothing changes in
// between: writeFileSafely and cleanUpInterruptedWrite of the file on the
// thread holding the turn go on in it instead of waiting.
class FileWriteTurn {
public:
    ~FileWriteTurn();
    FileWriteTurn(const FileWriteTurn&) = delete;
    FileWriteTurn& operator=(const FileWriteTurn&) = delete;

    // The turn at the file at path, taken without waiting; none while
    // another write of it goes on (in another process, or on another thread
    // of this one).
    static std::unique_ptr<FileWriteTurn> tryTake(const QString& path);

private:
    FileWriteTurn();
    struct State;
    std::unique_ptr<State> m_state;
};

// The failure of a write that waited too long for its turn.
PlatformError fileBusyError(const QString& path);

// Sets one extended attribute of the item at path (a file or a folder;
// through a symbolic link), then syncs the item: a failure of either is
// reported, never success.
PlatformStatus writeExtendedAttributeSafely(const QString& path, const char* name, const QByteArray& value);

// What cleanUpInterruptedWrite found of an in-place write cut short.
struct InterruptedWrite {
    enum class Outcome {
        none,      // nothing to mend: no write was cut short, or it had finished
        restored,  // the file was half written by that save: its earlier bytes are back
        keptAside, // the file is not provably the half-written one (another program
                   // wrote it since, replaced or removed it): it was left as it is,
                   // and its earlier bytes are kept at keptAt
        pending,   // the file could not be read now; looked at again next time
    };
    Outcome outcome = Outcome::none;
    QString keptAt;
};

// Mends what a killed save of the file at path left behind: removes
// temporary files beside it, and when an in-place write was interrupted,
// puts the old bytes back, but only when the file is provably the one that
// write left half done: the same file (device and inode), changed since the
// write began, holding neither the old bytes nor the new ones but at every
// offset a byte of one of them. Anything else (another program wrote the
// file after the kill, replaced or removed it) is newer than the backup and
// stays; the backup is then kept under a readable name in the backups
// folder. The folder is synced after the backup's note goes. Cheap when
// there is nothing to do. A write of the file going on now, in another
// process or on another thread (its lock is held), was not cut short: the
// clean-up waits a moment for it to end, and passes over it (none) while it
// goes on.
InterruptedWrite cleanUpInterruptedWrite(const QString& path);

// For the start of the application: removes what killed in-place saves
// left in the backups folder that no later open or save of their file would
// take up: a copy cut short while it was written (a hidden temporary), the
// copies of a save that had not begun to change its file, and locks nobody
// holds. Everything of a write going on now (its lock is held) stays, and so
// do the backups of a file that may be half written (they mend it when it is
// next opened or saved) and the earlier versions kept aside.
void removeAbandonedBackups();

// For the start of the application: removes the temporaries that writes
// killed before their rename left in folder (a private folder of Lumora's
// own: opened versions, recovery files), except those of a write going on
// now (its turn is held).
void removeAbandonedTemporaries(const QString& folder);

// "<name> (<label>).<extension>" for a copy beside fileName ("Notes
// (changed elsewhere 2024-05-01 10.00.00).md"), with the name shortened
// where needed so that the whole stays within 255 bytes: the label and the
// extension are kept, and the name is cut between characters, never inside
// one.
QString labelledFileName(const QString& fileName, const QString& label);

// $XDG_STATE_HOME/Lumora/<name> (~/.local/state/Lumora/<name>), created
// owner-only when missing: recovery files, opened versions, backups.
QString privateStateFolder(const QString& name);

// The text of an errno value as the writer should read it ("The disk is
// full.", "Permission denied.", ...), for messages naming what failed.
QString fileErrorReason(int error);
// The same; an error without words of its own names what failed:
// "<operation> failed: <the system's text>." ("Putting the new file in
// place failed: Invalid cross-device link.").
QString fileErrorReason(int error, const QString& operation);

// Lets a test make one step of a write or a read fail with an errno, to
// exercise each failure path (a full disk at the flush, a failed rename, an
// unreadable file, ...). The hook is asked before each step with the step's
// name: "open", "write", "sync", "close", "rename", "syncFolder", "chown",
// "xattr", "backup" when writing; "waitForTurn" while a write or clean-up
// waits for another write of the same file to end (a non-zero return stops
// the wait: the write fails, the clean-up passes over); "writeInPlace",
// "truncate", "syncInPlace", "closeInPlace" and "removeBackup" (the new
// bytes are synced, the backup not yet gone) on the in-place road; "openRead" and "read" when reading
// (FileReader.h). A non-zero return fails that step with that errno; a test
// may also end the process there, as a kill would. Pass {} to remove it.
using FileWriteFaultHook = std::function<int(const char* step)>;
void setFileWriteFaultHook(FileWriteFaultHook hook);
// The same, told which file (absolute path) is being written or read.
using FileFaultHook = std::function<int(const char* step, const QString& path)>;
void setFileFaultHook(FileFaultHook hook);

namespace detail {
// The installed hook's answer for a step; 0 without a hook.
int injectedFileFault(const char* step);
// Names the file the hook is told about while it lives.
class FaultPathScope {
public:
    explicit FaultPathScope(const QString& path);
    ~FaultPathScope();
    FaultPathScope(const FaultPathScope&) = delete;
    FaultPathScope& operator=(const FaultPathScope&) = delete;

private:
    QString m_previous;
};
} // namespace detail

} // namespace lumora
