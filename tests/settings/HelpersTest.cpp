#include "settings/StringExtensions.h"
#include "settings/URLExtensions.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(URLExtensions, UniqueFileURLNumbersTakenNames)
{
    const QString folder = freshDirectory("unique");
    EXPECT_EQ(url::uniqueFileURL(folder + "/Notes.txt"), folder + "/Notes.txt");
    writeFile(folder + "/Notes.txt", "x");
    EXPECT_EQ(url::uniqueFileURL(folder + "/Notes.txt"), folder + "/Notes 2.txt");
    writeFile(folder + "/Notes 2.txt", "x");
    EXPECT_EQ(url::uniqueFileURL(folder + "/Notes.txt"), folder + "/Notes 3.txt");

    ASSERT_TRUE(QDir().mkdir(folder + "/Folder"));
    EXPECT_EQ(url::uniqueFileURL(folder + "/Folder/"), folder + "/Folder 2");
    writeFile(folder + "/.hidden", "x");
    EXPECT_EQ(url::uniqueFileURL(folder + "/.hidden"), folder + "/.hidden 2");
    writeFile(folder + "/archive.tar.gz", "x");
    EXPECT_EQ(url::uniqueFileURL(folder + "/archive.tar.gz"), folder + "/archive.tar 2.gz");
    // A dangling link occupies its name.
    ASSERT_TRUE(QFile::link(folder + "/nowhere", folder + "/Link.md"));
    EXPECT_EQ(url::uniqueFileURL(folder + "/Link.md"), folder + "/Link 2.md");
}

TEST(URLExtensions, NamesAndDisplayNames)
{
    EXPECT_EQ(url::localizedName("/home/me/Notes.txt"), QStringLiteral("Notes.txt"));
    EXPECT_EQ(url::localizedName("/home/me/Drafts/"), QStringLiteral("Drafts"));
    EXPECT_EQ(url::localizedName("/"), QStringLiteral("/"));

    const QStringList folders{"/a/x/Notes", "/b/y/Notes", "/c/Drafts", "/d/x/Notes", "/e/Work", "/f/Work"};
    const QList<QStringList> names = url::displayNames(folders);
    ASSERT_EQ(names.size(), folders.size());
    // Equal names get their parents; equal parents reach one level further.
    EXPECT_EQ(names[0], (QStringList{"a", "x"}));
    EXPECT_EQ(names[1], (QStringList{"y"}));
    EXPECT_EQ(names[2], QStringList{});
    EXPECT_EQ(names[3], (QStringList{"d", "x"}));
    EXPECT_EQ(names[4], QStringList{"e"});
    EXPECT_EQ(names[5], QStringList{"f"});
    // The same folder twice ends when nothing is left to tell them apart.
    EXPECT_EQ(url::displayNames({"/a/b", "/a/b"}).front(), (QStringList{"/", "a"}));

    const auto titled = url::attributedDisplayName("/a/x/Notes", names[0]);
    EXPECT_EQ(titled.name, QStringLiteral("Notes"));
    EXPECT_EQ(titled.text(), QStringLiteral("Notes \u2013 a/x"));
    EXPECT_EQ(url::attributedDisplayName("/c/Drafts", {}).text(), QStringLiteral("Drafts"));
}

TEST(StringExtensions, PathRelations)
{
    using R = string::PathRelation;
    const struct {
        const char* path;
        const char* other;
        R relation;
    } table[] = {
        {"/a/b/file.md", "/a/b", R::inside},
        {"/a/b", "/a/b/file.md", R::containing},
        {"/a/b", "/a/b", R::sameItem},
        {"/a/b/", "/a/b", R::sameItem},
        {"/a/b", "/a/b/", R::sameItem},
        {"/a/bc", "/a/b", R::unrelated},
        {"/a/b", "/a/bc", R::unrelated},
        {"/a/b/c", "/a/b/", R::inside},
        {"/a/b/", "/a/b/c", R::containing},
        {"/x", "/", R::inside},
        {"/", "/x", R::containing},
        {"/a/x", "/a/y", R::unrelated},
        {"", "", R::sameItem},
        {"/a", "", R::unrelated},
        {"a", "", R::inside},
        {"", "a", R::containing},
        {"a", "b", R::unrelated},
        {"/a/caf\u00E9/n", "/a/cafe\u0301", R::inside}, // canonically equal spellings
        {"/a/cafe\u0301", "/a/cafe", R::unrelated},     // é is not e
    };
    for (const auto& row : table)
        EXPECT_EQ(string::pathRelation(QString::fromUtf8(row.path), QString::fromUtf8(row.other)), row.relation)
            << row.path << " | " << row.other;
}
