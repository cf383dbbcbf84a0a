#pragma once

#include "platform/application/FileRecord.h"
#include "platform/application/OpenedVersion.h"
#include "platform/application/RecoveryFile.h"
#include "platform/foundation/PlatformError.h"
#include "platform/text/UndoManager.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace lumora {

class DocumentBase;
class DocumentRelocation;
class DocumentSaver;

// What the user answers when an edited document without a file of its own
// (untitled or locked) is closed.
enum class SaveChoice { save, dontSave, cancel };

// What the user answers when the file changed on disk since the document
// last read or wrote it, and the document is about to be saved. Neither
// answer loses a version: keepMine first copies the file on disk aside
// ("<name> (changed elsewhere <time>).<ext>") and then saves the document
// over it; reloadTheirs first writes the document aside ("<name> (unsaved
// edits <time>).<ext>") and then reads the file on disk into the document.
// The copy lies next to the file; its path is announced by
// DocumentBase::versionSavedAside.
enum class ExternalChangeChoice { keepMine, reloadTheirs };

// Where a save failed: the writer saving (the Save command, an autosave),
// closing the document, or quitting the application.
enum class FailedSaveContext { saving, closing, terminating };

// What the writer answers when the document cannot be saved where it is
// (its folder was removed or became read-only, the disk is full, ...).
// saveAs: choose another place, where the document then lives;
// closeWithoutSaving: close it anyway, after a second confirmation;
// keepRecoveryCopy: (quitting) leave its text in a recovery file and quit;
// dismiss: leave things as they are (the document stays open, edited).
enum class FailedSaveChoice { saveAs, closeWithoutSaving, keepRecoveryCopy, dismiss };

// What the writer answers when they save a document whose file another
// program deleted: write it again where it was, choose another place, or
// leave the document unsaved.
enum class DeletedFileChoice { saveAgain, saveAs, cancel };

// The questions a document asks its user. The shell installs one with
// dialogs; tests install a scripted one. Without one, documents answer for
// themselves with what loses nothing: cancel closing, no save location,
// keep mine (the other version is copied aside), errors to the log, and on
// quitting a recovery file for what cannot be saved.
class DocumentPrompter {
public:
    virtual ~DocumentPrompter() = default;
    virtual SaveChoice askToSaveChanges(DocumentBase& document) = 0;
    // A path for a document that has no file yet (the save panel); none
    // when the user cancels.
    virtual std::optional<QString> chooseSaveLocation(DocumentBase& document) = 0;
    virtual ExternalChangeChoice askAboutExternalChange(DocumentBase& document) = 0;
    virtual void presentError(DocumentBase& document, const PlatformError& error) = 0;

    // The document could not be saved (error says why): what now. The
    // dialog shows the error and offers what fits the context; by default
    // the error is presented and nothing else happens (on quitting, the
    // text goes to a recovery file).
    virtual FailedSaveChoice askAfterFailedSave(DocumentBase& document, const PlatformError& error,
                                                FailedSaveContext context)
    {
        presentError(document, error);
        return context == FailedSaveContext::terminating ? FailedSaveChoice::keepRecoveryCopy
                                                         : FailedSaveChoice::dismiss;
    }
    // The second confirmation before a document is closed without saving.
    virtual bool confirmCloseWithoutSaving(DocumentBase&) { return false; }
    // Rename…: the new name of the document's file (in its folder).
    virtual std::optional<QString> chooseNewName(DocumentBase&) { return std::nullopt; }
    // Move To…: the new place of the document's file (a save panel).
    virtual std::optional<QString> chooseMoveLocation(DocumentBase&) { return std::nullopt; }
    // Save, after another program deleted the document's file. By default
    // the file is written again: the writer asked to save.
    virtual DeletedFileChoice askAboutDeletedFile(DocumentBase&) { return DeletedFileChoice::saveAgain; }
};

