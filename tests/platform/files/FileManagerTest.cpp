#include "platform/files/FileManager.h"

#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include "support/TestEnvironment.h"
#include "support/TmpfsMount.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string_view>

using namespace lumora;
using namespace lumora::test;

namespace {

qint64 modifiedNs(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name | QDir::IgnoreCase);
}

// A folder on another file system than the sandbox, or none.
std::unique_ptr<QTemporaryDir> otherFileSystemFolder()
{
    auto dir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/lumora-test-XXXXXX"));
    if (!dir->isValid()) return nullptr;
    struct stat a {};
    struct stat b {};
    if (::stat(QFile::encodeName(dir->path()).constData(), &a) != 0
        || ::stat(QFile::encodeName(sandboxRoot()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        return nullptr;
    return dir;
}

} // namespace

TEST(FileManager, CreatesExclusivelyAndNumbersOnAClash)
{
    const QString folder = freshDirectory("manager");
    writeFile(folder + "/Notes.txt", "keep me");

    const auto refused = FileManager::createFile(folder + "/Notes.txt", "new", false);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, PlatformError::Code::fileExists);
    EXPECT_TRUE(refused.error().message().contains("Notes.txt"));
    EXPECT_EQ(readFile(folder + "/Notes.txt"), "keep me");

    EXPECT_EQ(*FileManager::createFile(folder + "/Notes.txt", "two", true), folder + "/Notes 2.txt");
    EXPECT_EQ(*FileManager::createFile(folder + "/Notes.txt", "", true), folder + "/Notes 3.txt");
    EXPECT_EQ(readFile(folder + "/Notes.txt"), "keep me");
    EXPECT_EQ(readFile(folder + "/Notes 2.txt"), "two");

    // A dangling link holds its name: nothing is written through it.
    ASSERT_TRUE(QFile::link(folder + "/elsewhere.txt", folder + "/Link.txt"));
    EXPECT_EQ(*FileManager::createFile(folder + "/Link.txt", "x", true), folder + "/Link 2.txt");
    EXPECT_FALSE(QFileInfo::exists(folder + "/elsewhere.txt"));

    QDir(folder).mkdir("Folder");
    writeFile(folder + "/Folder/inside.md", "x");
    EXPECT_EQ(*FileManager::createFolder(folder + "/Folder", true), folder + "/Folder 2");
    EXPECT_TRUE(QFileInfo::exists(folder + "/Folder/inside.md"));
    EXPECT_FALSE(FileManager::createFolder(folder + "/Folder", false).ok());
    EXPECT_FALSE(FileManager::createFile(folder + "/Gone/new.txt", "", true).ok());
}

TEST(FileManager, MovesNeverReplace)
{
    const QString folder = freshDirectory("manager");
    writeFile(folder + "/a.md", "a");
    writeFile(folder + "/b.md", "b");
    QDir(folder).mkdir("Full");
    writeFile(folder + "/Full/x.md", "x");
    QDir(folder).mkdir("Empty");

    for (bool fallback : {false, true}) {
        SCOPED_TRACE(fallback ? "fallback" : "renameat2");
        EXPECT_EQ(FileManager::renameWithoutReplacing(folder + "/a.md", folder + "/b.md", fallback), EEXIST);
        // rename(2) would silently replace an empty folder.
        EXPECT_EQ(FileManager::renameWithoutReplacing(folder + "/Full", folder + "/Empty", fallback), EEXIST);
        EXPECT_EQ(readFile(folder + "/a.md"), "a");
        EXPECT_EQ(readFile(folder + "/b.md"), "b");
        EXPECT_TRUE(QFileInfo::exists(folder + "/Full/x.md"));
    }
    EXPECT_EQ(FileManager::renameWithoutReplacing(folder + "/a.md", folder + "/c.md", true), 0);
    EXPECT_EQ(FileManager::renameWithoutReplacing(folder + "/Full", folder + "/Moved", true), 0);
    EXPECT_EQ(entriesOf(folder), (QStringList{"b.md", "c.md", "Empty", "Moved"}));

    const auto clash = FileManager::moveItem(folder + "/b.md", folder + "/c.md");
    ASSERT_FALSE(clash.ok());
    EXPECT_EQ(clash.error().errorDescription, "“b.md” couldn't be renamed to “c.md”.");
    EXPECT_EQ(clash.error().recoverySuggestion, "An item named “c.md” is already there.");

    const auto intoItself = FileManager::moveItem(folder + "/Moved", folder + "/Moved/Inner/Moved");
    ASSERT_FALSE(intoItself.ok());
    EXPECT_TRUE(intoItself.error().recoverySuggestion.contains("into itself"));
    EXPECT_TRUE(FileManager::moveItem(folder + "/b.md", folder + "/Moved/b.md").ok());
    EXPECT_EQ(readFile(folder + "/Moved/b.md"), "b");
}

TEST(FileManager, MovesAcrossFileSystemsByCopying)
{
    const auto other = otherFileSystemFolder();
    if (!other) GTEST_SKIP() << "no second file system";
    const QString folder = freshDirectory("manager");
    writeFile(folder + "/Letter.md", "Dear reader");
    ::chmod(QFile::encodeName(folder + "/Letter.md").constData(), 0640);
    const qint64 time = modifiedNs(folder + "/Letter.md");
    ASSERT_TRUE(FileManager::moveItem(folder + "/Letter.md", other->path() + "/Letter.md").ok());
    EXPECT_FALSE(QFileInfo::exists(folder + "/Letter.md"));
    EXPECT_EQ(readFile(other->path() + "/Letter.md"), "Dear reader");
    EXPECT_EQ(modifiedNs(other->path() + "/Letter.md"), time);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(other->path() + "/Letter.md").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    QDir(folder).mkpath("Book/Part");
    writeFile(folder + "/Book/Part/one.md", "1");
    writeFile(folder + "/Book/.notes", "hidden too");
    ASSERT_TRUE(QFile::link("Part/one.md", folder + "/Book/link.md"));
    ASSERT_TRUE(FileManager::moveItem(folder + "/Book", other->path() + "/Book").ok());
    EXPECT_FALSE(QFileInfo::exists(folder + "/Book"));
    EXPECT_EQ(readFile(other->path() + "/Book/Part/one.md"), "1");
    EXPECT_EQ(readFile(other->path() + "/Book/.notes"), "hidden too");
    EXPECT_EQ(QFileInfo(other->path() + "/Book/link.md").symLinkTarget(), other->path() + "/Book/Part/one.md");

    // Back onto a name that is taken: refused before any copy.
    writeFile(folder + "/Letter.md", "another");
    EXPECT_FALSE(FileManager::moveItem(other->path() + "/Letter.md", folder + "/Letter.md").ok());
    EXPECT_EQ(readFile(folder + "/Letter.md"), "another");
    EXPECT_EQ(readFile(other->path() + "/Letter.md"), "Dear reader");
}

TEST(FileManager, AFailedCopyLeavesTheOriginalAndNoTrace)
{
    const auto other = otherFileSystemFolder();
    if (!other) GTEST_SKIP() << "no second file system";
    const QString folder = freshDirectory("manager");
    QDir(folder).mkdir("Box");
    writeFile(folder + "/Box/note.md", "x");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/Box/pipe").constData(), 0600), 0);
    const auto moved = FileManager::moveItem(folder + "/Box", other->path() + "/Box");
    ASSERT_FALSE(moved.ok());
    EXPECT_TRUE(moved.error().recoverySuggestion.contains("pipe")) << moved.error().message().toStdString();
    EXPECT_EQ(entriesOf(folder + "/Box"), (QStringList{"note.md", "pipe"}));
    EXPECT_TRUE(entriesOf(other->path()).isEmpty());
}

namespace {

QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
}

// The record of a trashed item, by key.
QMap<QString, QByteArray> trashRecord(const QString& infoFile)
{
    QMap<QString, QByteArray> record;
    const auto read = readFileSafely(infoFile); // by its real bytes
    const QByteArray text = read ? *read : QByteArray();
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0) != "[Trash Info]") return record;
    for (const QByteArray& line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) record.insert(QString::fromLatin1(line.left(eq)), line.mid(eq + 1));
    }
    return record;
}

} // namespace

