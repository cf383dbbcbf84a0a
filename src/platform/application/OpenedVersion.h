#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace lumora {

// The bytes of a document's file as it was opened, kept in folder() so that
// the document can go back to them after autosaves wrote over the file.
// The same bytes opened again share one copy, named after their digest and
// the file. Copies older than maximumAgeDays, and the oldest beyond
// maximumBytes in all, are removed, never those of open documents.
class OpenedVersion {
public:
    static constexpr int maximumAgeDays = 30;
    static constexpr qint64 maximumBytes = qint64(512) * 1024 * 1024;

    OpenedVersion();
    // Lets go of the copy (it stays on disk for the pruning to judge).
    ~OpenedVersion();
    OpenedVersion(const OpenedVersion&) = delete;
    OpenedVersion& operator=(const OpenedVersion&) = delete;

    // $XDG_STATE_HOME/Lumora/versions.
    static QString folder();

    // Keeps the bytes of the file named fileName as the version opened, in
    // place of the one kept before. The copy is written off the main thread;
    // until it is on disk (or when it cannot be written) the bytes stay in
    // memory.
    void store(const QByteArray& bytes, const QString& fileName);
    // The document no longer holds a version.
    void release();

    // Where the version is kept; empty while there is none.
    QString path() const;
    // The digest (contentDigest) of its bytes.
    quint64 digest() const;
    // Its bytes, up to maximumSize.
    PlatformResult<QByteArray> read(qint64 maximumSize) const;

private:
    struct Kept;
    // Shared with the write in the background, which lets go of the bytes
    // in memory once they are on disk, if the version is still this one.
    std::shared_ptr<Kept> m_kept;
};

} // namespace lumora
