#include "platform/application/DocumentBase.h"

#include "platform/application/DocumentRelocation.h"
#include "platform/application/DocumentSaver.h"
#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileLock.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileRelocations.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <cstdio>

namespace lumora {

using documentFiles::readError;

namespace {

int g_autosavingDelay = 15000;
qint64 g_maximumFileSize = DocumentBase::defaultMaximumFileSize;
DocumentPrompter* g_prompter = nullptr;

} // namespace

DocumentBase::DocumentBase(QObject* parent) : QObject(parent)
{
    m_autosaveTimer.setSingleShot(true);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &DocumentBase::autosaveTimerFired);
    connect(&m_undo, &UndoManager::changeRecorded, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::didUndo, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::didRedo, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::cleanChanged, this, [this](bool clean) { emit editedChanged(!clean); });
    connect(&FileChangeWatcher::shared(), &FileChangeWatcher::fileChanged, this,
            [this](const QString& path, const QString& movedTo) {
                if (!m_watchedPath.isEmpty() && path == m_watchedPath) fileDidChangeOnDisk(movedTo);
            });
    m_saver = std::make_unique<DocumentSaver>(*this);
    m_relocation = std::make_unique<DocumentRelocation>(*this);
    m_relocation->follow();
}

DocumentBase::~DocumentBase()
{
    unwatchFile();
    m_openedVersion.release();
}

int DocumentBase::autosavingDelay()
{
    return g_autosavingDelay;
}

void DocumentBase::setAutosavingDelay(int milliseconds)
{
    g_autosavingDelay = std::max(0, milliseconds);
}

qint64 DocumentBase::maximumFileSize() { return g_maximumFileSize; }

void DocumentBase::setMaximumFileSize(qint64 bytes) { g_maximumFileSize = std::max<qint64>(0, bytes); }

QString DocumentBase::recoveryFolder() { return RecoveryFile::folder(); }

QString DocumentBase::versionsFolder() { return OpenedVersion::folder(); }

DocumentPrompter* DocumentBase::prompter()
{
    return g_prompter;
}

void DocumentBase::setPrompter(DocumentPrompter* prompter)
{
    g_prompter = prompter;
}

QString DocumentBase::displayName() const
{
    if (!isUntitled()) return NativePath::shownNameOf(m_filePath);
    return m_untitledName.isEmpty() ? platformText("document.untitled", "Untitled") : m_untitledName;
}

void DocumentBase::setUntitledName(const QString& name)
{
    if (name == m_untitledName) return;
    m_untitledName = name;
    if (isUntitled()) emit displayNameChanged();
}

void DocumentBase::setLocked(bool locked)
{
    if (locked == m_locked) return;
    m_locked = locked;
    if (locked) m_autosaveTimer.stop();
    emit lockedChanged(locked);
}

PlatformStatus DocumentBase::toggleLocked()
{
    if (m_locked) {
        setLocked(false);
        return {};
    }
    // What was typed before locking is saved first; a locked file is never written.
    if (isDocumentEdited() && !isUntitled()) {
        if (auto status = m_saver->saveInPlace(); !status) return status;
    }
    setLocked(true);
    return {};
}

// Reading ---------------------------------------------------------------

PlatformResult<QByteArray> DocumentBase::readFileBytes(const QString& path) const
{
    auto bytes = readFileSafely(path, {.maximumSize = g_maximumFileSize});
    if (!bytes) return readError(path, bytes.error());
    return bytes;
}

void DocumentBase::setFilePath(const QString& path)
{
    if (!path.isEmpty()) m_fileRecord.rememberFolder(path);
    if (path == m_filePath) return;
    m_filePath = path;
    watchFile();
    emit filePathChanged(m_filePath);
    emit displayNameChanged();
}

void DocumentBase::takeFile(const QString& path, const FileFingerprint& fingerprint, quint64 digest)
{
    m_fileRecord.take(fingerprint, digest);
    setFilePath(path);
}

