// What a page may load from this computer: which addresses name local files,
// and which files are ordinary enough to read, checked with hostile ones
// (pipes, devices, sockets, folders, huge and virtual files, links to them,
// files swapped or removed between the check and the read).
#include "platform/files/LocalResources.h"

#include "platform/files/FileReader.h"
#include "support/HostileFiles.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>

using namespace lumora;
using namespace lumora::test;

namespace {

using Code = PlatformError::Code;

// The outcome of a check or read as one word, for the table.
template <typename Result>
std::string outcome(const Result& result)
{
    if (result.ok()) return "ok";
    switch (result.error().code) {
    case Code::notAFile: return "notAFile";
    case Code::tooLarge: return "tooLarge";
    case Code::fileNotFound: return "fileNotFound";
    case Code::permissionDenied: return "permissionDenied";
    default: return "other: " + result.error().message().toStdString();
    }
}

} // namespace

TEST(LocalResources, AddressesNameLocalFilesOnly)
{
    const struct {
        const char* address;
        const char* folder;
        std::optional<QString> path;
    } cases[] = {
        {"picture.png", "/home/writer/Notes", QStringLiteral("/home/writer/Notes/picture.png")},
        {"images/a%20b.png", "/home/writer/Notes", QStringLiteral("/home/writer/Notes/images/a b.png")},
        {"./images/../images/c.png", "/home/writer/Notes", QStringLiteral("/home/writer/Notes/images/c.png")},
        {"../Shared/d.png", "/home/writer/Notes", QStringLiteral("/home/writer/Shared/d.png")},
        {"/srv/pictures/e.png", "/home/writer/Notes", QStringLiteral("/srv/pictures/e.png")},
        {"/srv/pictures/e.png", "", QStringLiteral("/srv/pictures/e.png")},
        {"file:///srv/pictures/f.png", "", QStringLiteral("/srv/pictures/f.png")},
        {"FILE:///srv/pictures/f.png", "", QStringLiteral("/srv/pictures/f.png")},
        {"file://localhost/srv/g.png", "", QStringLiteral("/srv/g.png")},
        {"file:///dev/zero", "", QStringLiteral("/dev/zero")}, // named; the check refuses it
        {"picture.png?size=2#top", "/home/writer/Notes", QStringLiteral("/home/writer/Notes/picture.png")},
        // A relative address means nothing without the document's folder.
        {"picture.png", "", std::nullopt},
        {"picture.png", "relative/folder", std::nullopt},
        {"..", ":", std::nullopt}, // Qt's resources are no folder
        {":/resources/k.png", "", std::nullopt},
        // Not this computer's files.
        {"file://server/share/h.png", "", std::nullopt},
        {"//example.org/i.png", "/home/writer/Notes", std::nullopt},
        {"http://example.org/j.png", "/home/writer/Notes", std::nullopt},
        {"https://example.org/j.png", "", std::nullopt},
        {"ftp://example.org/j.png", "", std::nullopt},
        {"qrc:/resources/k.png", "", std::nullopt},
        {"data:image/png;base64,iVBORw0KGgo=", "/home/writer/Notes", std::nullopt},
        {"javascript:alert(1)", "/home/writer/Notes", std::nullopt},
        {"", "/home/writer/Notes", std::nullopt},
        {"#fragment", "/home/writer/Notes", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(localResourcePath(QUrl(QString::fromUtf8(c.address)), QString::fromUtf8(c.folder)), c.path)
            << c.address << " in " << c.folder;
    }
}

TEST(LocalResources, OnlyOrdinaryFilesOfBoundedSizeAreReadAndNothingBlocks)
{
    const QString dir = freshDirectory(QStringLiteral("res"));
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(100, 'x');
    writeFile(dir + "/picture.png", png);
    writeFile(dir + "/empty.png", {});
    QDir().mkpath(dir + "/folder.png");
    WatchedPipe pipe(dir + "/pipe.png");
    ListeningSocket socket(dir + "/sock.png");
    makeSparseFile(dir + "/huge.png", qint64(1) << 40);
    makeSparseFile(dir + "/bound.png", 4096);
    makeLink(dir + "/pipe.png", dir + "/to-pipe.png");
    makeLink(QStringLiteral("/dev/zero"), dir + "/to-zero.png");
    makeLink(dir + "/picture.png", dir + "/to-picture.png");
    makeLink(dir + "/nowhere.png", dir + "/dangling.png");

    const struct {
        QString path;
        std::string expected;
        qint64 maximum = maximumLocalResourceSize;
    } cases[] = {
        {dir + "/picture.png", "ok"},
        {dir + "/to-picture.png", "ok"},
        {dir + "/empty.png", "ok"},
        {dir + "/bound.png", "ok", 4096},
        {dir + "/bound.png", "tooLarge", 4095},
        {dir + "/huge.png", "tooLarge"},
        {dir + "/pipe.png", "notAFile"},
        {dir + "/to-pipe.png", "notAFile"},
        {dir + "/sock.png", "notAFile"},
        {dir + "/folder.png", "notAFile"},
        {QStringLiteral("/dev/zero"), "notAFile"},
        {QStringLiteral("/dev/null"), "notAFile"},
        {dir + "/to-zero.png", "notAFile"},
        {QStringLiteral("/proc/self/status"), "notAFile"},
        {QStringLiteral("/proc/self/mem"), "notAFile"},
        {dir + "/dangling.png", "fileNotFound"},
        {dir + "/missing.png", "fileNotFound"},
        {QString(), "fileNotFound"},
    };
    for (const auto& c : cases) {
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(outcome(checkLocalResource(c.path, c.maximum)), c.expected) << c.path.toStdString();
        const PlatformResult<QByteArray> read = readLocalResource(c.path, c.maximum);
        EXPECT_EQ(outcome(read), c.expected) << c.path.toStdString();
        EXPECT_LT(timer.elapsed(), test::patience) << c.path.toStdString();
        if (c.path.endsWith("picture.png") && read) {
            EXPECT_EQ(*read, png);
        }
    }
    // The kernel's files under /sys, where there are any.
    const QString kernelFile = QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
    if (QFileInfo(kernelFile).isFile()) {
        EXPECT_EQ(outcome(checkLocalResource(kernelFile)), "notAFile");
    }
    EXPECT_FALSE(pipe.opened()) << "the pipe was opened";
}

TEST(LocalResources, AFileSwappedOrRemovedAfterTheCheckIsNeverWaitedFor)
{
    const QString dir = freshDirectory(QStringLiteral("swap"));
    const QString path = dir + "/picture.png";

    // A pipe takes the file's place between the check and the read: it is
    // opened without waiting for a writer, seen for what it is, and refused.
    writeFile(path, "not yet a pipe");
    ASSERT_TRUE(checkLocalResource(path).ok());
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600), 0);
    ASSERT_EQ(::rename(QFile::encodeName(dir + "/pipe").constData(), QFile::encodeName(path).constData()), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(outcome(readLocalResource(path)), "notAFile");
    EXPECT_LT(timer.elapsed(), test::patience);

    // The same with a link to a device.
    QFile::remove(path);
    writeFile(path, "not yet a device");
    ASSERT_TRUE(checkLocalResource(path).ok());
    QFile::remove(path);
    makeLink(QStringLiteral("/dev/zero"), path);
    EXPECT_EQ(outcome(readLocalResource(path)), "notAFile");

    // Removed after the check: missing, nothing else.
    QFile::remove(path);
    writeFile(path, "here for a moment");
    ASSERT_TRUE(checkLocalResource(path).ok());
    QFile::remove(path);
    EXPECT_EQ(outcome(readLocalResource(path)), "fileNotFound");
}
