#pragma once

#include "platform/files/FileFingerprint.h"
#include "platform/foundation/PlatformError.h"
#include "platform/text/UndoManager.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace lumora {

class DocumentBase;

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

// The questions a document asks its user. The shell installs one with
// dialogs; tests install a scripted one. Without one, documents answer for
// themselves with what loses nothing: cancel closing, no save location,
// keep mine (the other version is copied aside), errors to the log.
class DocumentPrompter {
public:
    virtual ~DocumentPrompter() = default;
    virtual SaveChoice askToSaveChanges(DocumentBase& document) = 0;
    // A path for a document that has no file yet (the save panel); none
    // when the user cancels.
    virtual std::optional<QString> chooseSaveLocation(DocumentBase& document) = 0;
    virtual ExternalChangeChoice askAboutExternalChange(DocumentBase& document) = 0;
    virtual void presentError(DocumentBase& document, const PlatformError& error) = 0;
};

// The base of a document: one file, its type, its undo stack, and the
// rules of opening, saving and closing it.
//
// - Edited state: the undo stack's clean state (a save marks it clean).
// - Autosave in place: each recorded change, undo or redo restarts a timer
//   of autosavingDelay(); when it fires, an edited, unlocked document with a
//   file saves itself. Untitled documents are never autosaved.
// - Saves are atomic (a temporary file renamed over the old one, synced
//   first), keep the file's permissions, follow a symbolic link to its
//   target, and refuse a file the user may not write.
// - Before writing over its file, the document compares the file's device,
//   inode, size and modification time with what it last read or wrote; a
//   file changed by another program is never silently overwritten (see
//   ExternalChangeChoice).
// - A locked document is never written to its file.
//
// Subclasses turn bytes into their content and back (readFromData,
// dataOfType) and may react after reading and saving (didRead, didSave).
class DocumentBase : public QObject {
    Q_OBJECT

public:
    explicit DocumentBase(QObject* parent = nullptr);
    ~DocumentBase() override;

    // The delay between the last change and the autosave, for every
    // document, in milliseconds; 0 turns autosaving off. 15 s by default.
    static int autosavingDelay();
    static void setAutosavingDelay(int milliseconds);

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

    // Saves in place; an untitled document first asks for a location. A
    // locked document fails with PlatformError::Code::locked.
    PlatformStatus save();
    // Saves to path, which becomes the document's file (and unlocks it).
    PlatformStatus saveAs(const QString& path, const QString& type = {});
    // What the timer runs: saves in place when the document is edited,
    // unlocked, open and has a file; otherwise does nothing.
    PlatformStatus autosave();
    bool isAutosavePending() const { return m_autosaveTimer.isActive(); }

    // Reads the file again, dropping the edits and the undo stack.
    PlatformStatus revertToSaved();

    // True when the file on disk is not the one the document last read or
    // wrote. A file that has gone away counts as unchanged (saving writes it
    // anew).
    bool fileChangedOnDisk() const;

    // Closes the document unless the user cancels: an edited document with a
    // file saves in place first; an untitled or locked one asks whether to
    // save. False when it stays open (cancelled, or the save failed; the
    // failure is presented).
    bool close();
    bool isClosed() const { return m_closed; }

    // The program moved or renamed the document's file (a library
    // operation): the document takes the new path, and keeps its record of
    // the file when the move left the file as it was. Documents also follow
    // the announcements of FileRelocations by themselves: they save pending
    // edits before their file moves, take the new path after, and close
    // after their file went to the Trash (edits saved there first).
    void fileWasMoved(const QString& newPath);

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
    void closed();

protected:
    // The document's content from the bytes of the file at path (named in
    // error messages); on failure the content must stay as it was.
    virtual PlatformStatus readFromData(const QByteArray& data, const QString& type, const QString& path) = 0;
    // The bytes of the content for a file of that type.
    virtual PlatformResult<QByteArray> dataOfType(const QString& type) = 0;
    virtual void didRead() {}
    virtual void didSave() {}

    // The questions; by default the installed prompter's answers.
    virtual SaveChoice askToSaveChanges();
    virtual std::optional<QString> chooseSaveLocation();
    virtual ExternalChangeChoice askAboutExternalChange();
    virtual void presentError(const PlatformError& error);

private:
    void followFileRelocations();
    PlatformStatus saveInPlace();
    PlatformStatus writeFile(const QString& path, const QString& type);
    PlatformResult<QByteArray> readFileBytes(const QString& path) const;
    PlatformResult<QString> copyTheirsAside();
    PlatformResult<QString> writeMineAside();
    QString asidePath(const char* labelKey, const char* english) const;
    void scheduleAutosave();
    void autosaveTimerFired();
    PlatformError lockedError() const;

    UndoManager m_undo;
    QString m_filePath;
    QString m_fileType;
    QString m_untitledName;
    FileFingerprint m_fingerprint; // of the file as last read or written
    QTimer m_autosaveTimer;
    bool m_locked = false;
    bool m_closed = false;
    bool m_autosaveErrorShown = false;
};

} // namespace lumora
