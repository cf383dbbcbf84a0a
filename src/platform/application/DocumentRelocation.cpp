#include "platform/application/DocumentRelocation.h"

#include "platform/application/DocumentBase.h"
#include "platform/application/DocumentFiles.h"
#include "platform/application/DocumentSaver.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileRelocations.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace lumora {

DocumentRelocation::DocumentRelocation(DocumentBase& document) : m_document(document) {}

void DocumentRelocation::follow()
{
    DocumentBase& d = m_document;
    FileRelocations& relocations = FileRelocations::shared();
    QObject::connect(&relocations, &FileRelocations::willMove, &d, [&d](const QString& path) {
        if (d.m_closed || FileRelocations::relocated(d.m_filePath, path, path).isEmpty()) return;
        // Pending edits go with the file, never written after it left.
        const PlatformStatus status = d.autosave();
        if (!status && !status.error().isCancellation()) d.presentError(status.error());
    });
    QObject::connect(&relocations, &FileRelocations::didMove, &d, [&d](const QString& from, const QString& to) {
        const QString moved = FileRelocations::relocated(d.m_filePath, from, to);
        if (!moved.isEmpty()) d.fileWasMoved(moved);
    });
    QObject::connect(&relocations, &FileRelocations::didTrash, &d, [&d](const QString& path, const QString& inTrash) {
        const QString moved = FileRelocations::relocated(d.m_filePath, path, inTrash);
        if (moved.isEmpty() || d.m_closed) return;
        // Edits made meanwhile are saved into the trashed file, not at the
        // old path.
        d.fileWasMoved(moved);
        if (!d.m_staysOpenWhenTrashed) d.close();
    });
    QObject::connect(&relocations, &FileRelocations::moveFailed, &d, [&d](const QString& path) {
        // What the watcher saw meanwhile was put off: it is looked at now.
        if (!FileRelocations::relocated(d.m_filePath, path, path).isEmpty()) d.fileDidChangeOnDisk({});
    });
}

void DocumentRelocation::fileWasMoved(const QString& newPath)
{
    DocumentBase& d = m_document;
    const QString absolute = QFileInfo(newPath).absoluteFilePath();
    if (absolute == d.m_filePath) return;
    d.m_fileRecord.followMove(absolute);
    d.setFilePath(absolute);
}

PlatformStatus DocumentRelocation::moveTo(const QString& path, bool replace)
{
    DocumentBase& d = m_document;
    const QString target = QFileInfo(path).absoluteFilePath();
    if (d.isUntitled()) return d.saveAs(target);
    if (target == d.m_filePath) return {};
    const auto moveError = [&](const QString& reason) {
        return PlatformError(PlatformError::Code::writeFailed,
                             platformText("document.error.move", "“%1” couldn't be moved to “%2”.")
                                 .arg(d.displayName(), NativePath::shownNameOf(target)),
                             reason, d.m_filePath);
    };
    if (!replace && NativePath::exists(target))
        return moveError(platformText("file.error.exists", "A file with that name already exists."));

    const QByteArray from = NativePath::encode(d.m_filePath), to = NativePath::encode(target);
    const bool fileThere = NativePath::isRegularFile(d.m_filePath) && !d.fileChangedOnDisk();
    if (fileThere) {
        const QString fromFolder = QFileInfo(d.m_filePath).absolutePath();
        int error = replace ? (::rename(from.constData(), to.constData()) == 0 ? 0 : errno)
                            : FileManager::renameWithoutReplacing(d.m_filePath, target);
        if (error == EXDEV) {
            // Another disk: the bytes are copied (the new folder synced with
            // them), then the old file goes.
            auto bytes = readFileSafely(d.m_filePath);
            if (!bytes) return moveError(bytes.error().recoverySuggestion);
            if (auto status = writeFileSafely(target, *bytes, {.createOnly = !replace}); !status)
                return moveError(status.error().recoverySuggestion);
            ::unlink(from.constData());
            FileManager::syncFolder(fromFolder);
            error = 0;
        } else if (!error) {
            // The new name, and the old one gone, last through a power cut.
            const QString toFolder = QFileInfo(target).absolutePath();
            FileManager::syncFolder(toFolder);
            if (toFolder != fromFolder) FileManager::syncFolder(fromFolder);
        }
        if (error) return moveError(fileErrorReason(error, platformText("file.step.move", "Moving the file")));
        d.takeFile(target, FileFingerprint::of(target), d.m_fileRecord.digest.value_or(0));
        // Edits made before the move are saved at the new place.
        if (d.isDocumentEdited() && !d.m_locked) return d.m_saver->saveInPlace();
        return {};
    }
    // The file is gone (its folder was removed) or another program changed
    // it: the document's text goes to the new place, the old file stays.
    if (auto status = d.m_saver->writeFile(target, d.m_fileType); !status) return status;
    d.m_undo.setClean();
    d.setLocked(false);
    d.setFilePath(target);
    d.m_recovery.remove();
    d.didSave();
    emit d.saved();
    return {};
}

PlatformStatus DocumentRelocation::rename()
{
    DocumentBase& d = m_document;
    // Without a file there is nothing to rename: it is saved under the name.
    if (d.isUntitled()) return d.m_saver->saveToChosenLocation();
    // The writer edits the name as it is shown: kept as it was, it renames
    // nothing, and a "/" typed stands for the ":" it shows.
    const auto name = d.chooseNewName();
    if (!name) return PlatformError::cancelled();
    if (*name == d.displayName()) return {};
    const QString trimmed = NativePath::diskName(name->trimmed());
    if (trimmed.isEmpty() || trimmed == QLatin1String(".") || trimmed == QLatin1String(".."))
        return PlatformError(PlatformError::Code::generic,
                             platformText("document.error.rename.name", "“%1” can't be used as a file name.")
                                 .arg(*name),
                             platformText("document.error.rename.name.suggestion",
                                          "A name may not be empty, “.” or “..”."));
    return moveTo(QFileInfo(d.m_filePath).dir().filePath(trimmed), false);
}

PlatformStatus DocumentRelocation::move()
{
    const auto path = m_document.chooseMoveLocation();
    if (!path) return PlatformError::cancelled();
    // The panel already asked before replacing a file.
    return moveTo(*path, true);
}

} // namespace lumora
