#include "platform/application/DocumentBase.h"

#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileLock.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Dispatch.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QScopeGuard>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

int g_autosavingDelay = 15000;
qint64 g_maximumFileSize = DocumentBase::defaultMaximumFileSize;
DocumentPrompter* g_prompter = nullptr;

QString nameOf(const QString& path)
{
    // Shown to the writer: a byte that is not UTF-8 reads as U+FFFD.
    return NativePath::shown(QFileInfo(path).fileName());
}

PlatformError readError(const QString& path, PlatformError::Code code, const QString& suggestion)
{
    return PlatformError(code,
                         platformText("document.error.read", "The file “%1” couldn't be opened.").arg(nameOf(path)),
                         suggestion, path);
}

// The reader's reason under the document's own description.
PlatformError readError(const QString& path, const PlatformError& failure)
{
    return readError(path, failure.code, failure.recoverySuggestion);
}

PlatformError writeError(const QString& path, PlatformError::Code code, const QString& suggestion)
{
    return PlatformError(code,
                         platformText("document.error.write", "The document “%1” couldn't be saved.").arg(nameOf(path)),
                         suggestion, path);
}

// The writer's own words for a failed write: what to do next depends on why.
PlatformError writeError(const QString& path, const PlatformError& failure)
{
    if (!NativePath::isFolder(QFileInfo(path).absolutePath()))
        return writeError(path, PlatformError::Code::writeFailed,
                          platformText("document.error.write.noFolder",
                                       "Its folder no longer exists. Use Save As to save it somewhere else."));
    if (failure.code == PlatformError::Code::permissionDenied)
        return writeError(path, PlatformError::Code::permissionDenied,
                          platformText("document.error.write.permission",
                                       "You don't have permission to save it in that folder. "
                                       "Use Save As to save it somewhere else."));
    return writeError(path, failure.code, failure.recoverySuggestion);
}

// Opened versions in use by open documents (path -> documents holding it),
// never pruned.
QHash<QString, int>& versionsInUse()
{
    static QHash<QString, int> inUse;
    return inUse;
}

// Removes opened versions that are old, then the oldest while they take too
// much room, leaving those in use alone.
void pruneVersions()
{
    const QString folder = DocumentBase::versionsFolder();
    QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    const QDateTime oldest = QDateTime::currentDateTime().addDays(-DocumentBase::versionsMaximumAgeDays);
    qint64 total = 0;
    for (const QFileInfo& file : files) total += file.size();
    for (const QFileInfo& file : files) {
        if (versionsInUse().contains(file.absoluteFilePath())) continue;
        if (file.lastModified() >= oldest && total <= DocumentBase::versionsMaximumBytes) continue;
        if (QFile::remove(file.absoluteFilePath())) total -= file.size();
    }
}

// A file name made of a document's name that any file system takes.
QString safeFileName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.remove(QChar(0));
    while (name.startsWith(QLatin1Char('.'))) name.remove(0, 1);
    while (NativePath::encode(name).size() > 200) name.chop(1);
    return name.isEmpty() ? QStringLiteral("Untitled") : name;
}

