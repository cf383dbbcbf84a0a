#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace lumora {

// A lasting link to a file or folder chosen by the user: its path with the
// device and inode it had then (and its birth time, where the disk keeps
// one: inode numbers are used again), serialisable to data for the
// preferences.
//
// Resolving looks, in this order, for the item at its path with the same
// inode; for an item of the same kind at its path (it was replaced, as editors
// do when they save by writing a new file over the old name); for the same
// inode in its old parent folder (it was renamed there). The last two report
// the bookmark as stale. When none is found, resolving fails with a message
// that names the item.
class Bookmark {
public:
    // A bookmark of an existing item; none (with a message) when the item
    // cannot be examined.
    static std::optional<Bookmark> create(const QString& path, QString* error = nullptr);

    // The serialised form, and back; fromData gives none for data that is
    // not a bookmark.
    QByteArray data() const;
    static std::optional<Bookmark> fromData(const QByteArray& data);

    struct Resolution {
        QString path;
        bool isStale = false; // found elsewhere than recorded, or replaced
    };
    std::optional<Resolution> resolve(QString* error = nullptr) const;

    const QString& path() const { return m_path; }
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }
    bool isDirectory() const { return m_isDirectory; }
    // Nanoseconds since the epoch; 0 where the disk keeps no birth times.
    qint64 birth() const { return m_birth; }

    friend bool operator==(const Bookmark&, const Bookmark&) = default;

private:
    QString m_path; // absolute, clean
    quint64 m_device = 0;
    quint64 m_inode = 0;
    bool m_isDirectory = false;
    qint64 m_birth = 0;
};

} // namespace lumora
