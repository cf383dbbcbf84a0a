#include "platform/files/FolderWatcher.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// Every event as one line, paths as they were reported.
struct Recorder {
    QStringList events;
    explicit Recorder(FolderWatcher& watcher)
    {
        QObject::connect(&watcher, &FolderWatcher::itemAppeared, [this](const QString& p) { events << "+ " + p; });
        QObject::connect(&watcher, &FolderWatcher::itemChanged, [this](const QString& p) { events << "~ " + p; });
        QObject::connect(&watcher, &FolderWatcher::itemRemoved, [this](const QString& p) { events << "- " + p; });
        QObject::connect(&watcher, &FolderWatcher::itemMoved,
                         [this](const QString& a, const QString& b) { events << "> " + a + " " + b; });
        QObject::connect(&watcher, &FolderWatcher::rootMoved, [this](const QString& p) { events << "root " + p; });
        QObject::connect(&watcher, &FolderWatcher::rootDeleted, [this] { events << "root deleted"; });
        QObject::connect(&watcher, &FolderWatcher::rootUnavailable, [this] { events << "root unavailable"; });
        QObject::connect(&watcher, &FolderWatcher::needsReconcile, [this] { events << "reconcile"; });
    }
    bool waitFor(const QString& line)
    {
        return QTest::qWaitFor([&] { return events.contains(line); }, test::patience);
    }
};

bool rename(const QString& a, const QString& b)
{
    return ::rename(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()) == 0;
}

} // namespace

TEST(FolderWatcher, PairsRenamesAndFollowsMovedFolders)
{
    const QString root = freshDirectory("watched");
    const QString outside = freshDirectory("outside");
    QDir(root).mkdir("Sub");
    FolderWatcher watcher;
    ASSERT_TRUE(watcher.start(root).ok());
    ASSERT_TRUE(watcher.watchFolder(root + "/Sub"));
    Recorder r(watcher);

    writeFile(root + "/a.md", "a");
    ASSERT_TRUE(r.waitFor("~ " + root + "/a.md"));
    EXPECT_EQ(r.events.first(), "+ " + root + "/a.md");

    ASSERT_TRUE(rename(root + "/a.md", root + "/b.md"));
    ASSERT_TRUE(r.waitFor("> " + root + "/a.md " + root + "/b.md"));
    ASSERT_TRUE(rename(root + "/b.md", root + "/Sub/b.md"));
    ASSERT_TRUE(r.waitFor("> " + root + "/b.md " + root + "/Sub/b.md"));

    // The watch of a renamed folder reports under its new name.
    ASSERT_TRUE(rename(root + "/Sub", root + "/Moved"));
    ASSERT_TRUE(r.waitFor("> " + root + "/Sub " + root + "/Moved"));
    writeFile(root + "/Moved/c.md", "c");
    ASSERT_TRUE(r.waitFor("+ " + root + "/Moved/c.md"));

    // Halves that find no partner: gone, and new.
    ASSERT_TRUE(rename(root + "/Moved/b.md", outside + "/b.md"));
    ASSERT_TRUE(r.waitFor("- " + root + "/Moved/b.md"));
    ASSERT_TRUE(rename(outside + "/b.md", root + "/back.md"));
    ASSERT_TRUE(r.waitFor("+ " + root + "/back.md"));
    ASSERT_TRUE(QFile::remove(root + "/back.md"));
    ASSERT_TRUE(r.waitFor("- " + root + "/back.md"));

    // A folder moved away takes its watches along: nothing more from it.
    ASSERT_TRUE(rename(root + "/Moved", outside + "/Moved"));
    ASSERT_TRUE(r.waitFor("- " + root + "/Moved"));
    EXPECT_EQ(watcher.watchCount(), 1);
    r.events.clear();
    writeFile(outside + "/Moved/d.md", "d");
    writeFile(root + "/e.md", "e");
    ASSERT_TRUE(r.waitFor("~ " + root + "/e.md"));
    EXPECT_EQ(r.events, (QStringList{"+ " + root + "/e.md", "~ " + root + "/e.md"}));
}

