#include "platform/files/Bookmark.h"

#include "platform/files/NativePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>

namespace lumora {

namespace {

// Marks the data as ours; a later layout would bump the number.
constexpr int kFormat = 1;

struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    bool isDirectory = false;
    qint64 birth = 0;
};

std::optional<Identity> identity(const QString& path, int* error = nullptr)
{
    struct statx st {};
    if (::statx(AT_FDCWD, NativePath::encode(path).constData(), AT_STATX_SYNC_AS_STAT,
                STATX_TYPE | STATX_INO | STATX_BTIME, &st)
        != 0) {
        if (error) *error = errno;
        return std::nullopt;
    }
    Identity id{makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, S_ISDIR(st.stx_mode)};
    if (st.stx_mask & STATX_BTIME) id.birth = qint64(st.stx_btime.tv_sec) * 1'000'000'000 + st.stx_btime.tv_nsec;
    return id;
}

// The same item: inode numbers are used again, so the kind, and the birth
// time where both are known, must match too.
bool isSame(const Identity& id, quint64 device, quint64 inode, bool isDirectory, qint64 birth)
{
    return id.device == device && id.inode == inode && id.isDirectory == isDirectory
           && (!id.birth || !birth || id.birth == birth);
}

QString displayName(const QString& path)
{
    return NativePath::shownNameOf(path);
}

} // namespace

std::optional<Bookmark> Bookmark::create(const QString& path, QString* error)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    int err = 0;
    const auto id = identity(clean, &err);
    if (!id) {
        if (error)
            *error = QStringLiteral("“%1” cannot be linked: %2.")
                         .arg(displayName(clean), QString::fromLocal8Bit(std::strerror(err)));
        return std::nullopt;
    }
    Bookmark b;
    b.m_path = clean;
    b.m_device = id->device;
    b.m_inode = id->inode;
    b.m_isDirectory = id->isDirectory;
    b.m_birth = id->birth;
    return b;
}

QByteArray Bookmark::data() const
{
    // Device and inode numbers may exceed what a JSON number holds exactly,
    // so they are written as decimal strings.
    QJsonObject o{
        {"bookmark", kFormat},
        {"path", m_path},
        {"device", QString::number(m_device)},
        {"inode", QString::number(m_inode)},
        {"directory", m_isDirectory},
    };
    if (m_birth) o.insert("born", QString::number(m_birth));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Bookmark> Bookmark::fromData(const QByteArray& data)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    if (o.value("bookmark").toInt() != kFormat || !o.value("path").isString() || !o.value("device").isString()
        || !o.value("inode").isString() || !o.value("directory").isBool())
        return std::nullopt;
    Bookmark b;
    b.m_path = o.value("path").toString();
    bool deviceOk = false;
    bool inodeOk = false;
    b.m_device = o.value("device").toString().toULongLong(&deviceOk);
    b.m_inode = o.value("inode").toString().toULongLong(&inodeOk);
    b.m_isDirectory = o.value("directory").toBool();
    // Records made before birth times were kept have none.
    b.m_birth = o.value("born").toString().toLongLong();
    if (!deviceOk || !inodeOk || b.m_path.isEmpty() || QDir::isRelativePath(b.m_path)) return std::nullopt;
    return b;
}

std::optional<Bookmark::Resolution> Bookmark::resolve(QString* error) const
{
    const auto atPath = identity(m_path);
    if (atPath && isSame(*atPath, m_device, m_inode, m_isDirectory, m_birth)) return Resolution{m_path, false};

    // Replaced by a new item of the same kind at the same path. The path
    // wins over the old inode: editors that keep a backup rename the
    // original away and write a new file where the user expects it.
    if (atPath && atPath->isDirectory == m_isDirectory) return Resolution{m_path, true};

    // Renamed within its folder: the same inode under another name.
    const QString parent = QFileInfo(m_path).absolutePath();
    const QStringList entries =
        QDir(parent).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QString candidate = QDir(parent).filePath(entry);
        const auto id = identity(candidate);
        if (id && isSame(*id, m_device, m_inode, m_isDirectory, m_birth)) return Resolution{candidate, true};
    }

    if (error)
        *error = QStringLiteral("“%1” could not be found at %2; it may have been moved or deleted.")
                     .arg(displayName(m_path), m_path);
    return std::nullopt;
}

} // namespace lumora
