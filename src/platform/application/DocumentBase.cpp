#include "platform/application/DocumentBase.h"

#include "platform/files/FileWriter.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lumora {

namespace {

int g_autosavingDelay = 15000;
DocumentPrompter* g_prompter = nullptr;

QString nameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

PlatformError readError(const QString& path, PlatformError::Code code, const QString& suggestion)
{
    return PlatformError(code,
                         platformText("document.error.read", "The file “%1” couldn't be opened.").arg(nameOf(path)),
                         suggestion, path);
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
    if (!QFileInfo(path).dir().exists())
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

} // namespace

DocumentBase::DocumentBase(QObject* parent) : QObject(parent)
{
    m_autosaveTimer.setSingleShot(true);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &DocumentBase::autosaveTimerFired);
    connect(&m_undo, &UndoManager::changeRecorded, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::didUndo, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::didRedo, this, &DocumentBase::scheduleAutosave);
    connect(&m_undo, &UndoManager::cleanChanged, this, [this](bool clean) { emit editedChanged(!clean); });
    followFileRelocations();
}

DocumentBase::~DocumentBase() = default;

int DocumentBase::autosavingDelay()
{
    return g_autosavingDelay;
}

void DocumentBase::setAutosavingDelay(int milliseconds)
{
    g_autosavingDelay = std::max(0, milliseconds);
}

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

// Reading ---------------------------------------------------------------

PlatformResult<QByteArray> DocumentBase::readFileBytes(const QString& path) const
{
    const QFileInfo info(path);
    if (!info.exists())
        return readError(path, PlatformError::Code::fileNotFound,
                         platformText("document.error.read.missing", "There is no file at that location any more."));
    if (info.isDir())
        return readError(path, PlatformError::Code::readFailed,
                         platformText("document.error.read.folder", "It is a folder, not a file."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError)
            return readError(path, PlatformError::Code::permissionDenied,
                             platformText("document.error.read.permission", "You don't have permission to read it."));
        return readError(path, PlatformError::Code::readFailed, file.errorString());
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return readError(path, PlatformError::Code::readFailed, file.errorString());
    return bytes;
}

PlatformStatus DocumentBase::readFromFile(const QString& path, const QString& type)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // A save of this file that was killed part way is mended first.
    cleanUpInterruptedWrite(absolute);
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
    const bool renamed = absolute != m_filePath;
    m_filePath = absolute;
    m_fileType = type;
    m_fingerprint = fingerprint;
    m_autosaveTimer.stop();
    m_undo.removeAll();
    if (renamed) {
        emit filePathChanged(m_filePath);
        emit displayNameChanged();
    }
    didRead();
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
    if (auto status = readFromData(*bytes, m_fileType, m_filePath); !status) return status;
    m_fingerprint = fingerprint;
    m_autosaveTimer.stop();
    m_undo.removeAll();
    didRead();
    emit reverted();
    return {};
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
    if (isUntitled()) {
        const auto path = chooseSaveLocation();
        if (!path) return PlatformError::cancelled();
        return saveAs(*path);
    }
    if (m_locked) return lockedError();
    return saveInPlace();
}

PlatformStatus DocumentBase::saveAs(const QString& path, const QString& type)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (absolute == m_filePath) {
        if (m_locked) return lockedError();
        return saveInPlace();
    }
    const QString newType = type.isEmpty() ? m_fileType : type;
    if (auto status = writeFile(absolute, newType); !status) return status;
    m_filePath = absolute;
    m_fileType = newType;
    m_undo.setClean();
    setLocked(false);
    emit filePathChanged(m_filePath);
    emit displayNameChanged();
    didSave();
    emit saved();
    return {};
}

PlatformStatus DocumentBase::autosave()
{
    if (!isDocumentEdited() || isUntitled() || m_locked || m_closed) return {};
    return saveInPlace();
}

PlatformStatus DocumentBase::saveInPlace()
{
    if (fileChangedOnDisk()) {
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
    if (auto status = writeFile(m_filePath, m_fileType); !status) return status;
    m_undo.setClean();
    didSave();
    emit saved();
    return {};
}

PlatformStatus DocumentBase::writeFile(const QString& path, const QString& type)
{
    // The rename would replace a file the user made read-only; refuse as the
    // file itself would.
    const QFileInfo info(path);
    if (info.exists() && !info.isWritable())
        return writeError(path, PlatformError::Code::permissionDenied,
                          platformText("document.error.write.readOnly",
                                       "The file is read-only. Use Save As to save your changes in another file."));
    auto data = dataOfType(type);
    if (!data) {
        PlatformError error = data.error();
        if (error.filePath.isEmpty()) error.filePath = path;
        return error;
    }
    if (auto status = writeFileSafely(path, *data); !status) return writeError(path, status.error());
    m_fingerprint = FileFingerprint::of(path);
    m_autosaveTimer.stop();
    m_autosaveErrorShown = false;
    return {};
}

bool DocumentBase::fileChangedOnDisk() const
{
    if (isUntitled() || !m_fingerprint.exists) return false;
    const FileFingerprint now = FileFingerprint::of(m_filePath);
    return now.exists && !(now == m_fingerprint);
}

QString DocumentBase::asidePath(const char* labelKey, const char* english) const
{
    const QFileInfo info(m_filePath);
    QString base = info.completeBaseName();
    QString suffix = info.suffix();
    if (base.isEmpty()) { // ".notes": a hidden name without an extension
        base = info.fileName();
        suffix.clear();
    }
    const QString label = platformText(labelKey, english)
                              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
    for (int n = 1;; ++n) {
        QString name = base + QStringLiteral(" (") + label;
        if (n > 1) name += QLatin1Char(' ') + QString::number(n);
        name += QLatin1Char(')');
        if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
        const QString candidate = info.dir().filePath(name);
        if (!QFileInfo::exists(candidate)) return candidate;
    }
}

PlatformResult<QString> DocumentBase::copyTheirsAside()
{
    const QString aside = asidePath("document.aside.theirs", "changed elsewhere %1");
    QFile theirs(m_filePath);
    if (theirs.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = theirs.readAll();
        if (theirs.error() == QFileDevice::NoError && writeFileSafely(aside, bytes, {.createOnly = true}))
            return aside;
    }
    // Gone meanwhile: there is no other version to keep.
    if (!QFileInfo::exists(m_filePath)) return QString();
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
        presentError(status.error());
    }
}

// Closing ---------------------------------------------------------------

bool DocumentBase::close()
{
    if (m_closed) return true;
    if (isDocumentEdited()) {
        if (!isUntitled() && !m_locked) {
            const PlatformStatus status = saveInPlace();
            if (!status) {
                if (!status.error().isCancellation()) presentError(status.error());
                return false;
            }
        } else {
            switch (askToSaveChanges()) {
            case SaveChoice::cancel:
                return false;
            case SaveChoice::dontSave:
                break;
            case SaveChoice::save: {
                const auto path = chooseSaveLocation();
                if (!path) return false;
                const PlatformStatus status = saveAs(*path);
                if (!status) {
                    if (!status.error().isCancellation()) presentError(status.error());
                    return false;
                }
                break;
            }
            }
        }
    }
    m_closed = true;
    m_autosaveTimer.stop();
    emit closed();
    return true;
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

void DocumentBase::presentError(const PlatformError& error)
{
    if (g_prompter) {
        g_prompter->presentError(*this, error);
        return;
    }
    qWarning().noquote() << error.message();
}

} // namespace lumora