// The base of a document: one file, its type, its undo stack, and the
// rules of opening, saving and closing it.
//
// - Opening reads regular files only, up to maximumFileSize(): a folder, a
//   device, a pipe or a socket is refused at once (see readFileSafely).
// - Edited state: the undo stack's clean state (a save marks it clean).
// - Autosave: each recorded change, undo or redo restarts a timer of
//   autosavingDelay(); when it fires, an edited, unlocked document with a
//   file saves itself in place, and an untitled one with text writes it to
//   a recovery file in recoveryFolder(), which the next launch opens again
//   after a crash (recoverFrom). The recovery file goes when the document
//   is saved or closed by choice. It belongs to the process that writes it:
//   a lock (FileLock) on ".<name>.lock" beside it is held while its
//   document lives, and another Lumora running at the same time neither
//   lists nor adopts it.
// - Saves go through writeFileSafely (atomic, links, owner and attributes
//   kept, every step checked) and refuse a file the user may not write.
// - Before writing over its file, the document compares the file with what
//   it last read or wrote (FileFingerprint, and the bytes when only the
//   times changed), in the turn at the file (FileWriteTurn) that the write
//   then takes place in; a file changed by another program (another Lumora
//   whose save ended while this one waited included) is never silently
//   overwritten (see ExternalChangeChoice). The wait for the turn never
//   holds up the window (DocumentSaver::waitForTurn).
// - While open, the file is watched (FileChangeWatcher): a change by
//   another program reloads an unedited document quietly and asks at once
//   about an edited one; a rename is followed; a deletion leaves the text
//   and marks the document edited. A deleted file is not written again by
//   autosave (the text goes to a recovery file instead); Save asks first
//   (DeletedFileChoice). A file that can no longer be read (its permissions
//   changed) is never written over; one whose folder can no longer be read
//   is not taken for deleted: saving says so, with Save As as the way out.
// - The folder of the file is known by its device and inode from opening
//   and saving on: when the path names another folder since (its disk was
//   unmounted and the bare mount point is left, or the folder was replaced
//   by one of the same name), nothing is written there, autosave included;
//   the save fails with Save As as the way out, and autosave keeps the text
//   in a recovery file. Save As to that very path writes there, as chosen.
//   When the folder is back (its disk mounted again), saves write there
//   again, and an autosave that failed meanwhile is tried again at once.
// - A save of the file that was killed while writing in place is mended
//   before the file is opened or saved (cleanUpInterruptedWrite); when the
//   earlier contents had to be kept aside instead, the writer is told where.
// - The bytes of the file as it was opened are kept in versionsFolder(), so
//   that revertToOpenedVersion() can bring them back after autosaves wrote
//   over the file. Reverting is one undoable step where the subclass
//   supports it (replaceContents).
// - A save that cannot succeed always has a way out: another place (Save
//   As, Move To), closing without saving after a second confirmation, and
//   on quitting a recovery file (FailedSaveChoice).
// - A locked document is never written to its file.
//
// Subclasses turn bytes into their content and back (readFromData,
// dataOfType) and may react after reading and saving (didRead, didSave).
//
// DocumentBase is the face of a few parts, each with one concern: its
// record of the file (FileRecord), the saving road (DocumentSaver), the
// recovery file (RecoveryFile), the version opened (OpenedVersion) and
// the file's moves (DocumentRelocation).
class DocumentBase : public QObject {
    Q_OBJECT

public:
    explicit DocumentBase(QObject* parent = nullptr);
    ~DocumentBase() override;

    // The delay between the last change and the autosave, for every
    // document, in milliseconds; 0 turns autosaving off. 15 s by default.
    static int autosavingDelay();
    static void setAutosavingDelay(int milliseconds);

    // The largest file a document opens, in bytes. An open document takes
    // about 12 bytes of memory a byte of prose (its text, styling, mirror and
    // layout), and several hundred bytes more a line: 128 MB of prose is
    // about 1.6 GB, and a file of very short lines several times that.
    static constexpr qint64 defaultMaximumFileSize = qint64(128) * 1024 * 1024;
    static qint64 maximumFileSize();
    static void setMaximumFileSize(qint64 bytes);

    // $XDG_STATE_HOME/Lumora/recovery and .../versions.
    static QString recoveryFolder();
    static QString versionsFolder();
    // Opened versions older than this many days, and the oldest beyond
    // this many bytes in all, are removed (never those of open documents).
    static constexpr int versionsMaximumAgeDays = OpenedVersion::maximumAgeDays;
    static constexpr qint64 versionsMaximumBytes = OpenedVersion::maximumBytes;

    // The prompter every document asks (not owned); nullptr for none.
    static DocumentPrompter* prompter();
    static void setPrompter(DocumentPrompter* prompter);

    QString filePath() const { return m_filePath; }
    QString fileType() const { return m_fileType; }
    void setFileType(const QString& type) { m_fileType = type; }
    bool isUntitled() const { return m_filePath.isEmpty(); }

    // The file's name, or for an untitled document the name the document
    // controller gave it ("Untitled" when it gave none).
    QString displayName() const;
    void setUntitledName(const QString& name);

    UndoManager& undoManager() { return m_undo; }
    const UndoManager& undoManager() const { return m_undo; }
    bool isDocumentEdited() const { return !m_undo.isClean(); }

    bool isLocked() const { return m_locked; }
    void setLocked(bool locked);