TEST(FileManager, TrashRecordsEachItemByItsRealNameForTheDesktopToRestore)
{
    const QString folder = freshDirectory("manager");
    // A name that is not UTF-8, and one already in the Trash.
    const QByteArray raw = QFile::encodeName(folder) + "/Lettre \xe9t\xe9.md";
    const QString odd = NativePath::decode(raw);
    ASSERT_TRUE(writeFileSafely(odd, "summer").ok());
    writeFile(folder + "/twice.md", "first");
    const auto first = FileManager::moveItemToTrash(folder + "/twice.md");
    ASSERT_TRUE(first.ok()) << first.error().message().toStdString();
    writeFile(folder + "/twice.md", "second");

    const auto trashed = FileManager::moveItemToTrash(odd);
    ASSERT_TRUE(trashed.ok()) << trashed.error().message().toStdString();
    EXPECT_FALSE(NativePath::exists(odd));
    EXPECT_EQ(NativePath::encode(*trashed), QFile::encodeName(trashFolder()) + "/files/Lettre \xe9t\xe9.md");
    const auto record = trashRecord(NativePath::decode(QFile::encodeName(trashFolder()) + "/info/Lettre \xe9t\xe9.md.trashinfo"));
    EXPECT_EQ(record.value("Path"), raw.toPercentEncoding("/"));
    EXPECT_TRUE(QDateTime::fromString(QString::fromLatin1(record.value("DeletionDate")), Qt::ISODate).isValid());

    // A second item of the same name gets a name of its own.
    const auto again = FileManager::moveItemToTrash(folder + "/twice.md");
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(*again, trashFolder() + "/files/twice 2.md");
    EXPECT_EQ(readFile(*again), "second");
    EXPECT_EQ(trashRecord(trashFolder() + "/info/twice 2.md.trashinfo").value("Path"),
              QFile::encodeName(folder + "/twice.md").toPercentEncoding("/"));
}

