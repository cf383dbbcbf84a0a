#include "platform/application/DocumentSaver.h"

#include "platform/application/DocumentBase.h"
#include "platform/application/DocumentFiles.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <utility>

namespace lumora {

using documentFiles::writeError;

DocumentSaver::DocumentSaver(DocumentBase& document) : m_document(document) {}

PlatformError DocumentSaver::lockedError() const
{
    return PlatformError(PlatformError::Code::locked,
                         platformText("document.error.locked", "The document “%1” is locked.")
                             .arg(m_document.displayName()),
                         platformText("document.error.locked.suggestion",
                                      "Its file is never changed. Use Save As to keep your changes in another file."),
                         m_document.m_filePath);
}

PlatformStatus DocumentSaver::save()
{
    DocumentBase& d = m_document;
    if (d.isUntitled()) return saveToChosenLocation();
    if (d.m_locked) return lockedError();
    // A folder that is not the document's any more is a failed save, asked
    // about before anything else.
    if (auto problem = inPlaceProblem(InPlace::writeDeletedAgain)) return *problem;
    if (d.fileWasDeleted()) {
        switch (d.askAboutDeletedFile()) {
        case DeletedFileChoice::saveAgain: return saveInPlace(InPlace::writeDeletedAgain);
        case DeletedFileChoice::saveAs: return saveToChosenLocation();
        case DeletedFileChoice::cancel: return PlatformError::cancelled();
        }
    }
    return saveInPlace();
}

PlatformStatus DocumentSaver::saveDocument()
{
    const PlatformStatus status = save();
    if (status || status.error().isCancellation() || status.error().code == PlatformError::Code::locked)
        return status;
    if (resolveFailedSave(status.error(), FailedSaveContext::saving) == FailedSaveOutcome::savedElsewhere) return {};
    return status;
}

PlatformStatus DocumentSaver::saveToChosenLocation()
{
    const auto path = m_document.chooseSaveLocation();
    if (!path) return PlatformError::cancelled();
    return saveAs(*path, {});
}

PlatformStatus DocumentSaver::saveAs(const QString& path, const QString& type)
{
    DocumentBase& d = m_document;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == d.m_filePath) {
        if (d.m_locked) return lockedError();
        // Chosen in the save panel: written there, whatever folder is there now.
        return saveInPlace(InPlace::asChosen);
    }
    const QString newType = type.isEmpty() ? d.m_fileType : type;
    if (auto status = writeFile(absolute, newType); !status) return status;
    d.m_fileType = newType;
    d.m_undo.setClean();
    d.setLocked(false);
    d.setFilePath(absolute);
    d.m_recovery.remove();
    d.didSave();
    emit d.saved();
    return {};
}

PlatformStatus DocumentSaver::autosave()
{
    DocumentBase& d = m_document;
    if (!d.isDocumentEdited() || d.m_locked || d.m_closed) return {};
    if (d.isUntitled()) return d.writeRecoveryFile();
    // Deleted by another program: the document stays unsaved until the
    // writer saves it; its text is kept against a crash meanwhile.
    if (!inPlaceProblem(InPlace::writeDeletedAgain) && d.fileWasDeleted()) return d.writeRecoveryFile();
    const PlatformStatus status = saveInPlace();
    // A crash while the file cannot be written must not take the edits along.
    if (!status && !status.error().isCancellation()) {
        d.m_autosaveFailed = true;
        d.writeRecoveryFile();
    }
    return status;
}

