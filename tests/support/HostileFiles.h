#pragma once

// Files that must never be read as a page's images: a named pipe that
// notices when something opens it, a listening socket, a huge sparse file.
// (Header only.)
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace lumora::test {

// A named pipe that tells whether anything opened it for reading. A reader
// blocks in open() until a writer comes; the watch comes as the writer, so
// it sees the reader arrive. With release, it closes its end at once and
// the reader reads an empty file instead of waiting forever (a test that
// fails must not hang); without, it keeps its end open until the watch
// goes, and the reader stays stuck as it would be with nobody writing.
class WatchedPipe {
public:
    explicit WatchedPipe(const QString& path, bool release = true) : m_path(path), m_release(release)
    {
        m_made = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        EXPECT_TRUE(m_made) << "mkfifo " << path.toStdString() << ": " << std::strerror(errno);
        if (m_made) m_thread = std::thread([this] { watch(); });
    }
    ~WatchedPipe()
    {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (m_held >= 0) ::close(m_held);
    }
    WatchedPipe(const WatchedPipe&) = delete;
    WatchedPipe& operator=(const WatchedPipe&) = delete;

    const QString& path() const { return m_path; }
    // Whether a reader opened the pipe (or tried to, and was let go).
    bool opened() const { return m_opened; }

private:
    void watch()
    {
        const QByteArray name = QFile::encodeName(m_path);
        while (!m_stop) {
            // Succeeds only while a reader has the pipe open (or waits in open()).
            const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_opened = true;
                if (m_release) {
                    ::close(fd);
                } else if (m_held < 0) {
                    m_held = fd;
                } else {
                    ::close(fd);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    QString m_path;
    bool m_release;
    bool m_made = false;
    int m_held = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_opened{false};
    std::thread m_thread;
};

// A Unix socket listening at path, for as long as the object lives.
class ListeningSocket {
public:
    explicit ListeningSocket(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        EXPECT_LT(size_t(name.size()), sizeof(address.sun_path)) << "socket path too long";
        std::memcpy(address.sun_path, name.constData(), std::min(size_t(name.size()), sizeof(address.sun_path) - 1));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << std::strerror(errno);
        EXPECT_EQ(::listen(m_fd, 1), 0);
    }
    ~ListeningSocket() { ::close(m_fd); }
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;

private:
    int m_fd = -1;
};

// A file that says it holds size bytes and takes no room on the disk.
inline void makeSparseFile(const QString& path, qint64 size)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(size)) << file.errorString().toStdString();
}

// A symbolic link at link that points to target.
inline void makeLink(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0)
        << std::strerror(errno);
}

// A document's folder with the writer's own images and every kind of file
// a page must never read, under the names the page tests use:
//   images/inside.png (40 x 30), and beside the folder, in other:
//   outside.png (50 x 20) and absolute.png (24 x 12);
//   pipe.png and style.css (named pipes), images/to-pipe.png (a link to
//   the pipe), s.png (a socket), huge.png (1 TB, sparse), folder.png (a
//   folder).
class HostileImageFolder {
public:
    HostileImageFolder(const QString& dir, const QString& other)
        : pipe(dir + QStringLiteral("/pipe.png")), style(dir + QStringLiteral("/style.css")),
          m_socket(dir + QStringLiteral("/s.png"))
    {
        QDir().mkpath(dir + QStringLiteral("/images"));
        QDir().mkpath(dir + QStringLiteral("/folder.png"));
        saveImage(QSize(40, 30), dir + QStringLiteral("/images/inside.png"));
        saveImage(QSize(50, 20), other + QStringLiteral("/outside.png"));
        saveImage(QSize(24, 12), other + QStringLiteral("/absolute.png"));
        makeSparseFile(dir + QStringLiteral("/huge.png"), qint64(1) << 40);
        makeLink(dir + QStringLiteral("/pipe.png"), dir + QStringLiteral("/images/to-pipe.png"));
    }

    WatchedPipe pipe;
    WatchedPipe style;

private:
    static void saveImage(QSize size, const QString& path)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::red);
        EXPECT_TRUE(image.save(path)) << path.toStdString();
    }

    ListeningSocket m_socket;
};

} // namespace lumora::test