// The lock file that says a recovery file belongs to a running process:
// hidden, beside it (".<name>.lock"). The recovery file itself cannot carry
// the lock: every write replaces it with a new file.
QString recoveryLockPath(const QString& recoveryPath)
{
    const QFileInfo info(recoveryPath);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

std::optional<std::pair<quint64, quint64>> folderIdentityOf(const QString& filePath)
{
    struct stat st {};
    if (::stat(NativePath::encode(QFileInfo(filePath).absolutePath()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return std::pair{quint64(st.st_dev), quint64(st.st_ino)};
}

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
    followFileRelocations();
}

DocumentBase::~DocumentBase()
{
    unwatchFile();
    releaseOpenedVersion();
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

QString DocumentBase::recoveryFolder() { return privateStateFolder(QStringLiteral("recovery")); }

QString DocumentBase::versionsFolder() { return privateStateFolder(QStringLiteral("versions")); }

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
    if (!isUntitled()) return nameOf(m_filePath);
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
        if (auto status = saveInPlace(); !status) return status;
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
    if (!path.isEmpty()) m_folderIdentity = folderIdentityOf(path);
    if (path == m_filePath) return;
    m_filePath = path;
    watchFile();
    emit filePathChanged(m_filePath);
    emit displayNameChanged();
}

void DocumentBase::takeFile(const QString& path, const FileFingerprint& fingerprint, quint64 digest)
{
    m_fingerprint = fingerprint;
    m_fileDigest = digest;
    m_fileMissing = false;
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
    storeOpenedVersion(*bytes);
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
    m_fingerprint = FileFingerprint{};
    m_fileDigest.reset();
    m_fileMissing = false;
    setFilePath(absolute);
    return {};
}

void DocumentBase::tellAboutInterruptedWrite(const QString& path, const QString& keptAt)
{
    presentError(PlatformError(
        PlatformError::Code::generic,
        platformText("document.interruptedSave", "An earlier save of “%1” was interrupted.").arg(nameOf(path)),
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
    auto lock = FileLock::tryAcquire(recoveryLockPath(absolute));
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
    removeRecoveryFile(); // a reservation of its own, if any, gives way
    m_recoveryPath = absolute;
    m_recoveryLock = std::move(lock);
    didRead();
    return {};
}

QStringList DocumentBase::leftoverRecoveryFiles()
{
    const QString folder = recoveryFolder();
    QStringList paths;
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QFileInfo& file : files) {
        // Held: a running process (this one too) writes it.
        if (!FileLock::isHeld(recoveryLockPath(file.absoluteFilePath()))) paths << file.absoluteFilePath();
    }
    // Locks that guard nothing any more (a process ended between reserving
    // a name and writing it) go.
    for (const QString& name : QDir(folder).entryList({QStringLiteral(".*.lock")}, QDir::Files | QDir::Hidden)) {
        const QString recovery = folder + QLatin1Char('/') + name.mid(1, name.size() - 6);
        if (QFileInfo::exists(recovery)) continue;
        if (auto lock = FileLock::tryAcquire(folder + QLatin1Char('/') + name); lock && !QFileInfo::exists(recovery))
            lock->removeFile();
    }
    return paths;
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
    m_fingerprint = fingerprint;
    m_fileDigest = contentDigest(*bytes);
    m_fileMissing = false;
    return {};
}

PlatformStatus DocumentBase::revertToOpenedVersion()
{
    if (m_openedVersionPath.isEmpty())
        return PlatformError(PlatformError::Code::noFile,
                             platformText("document.error.revert.noVersion",
                                          "The version of “%1” you opened is no longer kept.")
                                 .arg(displayName()));
    auto bytes = m_pendingVersion ? PlatformResult<QByteArray>(*m_pendingVersion)
                                  : readFileSafely(m_openedVersionPath, {.maximumSize = g_maximumFileSize});
    if (!bytes) {
        PlatformError error = bytes.error();
        error.errorDescription = platformText("document.error.revert.version",
                                              "The version of “%1” you opened couldn't be read.")
                                     .arg(displayName());
        return error;
    }
    const bool sameAsFile = m_fileDigest && *m_fileDigest == contentDigest(*bytes) && !m_fileMissing;
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
    if (m_openedVersionPath.isEmpty() || isUntitled()) return false;
    // While the file still holds the opened text, reverting to it is
    // reverting to saved.
    return m_fileMissing || !m_fileDigest || *m_fileDigest != m_openedDigest;
}

void DocumentBase::storeOpenedVersion(const QByteArray& bytes)
{
    releaseOpenedVersion();
    m_openedDigest = contentDigest(bytes);
    // The same bytes opened again share one copy.
    const QString name = QString::number(m_openedDigest, 16).rightJustified(16, QLatin1Char('0')) + QLatin1Char('-')
                         + safeFileName(nameOf(m_filePath));
    m_openedVersionPath = versionsFolder() + QLatin1Char('/') + name;
    ++versionsInUse()[m_openedVersionPath];
    const QByteArray target = NativePath::encode(m_openedVersionPath);
    if (::utimensat(AT_FDCWD, target.constData(), nullptr, 0) == 0) return; // kept already; now recent again
    // Written off the main thread: opening does not wait for the copy. Until
    // it is on disk (or when it cannot be written) the bytes stay here.
    m_pendingVersion = bytes;
    QPointer<DocumentBase> self(this);
    dispatch::background([path = m_openedVersionPath, bytes, self] {
        const PlatformStatus status = writeFileSafely(path, bytes);
        if (!status)
            std::fprintf(stderr, "Lumora: the opened version couldn't be kept at %s: %s\n", qPrintable(path),
                         qPrintable(status.error().recoverySuggestion));
        dispatch::async([path, self, written = status.ok()] {
            if (written && self && self->m_openedVersionPath == path) self->m_pendingVersion.reset();
            pruneVersions();
        });
    });
}

void DocumentBase::releaseOpenedVersion()
{
    m_pendingVersion.reset();
    if (m_openedVersionPath.isEmpty()) return;
    auto& inUse = versionsInUse();
    if (auto it = inUse.find(m_openedVersionPath); it != inUse.end() && --it.value() <= 0) inUse.erase(it);
    m_openedVersionPath.clear();
}

// Saving ----------------------------------------------------------------

PlatformError DocumentBase::lockedError() const
{
    return PlatformError(PlatformError::Code::locked,
                         platformText("document.error.locked", "The document “%1” is locked.").arg(displayName()),
                         platformText("document.error.locked.suggestion",
                                      "Its file is never changed. Use Save As to keep your changes in another file."),
                         m_filePath);
}

PlatformStatus DocumentBase::save()
{
    if (isUntitled()) return saveToChosenLocation();
    if (m_locked) return lockedError();
    // A folder that is not the document's any more is a failed save, asked
    // about before anything else.
    if (auto problem = inPlaceProblem(InPlace::writeDeletedAgain)) return *problem;
    if (fileWasDeleted()) {
        switch (askAboutDeletedFile()) {
        case DeletedFileChoice::saveAgain: return saveInPlace(InPlace::writeDeletedAgain);
        case DeletedFileChoice::saveAs: return saveToChosenLocation();
        case DeletedFileChoice::cancel: return PlatformError::cancelled();
        }
    }
    return saveInPlace();
}

PlatformStatus DocumentBase::saveDocument()
{
    const PlatformStatus status = save();
    if (status || status.error().isCancellation() || status.error().code == PlatformError::Code::locked)
        return status;
    if (resolveFailedSave(status.error(), FailedSaveContext::saving) == FailedSaveOutcome::savedElsewhere) return {};
    return status;
}

PlatformStatus DocumentBase::saveToChosenLocation()
{
    const auto path = chooseSaveLocation();
    if (!path) return PlatformError::cancelled();
    return saveAs(*path);
}

PlatformStatus DocumentBase::saveAs(const QString& path, const QString& type)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == m_filePath) {
        if (m_locked) return lockedError();
        // Chosen in the save panel: written there, whatever folder is there now.
        return saveInPlace(InPlace::asChosen);
    }
    const QString newType = type.isEmpty() ? m_fileType : type;
    if (auto status = writeFile(absolute, newType); !status) return status;
    m_fileType = newType;
    m_undo.setClean();
    setLocked(false);
    setFilePath(absolute);
    removeRecoveryFile();
    didSave();
    emit saved();
    return {};
}

PlatformStatus DocumentBase::autosave()
{
    if (!isDocumentEdited() || m_locked || m_closed) return {};
    if (isUntitled()) return writeRecoveryFile();
    // Deleted by another program: the document stays unsaved until the
    // writer saves it; its text is kept against a crash meanwhile.
    if (!inPlaceProblem(InPlace::writeDeletedAgain) && fileWasDeleted()) return writeRecoveryFile();
    const PlatformStatus status = saveInPlace();
    // A crash while the file cannot be written must not take the edits along.
    if (!status && !status.error().isCancellation()) writeRecoveryFile();
    return status;
}

PlatformStatus DocumentBase::saveInPlace(InPlace mode)
{
    if (auto problem = inPlaceProblem(mode)) return *problem;
    PlatformError unreadable;
    const DiskState disk = checkFileOnDisk(&unreadable);
    // Its permissions changed: what it holds cannot be looked at, so it is
    // neither copied aside nor written over.
    if (disk == DiskState::unreadable) return unreadable;
    if (disk == DiskState::changed) {
        switch (askAboutExternalChange()) {
        case ExternalChangeChoice::keepMine: {
            auto aside = copyTheirsAside();
            if (!aside) return aside.error();
            if (!aside->isEmpty()) emit versionSavedAside(*aside);
            break;
        }
        case ExternalChangeChoice::reloadTheirs: {
            auto aside = writeMineAside();
            if (!aside) return aside.error();
            emit versionSavedAside(*aside);
            return revertToSaved();
        }
        }
    }
    if (auto status = writeFile(m_filePath, m_fileType, mode); !status) return status;
    m_undo.setClean();
    removeRecoveryFile();
    didSave();
    emit saved();
    return {};
}

bool DocumentBase::fileWasDeleted()
{
    if (isUntitled() || !m_fingerprint.exists || FileFingerprint::of(m_filePath).exists) return false;
    // A folder that is gone, or not the document's any more, is another
    // matter: nothing may be written there at all.
    const auto folder = folderIdentityOf(m_filePath);
    if (!folder || (m_folderIdentity && *folder != *m_folderIdentity)) return false;
    // As the watcher would have said, had it been asked already.
    if (!m_fileMissing) {
        m_fileMissing = true;
        m_undo.forgetCleanState();
    }
    return true;
}

void DocumentBase::rememberFolder()
{
    if (!isUntitled()) m_folderIdentity = folderIdentityOf(m_filePath);
}

std::optional<PlatformError> DocumentBase::inPlaceProblem(InPlace mode)
{
    if (isUntitled() || mode == InPlace::asChosen) return std::nullopt;
    const QString folder = QFileInfo(m_filePath).absolutePath();
    const auto now = folderIdentityOf(m_filePath);
    if (!now)
        return writeError(m_filePath, PlatformError::Code::writeFailed,
                          platformText("document.error.write.noFolder",
                                       "Its folder no longer exists. Use Save As to save it somewhere else."));
    if (m_folderIdentity && *now != *m_folderIdentity)
        return writeError(m_filePath, PlatformError::Code::writeFailed,
                          platformText("document.error.write.otherFolder",
                                       "Its folder “%1” is not the folder it was in: the disk it was on may have "
                                       "been removed, or the folder replaced by another of the same name. "
                                       "Nothing was written there. Use Save As to save it somewhere else.")
                              .arg(QDir::toNativeSeparators(folder)));
    if (mode == InPlace::refuseDeleted && fileWasDeleted())
        return writeError(m_filePath, PlatformError::Code::fileNotFound,
                          platformText("document.error.write.deleted",
                                       "Its file was deleted by another program. Save it to write it again, or "
                                       "use Save As to save it somewhere else."));
    return std::nullopt;
}

PlatformStatus DocumentBase::writeFile(const QString& path, const QString& type, InPlace mode)
{
    if (path == m_filePath) {
        if (auto problem = inPlaceProblem(mode)) return *problem;
    }
    // The rename would replace a file the user made read-only; refuse as the
    // file itself would.
    if (NativePath::exists(path) && !NativePath::isWritable(path))
        return writeError(path, PlatformError::Code::permissionDenied,
                          platformText("document.error.write.readOnly",
                                       "The file is read-only. Use Save As to save your changes in another file."));
    auto data = dataOfType(type);
    if (!data) {
        PlatformError error = data.error();
        if (error.filePath.isEmpty()) error.filePath = path;
        return error;
    }
    // What a killed in-place save of this file left is mended first; when
    // the file had changed since, the writer hears where its earlier
    // contents went.
    if (const InterruptedWrite interrupted = cleanUpInterruptedWrite(path);
        interrupted.outcome == InterruptedWrite::Outcome::keptAside)
        tellAboutInterruptedWrite(path, interrupted.keptAt);
    if (auto status = writeFileSafely(path, *data); !status) return writeError(path, status.error());
    if (path == m_filePath) rememberFolder();
    m_fingerprint = FileFingerprint::of(path);
    m_fileDigest = contentDigest(*data);
    m_fileMissing = false;
    m_autosaveTimer.stop();
    m_autosaveErrorShown = false;
    return {};
}

bool DocumentBase::fileChangedOnDisk()
{
    return checkFileOnDisk() != DiskState::unchanged;
}

DocumentBase::DiskState DocumentBase::checkFileOnDisk(PlatformError* unreadable)
{
    if (isUntitled()) return DiskState::unchanged;
    const FileFingerprint now = FileFingerprint::of(m_filePath);
    if (!now.exists) return DiskState::unchanged;
    if (m_fingerprint.exists && now == m_fingerprint) return DiskState::unchanged;
    auto bytes = readFileSafely(m_filePath, {.maximumSize = g_maximumFileSize});
    if (!bytes && (bytes.error().code == PlatformError::Code::permissionDenied
                   || bytes.error().code == PlatformError::Code::readFailed)) {
        if (unreadable)
            *unreadable = writeError(m_filePath, PlatformError::Code::permissionDenied,
                                     platformText("document.error.write.unreadable",
                                                  "Its file can no longer be read: %1 Another program may have "
                                                  "changed its permissions. It was left as it is; use Save As to "
                                                  "save your text somewhere else.")
                                         .arg(bytes.error().recoverySuggestion));
        return DiskState::unreadable;
    }
    // Touched, or its attributes changed: the same bytes are no change.
    if (bytes && m_fileDigest && contentDigest(*bytes) == *m_fileDigest) {
        m_fingerprint = now;
        return DiskState::unchanged;
    }
    return DiskState::changed;
}

QString DocumentBase::asidePath(const char* labelKey, const char* english) const
{
    const QFileInfo info(m_filePath);
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

PlatformResult<QString> DocumentBase::copyTheirsAside()
{
    const QString aside = asidePath("document.aside.theirs", "changed elsewhere %1");
    auto theirs = readFileSafely(m_filePath);
    if (theirs && writeFileSafely(aside, *theirs, {.createOnly = true})) return aside;
    // Gone meanwhile: there is no other version to keep.
    if (!NativePath::exists(m_filePath)) return QString();
    return writeError(m_filePath, PlatformError::Code::writeFailed,
                      platformText("document.error.aside.theirs",
                                   "The file was changed by another program, and its version couldn't be "
                                   "copied aside at “%1”, so nothing was overwritten.")
                          .arg(aside));
}

PlatformResult<QString> DocumentBase::writeMineAside()
{
    auto data = dataOfType(m_fileType);
    if (!data) return data.error();
    const QString aside = asidePath("document.aside.mine", "unsaved edits %1");
    if (writeFileSafely(aside, *data, {.createOnly = true})) return aside;
    return writeError(m_filePath, PlatformError::Code::writeFailed,
                      platformText("document.error.aside.mine",
                                   "Your edits couldn't be saved aside at “%1”, so the other version was not "
                                   "loaded.")
                          .arg(aside));
}

// Moving and renaming -----------------------------------------------------

PlatformStatus DocumentBase::moveTo(const QString& path, bool replace)
{
    const QString target = QFileInfo(path).absoluteFilePath();
    if (isUntitled()) return saveAs(target);
    if (target == m_filePath) return {};
    const auto moveError = [&](const QString& reason) {
        return PlatformError(PlatformError::Code::writeFailed,
                             platformText("document.error.move", "“%1” couldn't be moved to “%2”.")
                                 .arg(displayName(), nameOf(target)),
                             reason, m_filePath);
    };
    if (!replace && NativePath::exists(target))
        return moveError(platformText("file.error.exists", "A file with that name already exists."));

    const QByteArray from = NativePath::encode(m_filePath), to = NativePath::encode(target);
    const bool fileThere = NativePath::isRegularFile(m_filePath) && !fileChangedOnDisk();
    if (fileThere) {
        int result = replace ? ::rename(from.constData(), to.constData())
                             : ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        int error = result == 0 ? 0 : errno;
        if (error == EXDEV) {
            // Another disk: the bytes are copied, then the old file goes.
            auto bytes = readFileSafely(m_filePath);
            if (!bytes) return moveError(bytes.error().recoverySuggestion);
            if (auto status = writeFileSafely(target, *bytes, {.createOnly = !replace}); !status)
                return moveError(status.error().recoverySuggestion);
            ::unlink(from.constData());
            error = 0;
        }
        if (error) return moveError(fileErrorReason(error, platformText("file.step.move", "Moving the file")));
        takeFile(target, FileFingerprint::of(target), m_fileDigest.value_or(0));
        // Edits made before the move are saved at the new place.
        if (isDocumentEdited() && !m_locked) return saveInPlace();
        return {};
    }
    // The file is gone (its folder was removed) or another program changed
    // it: the document's text goes to the new place, the old file stays.
    if (auto status = writeFile(target, m_fileType); !status) return status;
    m_undo.setClean();
    setLocked(false);
    setFilePath(target);
    removeRecoveryFile();
    didSave();
    emit saved();
    return {};
}

PlatformStatus DocumentBase::rename()
{
    // Without a file there is nothing to rename: it is saved under the name.
    if (isUntitled()) return saveToChosenLocation();
    const auto name = chooseNewName();
    if (!name) return PlatformError::cancelled();
    const QString trimmed = name->trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char('/')) || trimmed == QLatin1String(".")
        || trimmed == QLatin1String(".."))
        return PlatformError(PlatformError::Code::generic,
                             platformText("document.error.rename.name", "“%1” can't be used as a file name.")
                                 .arg(*name),
                             platformText("document.error.rename.name.suggestion",
                                          "A name may not be empty or contain “/”."));
    return moveTo(QFileInfo(m_filePath).dir().filePath(trimmed));
}

PlatformStatus DocumentBase::move()
{
    const auto path = chooseMoveLocation();
    if (!path) return PlatformError::cancelled();
    // The panel already asked before replacing a file.
    return moveTo(*path, true);
}

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
        if (!movedTo.isEmpty() && m_fingerprint.exists && FileFingerprint::of(movedTo).isSameFile(m_fingerprint)) {
            m_fingerprint = FileFingerprint::of(movedTo);
            setFilePath(QFileInfo(movedTo).absoluteFilePath());
            return;
        }
        // Deleted: the text stays, and is not saved anywhere any more.
        if (!m_fileMissing && m_fingerprint.exists) {
            m_fileMissing = true;
            m_undo.forgetCleanState();
        }
        return;
    }
    if (!fileChangedOnDisk()) return;
    if (!isDocumentEdited() || m_locked) {
        // Nothing of the writer's would be lost: read the new text quietly.
        const FileFingerprint fingerprint = FileFingerprint::of(m_filePath);
        auto bytes = readFileBytes(m_filePath);
        if (!bytes) return; // half written, or gone again: the next event tells
        if (replaceWithFile(*bytes, true)) {
            m_fingerprint = fingerprint;
            m_fileDigest = contentDigest(*bytes);
            m_fileMissing = false;
        }
        return;
    }
    // Edited: the writer chooses at once, as before a save.
    if (const PlatformStatus status = saveInPlace(); !status && !status.error().isCancellation())
        presentError(status.error());
}

