#pragma once

#include "support/Patience.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace lumora::test {

// A real disk for one test: an ext2 image in a file of the test's own, on a
// loop device that stays attached while the disk is ejected, so that it
// comes back with the same device and the same inodes, as a USB stick
// plugged in again does. Where the system does not let the test make one
// (no loop devices, no right to mount), ok() is false and why() says why;
// the test skips then. At the end it is unmounted (lazily, whatever still
// holds it), detached, and its image removed.
class LoopDisk {
public:
    LoopDisk(const QString& image, const QString& mountPoint) : m_image(image), m_folder(mountPoint)
    {
        QDir().mkpath(mountPoint);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(8 * 1024 * 1024)) {
            m_why = QStringLiteral("no room for the image");
            return;
        }
        file.close();
        QString out;
        if (!run(QStringLiteral("mkfs.ext2"), {QStringLiteral("-q"), QStringLiteral("-F"), image}, &out)) {
            m_why = QStringLiteral("mkfs.ext2: ") + out;
            return;
        }
        if (!run(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), image}, &out)) {
            m_why = QStringLiteral("losetup: ") + out;
            return;
        }
        m_device = out.trimmed();
        if (!mount()) {
            m_why = QStringLiteral("the loop device cannot be mounted: ") + QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        // A disk with nothing on it, as the writer's would be.
        QDir(mountPoint).rmdir(QStringLiteral("lost+found"));
    }
    ~LoopDisk()
    {
        if (m_mounted) ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
        if (!m_device.isEmpty()) run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device}, nullptr);
        QFile::remove(m_image);
    }
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;

    bool ok() const { return m_mounted; }
    std::string why() const { return m_why.toStdString(); }

    // Mounts the disk (again) at its folder.
    bool mount()
    {
        if (m_mounted) return true;
        m_mounted = ::mount(QFile::encodeName(m_device).constData(), QFile::encodeName(m_folder).constData(), "ext2",
                            0, nullptr)
                    == 0;
        return m_mounted;
    }
    // Unmounts as the desktop's Eject does: 0, or the errno of the refusal
    // (EBUSY: something holds the disk; it stays mounted then).
    int eject()
    {
        if (!m_mounted) return EINVAL;
        if (::umount2(QFile::encodeName(m_folder).constData(), 0) != 0) return errno;
        m_mounted = false;
        return 0;
    }

private:
    static bool run(const QString& program, const QStringList& arguments, QString* output)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(patience)) return false;
        if (output) *output = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QString m_image;
    QString m_folder;
    QString m_device;
    bool m_mounted = false;
    QString m_why;
};

} // namespace lumora::test