TEST(FileManager, TrashThatCannotRecordTheItemLeavesItWhereItIs)
{
    const QString folder = freshDirectory("manager");
    writeFile(folder + "/keep.md", "keep");
    const QStringList before = entriesOf(trashFolder() + "/info");
    // The disk fills while the record is written.
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "sync" ? ENOSPC : 0; });
    const auto refused = FileManager::moveItemToTrash(folder + "/keep.md");
    setFileWriteFaultHook({});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().errorDescription, "“keep.md” couldn't be moved to the Trash.");
    EXPECT_TRUE(refused.error().recoverySuggestion.contains("full")) << refused.error().recoverySuggestion.toStdString();
    EXPECT_TRUE(refused.error().recoverySuggestion.contains("left where it is"));
    EXPECT_EQ(readFile(folder + "/keep.md"), "keep");
    EXPECT_EQ(entriesOf(trashFolder() + "/info"), before);
    EXPECT_FALSE(QFileInfo::exists(trashFolder() + "/files/keep.md"));
}

TEST(FileManager, TrashOnAFullDiskOfItsOwnKeepsTheItem)
{
    const QString folder = freshDirectory("manager-tmpfs") + "/disk";
    TmpfsMount disk(folder, "size=64k,mode=0755");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(folder + "/Notes.md", "a note");
    // A Trash on that disk, then the disk full to the last byte.
    writeFile(folder + "/first.md", "x");
    ASSERT_TRUE(FileManager::moveItemToTrash(folder + "/first.md").ok());
    const QString own = folder + "/.Trash-" + QString::number(::geteuid());
    EXPECT_TRUE(QFileInfo::exists(own + "/info/first.md.trashinfo"));
    {
        QFile filler(folder + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {}
    }
    const auto refused = FileManager::moveItemToTrash(folder + "/Notes.md");
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().recoverySuggestion.contains("full")) << refused.error().recoverySuggestion.toStdString();
    EXPECT_EQ(readFile(folder + "/Notes.md"), "a note");
    EXPECT_FALSE(QFileInfo::exists(own + "/info/Notes.md.trashinfo"));
    EXPECT_FALSE(QFileInfo::exists(own + "/files/Notes.md"));
    // With room again it goes, with its record.
    QFile::remove(folder + "/filler");
    ASSERT_TRUE(FileManager::moveItemToTrash(folder + "/Notes.md").ok());
    EXPECT_EQ(trashRecord(own + "/info/Notes.md.trashinfo").value("Path"), "Notes.md");
}

