#include "library/File.h"

#include "LibraryTestSupport.h"
#include "document/Document.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

std::unique_ptr<RegularFile> document(const QString& path, std::optional<qint64> added = std::nullopt)
{
    return std::make_unique<RegularFile>(path, nullptr, File::Metadata{added, added});
}

QStringList names(const Directory& folder)
{
    QStringList result;
    for (const auto& child : folder.contents()) result << child->name();
    return result;
}

} // namespace

TEST(File, FoldersKeepTheirChildrenInOrder)
{
    Directory::Contents children;
    for (const char* name : {"Note 10.md", "note 2.md", "b:c.md", "Apple.md"}) children.push_back(document(QString("/lib/") + name));
    Directory root("/lib", std::move(children), nullptr, {});
    EXPECT_EQ(names(root), (QStringList{"Apple.md", "b:c.md", "note 2.md", "Note 10.md"}));
    EXPECT_EQ(root.child(1)->filename(), "b/c.md");
    EXPECT_EQ(root.child(1)->path(), "/lib/b:c.md");

    // Inserting a node that sits in another folder moves it.
    auto sub = std::make_unique<Directory>("/lib/Sub", Directory::Contents{}, nullptr, File::Metadata{});
    Directory* folder = sub.get();
    root.insert(std::move(sub));
    File* note = root.child(2);
    EXPECT_EQ(folder->insert(root.child(2)->detach()), 0);
    EXPECT_EQ(note->parent(), folder);
    EXPECT_EQ(note->path(), "/lib/Sub/note 2.md");
    EXPECT_EQ(names(root), (QStringList{"Apple.md", "b:c.md", "Note 10.md", "Sub"}));

    // Dates first, newest on top; missing or equal dates fall back to names.
    auto library = Library::make("/lib");
    auto controller = std::make_shared<FileController>(library);
    controller->setSortKey(Library::SortKey::dateAdded);
    Directory::Contents dated;
    dated.push_back(std::make_unique<RegularFile>("/d/old.md", controller.get(), File::Metadata{1000, 1}));
    dated.push_back(std::make_unique<RegularFile>("/d/new.md", controller.get(), File::Metadata{3000, 1}));
    dated.push_back(std::make_unique<RegularFile>("/d/Note 10.md", controller.get(), File::Metadata{2000, 1}));
    dated.push_back(std::make_unique<RegularFile>("/d/Note 2.md", controller.get(), File::Metadata{2000, 1}));
    dated.push_back(std::make_unique<RegularFile>("/d/undated.md", controller.get(), File::Metadata{}));
    Directory byDate("/d", std::move(dated), controller.get(), {});
    EXPECT_EQ(names(byDate), (QStringList{"new.md", "Note 2.md", "Note 10.md", "old.md", "undated.md"}));
    EXPECT_TRUE(static_cast<RegularFile*>(byDate.child(0))->date());
    controller->setSortKey(Library::SortKey::name);
    EXPECT_FALSE(static_cast<RegularFile*>(byDate.child(0))->date());
    byDate.sort();
    EXPECT_EQ(names(byDate), (QStringList{"new.md", "Note 2.md", "Note 10.md", "old.md", "undated.md"}));
}