// Recovery files -----------------------------------------------------------

PlatformStatus DocumentBase::writeRecoveryFile()
{
    auto data = dataOfType(m_fileType);
    if (!data) return data.error();
    if (data->isEmpty() && isUntitled()) {
        removeRecoveryFile();
        return {};
    }
    reserveRecoveryFile();
    return writeFileSafely(m_recoveryPath, *data);
}

QString DocumentBase::reserveRecoveryFile()
{
    if (!m_recoveryPath.isEmpty()) return m_recoveryPath;
    // A name no file has, whose lock this document takes: another Lumora
    // running now may be choosing names at the same moment.
    const QString folder = recoveryFolder();
    QString base = safeFileName(displayName());
    QString suffix;
    if (isUntitled()) {
        suffix = QStringLiteral(".txt");
    } else if (const QFileInfo info(base); !info.suffix().isEmpty() && !info.completeBaseName().isEmpty()) {
        suffix = QLatin1Char('.') + info.suffix();
        base = info.completeBaseName();
    }
    const auto candidate = [&](int n) {
        return folder + QLatin1Char('/') + base + (n > 1 ? QLatin1Char(' ') + QString::number(n) : QString()) + suffix;
    };
    QString firstFree;
    for (int n = 1; n <= 1000; ++n) {
        const QString path = candidate(n);
        if (QFileInfo::exists(path)) continue;
        if (firstFree.isEmpty()) firstFree = path;
        auto lock = FileLock::tryAcquire(recoveryLockPath(path));
        if (lock && !QFileInfo::exists(path)) {
            m_recoveryLock = std::move(lock);
            m_recoveryPath = path;
            return m_recoveryPath;
        }
        // No lock could be made at all (a folder that takes no new files):
        // writing there will fail too, and say why.
        if (!lock && !QFileInfo::exists(recoveryLockPath(path))) break;
    }
    m_recoveryPath = firstFree.isEmpty() ? candidate(1001) : firstFree;
    return m_recoveryPath;
}