TEST(FileManager, TrashKeepsWhatCannotGoThere)
{
    const QString folder = freshDirectory("manager");
    writeFile(folder + "/old.md", "old");
    const auto trashed = FileManager::moveItemToTrash(folder + "/old.md");
    ASSERT_TRUE(trashed.ok()) << trashed.error().message().toStdString();
    EXPECT_TRUE(FileManager::isInTrash(*trashed));
    EXPECT_EQ(readFile(*trashed), "old");
    EXPECT_FALSE(QFileInfo::exists(folder + "/old.md"));
    EXPECT_FALSE(FileManager::isInTrash(folder + "/old.md"));

    const auto missing = FileManager::moveItemToTrash(folder + "/missing.md");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, PlatformError::Code::fileNotFound);

    // No usable Trash: the file is reported and stays.
    const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    ASSERT_TRUE(QDir().rename(trash, trash + ".aside"));
    writeFile(trash, "not a folder");
    writeFile(folder + "/keep.md", "keep");
    const auto refused = FileManager::moveItemToTrash(folder + "/keep.md");
    QFile::remove(trash);
    QDir().rename(trash + ".aside", trash);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().errorDescription, "“keep.md” couldn't be moved to the Trash.");
    EXPECT_TRUE(refused.error().recoverySuggestion.contains("left where it is"));
    EXPECT_EQ(readFile(folder + "/keep.md"), "keep");
}

// Names of up to 255 bytes: the Trash's record adds ".trashinfo" to the
// name the item gets there, so a long name goes there shortened (cut between
// characters, its extension kept), and the record keeps the whole path.
TEST(FileManager, LongNamesGoToTheTrashUnderAShorterName)
{
    const QString folder = freshDirectory("manager");
    const QByteArray base = QFile::encodeName(folder) + "/";
    const QList<QByteArray> names{
        QByteArray(243, 'a') + ".md",                 // 246 bytes
        QByteArray(250, 'b') + ".md",                 // 253 bytes
        QString(126, QChar(u'é')).toUtf8() + ".md",   // 255 bytes, two a letter
        QString::fromUtf8("😀").repeated(63).toUtf8() + ".md", // four a letter
        QByteArray(252, '\xe9') + ".md",              // not UTF-8
    };
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = NativePath::decode(base + name);
        for (const QByteArray contents : {"first", "second"}) {
            ASSERT_TRUE(writeFileSafely(path, contents).ok());
            const auto trashed = FileManager::moveItemToTrash(path);
            ASSERT_TRUE(trashed.ok()) << trashed.error().message().toStdString();
            EXPECT_FALSE(NativePath::exists(path));
            EXPECT_EQ(*readFileSafely(*trashed), contents);
            const QByteArray inTrash = NativePath::encode(QFileInfo(*trashed).fileName());
            EXPECT_LE(inTrash.size() + qsizetype(strlen(".trashinfo")), 255);
            EXPECT_TRUE(inTrash.endsWith(".md"));
            EXPECT_TRUE(name.startsWith(inTrash.left(inTrash.size() - 12))); // a number may follow the cut
            // Cut between characters: the short name is text wherever the long one was.
            EXPECT_EQ(NativePath::hasRawBytes(NativePath::decode(inTrash)), NativePath::hasRawBytes(path));
            EXPECT_EQ(trashRecord(NativePath::decode(QFile::encodeName(trashFolder()) + "/info/" + inTrash + ".trashinfo"))
                          .value("Path"),
                      (base + name).toPercentEncoding("/"));
        }
    }
}

namespace {

// Moves the item to the Trash in a process of its own, which dies (or,
// with "wait", stops until it is killed) at the step named, for the file
// whose path holds the text given.
const test::ChildRole trashKilledAt("trash-killed-at", [](const QStringList& arguments) {
    const QString item = arguments.value(0);
    const std::string step = arguments.value(1).toStdString();
    const QString file = arguments.value(2);
    const bool wait = arguments.value(3) == "wait";
    setFileFaultHook([item, step, file, wait](const char* now, const QString& path) {
        if (step != now || !path.contains(file)) return 0;
        if (wait) {
            std::puts("stopped");
            std::fflush(stdout);
            for (;;) ::pause();
        }
        ::raise(SIGKILL);
        return 0;
    });
    (void)FileManager::moveItemToTrash(item);
    return 0; // not killed: the parent says so
});

} // namespace