PlatformStatus DocumentBase::readFromFile(const QString& path, const QString& type)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // A save of this file that was killed part way is mended first.
    const InterruptedWrite interrupted = cleanUpInterruptedWrite(absolute);
    // Taken before reading: a change made while reading shows up as a change
    // at the next save, never as nothing.
    const FileFingerprint fingerprint = FileFingerprint::of(absolute);
    auto bytes = readFileBytes(absolute);
    if (!bytes) return bytes.error();
    if (auto status = readFromData(*bytes, type, absolute); !status) {
        PlatformError error = status.error();
        if (error.filePath.isEmpty()) error.filePath = absolute;
        return error;
    }
    m_fileType = type;
    m_autosaveTimer.stop();
    m_undo.removeAll();
    takeFile(absolute, fingerprint, contentDigest(*bytes));
    m_openedVersion.store(*bytes, NativePath::shown(QFileInfo(m_filePath).fileName()));
    didRead();
    if (interrupted.outcome == InterruptedWrite::Outcome::keptAside) {
        // Said once the document is in its window.
        QMetaObject::invokeMethod(
            this, [this, absolute, kept = interrupted.keptAt] { tellAboutInterruptedWrite(absolute, kept); },
            Qt::QueuedConnection);
    }
    return {};
}

PlatformStatus DocumentBase::prepareNewFile(const QString& path, const QString& type)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(absolute);
    if (NativePath::exists(absolute))
        return readError(absolute, PlatformError::Code::fileExists,
                         platformText("file.error.exists", "A file with that name already exists."));
    if (!NativePath::isFolder(info.absolutePath()))
        return readError(absolute, PlatformError::Code::fileNotFound,
                         platformText("document.error.read.noFolder", "Its folder “%1” doesn't exist.")
                             .arg(NativePath::shown(info.dir().path())));
    m_fileType = type;
    m_undo.removeAll();
    // Nothing read: a file that appears there meanwhile is another program's.
    m_fileRecord.forget();
    setFilePath(absolute);
    return {};
}

void DocumentBase::tellAboutInterruptedWrite(const QString& path, const QString& keptAt)
{
    presentError(PlatformError(
        PlatformError::Code::generic,
        platformText("document.interruptedSave", "An earlier save of “%1” was interrupted.")
            .arg(NativePath::shownNameOf(path)),
        platformText("document.interruptedSave.kept",
                     "The file was changed after that save, so it was left as it is. The contents it had "
                     "before that save are kept at “%1”.")
            .arg(QDir::toNativeSeparators(keptAt)),
        path));
}

PlatformStatus DocumentBase::recoverFrom(const QString& recoveryPath, const QString& type)
{
    const QString absolute = QFileInfo(recoveryPath).absoluteFilePath();
    // Another Lumora that runs now keeps this file up to date: its text is
    // that process's, never taken (nor deleted) here.
    auto lock = RecoveryFile::claim(absolute);
    if (!lock)
        return readError(absolute, PlatformError::Code::permissionDenied,
                         platformText("document.error.recovery.inUse",
                                      "It belongs to another Lumora that is running now, which keeps it up to date."));
    auto bytes = readFileBytes(absolute);
    if (!bytes) return bytes.error();
    if (auto status = readFromData(*bytes, type, absolute); !status) return status;
    m_fileType = type;
    m_undo.removeAll();
    // Its text was never saved anywhere the writer chose.
    m_undo.forgetCleanState();
    m_recovery.adopt(absolute, std::move(lock));
    didRead();
    return {};
}

QStringList DocumentBase::leftoverRecoveryFiles() { return RecoveryFile::leftovers(); }

void DocumentBase::removeAbandonedFiles()
{
    removeAbandonedBackups();
    removeAbandonedTemporaries(versionsFolder());
    removeAbandonedTemporaries(recoveryFolder());
}

PlatformStatus DocumentBase::replaceContents(const QByteArray& data, const QString& type, const QString& path)
{
    if (auto status = readFromData(data, type, path); !status) return status;
    m_undo.removeAll();
    return {};
}

// Puts the bytes of the document's file (read just now) into the document.
PlatformStatus DocumentBase::replaceWithFile(const QByteArray& bytes, bool markClean)
{
    if (auto status = replaceContents(bytes, m_fileType, m_filePath); !status) return status;
    if (markClean) m_undo.setClean();
    m_autosaveTimer.stop();
    didRead();
    emit reverted();
    return {};
}

PlatformStatus DocumentBase::revertToSaved()
{
    if (isUntitled())
        return PlatformError(PlatformError::Code::noFile,
                             platformText("document.error.revert.untitled",
                                          "The document can't be reverted because it has never been saved."));
    const FileFingerprint fingerprint = FileFingerprint::of(m_filePath);
    auto bytes = readFileBytes(m_filePath);
    if (!bytes) return bytes.error();
    if (auto status = replaceWithFile(*bytes, true); !status) return status;
    m_fileRecord.take(fingerprint, contentDigest(*bytes));
    return {};
}

