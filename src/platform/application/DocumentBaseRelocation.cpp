// A document whose file the program moves, renames or trashes follows it.
#include "platform/application/DocumentBase.h"

#include "platform/files/FileRelocations.h"

#include <QFileInfo>

namespace lumora {

void DocumentBase::followFileRelocations()
{
    FileRelocations& relocations = FileRelocations::shared();
    connect(&relocations, &FileRelocations::willMove, this, [this](const QString& path) {
        if (m_closed || FileRelocations::relocated(m_filePath, path, path).isEmpty()) return;
        // Pending edits go with the file, never written after it left.
        const PlatformStatus status = autosave();
        if (!status && !status.error().isCancellation()) presentError(status.error());
    });
    connect(&relocations, &FileRelocations::didMove, this, [this](const QString& from, const QString& to) {
        const QString moved = FileRelocations::relocated(m_filePath, from, to);
        if (!moved.isEmpty()) fileWasMoved(moved);
    });
    connect(&relocations, &FileRelocations::didTrash, this, [this](const QString& path, const QString& inTrash) {
        const QString moved = FileRelocations::relocated(m_filePath, path, inTrash);
        if (moved.isEmpty() || m_closed) return;
        // Edits made meanwhile are saved into the trashed file, not at the
        // old path.
        fileWasMoved(moved);
        if (!m_staysOpenWhenTrashed) close();
    });
}

void DocumentBase::fileWasMoved(const QString& newPath)
{
    const QString absolute = QFileInfo(newPath).absoluteFilePath();
    if (absolute == m_filePath) return;
    // A move to another disk copies the file: new inode, same size and time.
    const FileFingerprint now = FileFingerprint::of(absolute);
    if (m_fingerprint.exists && now.exists && now.size == m_fingerprint.size
        && now.modifiedNs == m_fingerprint.modifiedNs)
        m_fingerprint = now;
    setFilePath(absolute);
}

} // namespace lumora