bool DocumentBase::keepTextInRecoveryFile()
{
    const PlatformStatus status = writeRecoveryFile();
    if (!status) {
        std::fprintf(stderr, "Lumora: the text of “%s” couldn't be kept in a recovery file: %s\n",
                     qPrintable(displayName()), qPrintable(status.error().message()));
        return false;
    }
    if (m_recoveryPath.isEmpty()) return true; // nothing to keep
    std::fprintf(stderr, "Lumora: the text of “%s” was kept at %s\n", qPrintable(displayName()),
                 qPrintable(m_recoveryPath));
    emit keptInRecoveryFile(m_recoveryPath);
    return true;
}

void DocumentBase::removeRecoveryFile()
{
    if (m_recoveryPath.isEmpty()) return;
    QFile::remove(m_recoveryPath);
    // The lock file goes while still held, so nobody takes a lock on a name
    // that is about to vanish.
    if (m_recoveryLock) m_recoveryLock->removeFile();
    m_recoveryLock.reset();
    m_recoveryPath.clear();
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
        else (void)resolveFailedSave(status.error(), FailedSaveContext::saving);
    }
}

// Closing ---------------------------------------------------------------

DocumentBase::FailedSaveOutcome DocumentBase::resolveFailedSave(const PlatformError& error, FailedSaveContext context)
{
    switch (askAfterFailedSave(error, context)) {
    case FailedSaveChoice::saveAs: {
        const PlatformStatus status = saveToChosenLocation();
        if (status) return FailedSaveOutcome::savedElsewhere;
        if (!status.error().isCancellation()) presentError(status.error());
        break;
    }
    case FailedSaveChoice::closeWithoutSaving:
        if (context != FailedSaveContext::saving && confirmCloseWithoutSaving()) return FailedSaveOutcome::discarded;
        break;
    case FailedSaveChoice::keepRecoveryCopy:
    case FailedSaveChoice::dismiss: break;
    }
    // Quitting is never refused for a file that cannot be written.
    if (context == FailedSaveContext::terminating && keepTextInRecoveryFile()) return FailedSaveOutcome::keptInRecovery;
    return FailedSaveOutcome::stays;
}

