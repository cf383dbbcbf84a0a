#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace lumora::test {

// A small tmpfs mounted on a fresh folder for one test: a disk that fills,
// or one that goes away. Where the system does not let the test mount (CI,
// a user without the right), ok() is false and why() says why; the test
// skips then. Unmounted at the end, lazily, whatever still holds it.
// eject() is the ordinary unmount of a desktop's Eject, refused while
// anything holds the disk.
class TmpfsMount {
public:
    TmpfsMount(const QString& folder, const QByteArray& options)
        : m_folder(folder), m_native(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        if (::mount("tmpfs", m_native.constData(), "tmpfs", 0, options.constData()) == 0) {
            m_mounted = true;
        } else {
            m_why = QStringLiteral("tmpfs cannot be mounted here: ") + QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    ~TmpfsMount() { unmount(); }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool ok() const { return m_mounted; }
    std::string why() const { return m_why.toStdString(); }
    const QString& folder() const { return m_folder; }

    // Takes the disk away as a forced eject does: the folder left behind
    // is the bare mount point, while whatever held the disk keeps it.
    bool unmount()
    {
        if (!m_mounted) return false;
        m_mounted = false;
        return ::umount2(m_native.constData(), MNT_DETACH) == 0;
    }

    // Unmounts as the desktop's Eject does: 0, or the errno of the refusal
    // (EBUSY: something holds the disk; it stays mounted then).
    int eject()
    {
        if (!m_mounted) return EINVAL;
        if (::umount2(m_native.constData(), 0) != 0) return errno;
        m_mounted = false;
        return 0;
    }

private:
    QString m_folder;
    QByteArray m_native;
    bool m_mounted = false;
    QString m_why;
};

} // namespace lumora::test
