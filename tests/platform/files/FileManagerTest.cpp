#include "platform/files/FileManager.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

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
