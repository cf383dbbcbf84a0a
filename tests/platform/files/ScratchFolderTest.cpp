// A process's private scratch folder: where it is, who may read it, and
// that only the folders of processes that have ended are cleaned away.
#include "platform/files/ScratchFolder.h"

#include "platform/files/FileLock.h"
#include "platform/files/FileWriter.h"
#include "support/HostileFiles.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;
using namespace lumora::test;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

// The number of a process that has ended.
qint64 endedProcess()
{
    QProcess process;
    process.start(QStringLiteral("true"));
    EXPECT_TRUE(process.waitForFinished(test::patience));
    return process.processId() ? process.processId() : 999999;
}

} // namespace

TEST(ScratchFolder, PrivateToTheUserAndGoneWithItsObject)
{
    const QString parent = ScratchFolder::parentFolder(QStringLiteral("scratch-test"));
    EXPECT_EQ(parent, qEnvironmentVariable("XDG_RUNTIME_DIR") + "/Lumora/scratch-test");
    QString path, file;
    {
        ScratchFolder folder(QStringLiteral("scratch-test"));
        ASSERT_TRUE(folder.isValid());
        path = folder.path();
        EXPECT_EQ(QFileInfo(path).path(), parent);
        EXPECT_TRUE(QFileInfo(path).fileName().startsWith(QString::number(::getpid()) + "-"));
        for (const QString& level : {QFileInfo(parent).path(), parent, path}) EXPECT_EQ(modeOf(level), 0700u) << level.toStdString();
        file = folder.filePath("page.html");
        FileWriteOptions ownerOnly;
        ownerOnly.ownerOnly = true;
        ASSERT_TRUE(writeFileSafely(file, "<p>page</p>", ownerOnly).ok());
        EXPECT_EQ(modeOf(file), 0600u);
        // Writing it again keeps its mode, as for any file.
        ASSERT_TRUE(writeFileSafely(file, "<p>again</p>").ok());
        EXPECT_EQ(modeOf(file), 0600u);
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    // Without a runtime folder, the cache folder takes its place.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(ScratchFolder::parentFolder(QStringLiteral("scratch-test")),
              qEnvironmentVariable("XDG_CACHE_HOME") + "/Lumora/scratch-test");
    {
        ScratchFolder folder(QStringLiteral("scratch-test"));
        EXPECT_TRUE(folder.isValid());
        EXPECT_TRUE(folder.path().startsWith(qEnvironmentVariable("XDG_CACHE_HOME")));
    }
    qputenv("XDG_RUNTIME_DIR", runtime);
}

TEST(ScratchFolder, OnlyTheFoldersOfEndedProcessesAreRemoved)
{
    const QString kind = QStringLiteral("abandon-test");
    const QString parent = ScratchFolder::parentFolder(kind);
    ScratchFolder mine(kind); // makes the parent
    ASSERT_TRUE(mine.isValid());
    const QString outside = freshDirectory("outside") + "/keep.txt";
    writeFile(outside, "not Lumora's");

    const qint64 ended = endedProcess();
    const QString crashed = parent + QStringLiteral("/%1-crash1").arg(ended);
    writeFile(crashed + "/preview-1.html", "a page left behind");
    writeFile(crashed + "/deeper/preview-2.html", "another");
    makeLink(outside, crashed + "/link.txt");
    // A folder whose process number is that of an ended process, but whose
    // lock is held: a Lumora in another process namespace.
    const QString elsewhere = parent + QStringLiteral("/%1-other1").arg(ended);
    writeFile(elsewhere + "/preview-1.html", "in use");
    auto held = FileLock::tryAcquire(elsewhere + "/.lock");
    ASSERT_TRUE(held);
    // A process that runs (this one) and holds no lock yet: it has just
    // made its folder.
    const QString starting = parent + QStringLiteral("/%1-start1").arg(::getpid());
    writeFile(starting + "/preview-1.html", "just made");
    // Not a folder of ours at all.
    makeLink(QFileInfo(outside).path(), parent + "/999999-link");

    EXPECT_EQ(ScratchFolder::removeAbandoned(kind), 1);
    EXPECT_FALSE(QFileInfo::exists(crashed));
    EXPECT_TRUE(QFileInfo::exists(outside));
    EXPECT_TRUE(QFileInfo::exists(elsewhere + "/preview-1.html"));
    EXPECT_TRUE(QFileInfo::exists(starting + "/preview-1.html"));
    EXPECT_TRUE(QFileInfo(mine.path()).isDir());
    EXPECT_TRUE(QFileInfo(parent + "/999999-link").isSymLink());

    // Once the other Lumora has ended, its folder goes too.
    held.reset();
    EXPECT_EQ(ScratchFolder::removeAbandoned(kind), 1);
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    QDir(starting).removeRecursively();
    QFile::remove(parent + "/999999-link");
}