PlatformStatus DocumentSaver::saveInPlace(InPlace mode)
{
    DocumentBase& d = m_document;
    if (m_waiting) return PlatformError::cancelled();
    if (auto problem = inPlaceProblem(mode)) return *problem;
    for (;;) {
        // The file is looked at in the turn, and written in the same turn:
        // another Lumora's save that ends while this one waits is seen.
        PlatformError busy;
        auto turn = waitForTurn(d.m_filePath, busy);
        if (!turn) return busy;
        if (auto problem = inPlaceProblem(mode)) return *problem;
        PlatformError unreadable;
        const FileRecord::DiskState disk =
            d.m_fileRecord.check(d.m_filePath, DocumentBase::maximumFileSize(), &unreadable);
        // Its permissions changed: what it holds cannot be looked at, so it is
        // neither copied aside nor written over.
        if (disk == FileRecord::DiskState::unreadable) return unreadable;
        if (disk == FileRecord::DiskState::unchanged) {
            if (auto status = writeFile(d.m_filePath, d.m_fileType, mode); !status) return status;
            break;
        }
        // Nobody waits on the writer's answer.
        turn.reset();
        switch (d.askAboutExternalChange()) {
        case ExternalChangeChoice::keepMine: {
            auto aside = copyTheirsAside();
            if (!aside) return aside.error();
            if (!aside->isEmpty()) emit d.versionSavedAside(*aside);
            // Looked at again in the turn: written over only while it is
            // still the version copied aside.
            continue;
        }
        case ExternalChangeChoice::reloadTheirs: {
            auto aside = writeMineAside();
            if (!aside) return aside.error();
            emit d.versionSavedAside(*aside);
            return d.revertToSaved();
        }
        }
    }
    d.m_undo.setClean();
    d.m_recovery.remove();
    d.didSave();
    emit d.saved();
    return {};
}

std::unique_ptr<FileWriteTurn> DocumentSaver::waitForTurn(const QString& path, PlatformError& error)
{
    if (auto turn = FileWriteTurn::tryTake(path)) return turn;
    std::unique_ptr<FileWriteTurn> turn;
    int fault = 0;
    bool over = false;
    QElapsedTimer elapsed;
    elapsed.start();
    // True once the wait is over, with the turn or without.
    const auto attempt = [&] {
        if ((turn = FileWriteTurn::tryTake(path))) return over = true;
        if (elapsed.elapsed() >= turnWaitMs) {
            fault = EBUSY;
            return over = true;
        }
        const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
        fault = detail::injectedFileFault("waitForTurn");
        return over = fault != 0;
    };
    QCoreApplication* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread()) {
        const bool waitingAlready = std::exchange(m_waiting, true);
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (attempt()) loop.quit();
        });
        poll.start(10);
        loop.exec();
        m_waiting = waitingAlready;
    }
    // Off the application's thread, or with its event loop ended (quitting).
    while (!over && !attempt()) QThread::msleep(10);
    if (turn) return turn;
    error = fault == EBUSY ? writeError(path, fileBusyError(path))
                           : writeError(path, PlatformError::Code::writeFailed, fileErrorReason(fault));
    return nullptr;
}

std::optional<PlatformError> DocumentSaver::inPlaceProblem(InPlace mode)
{
    DocumentBase& d = m_document;
    if (d.isUntitled() || mode == InPlace::asChosen) return std::nullopt;
    if (auto problem = d.m_fileRecord.folderProblem(d.m_filePath)) return problem;
    if (mode == InPlace::refuseDeleted && d.fileWasDeleted())
        return writeError(d.m_filePath, PlatformError::Code::fileNotFound,
                          platformText("document.error.write.deleted",
                                       "Its file was deleted by another program. Save it to write it again, or "
                                       "use Save As to save it somewhere else."));
    return std::nullopt;
}

PlatformStatus DocumentSaver::writeFile(const QString& path, const QString& type, InPlace mode)
{
    DocumentBase& d = m_document;
    if (m_waiting) return PlatformError::cancelled();
    if (path == d.m_filePath) {
        if (auto problem = inPlaceProblem(mode)) return *problem;
    }
    // Held already when saving in place; from here to the end of the write
    // no other Lumora writes the file.
    PlatformError busy;
    const auto turn = waitForTurn(path, busy);
    if (!turn) return busy;
    // The rename would replace a file the user made read-only; refuse as the
    // file itself would.
    if (NativePath::exists(path) && !NativePath::isWritable(path))
        return writeError(path, PlatformError::Code::permissionDenied,
                          platformText("document.error.write.readOnly",
                                       "The file is read-only. Use Save As to save your changes in another file."));
    auto data = d.dataOfType(type);
    if (!data) {
        PlatformError error = data.error();
        if (error.filePath.isEmpty()) error.filePath = path;
        return error;
    }
    // What a killed in-place save of this file left is mended first; when
    // the file had changed since, the writer hears where its earlier
    // contents went.
    if (const InterruptedWrite interrupted = cleanUpInterruptedWrite(path);
        interrupted.outcome == InterruptedWrite::Outcome::keptAside) {
        // Said once the turn is let go: nobody waits on the writer's reading.
        QMetaObject::invokeMethod(
            &d, [&d, path, kept = interrupted.keptAt] { d.tellAboutInterruptedWrite(path, kept); },
            Qt::QueuedConnection);
    }
    if (auto status = writeFileSafely(path, *data); !status) return writeError(path, status.error());
    if (path == d.m_filePath && !d.isUntitled()) d.m_fileRecord.rememberFolder(path);
    d.m_fileRecord.take(FileFingerprint::of(path), contentDigest(*data));
    d.m_autosaveTimer.stop();
    d.m_autosaveErrorShown = false;
    d.m_autosaveFailed = false;
    return {};
}

