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
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
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