PlatformStatus DocumentBase::revertToOpenedVersion()
{
    if (m_openedVersion.path().isEmpty())
        return PlatformError(PlatformError::Code::noFile,
                             platformText("document.error.revert.noVersion",
                                          "The version of “%1” you opened is no longer kept.")
                                 .arg(displayName()));
    auto bytes = m_openedVersion.read(g_maximumFileSize);
    if (!bytes) {
        PlatformError error = bytes.error();
        error.errorDescription = platformText("document.error.revert.version",
                                              "The version of “%1” you opened couldn't be read.")
                                     .arg(displayName());
        return error;
    }
    const bool sameAsFile =
        m_fileRecord.digest && *m_fileRecord.digest == contentDigest(*bytes) && !m_fileRecord.missing;
    if (auto status = replaceContents(*bytes, m_fileType, m_filePath); !status) return status;
    if (sameAsFile) {
        m_undo.setClean();
        m_autosaveTimer.stop();
    } else if (m_undo.isClean()) {
        // Reverting without an undo step still leaves the file to be written.
        m_undo.forgetCleanState();
    }
    didRead();
    emit reverted();
    return {};
}

bool DocumentBase::canRevertToOpenedVersion() const
{
    if (m_openedVersion.path().isEmpty() || isUntitled()) return false;
    // While the file still holds the opened text, reverting to it is
    // reverting to saved.
    return m_fileRecord.missing || !m_fileRecord.digest || *m_fileRecord.digest != m_openedVersion.digest();
}

// Saving, and moving the file ----------------------------------------------

PlatformStatus DocumentBase::save() { return m_saver->save(); }

PlatformStatus DocumentBase::saveDocument() { return m_saver->saveDocument(); }

PlatformStatus DocumentBase::saveAs(const QString& path, const QString& type) { return m_saver->saveAs(path, type); }

PlatformStatus DocumentBase::autosave() { return m_saver->autosave(); }

bool DocumentBase::fileChangedOnDisk()
{
    return m_fileRecord.check(m_filePath, g_maximumFileSize) != FileRecord::DiskState::unchanged;
}

bool DocumentBase::fileWasDeleted()
{
    if (isUntitled() || !m_fileRecord.isGoneFromItsFolder(m_filePath)) return false;
    // As the watcher would have said, had it been asked already.
    if (!m_fileRecord.missing) {
        m_fileRecord.missing = true;
        m_undo.forgetCleanState();
    }
    return true;
}

PlatformStatus DocumentBase::moveTo(const QString& path, bool replace) { return m_relocation->moveTo(path, replace); }

PlatformStatus DocumentBase::rename() { return m_relocation->rename(); }

PlatformStatus DocumentBase::move() { return m_relocation->move(); }

void DocumentBase::fileWasMoved(const QString& newPath) { m_relocation->fileWasMoved(newPath); }

// Changes made by other programs -------------------------------------------

void DocumentBase::watchFile()
{
    const QString path = m_closed ? QString() : m_filePath;
    if (path == m_watchedPath) return;
    unwatchFile();
    m_watchedPath = path;
    if (!path.isEmpty()) FileChangeWatcher::shared().watch(path);
}

void DocumentBase::unwatchFile()
{
    if (m_watchedPath.isEmpty()) return;
    FileChangeWatcher::shared().unwatch(m_watchedPath);
    m_watchedPath.clear();
}