// A Lumora killed while it moved an item to the Trash leaves the item where
// it was, and maybe the record it wrote first (which a desktop Trash lists
// but cannot restore) or a temporary record. The next start takes back
// exactly what that move left, on every disk, and nothing of another
// program's or of a Lumora still at work.
TEST(FileManager, ATrashMoveCutShortLeavesNothingAfterTheNextStart)
{
    const QString folder = freshDirectory("manager");
    const QString info = trashFolder() + "/info";
    const QString item = folder + "/Notes.md";
    // A finished entry and a record of another program's without its item
    // (say, one being moved there right now): both stay.
    writeFile(folder + "/Old.md", "old");
    ASSERT_TRUE(FileManager::moveItemToTrash(folder + "/Old.md").ok());
    writeFile(info + "/Other.md.trashinfo", "[Trash Info]\nPath=/elsewhere/Other.md\nDeletionDate=2024-05-01T10:00:00\n");

    const QStringList records = entriesOf(info);
    const QStringList files = entriesOf(trashFolder() + "/files");
    const auto killedAt = [&](const QString& what, const QString& step, const QString& file,
                              const std::function<void()>& then = {}) {
        SCOPED_TRACE(what.toStdString());
        writeFile(item, "kept");
        QProcess child;
        ASSERT_TRUE(test::startChild(child, "trash-killed-at", {item, step, file}));
        ASSERT_TRUE(child.waitForFinished(test::patience));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the move was to be killed";
        if (then) then();
        FileManager::cleanUpInterruptedTrashMoves();
        EXPECT_EQ(entriesOf(info), records);
        EXPECT_EQ(entriesOf(trashFolder() + "/files"), files);
        EXPECT_EQ(readFile(item), "kept");
        EXPECT_EQ(entriesOf(privateStateFolder("trash")), QStringList());
    };
    killedAt("while noting the move", "rename", "/Lumora/trash/");
    killedAt("while writing the record", "rename", "/info/Notes.md");
    killedAt("before the item moved", "moveToTrash", item);
    // Where a disk refuses a rename that must not replace, the move is a hard
    // link and an unlink: cut between them, the item is at both names.
    killedAt("between the link and the unlink", "moveToTrash", item, [&] {
        ASSERT_EQ(::link(QFile::encodeName(item).constData(),
                         QFile::encodeName(trashFolder() + "/files/Notes.md").constData()),
                  0);
    });
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(item).constData(), &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);

    // A move still under way in another Lumora is left alone until it ends.
    QProcess child;
    ASSERT_TRUE(test::startChild(child, "trash-killed-at", {item, "moveToTrash", item, "wait"}));
    ASSERT_EQ(test::readLineFrom(child), "stopped");
    FileManager::cleanUpInterruptedTrashMoves();
    EXPECT_TRUE(QFileInfo::exists(info + "/Notes.md.trashinfo"));
    child.kill();
    ASSERT_TRUE(child.waitForFinished(test::patience));
    FileManager::cleanUpInterruptedTrashMoves();
    EXPECT_EQ(entriesOf(info), records);
    EXPECT_EQ(readFile(item), "kept");

    // The Trash of another disk.
    const QString mount = freshDirectory("manager-tmpfs") + "/disk";
    TmpfsMount disk(mount, "size=1m,mode=0755");
    if (!disk.ok()) GTEST_SKIP() << disk.why();
    writeFile(mount + "/Away.md", "away");
    ASSERT_TRUE(test::startChild(child, "trash-killed-at", {mount + "/Away.md", "moveToTrash", "Away.md"}));
    ASSERT_TRUE(child.waitForFinished(test::patience));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);
    const QString own = mount + "/.Trash-" + QString::number(::geteuid());
    EXPECT_TRUE(QFileInfo::exists(own + "/info/Away.md.trashinfo"));
    FileManager::cleanUpInterruptedTrashMoves();
    EXPECT_EQ(entriesOf(own + "/info"), QStringList());
    EXPECT_EQ(readFile(mount + "/Away.md"), "away");
}