QString DocumentSaver::asidePath(const char* labelKey, const char* english) const
{
    const QFileInfo info(m_document.m_filePath);
    const QString label = platformText(labelKey, english)
                              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
    // Shortened to fit a file name, however long the document's own is.
    for (int n = 1;; ++n) {
        const QString name =
            labelledFileName(info.fileName(), n > 1 ? label + QLatin1Char(' ') + QString::number(n) : label);
        const QString candidate = info.dir().filePath(name);
        if (!NativePath::exists(candidate)) return candidate;
    }
}

PlatformResult<QString> DocumentSaver::copyTheirsAside()
{
    const QString& filePath = m_document.m_filePath;
    const QString aside = asidePath("document.aside.theirs", "changed elsewhere %1");
    const FileFingerprint seen = FileFingerprint::of(filePath);
    auto theirs = readFileSafely(filePath);
    if (theirs && writeFileSafely(aside, *theirs, {.createOnly = true})) {
        // Kept: this version may be written over now, and only this one.
        m_document.m_fileRecord.take(seen, contentDigest(*theirs));
        return aside;
    }
    // Gone meanwhile: there is no other version to keep.
    if (!NativePath::exists(filePath)) return QString();
    return writeError(filePath, PlatformError::Code::writeFailed,
                      platformText("document.error.aside.theirs",
                                   "The file was changed by another program, and its version couldn't be "
                                   "copied aside at “%1”, so nothing was overwritten.")
                          .arg(aside));
}

PlatformResult<QString> DocumentSaver::writeMineAside()
{
    DocumentBase& d = m_document;
    auto data = d.dataOfType(d.m_fileType);
    if (!data) return data.error();
    const QString aside = asidePath("document.aside.mine", "unsaved edits %1");
    if (writeFileSafely(aside, *data, {.createOnly = true})) return aside;
    return writeError(d.m_filePath, PlatformError::Code::writeFailed,
                      platformText("document.error.aside.mine",
                                   "Your edits couldn't be saved aside at “%1”, so the other version was not "
                                   "loaded.")
                          .arg(aside));
}

DocumentSaver::FailedSaveOutcome DocumentSaver::resolveFailedSave(const PlatformError& error, FailedSaveContext context)
{
    DocumentBase& d = m_document;
    switch (d.askAfterFailedSave(error, context)) {
    case FailedSaveChoice::saveAs: {
        const PlatformStatus status = saveToChosenLocation();
        if (status) return FailedSaveOutcome::savedElsewhere;
        if (!status.error().isCancellation()) d.presentError(status.error());
        break;
    }
    case FailedSaveChoice::closeWithoutSaving:
        if (context != FailedSaveContext::saving && d.confirmCloseWithoutSaving()) return FailedSaveOutcome::discarded;
        break;
    case FailedSaveChoice::keepRecoveryCopy:
    case FailedSaveChoice::dismiss: break;
    }
    // Quitting is never refused for a file that cannot be written.
    if (context == FailedSaveContext::terminating && d.keepTextInRecoveryFile())
        return FailedSaveOutcome::keptInRecovery;
    return FailedSaveOutcome::stays;
}

} // namespace lumora