void DocumentBase::fileDidChangeOnDisk(const QString& movedTo)
{
    if (isUntitled() || m_closed || m_handlingChange) return;
    m_handlingChange = true;
    const auto done = qScopeGuard([this] { m_handlingChange = false; });

    const FileFingerprint now = FileFingerprint::of(m_filePath);
    if (!now.exists) {
        // Renamed by another program: the document follows its file.
        if (!movedTo.isEmpty() && m_fileRecord.fingerprint.exists
            && FileFingerprint::of(movedTo).isSameFile(m_fileRecord.fingerprint)) {
            m_fileRecord.fingerprint = FileFingerprint::of(movedTo);
            setFilePath(QFileInfo(movedTo).absoluteFilePath());
            return;
        }
        // Moved by the program itself: the end of the move says where to.
        if (FileRelocations::shared().isMoving(m_filePath)) return;
        // Out of sight only: its folder can no longer be read. Saving says so.
        if (FileRecord::folderIsUnreadable(m_filePath)) return;
        // Deleted: the text stays, and is not saved anywhere any more.
        if (!m_fileRecord.missing && m_fileRecord.fingerprint.exists) {
            m_fileRecord.missing = true;
            m_undo.forgetCleanState();
        }
        return;
    }
    if (!fileChangedOnDisk()) {
        // As it was, where it can be written again (its disk is back): an
        // autosave that failed meanwhile is tried again now, not a whole
        // autosave delay later.
        if ((m_autosaveErrorShown || m_autosaveFailed) && isDocumentEdited() && !m_locked && g_autosavingDelay > 0)
            m_autosaveTimer.start(0);
        return;
    }
    if (!isDocumentEdited() || m_locked) {
        // Nothing of the writer's would be lost: read the new text quietly.
        const FileFingerprint fingerprint = FileFingerprint::of(m_filePath);
        auto bytes = readFileBytes(m_filePath);
        if (!bytes) return; // half written, or gone again: the next event tells
        if (replaceWithFile(*bytes, true)) m_fileRecord.take(fingerprint, contentDigest(*bytes));
        return;
    }
    // Edited: the writer chooses at once, as before a save.
    if (const PlatformStatus status = m_saver->saveInPlace(); !status && !status.error().isCancellation())
        presentError(status.error());
}

// Recovery files -----------------------------------------------------------

PlatformStatus DocumentBase::writeRecoveryFile()
{
    auto data = dataOfType(m_fileType);
    if (!data) return data.error();
    return m_recovery.write(*data, displayName(), isUntitled());
}

QString DocumentBase::reserveRecoveryFile() { return m_recovery.reserve(displayName(), isUntitled()); }

bool DocumentBase::keepTextInRecoveryFile()
{
    const PlatformStatus status = writeRecoveryFile();
    if (!status) {
        std::fprintf(stderr, "Lumora: the text of “%s” couldn't be kept in a recovery file: %s\n",
                     qPrintable(displayName()), qPrintable(status.error().message()));
        return false;
    }
    if (m_recovery.path().isEmpty()) return true; // nothing to keep
    std::fprintf(stderr, "Lumora: the text of “%s” was kept at %s\n", qPrintable(displayName()),
                 qPrintable(m_recovery.path()));
    emit keptInRecoveryFile(m_recovery.path());
    return true;
}

// Autosave --------------------------------------------------------------

void DocumentBase::scheduleAutosave()
{
    if (m_closed || g_autosavingDelay <= 0) return;
    m_autosaveTimer.start(g_autosavingDelay);
}

void DocumentBase::autosaveTimerFired()
{
    const PlatformStatus status = autosave();
    if (status || status.error().isCancellation()) return;
    // One report per failing stretch; the next change tries again.
    if (!m_autosaveErrorShown) {
        m_autosaveErrorShown = true;
        if (isUntitled()) presentError(status.error());
        else (void)m_saver->resolveFailedSave(status.error(), FailedSaveContext::saving);
    }
}

// Closing ---------------------------------------------------------------

bool DocumentBase::close()
{
    return closeAsking(FailedSaveContext::closing);
}

bool DocumentBase::closeForTermination(bool mayAsk)
{
    if (mayAsk || m_closed || !isDocumentEdited()) return closeAsking(FailedSaveContext::terminating);
    // Nobody to ask: the file when it can be written as it is, else a
    // recovery file. The document stays for the program to exit.
    if (!isUntitled() && !m_locked) {
        // Looked at in the turn the write then takes place in.
        PlatformError busy;
        const auto turn = m_saver->waitForTurn(m_filePath, busy);
        if (turn && !fileChangedOnDisk() && m_saver->writeFile(m_filePath, m_fileType)) {
            m_undo.setClean();
            m_recovery.remove();
            return true;
        }
    }
    return keepTextInRecoveryFile();
}

bool DocumentBase::closeAsking(FailedSaveContext context)
{
    const TerminationReview review = reviewClosing(context);
    if (review == TerminationReview::cancel) return false;
    if (!m_closed) finishClosing(review == TerminationReview::keepRecovery);
    return true;
}