TEST(File, FindsNodesByPath)
{
    Directory::Contents inner;
    inner.push_back(document("/lib/Doc/x.md"));
    Directory::Contents children;
    children.push_back(std::make_unique<Directory>("/lib/Doc", std::move(inner), nullptr, File::Metadata{}));
    children.push_back(document("/lib/Documents.md"));
    Directory root("/lib", std::move(children), nullptr, {});

    EXPECT_EQ(root.fileAtPath("/lib"), &root);
    EXPECT_EQ(root.fileAtPath("/lib/"), &root);
    EXPECT_EQ(root.fileAtPath("/lib/Doc/x.md")->name(), "x.md");
    EXPECT_EQ(root.fileAtPath("/lib//Doc/")->name(), "Doc");
    EXPECT_EQ(root.fileAtPath("/lib/Documents.md")->name(), "Documents.md");
    EXPECT_FALSE(root.fileAtPath("/lib/Doc/x.md/more"));
    EXPECT_FALSE(root.fileAtPath("/library/Doc"));
    EXPECT_FALSE(root.fileAtPath("/other"));

    // Many children: looked up by name, not one by one.
    Directory::Contents many;
    for (int i = 0; i < 100; ++i) many.push_back(document(QString("/big/%1.md").arg(i)));
    Directory big("/big", std::move(many), nullptr, {});
    EXPECT_EQ(big.fileAtPath("/big/57.md")->name(), "57.md");
    big.takeAt(big.indexOf(big.fileAtPath("/big/57.md")));
    EXPECT_FALSE(big.fileAtPath("/big/57.md"));
    big.insert(document("/big/57.md"));
    EXPECT_TRUE(big.fileAtPath("/big/57.md"));
}

TEST(File, NewDocumentsTakeAFreeNameAndTheNearestExtension)
{
    const QString folder = freshDirectory("tree");
    QDir(folder).mkpath("Empty/Deeper");
    LoadedLibrary loaded(folder);
    Directory* root = loaded.root();
    EXPECT_EQ(root->newDocumentURL(), folder + "/Untitled.txt");
    writeFile(folder + "/Untitled.md", "");
    writeFile(folder + "/a.md", "");
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_EQ(root->newDocumentURL(), folder + "/Untitled 2.md");
    auto* deeper = static_cast<Directory*>(root->fileAtPath(folder + "/Empty/Deeper"));
    EXPECT_EQ(deeper->defaultPathExtension(), "md");
    EXPECT_EQ(deeper->newDocumentURL(), folder + "/Empty/Deeper/Untitled.md");
    EXPECT_EQ(root->firstDocument()->name(), "a.md");
}

TEST(File, SearchCopiesOnlyWhatMatches)
{
    const QString folder = freshDirectory("tree");
    for (const char* path : {"Recipes/Soup.md", "Recipes/Bread.md", "Soups/none.md", "Journal/Monday.md", "soup.txt"})
        writeFile(folder + "/" + path, "");
    LoadedLibrary loaded(folder);
    Directory* root = loaded.root();

    EXPECT_EQ(root->filtered("").root, root);
    EXPECT_FALSE(root->filtered("nothing at all").root);

    const auto found = root->filtered("SOUP");
    ASSERT_TRUE(found.copy);
    EXPECT_EQ(treeLines(*found.root), (QStringList{"Recipes/", "Recipes/Soup.md", "soup.txt", "Soups/"}));
    EXPECT_TRUE(static_cast<Directory*>(found.root->fileAtPath(folder + "/Recipes"))->expanded);
    EXPECT_EQ(treeLines(*root).size(), 8); // the library's own tree is untouched

    // Rows bound to a document share it with their copies.
    Document doc;
    auto* soup = static_cast<RegularFile*>(root->fileAtPath(folder + "/soup.txt"));
    soup->setDocument(&doc);
    {
        const auto copy = root->filtered("soup");
        EXPECT_EQ(doc.referencesCount(), 2);
    }
    EXPECT_EQ(doc.referencesCount(), 1);
    Document other;
    soup->setDocument(&other);
    EXPECT_EQ(other.referencesCount(), 1);
    EXPECT_TRUE(doc.isClosed()); // no row holds it and it has no window
    EXPECT_EQ(File::documents({root}), (std::vector<Document*>{&other}));
    soup->setDocument(nullptr);
}