    // Reads the file into the document; on success the document takes the
    // path and type and its undo stack starts empty. On failure the document
    // is unchanged.
    PlatformStatus readFromFile(const QString& path, const QString& type);
    // A new, empty document for a file that does not exist yet at path (in
    // a folder that does): it saves there. Fails when something is at path.
    PlatformStatus prepareNewFile(const QString& path, const QString& type);
    // An untitled, edited document holding the text of a recovery file left
    // by an earlier run; the file goes once the document is saved or closed
    // by choice. Fails when a running process holds the file.
    PlatformStatus recoverFrom(const QString& recoveryPath, const QString& type);
    // The recovery files left in recoveryFolder() by processes that have
    // ended, oldest first; those of running processes (this one included)
    // are not listed.
    static QStringList leftoverRecoveryFiles();
    // For the start of the application: removes what saves killed part way
    // left in Lumora's own folders (backups, opened versions, recovery
    // files), except what a running Lumora is writing now.
    static void removeAbandonedFiles();
    // The recovery file holding this document's text, if any.
    QString recoveryFilePath() const { return m_recovery.path(); }
    // Where this document's recovery file is or will be written (a name of
    // its own in recoveryFolder(), locked for this document), to tell the
    // writer before it is.
    QString reserveRecoveryFile();

    // Saves in place; an untitled document first asks for a location, one
    // whose file another program deleted asks whether to write it again
    // (DeletedFileChoice). A locked document fails with
    // PlatformError::Code::locked.
    PlatformStatus save();
    // The Save command: save(), and when that fails the writer is offered
    // another place (FailedSaveContext::saving).
    PlatformStatus saveDocument();
    // Saves to path, which becomes the document's file (and unlocks it).
    PlatformStatus saveAs(const QString& path, const QString& type = {});
    // What the timer runs: saves in place when the document is edited,
    // unlocked, open and has a file (and keeps its text in a recovery file
    // when that fails); an untitled document, and one whose file another
    // program deleted, writes its recovery file.
    PlatformStatus autosave();
    bool isAutosavePending() const { return m_autosaveTimer.isActive(); }

    // Reads the file again, as one undoable step where the subclass allows.
    PlatformStatus revertToSaved();
    // Puts back the text the file held when the document was opened, as one
    // undoable step where the subclass allows; the document is then edited
    // unless the file holds that text.
    PlatformStatus revertToOpenedVersion();
    // Whether there is an opened version to go back to that differs from
    // what the file now holds (an autosave or a save wrote over it, or the
    // file is gone).
    bool canRevertToOpenedVersion() const;
    QString openedVersionPath() const { return m_openedVersion.path(); }

    // Moves the document's file to path (Move To…, Rename…), replacing what
    // is there only when replace is set; its edits follow. A document whose
    // file is gone (its folder was removed) is written there instead; an
    // untitled one is saved there.
    PlatformStatus moveTo(const QString& path, bool replace = false);
    // Rename… and Move To…: ask the prompter, then moveTo (an untitled
    // document is saved where the save panel says). A cancelled question
    // gives a cancellation.
    PlatformStatus rename();
    PlatformStatus move();
    // Locks the document (saving its edits first) or unlocks it.
    PlatformStatus toggleLocked();

    // True when the file on disk is not the one the document last read or
    // wrote. A file that has gone away counts as unchanged (saving writes it
    // anew); a file whose times changed but whose bytes did not is no change.
    bool fileChangedOnDisk();
    // The file was deleted (or moved where it cannot be followed) while
    // the document was open.
    bool isFileMissing() const { return m_fileRecord.missing; }
    // Looks at the file now, as the watcher does after a change on disk:
    // reloads, asks, follows a rename (to movedTo, when the watcher saw one)
    // or marks the document edited when the file is gone.
    void fileDidChangeOnDisk(const QString& movedTo = {});

    // Closes the document unless the user cancels: an edited document with a
    // file saves in place first; an untitled or locked one asks whether to
    // save. When the save fails, the writer may save elsewhere or close
    // without saving. False when it stays open.
    bool close();
    // Closing as the application quits: never stuck on a file that cannot be
    // written. With mayAsk, the writer is asked once (save, or where to);
    // what is still unsaved then is kept in a recovery file. Without it
    // (nobody to ask), the document is saved in place where that needs no
    // question, and its text is kept in a recovery file otherwise; the
    // document then stays as it is for the program to exit. False when the
    // writer cancelled, or the text could not be kept anywhere.
    bool closeForTermination(bool mayAsk);
    bool isClosed() const { return m_closed; }