// The folder itself is followed without being held open (a disk with a
// watched folder can be ejected): renamed, moved with a folder above it,
// moved up into a folder above it, into the Trash, deleted there; moved
// where nothing watches, it is looked for and found again.
TEST(FolderWatcher, FollowsTheFolderItself)
{
    const QString parent = freshDirectory("parent");
    const QString root = parent + "/Library";
    QDir().mkpath(root);
    FolderWatcher watcher;
    ASSERT_TRUE(watcher.start(root).ok());
    Recorder r(watcher);
    const auto heldOpen = [&] {
        const QString folder = watcher.rootPath();
        const QDir descriptors("/proc/self/fd");
        for (const QFileInfo& fd : descriptors.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget();
            if (target == folder || target.startsWith(folder + "/")) return true;
        }
        return false;
    };
    EXPECT_FALSE(heldOpen());

    ASSERT_TRUE(rename(root, parent + "/Renamed"));
    ASSERT_TRUE(r.waitFor("root " + parent + "/Renamed"));
    EXPECT_EQ(watcher.rootPath(), parent + "/Renamed");
    writeFile(parent + "/Renamed/x.md", "x");
    ASSERT_TRUE(r.waitFor("+ " + parent + "/Renamed/x.md"));

    // A parent renamed moves the folder without a word to the folder itself.
    ASSERT_TRUE(rename(parent, parent + "-moved"));
    watcher.refreshRootPath();
    EXPECT_TRUE(r.events.contains("root " + parent + "-moved/Renamed"));
    EXPECT_FALSE(heldOpen());

    ASSERT_TRUE(rename(parent + "-moved/Renamed", parent + "-up"));
    ASSERT_TRUE(r.waitFor("root " + parent + "-up"));
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
    QDir().mkpath(trash);
    const QString trashed = trash + "/" + QFileInfo(parent).fileName();
    ASSERT_TRUE(rename(parent + "-up", trashed));
    ASSERT_TRUE(r.waitFor("root " + trashed));
    EXPECT_FALSE(heldOpen());

    ASSERT_TRUE(QDir(trashed).removeRecursively());
    ASSERT_TRUE(r.waitFor("root deleted"));

    QDir().mkpath(root);
    FolderWatcher away;
    ASSERT_TRUE(away.start(root).ok());
    Recorder gone(away);
    const QString elsewhere = freshDirectory("elsewhere") + "/Library";
    ASSERT_TRUE(rename(root, elsewhere));
    ASSERT_TRUE(gone.waitFor("root " + elsewhere));
    EXPECT_FALSE(gone.events.contains("root deleted"));
    EXPECT_FALSE(gone.events.contains("root unavailable"));
}

namespace {

// Another program moves what is named: a real mv in a process of its own.
void moveByAnotherProgram(const QString& from, const QString& to)
{
    QProcess mv;
    mv.start("mv", {from, to});
    ASSERT_TRUE(mv.waitForFinished(test::patience));
    ASSERT_EQ(mv.exitCode(), 0) << mv.readAllStandardError().toStdString();
}

} // namespace