TEST(File, ScanSkipsWhatALibraryDoesNotShow)
{
    const QString folder = freshDirectory("tree");
    for (const char* path : {"a/b/c/d/deep.md", "a/notes.txt", "a/.hidden.md", ".git/config.md", "image.png",
                             "report.pdf", "a/b/readme.MARKDOWN"})
        writeFile(folder + "/" + path, "x");
    auto scanned = Directory::scan(folder, nullptr);
    ASSERT_TRUE(scanned.ok());
    EXPECT_EQ(treeLines(**scanned),
              (QStringList{"a/", "a/b/", "a/b/c/", "a/b/c/d/", "a/b/c/d/deep.md", "a/b/readme.MARKDOWN", "a/notes.txt"}));
    EXPECT_TRUE((*scanned)->expanded);
    EXPECT_FALSE(Directory::scan(folder + "/missing", nullptr).ok());
    EXPECT_FALSE(File::make(folder + "/image.png", nullptr));
    EXPECT_TRUE(File::make(folder + "/a", nullptr)->isDirectory());
}

TEST(File, SummariesAreTheFirstCharacters)
{
    const QString folder = freshDirectory("summary");
    const auto summary = [&](const QByteArray& bytes) {
        writeFile(folder + "/s.md", bytes);
        return RegularFile::readSummary(folder + "/s.md", Encoding::utf8);
    };
    EXPECT_EQ(summary(""), "\n\n");
    EXPECT_EQ(summary(QByteArray(300, 'a')), QString(256, 'a'));
    EXPECT_EQ(summary(QByteArray(255, 'a')), QString(255, 'a'));
    // Never half of a character.
    EXPECT_EQ(summary(QByteArray(255, 'a') + "\xF0\x9F\x98\x80" + "tail"), QString(255, 'a'));
    // Latin-1 that is not UTF-8 is detected.
    EXPECT_EQ(summary("caf\xE9 cr\xE8me"), QString::fromUtf8("café crème"));
    EXPECT_EQ(summary(QByteArray("\x00\x01\x02\x00\xff", 5)), "\n\n");
    // Only the first 64 KB are read, and a character cut there stays UTF-8.
    QByteArray big = "a";
    while (big.size() < 200000) big += "\xC3\xA9";
    EXPECT_EQ(summary(big), "a" + QString(255, QChar(0xE9)));
    EXPECT_EQ(RegularFile::readSummary(folder + "/missing.md", Encoding::utf8), "\n\n");
    // UTF-8 is UTF-8 whatever the preference; it decides for the rest.
    writeFile(folder + "/s.md", QStringLiteral(u"Café “crème”").toUtf8());
    for (StringEncoding preference : {Encoding::isoLatin1, Encoding::windowsCP1252, Encoding::macOSRoman})
        EXPECT_EQ(RegularFile::readSummary(folder + "/s.md", preference), QStringLiteral(u"Café “crème”"));
    writeFile(folder + "/s.md", "\x93Hi\x94");
    EXPECT_EQ(RegularFile::readSummary(folder + "/s.md", Encoding::windowsCP1252), QStringLiteral(u"“Hi”"));
}

TEST(File, ShownNodesReadTheirSummaryOffTheMainThread)
{
    const QString folder = freshDirectory("summary");
    writeFile(folder + "/note.md", "Hello there");
    LoadedLibrary loaded(folder);
    auto* note = static_cast<RegularFile*>(loaded.root()->child(0));
    EXPECT_TRUE(note->summary().isEmpty());
    EXPECT_TRUE(note->isInvalidated());
    note->setVisible(true);
    note->setVisible(true); // a second window
    ASSERT_TRUE(waitUntil([&] { return note->summary() == "Hello there"; }));
    EXPECT_FALSE(note->isInvalidated());
    EXPECT_FALSE(loaded.view.changed.empty());
    note->setVisible(false);
    EXPECT_TRUE(note->isVisible()); // still shown by the other window
    note->setVisible(false);
    EXPECT_FALSE(note->isVisible());
    writeFile(folder + "/note.md", "Changed");
    note->update();
    EXPECT_TRUE(note->isInvalidated());
    QTest::qWait(20);
    EXPECT_EQ(note->summary(), "Hello there"); // not read while hidden
}