bool DocumentBase::close()
{
    return closeAsking(FailedSaveContext::closing);
}

bool DocumentBase::closeForTermination(bool mayAsk)
{
    if (mayAsk || m_closed || !isDocumentEdited()) return closeAsking(FailedSaveContext::terminating);
    // Nobody to ask: the file when it can be written as it is, else a
    // recovery file. The document stays for the program to exit.
    if (!isUntitled() && !m_locked && !fileChangedOnDisk() && writeFile(m_filePath, m_fileType)) {
        m_undo.setClean();
        removeRecoveryFile();
        return true;
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
        const FailedSaveOutcome outcome = resolveFailedSave(status.error(), context);
        keepRecovery = outcome == FailedSaveOutcome::keptInRecovery;
        return outcome != FailedSaveOutcome::stays;
    };
    if (isDocumentEdited()) {
        if (!isUntitled() && !m_locked && !m_fileMissing && !fileWasDeleted()) {
            if (!resolved(saveInPlace())) return TerminationReview::cancel;
        } else {
            switch (askToSaveChanges()) {
            case SaveChoice::cancel:
                return TerminationReview::cancel;
            case SaveChoice::dontSave:
                return TerminationReview::discard;
            case SaveChoice::save:
                if (!resolved((!isUntitled() && !m_locked) ? saveInPlace(InPlace::writeDeletedAgain)
                                                           : saveToChosenLocation()))
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
    if (!keepRecoveryFile) removeRecoveryFile();
    releaseOpenedVersion();
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
