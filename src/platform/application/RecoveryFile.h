#pragma once

#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace lumora {

class FileLock;

// A document's recovery file: where the text of an untitled document, or of
// one that cannot be saved where it is, is kept against a crash, in
// folder(). The next launch opens what an ended process left there.
//
// A recovery file belongs to the process that writes it: a lock (FileLock)
// on ".<name>.lock" beside it is held while its document lives, so that
// another Lumora running at the same time neither lists nor adopts it. The
// recovery file itself cannot carry the lock: every write replaces it with
// a new file.
class RecoveryFile {
public:
    RecoveryFile();
    ~RecoveryFile();
    RecoveryFile(const RecoveryFile&) = delete;
    RecoveryFile& operator=(const RecoveryFile&) = delete;

    // $XDG_STATE_HOME/Lumora/recovery.
    static QString folder();
    // The recovery files left in folder() by processes that have ended,
    // oldest first; those of running processes (this one included) are not
    // listed. Locks that guard nothing any more go.
    static QStringList leftovers();
    // The lock of the recovery file at path, for adopting it; none while a
    // running process holds it.
    static std::unique_ptr<FileLock> claim(const QString& path);

    // The file holding the document's text, or reserved for it; empty while
    // there is none.
    QString path() const { return m_path; }
    // A name of its own in folder() for a document of that name (untitled
    // ones write ".txt"), locked for this document; the one it has already
    // when it has one.
    QString reserve(const QString& displayName, bool untitled);
    // Takes a file left by an ended process (locked by claim()) as this
    // document's, giving up a reservation of its own.
    void adopt(const QString& path, std::unique_ptr<FileLock> lock);
    // Keeps the text in the file (reserved first); an untitled document with
    // no text keeps none, and the file goes.
    PlatformStatus write(const QByteArray& text, const QString& displayName, bool untitled);
    // The file and its lock go.
    void remove();

private:
    QString m_path;
    std::unique_ptr<FileLock> m_lock; // held while the file is this document's
};

} // namespace lumora