DocumentBase::TerminationReview DocumentBase::reviewClosing(FailedSaveContext context)
{
    if (m_closed) return TerminationReview::close;
    bool keepRecovery = false;
    // A save that failed: the way out, or the document stays.
    const auto resolved = [&](const PlatformStatus& status) {
        if (status) return true;
        if (status.error().isCancellation()) return false;
        const auto outcome = m_saver->resolveFailedSave(status.error(), context);
        keepRecovery = outcome == DocumentSaver::FailedSaveOutcome::keptInRecovery;
        return outcome != DocumentSaver::FailedSaveOutcome::stays;
    };
    if (isDocumentEdited()) {
        if (!isUntitled() && !m_locked && !m_fileRecord.missing && !fileWasDeleted()) {
            if (!resolved(m_saver->saveInPlace())) return TerminationReview::cancel;
        } else {
            switch (askToSaveChanges()) {
            case SaveChoice::cancel:
                return TerminationReview::cancel;
            case SaveChoice::dontSave:
                return TerminationReview::discard;
            case SaveChoice::save:
                if (!resolved((!isUntitled() && !m_locked)
                                  ? m_saver->saveInPlace(DocumentSaver::InPlace::writeDeletedAgain)
                                  : m_saver->saveToChosenLocation()))
                    return TerminationReview::cancel;
                break;
            }
        }
    }
    return keepRecovery ? TerminationReview::keepRecovery : TerminationReview::close;
}

DocumentBase::TerminationReview DocumentBase::reviewForTermination()
{
    return reviewClosing(FailedSaveContext::terminating);
}

bool DocumentBase::closeAfterReview(TerminationReview review)
{
    if (m_closed) return true;
    if (review == TerminationReview::cancel) return false;
    bool keepRecovery = review == TerminationReview::keepRecovery;
    // Reviewed as saved, and edited since: nothing more is asked, and
    // nothing is lost; a text that can be kept nowhere keeps its document
    // open. (The writer let go of a discarded one's edits; a kept one's
    // text is in its recovery file.)
    if (review == TerminationReview::close && isDocumentEdited()) {
        if (!closeForTermination(false)) return false;
        keepRecovery = isDocumentEdited();
    }
    finishClosing(keepRecovery);
    return true;
}

void DocumentBase::finishClosing(bool keepRecoveryFile)
{
    m_closed = true;
    m_autosaveTimer.stop();
    unwatchFile();
    if (!keepRecoveryFile) m_recovery.remove();
    m_openedVersion.release();
    emit closed();
}

// Questions -------------------------------------------------------------

SaveChoice DocumentBase::askToSaveChanges()
{
    return g_prompter ? g_prompter->askToSaveChanges(*this) : SaveChoice::cancel;
}

std::optional<QString> DocumentBase::chooseSaveLocation()
{
    return g_prompter ? g_prompter->chooseSaveLocation(*this) : std::nullopt;
}

ExternalChangeChoice DocumentBase::askAboutExternalChange()
{
    return g_prompter ? g_prompter->askAboutExternalChange(*this) : ExternalChangeChoice::keepMine;
}

FailedSaveChoice DocumentBase::askAfterFailedSave(const PlatformError& error, FailedSaveContext context)
{
    if (g_prompter) return g_prompter->askAfterFailedSave(*this, error, context);
    qWarning().noquote() << error.message();
    return context == FailedSaveContext::terminating ? FailedSaveChoice::keepRecoveryCopy : FailedSaveChoice::dismiss;
}

bool DocumentBase::confirmCloseWithoutSaving()
{
    return g_prompter && g_prompter->confirmCloseWithoutSaving(*this);
}

std::optional<QString> DocumentBase::chooseNewName()
{
    return g_prompter ? g_prompter->chooseNewName(*this) : std::nullopt;
}

std::optional<QString> DocumentBase::chooseMoveLocation()
{
    return g_prompter ? g_prompter->chooseMoveLocation(*this) : std::nullopt;
}

DeletedFileChoice DocumentBase::askAboutDeletedFile()
{
    return g_prompter ? g_prompter->askAboutDeletedFile(*this) : DeletedFileChoice::saveAgain;
}

void DocumentBase::presentError(const PlatformError& error)
{
    if (g_prompter) {
        g_prompter->presentError(*this, error);
        return;
    }
    qWarning().noquote() << error.message();
}

} // namespace lumora
