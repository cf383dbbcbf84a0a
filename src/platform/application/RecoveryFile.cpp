#include "platform/application/RecoveryFile.h"

#include "platform/application/DocumentFiles.h"
#include "platform/files/FileLock.h"
#include "platform/files/FileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lumora {

namespace {

// The lock file that says a recovery file belongs to a running process:
// hidden, beside it (".<name>.lock").
QString lockPath(const QString& recoveryPath)
{
    const QFileInfo info(recoveryPath);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

} // namespace

RecoveryFile::RecoveryFile() = default;

RecoveryFile::~RecoveryFile() = default;

QString RecoveryFile::folder() { return privateStateFolder(QStringLiteral("recovery")); }

QStringList RecoveryFile::leftovers()
{
    const QString folder = RecoveryFile::folder();
    QStringList paths;
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    for (const QFileInfo& file : files) {
        // Held: a running process (this one too) writes it.
        if (!FileLock::isHeld(lockPath(file.absoluteFilePath()))) paths << file.absoluteFilePath();
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

std::unique_ptr<FileLock> RecoveryFile::claim(const QString& path) { return FileLock::tryAcquire(lockPath(path)); }

QString RecoveryFile::reserve(const QString& displayName, bool untitled)
{
    if (!m_path.isEmpty()) return m_path;
    // A name no file has, whose lock this document takes: another Lumora
    // running now may be choosing names at the same moment.
    const QString folder = RecoveryFile::folder();
    QString base = documentFiles::safeFileName(displayName);
    QString suffix;
    if (untitled) {
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
        auto lock = FileLock::tryAcquire(lockPath(path));
        if (lock && !QFileInfo::exists(path)) {
            m_lock = std::move(lock);
            m_path = path;
            return m_path;
        }
        // No lock could be made at all (a folder that takes no new files):
        // writing there will fail too, and say why.
        if (!lock && !QFileInfo::exists(lockPath(path))) break;
    }
    m_path = firstFree.isEmpty() ? candidate(1001) : firstFree;
    return m_path;
}

void RecoveryFile::adopt(const QString& path, std::unique_ptr<FileLock> lock)
{
    remove(); // a reservation of its own, if any, gives way
    m_path = path;
    m_lock = std::move(lock);
}

PlatformStatus RecoveryFile::write(const QByteArray& text, const QString& displayName, bool untitled)
{
    if (text.isEmpty() && untitled) {
        remove();
        return {};
    }
    reserve(displayName, untitled);
    return writeFileSafely(m_path, text);
}

void RecoveryFile::remove()
{
    if (m_path.isEmpty()) return;
    QFile::remove(m_path);
    // The lock file goes while still held, so nobody takes a lock on a name
    // that is about to vanish.
    if (m_lock) m_lock->removeFile();
    m_lock.reset();
    m_path.clear();
}

} // namespace lumora
