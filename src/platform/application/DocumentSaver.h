#pragma once

#include "platform/foundation/PlatformError.h"

#include <QString>

#include <memory>
#include <optional>

namespace lumora {

class DocumentBase;
class FileWriteTurn;
enum class FailedSaveContext;

// The road every write of a document's file takes: Save (asking where an
// untitled document goes, and whether to write again a file another
// program deleted), Save As, autosave, and the way out of a save that
// fails. Before writing over its file the document compares the file with
// what it last read or wrote (FileRecord): a file another program changed
// is never silently overwritten, and either answer to the question keeps
// both versions (ExternalChangeChoice). Every write goes through
// writeFileSafely; a locked document is never written to its file, and
// neither is a folder that is no longer the file's own.
//
// A part of DocumentBase, which owns it and forwards to it.
class DocumentSaver {
public:
    // How a save in place treats a file that is gone and a folder that is
    // not the one the document knew: refuse both (autosave, and every save
    // nobody asked for), write a deleted file again (the writer said so), or
    // write at the path whatever is there now (Save As chose it).
    enum class InPlace { refuseDeleted, writeDeletedAgain, asChosen };
    // Where the way out of a failed save left the document: as it is, or
    // free to close (saved elsewhere, closed without saving, or, when
    // quitting, its text kept in a recovery file).
    enum class FailedSaveOutcome { stays, savedElsewhere, discarded, keptInRecovery };

    explicit DocumentSaver(DocumentBase& document);

    PlatformStatus save();
    PlatformStatus saveDocument();
    PlatformStatus saveAs(const QString& path, const QString& type);
    // Asks where, then saves there; a cancelled question gives a
    // cancellation.
    PlatformStatus saveToChosenLocation();
    PlatformStatus autosave();
    // Saves to the document's own file, after the check against the file
    // on disk (and the question, when another program changed it).
    PlatformStatus saveInPlace(InPlace mode = InPlace::refuseDeleted);
    // Writes the document's bytes of that type to path, the last step of
    // every save, in the turn at the file (waited for as waitForTurn does);
    // writing to the document's own file checks its folder first.
    PlatformStatus writeFile(const QString& path, const QString& type, InPlace mode = InPlace::refuseDeleted);
    // Offers the way out of a failed save.
    FailedSaveOutcome resolveFailedSave(const PlatformError& error, FailedSaveContext context);
    PlatformError lockedError() const;

    // How long a save waits for another Lumora's write of the same file.
    static constexpr int turnWaitMs = 10000;
    // The turn at the file at path (FileWriteTurn): at once when nobody
    // else writes the file, else once the other write has ended. The wait
    // never holds up the window: on the application's thread the events go
    // on meanwhile (the window repaints, what the writer types goes into the
    // text, and is in what is then written). None when the wait ran out
    // (error says so).
    std::unique_ptr<FileWriteTurn> waitForTurn(const QString& path, PlatformError& error);
    // A save is waiting for its turn: another save meanwhile (an autosave,
    // Save again) has nothing to add, as the waiting one writes the text as
    // it is once its turn comes.
    bool isWaitingForTurn() const { return m_waiting; }

private:
    std::optional<PlatformError> inPlaceProblem(InPlace mode);
    QString asidePath(const char* labelKey, const char* english) const;
    PlatformResult<QString> copyTheirsAside();
    PlatformResult<QString> writeMineAside();

    DocumentBase& m_document;
    bool m_waiting = false;
};

} // namespace lumora
