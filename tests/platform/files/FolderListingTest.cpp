#include "platform/files/FolderListing.h"
#include "platform/files/NameCollation.h"
#include "platform/files/NativePath.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

using namespace lumora;
using namespace lumora::test;

namespace {

std::map<QString, FolderListing::Kind> listed(const QString& folder)
{
    auto entries = FolderListing::list(folder);
    EXPECT_TRUE(entries.ok());
    std::map<QString, FolderListing::Kind> result;
    if (entries)
        for (const auto& e : *entries) result[e.name] = e.kind;
    return result;
}

} // namespace

TEST(FolderListing, ShowsDocumentsAndFoldersOnly)
{
    const QString folder = freshDirectory("listing");
    for (const char* name : {"a.txt", "b.text", "c.md", "d.markdown", "e.mdown", "f.mkd", "g.mkdn", "h.mdwn",
                             "i.mdtxt", "j.mdtext", "Upper.MD", "page.html", "data.csv", "code.cpp", "noext",
                             ".hidden.md", "picture.png"})
        writeFile(folder + "/" + name, "x");
    QDir(folder).mkdir("Drafts");
    QDir(folder).mkdir(".git");
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/pipe.md").constData(), 0600), 0);

    const auto entries = listed(folder);
    std::map<QString, FolderListing::Kind> expected;
    for (const char* name : {"a.txt", "b.text", "c.md", "d.markdown", "e.mdown", "f.mkd", "g.mkdn", "h.mdwn",
                             "i.mdtxt", "j.mdtext", "Upper.MD"})
        expected[name] = FolderListing::Kind::document;
    expected["Drafts"] = FolderListing::Kind::folder;
    EXPECT_EQ(entries, expected);
}

TEST(FolderListing, LinksToDocumentsShowLinksToFoldersDoNot)
{
    const QString folder = freshDirectory("listing");
    const QString outside = freshDirectory("outside");
    writeFile(outside + "/target.md", "linked");
    QDir(outside).mkdir("sub");
    ASSERT_TRUE(QFile::link(outside + "/target.md", folder + "/link.md"));
    ASSERT_TRUE(QFile::link(outside + "/sub", folder + "/folder-link"));
    ASSERT_TRUE(QFile::link(folder, folder + "/loop"));
    ASSERT_TRUE(QFile::link(outside + "/missing.md", folder + "/dangling.md"));
    ASSERT_TRUE(QFile::link(outside + "/sub", folder + "/folder-named.md"));

    const auto entries = listed(folder);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.at("link.md"), FolderListing::Kind::document);

    // The document's dates are the target's.
    const auto entry = FolderListing::examine(folder + "/link.md");
    ASSERT_TRUE(entry);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(outside + "/target.md").constData(), &st), 0);
    EXPECT_EQ(*entry->modified, qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000);
}

TEST(FolderListing, NamesThatAreNotUtf8KeepEveryByte)
{
    const QString folder = freshDirectory("listing");
    const QByteArray bad = QFile::encodeName(folder) + "/bad\xff\xfe.md";
    const int fd = ::open(bad.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir((QFile::encodeName(folder) + "/Dr\xe9" "fts").constData(), 0755), 0);
    writeFile(folder + "/good.md", "x");
    const auto entries = listed(folder);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries.count("good.md"));
    // Each name turns back into the very bytes on disk, and is found by them.
    for (const auto& [name, kind] : entries) {
        if (name == "good.md") continue;
        EXPECT_TRUE(NativePath::hasRawBytes(name));
        const QByteArray bytes = NativePath::encode(folder + "/" + name);
        EXPECT_TRUE(bytes == bad || bytes == QFile::encodeName(folder) + "/Dr\xe9" "fts") << bytes.toStdString();
        ASSERT_TRUE(FolderListing::examine(folder + "/" + name)) << name.toStdString();
        EXPECT_EQ(FolderListing::examine(folder + "/" + name)->kind, kind);
    }
}

TEST(FolderListing, ExamineAndFailures)
{
    const QString folder = freshDirectory("listing");
    writeFile(folder + "/note.md", "x");
    writeFile(folder + "/.secret.md", "x");
    QDir(folder).mkdir("Sub");
    EXPECT_EQ(FolderListing::examine(folder + "/note.md")->kind, FolderListing::Kind::document);
    EXPECT_EQ(FolderListing::examine(folder + "/Sub")->kind, FolderListing::Kind::folder);
    EXPECT_FALSE(FolderListing::examine(folder + "/.secret.md"));
    EXPECT_FALSE(FolderListing::examine(folder + "/missing.md"));

    const auto missing = FolderListing::list(folder + "/Nowhere");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, PlatformError::Code::fileNotFound);
    EXPECT_TRUE(missing.error().errorDescription.contains("Nowhere"));
    EXPECT_FALSE(FolderListing::list(folder + "/note.md").ok());
}

TEST(NameCollation, OrdersNamesAsPeopleDo)
{
    const QStringList sorted{"apple.md", "Banana.md", "Note 2.md", "note 3.md", "Note 10.md", "zebra.md"};
    for (qsizetype i = 0; i + 1 < sorted.size(); ++i) {
        EXPECT_LT(NameCollation::compare(sorted[i], sorted[i + 1]), 0) << sorted[i].toStdString();
        EXPECT_LT(NameCollation::compare(NameCollation::sortKey(sorted[i]), sorted[i],
                                         NameCollation::sortKey(sorted[i + 1]), sorted[i + 1]),
                  0);
    }
    // Names equal but for case still have an order, the same both ways.
    const int order = NameCollation::compare("a.md", "A.md");
    EXPECT_NE(order, 0);
    EXPECT_EQ(NameCollation::compare("A.md", "a.md"), -order);
}