    // Quitting asks every question before anything closes, so that a Cancel
    // anywhere leaves every window as it was. reviewForTermination() asks
    // what closing as the application quits needs (saving in place, or
    // where the writer says; a document that cannot be saved asks once and
    // keeps its text in a recovery file) and tells how the document will
    // close, but closes nothing. closeAfterReview() then closes it that
    // way; a document edited again meanwhile (its file changed on disk
    // while a question was open) is saved in place where that needs no
    // question, else its text goes to a recovery file; one whose text can
    // be kept nowhere stays open (false).
    enum class TerminationReview { close, discard, keepRecovery, cancel };
    TerminationReview reviewForTermination();
    bool closeAfterReview(TerminationReview review);

    // The program moved or renamed the document's file (a library
    // operation): the document takes the new path, and keeps its record of
    // the file when the move left the file as it was. Documents also follow
    // the announcements of FileRelocations by themselves: they save pending
    // edits before their file moves, take the new path after, and close
    // after their file went to the Trash (edits saved there first).
    void fileWasMoved(const QString& newPath);
    // A window that goes on showing the document when its file goes to the
    // Trash (nothing else to show in its place): the document follows its
    // file there and stays open, so that nothing is written at the old path.
    void setStaysOpenWhenTrashed(bool stays) { m_staysOpenWhenTrashed = stays; }

signals:
    void editedChanged(bool edited);
    void filePathChanged(const QString& path);
    void displayNameChanged();
    void lockedChanged(bool locked);
    // After each write of the document's file, autosaves included.
    void saved();
    // After the file was read again (revert, or the other version chosen).
    void reverted();
    // A version was copied aside instead of being lost.
    void versionSavedAside(const QString& path);
    // The document's text was kept in a recovery file at path (quitting
    // with a document that could not be saved).
    void keptInRecoveryFile(const QString& path);
    void closed();

protected:
    // The document's content from the bytes of the file at path (named in
    // error messages); on failure the content must stay as it was.
    virtual PlatformStatus readFromData(const QByteArray& data, const QString& type, const QString& path) = 0;
    // The bytes of the content for a file of that type.
    virtual PlatformResult<QByteArray> dataOfType(const QString& type) = 0;
    // Replaces the content with the bytes, as reverting and reloading do:
    // by default readFromData and a fresh undo stack; a subclass that can
    // makes it one undoable step instead.
    virtual PlatformStatus replaceContents(const QByteArray& data, const QString& type, const QString& path);
    virtual void didRead() {}
    virtual void didSave() {}

    // The questions; by default the installed prompter's answers.
    virtual SaveChoice askToSaveChanges();
    virtual std::optional<QString> chooseSaveLocation();
    virtual ExternalChangeChoice askAboutExternalChange();
    virtual FailedSaveChoice askAfterFailedSave(const PlatformError& error, FailedSaveContext context);
    virtual bool confirmCloseWithoutSaving();
    virtual std::optional<QString> chooseNewName();
    virtual std::optional<QString> chooseMoveLocation();
    virtual DeletedFileChoice askAboutDeletedFile();
    virtual void presentError(const PlatformError& error);

private:
    friend class DocumentSaver;
    friend class DocumentRelocation;

    bool fileWasDeleted();
    void tellAboutInterruptedWrite(const QString& path, const QString& keptAt);
    PlatformResult<QByteArray> readFileBytes(const QString& path) const;
    PlatformStatus replaceWithFile(const QByteArray& bytes, bool markClean);
    void scheduleAutosave();
    void autosaveTimerFired();
    PlatformStatus writeRecoveryFile();
    bool keepTextInRecoveryFile();
    bool closeAsking(FailedSaveContext context);
    TerminationReview reviewClosing(FailedSaveContext context);
    void finishClosing(bool keepRecoveryFile);
    void takeFile(const QString& path, const FileFingerprint& fingerprint, quint64 digest);
    void setFilePath(const QString& path);
    void watchFile();
    void unwatchFile();

    UndoManager m_undo;
    QString m_filePath;
    QString m_fileType;
    QString m_untitledName;
    FileRecord m_fileRecord;
    QString m_watchedPath;
    RecoveryFile m_recovery;
    OpenedVersion m_openedVersion;
    QTimer m_autosaveTimer;
    std::unique_ptr<DocumentSaver> m_saver;
    std::unique_ptr<DocumentRelocation> m_relocation;
    bool m_locked = false;
    bool m_closed = false;
    bool m_staysOpenWhenTrashed = false;
    bool m_autosaveErrorShown = false;
    // The last autosave could not write the file (its disk away, say): it
    // is tried again as soon as the file's folder is back.
    bool m_autosaveFailed = false;
    bool m_handlingChange = false;
};

} // namespace lumora