// Another program moves the watched folder, or a folder above it, into a
// folder nobody watches: sideways into a sibling, far off under a folder
// further up, and with its parent. The watcher finds it again by its device
// and inode; where another watcher saw it arrive, it follows at once, even
// beyond where it would look. Moved further than it looks, and seen by no
// one, the folder is said to be unavailable, not deleted.
TEST(FolderWatcher, FollowsItsFolderWhereverAnotherProgramMovesIt)
{
    const QString base = freshDirectory("moves");
    struct Case {
        QString folder, from, to, now;
    };
    const QList<Case> cases{
        {"L/proj", "L/proj", "L/other/", "L/other/proj"},
        {"L/a", "L/a", "elsewhere/deep/a", "elsewhere/deep/a"},
        {"L/a/b", "L/a", "L/other/a", "L/other/a/b"},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.from.toStdString() + " -> " + c.to.toStdString());
        const QString top = base + "/" + QString::number(i);
        ASSERT_TRUE(QDir().mkpath(top + "/" + c.folder));
        ASSERT_TRUE(QDir().mkpath(top + "/L/other"));
        ASSERT_TRUE(QDir().mkpath(top + "/elsewhere/deep"));
        FolderWatcher watcher;
        ASSERT_TRUE(watcher.start(top + "/" + c.folder).ok());
        Recorder r(watcher);
        moveByAnotherProgram(top + "/" + c.from, top + "/" + c.to);
        ASSERT_TRUE(r.waitFor("root " + top + "/" + c.now)) << r.events.join(", ").toStdString();
        EXPECT_EQ(watcher.rootPath(), top + "/" + c.now);
        writeFile(top + "/" + c.now + "/x.md", "x");
        ASSERT_TRUE(r.waitFor("+ " + top + "/" + c.now + "/x.md"));
    }

    // Deeper than the search goes, but into a folder another watcher
    // follows (a library's): that watcher's news is enough.
    const QString library = base + "/Library";
    const QString deep = library + "/1/2/3/4/5/6";
    ASSERT_TRUE(QDir().mkpath(deep));
    ASSERT_TRUE(QDir().mkpath(library + "/Project"));
    FolderWatcher libraryWatcher;
    ASSERT_TRUE(libraryWatcher.start(library).ok());
    QString folder = library;
    for (int level = 1; level <= 6; ++level) {
        folder += "/" + QString::number(level);
        ASSERT_TRUE(libraryWatcher.watchFolder(folder));
    }
    FolderWatcher documentWatcher;
    ASSERT_TRUE(documentWatcher.start(library + "/Project").ok());
    Recorder r(documentWatcher);
    moveByAnotherProgram(library + "/Project", deep + "/Project");
    ASSERT_TRUE(r.waitFor("root " + deep + "/Project")) << r.events.join(", ").toStdString();

    // Seen by nobody, deeper than the search goes.
    const QString far = freshDirectory("far") + "/1/2/3/4/5/6/7";
    ASSERT_TRUE(QDir().mkpath(far));
    FolderWatcher lost;
    ASSERT_TRUE(lost.start(deep + "/Project").ok());
    Recorder l(lost);
    libraryWatcher.stop();
    documentWatcher.stop();
    moveByAnotherProgram(deep + "/Project", far + "/Project");
    ASSERT_TRUE(l.waitFor("root unavailable")) << l.events.join(", ").toStdString();
    EXPECT_FALSE(l.events.contains("root deleted"));
}

TEST(FolderWatcher, LostEventsAskForAReconcile)
{
    const QString root = freshDirectory("watched");
    writeFile(root + "/a.md", "a");
    writeFile(root + "/b.md", "b");
    QDir(root).mkpath("Sub/Inner");
    FolderWatcher watcher;
    ASSERT_TRUE(watcher.start(root).ok());
    ASSERT_TRUE(watcher.watchFolder(root + "/Sub"));
    ASSERT_TRUE(watcher.watchFolder(root + "/Sub/Inner"));
    Recorder r(watcher);

    // More events than the kernel keeps (16384 by default), never read in
    // between. Alternating files keeps the kernel from merging them.
    const QByteArray a = QFile::encodeName(root + "/a.md");
    const QByteArray b = QFile::encodeName(root + "/b.md");
    for (int i = 0; i < 20000; ++i) ::utimensat(AT_FDCWD, (i % 2 ? a : b).constData(), nullptr, 0);
    ASSERT_TRUE(r.waitFor("reconcile"));
    EXPECT_FALSE(r.events.contains("~ " + root + "/a.md"));

    // A folder that cannot be watched asks for one too, once its turn ends.
    r.events.clear();
    EXPECT_FALSE(watcher.watchFolder(root + "/Missing"));
    ASSERT_TRUE(r.waitFor("reconcile"));

    // Watches not renewed by a reconcile go; failures during it ask nothing.
    r.events.clear();
    watcher.beginRewatch();
    EXPECT_TRUE(watcher.watchFolder(root + "/Sub"));
    EXPECT_FALSE(watcher.watchFolder(root + "/Missing"));
    watcher.endRewatch();
    EXPECT_EQ(watcher.watchCount(), 2);
    QTest::qWait(20);
    EXPECT_TRUE(r.events.isEmpty());
}
