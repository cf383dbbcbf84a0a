#include "platform/files/Bookmark.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using lumora::Bookmark;
using namespace lumora::test;

TEST(Bookmark, ResolvesAnItemThatStayedPut)
{
    const QString folder = freshDirectory("bookmark");
    const QString path = folder + "/sheet.json";
    writeFile(path, "{}");
    const auto bookmark = Bookmark::create(path);
    ASSERT_TRUE(bookmark);
    const auto again = Bookmark::fromData(bookmark->data());
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *bookmark);
    const auto resolved = again->resolve();
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, path);
    EXPECT_FALSE(resolved->isStale);

    const auto folderMark = Bookmark::create(folder + "/");
    ASSERT_TRUE(folderMark);
    EXPECT_TRUE(folderMark->isDirectory());
    EXPECT_EQ(folderMark->path(), folder);
}

TEST(Bookmark, FollowsARenameWithinItsFolder)
{
    const QString folder = freshDirectory("bookmark");
    writeFile(folder + "/sheet.json", "{}");
    writeFile(folder + "/other.json", "{}");
    const auto bookmark = Bookmark::create(folder + "/sheet.json");
    ASSERT_TRUE(QFile::rename(folder + "/sheet.json", folder + "/renamed.json"));
    const auto resolved = bookmark->resolve();
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, folder + "/renamed.json");
    EXPECT_TRUE(resolved->isStale);
}

TEST(Bookmark, PrefersANewItemAtItsPathOverTheOldInode)
{
    // An editor that keeps a backup renames the original away and writes a
    // new file under the old name: the link follows the name.
    const QString folder = freshDirectory("bookmark");
    writeFile(folder + "/sheet.json", "old");
    const auto bookmark = Bookmark::create(folder + "/sheet.json");
    ASSERT_TRUE(QFile::rename(folder + "/sheet.json", folder + "/sheet.json~"));
    writeFile(folder + "/sheet.json", "new");
    const auto resolved = bookmark->resolve();
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, folder + "/sheet.json");
    EXPECT_TRUE(resolved->isStale);

    // A folder where the file was does not count.
    ASSERT_TRUE(QFile::remove(folder + "/sheet.json"));
    ASSERT_TRUE(QFile::remove(folder + "/sheet.json~"));
    ASSERT_TRUE(QDir().mkdir(folder + "/sheet.json"));
    EXPECT_FALSE(bookmark->resolve());
}

TEST(Bookmark, FailsClearlyWhenTheItemIsGone)
{
    const QString folder = freshDirectory("bookmark");
    writeFile(folder + "/sheet.json", "{}");
    const auto bookmark = Bookmark::create(folder + "/sheet.json");
    ASSERT_TRUE(QFile::remove(folder + "/sheet.json"));
    QString error;
    EXPECT_FALSE(bookmark->resolve(&error));
    EXPECT_TRUE(error.contains("sheet.json")) << error.toStdString();

    // The whole folder gone, too.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(bookmark->resolve(&error));
}

TEST(Bookmark, RejectsWhatItCannotUse)
{
    QString error;
    EXPECT_FALSE(Bookmark::create(freshDirectory("bookmark") + "/missing.json", &error));
    EXPECT_TRUE(error.contains("missing.json"));
    for (const char* data : {"", "garbage", "{}", R"({"bookmark": 1, "path": "relative", "device": "1",
                              "inode": "2", "directory": false})",
                             R"({"bookmark": 1, "path": "/a", "device": "x", "inode": "2", "directory": false})"})
        EXPECT_FALSE(Bookmark::fromData(data)) << data;
}
