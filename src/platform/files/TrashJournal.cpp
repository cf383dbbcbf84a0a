#include "platform/files/TrashJournal.h"

#include "platform/files/FileLock.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

const QString kLockSuffix = QStringLiteral(".lock");
const QString kNoteSuffix = QStringLiteral(".json");

// Paths are kept by their bytes: a name need not be UTF-8.
QString pathText(const QString& path)
{
    return QString::fromLatin1(NativePath::encode(path).toBase64());
}

QString pathFrom(const QJsonValue& value)
{
    return NativePath::decode(QByteArray::fromBase64(value.toString().toLatin1()));
}

bool statItem(const QString& path, struct stat& st)
{
    return ::lstat(NativePath::encode(path).constData(), &st) == 0;
}

void removeFile(const QString& path)
{
    ::unlink(NativePath::encode(path).constData());
}

enum class Outcome { done, tookBack, later };

// Takes back what the noted move left, when it left anything.
Outcome takeBack(const QJsonObject& note)
{
    const QString item = pathFrom(note.value(QStringLiteral("item")));
    const QString target = pathFrom(note.value(QStringLiteral("target")));
    const QString record = pathFrom(note.value(QStringLiteral("record")));
    const QByteArray bytes = QByteArray::fromBase64(note.value(QStringLiteral("recordBytes")).toString().toLatin1());
    if (item.isEmpty() || target.isEmpty() || record.isEmpty()) return Outcome::done; // says nothing to go by
    const QString info = QFileInfo(record).absolutePath();
    // The Trash is on a disk that is away now: another time.
    if (!NativePath::isFolder(info) || !NativePath::isFolder(QFileInfo(target).absolutePath())) return Outcome::later;

    // A kill while the record was written leaves its temporary copy.
    cleanUpInterruptedWrite(record);
    bool tookBack = false;
    struct stat there {};
    if (statItem(target, there)) {
        // The move had happened; unless it went by a hard link and was cut
        // before the old name went: then the item is at both names, and it
        // stays where the writer left it.
        struct stat original {};
        if (!S_ISREG(there.st_mode) || !statItem(item, original) || original.st_dev != there.st_dev
            || original.st_ino != there.st_ino)
            return Outcome::done;
        removeFile(target);
        FileManager::syncFolder(QFileInfo(target).absolutePath());
        tookBack = true;
    }
    // The record of a move that did not happen: only the one that move
    // wrote (another program's record of the same name is left alone).
    const auto current = readFileSafely(record);
    if (current && *current == bytes) {
        removeFile(record);
        FileManager::syncFolder(info);
        tookBack = true;
    }
    return tookBack ? Outcome::tookBack : Outcome::done;
}

} // namespace

TrashJournal::TrashJournal()
    : m_folder(privateStateFolder(QStringLiteral("trash"))),
      m_id(QString::number(QRandomGenerator::global()->generate64(), 36))
{
    m_lock = FileLock::tryAcquire(m_folder + QLatin1Char('/') + m_id + kLockSuffix);
}

TrashJournal::~TrashJournal()
{
    if (!m_lock) return;
    // The note goes first: a lock file alone names nothing to take back.
    removeFile(m_folder + QLatin1Char('/') + m_id + kNoteSuffix);
    m_lock->removeFile();
}

bool TrashJournal::note(const QString& item, const QString& target, const QString& record,
                        const QByteArray& recordBytes)
{
    if (!m_lock) return false;
    const QJsonObject note{
        {QStringLiteral("item"), pathText(item)},
        {QStringLiteral("target"), pathText(target)},
        {QStringLiteral("record"), pathText(record)},
        {QStringLiteral("recordBytes"), QString::fromLatin1(recordBytes.toBase64())},
    };
    return writeFileSafely(m_folder + QLatin1Char('/') + m_id + kNoteSuffix,
                           QJsonDocument(note).toJson(QJsonDocument::Compact), FileWriteOptions{false, true})
        .ok();
}

int TrashJournal::cleanUpInterrupted()
{
    const QString folder = privateStateFolder(QStringLiteral("trash"));
    QSet<QString> ids;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        if (name.endsWith(kLockSuffix)) ids.insert(name.chopped(kLockSuffix.size()));
        else if (name.endsWith(kNoteSuffix)) ids.insert(name.chopped(kNoteSuffix.size()));
    }
    int tookBack = 0;
    for (const QString& id : ids) {
        // Held: a move under way, here or in another Lumora. Taking the lock
        // also keeps a second Lumora starting now from doing the same work.
        const auto lock = FileLock::tryAcquire(folder + QLatin1Char('/') + id + kLockSuffix);
        if (!lock) continue;
        const QString notePath = folder + QLatin1Char('/') + id + kNoteSuffix;
        cleanUpInterruptedWrite(notePath); // a kill while the note was written
        if (NativePath::exists(notePath)) {
            const auto bytes = readFileSafely(notePath);
            if (!bytes) continue; // cannot be read now: another time
            const Outcome outcome = takeBack(QJsonDocument::fromJson(*bytes).object());
            if (outcome == Outcome::later) continue;
            if (outcome == Outcome::tookBack) ++tookBack;
            removeFile(notePath);
        }
        lock->removeFile();
    }
    return tookBack;
}

} // namespace lumora
