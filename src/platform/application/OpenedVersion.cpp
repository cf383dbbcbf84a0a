#include "platform/application/OpenedVersion.h"

#include "platform/application/DocumentFiles.h"
#include "platform/files/FileFingerprint.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Dispatch.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace lumora {

namespace {

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
    const QString folder = OpenedVersion::folder();
    QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time | QDir::Reversed);
    const QDateTime oldest = QDateTime::currentDateTime().addDays(-OpenedVersion::maximumAgeDays);
    qint64 total = 0;
    for (const QFileInfo& file : files) total += file.size();
    for (const QFileInfo& file : files) {
        if (versionsInUse().contains(file.absoluteFilePath())) continue;
        if (file.lastModified() >= oldest && total <= OpenedVersion::maximumBytes) continue;
        if (QFile::remove(file.absoluteFilePath())) total -= file.size();
    }
}

} // namespace

struct OpenedVersion::Kept {
    QString path;
    std::optional<QByteArray> pending; // until the copy is on disk
    quint64 digest = 0;
};

OpenedVersion::OpenedVersion() : m_kept(std::make_shared<Kept>()) {}

OpenedVersion::~OpenedVersion() { release(); }

QString OpenedVersion::folder() { return privateStateFolder(QStringLiteral("versions")); }

QString OpenedVersion::path() const { return m_kept->path; }

quint64 OpenedVersion::digest() const { return m_kept->digest; }

void OpenedVersion::store(const QByteArray& bytes, const QString& fileName)
{
    release();
    Kept& kept = *m_kept;
    kept.digest = contentDigest(bytes);
    // The same bytes opened again share one copy.
    const QString name = QString::number(kept.digest, 16).rightJustified(16, QLatin1Char('0')) + QLatin1Char('-')
                         + documentFiles::safeFileName(fileName);
    kept.path = folder() + QLatin1Char('/') + name;
    ++versionsInUse()[kept.path];
    const QByteArray target = NativePath::encode(kept.path);
    if (::utimensat(AT_FDCWD, target.constData(), nullptr, 0) == 0) return; // kept already; now recent again
    // Written off the main thread: opening does not wait for the copy. Until
    // it is on disk (or when it cannot be written) the bytes stay here.
    kept.pending = bytes;
    dispatch::background([path = kept.path, bytes, weak = std::weak_ptr<Kept>(m_kept)] {
        const PlatformStatus status = writeFileSafely(path, bytes);
        if (!status)
            std::fprintf(stderr, "Lumora: the opened version couldn't be kept at %s: %s\n", qPrintable(path),
                         qPrintable(status.error().recoverySuggestion));
        dispatch::async([path, weak, written = status.ok()] {
            if (const auto kept = weak.lock(); written && kept && kept->path == path) kept->pending.reset();
            pruneVersions();
        });
    });
}

void OpenedVersion::release()
{
    Kept& kept = *m_kept;
    kept.pending.reset();
    if (kept.path.isEmpty()) return;
    auto& inUse = versionsInUse();
    if (auto it = inUse.find(kept.path); it != inUse.end() && --it.value() <= 0) inUse.erase(it);
    kept.path.clear();
}

PlatformResult<QByteArray> OpenedVersion::read(qint64 maximumSize) const
{
    const Kept& kept = *m_kept;
    return kept.pending ? PlatformResult<QByteArray>(*kept.pending)
                        : readFileSafely(kept.path, {.maximumSize = maximumSize});
}

} // namespace lumora
