// The writer's file operations in a library: off the main thread, never
// replacing anything, with open documents following their files.
#include "library/FileOperations.h"

#include "LibraryTestSupport.h"
#include "library/FileController.h"
#include "platform/application/TextDocument.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileReader.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Outcome {
    bool done = false;
    std::optional<PlatformError> error;
    File* file = nullptr;
};

FileOperations::Completion into(Outcome& outcome)
{
    return [&outcome](const std::optional<PlatformError>& error, File* file) {
        outcome.done = true;
        outcome.error = error;
        outcome.file = file;
    };
}

bool finished(Outcome& outcome)
{
    return waitUntil([&] { return outcome.done; });
}

QString errorText(const Outcome& outcome)
{
    return outcome.error ? outcome.error->message() : QString();
}

} // namespace

TEST(FileOperations, CreateNeverReplacesAndNamesWhatItMade)
{
    const QString folder = freshDirectory("operations");
    writeFile(folder + "/Notes.md", "mine");
    LoadedLibrary loaded(folder);
    FileController& c = *loaded.controller();

    Outcome untitled;
    c.operations().createDocument(folder + "/Untitled", std::nullopt, into(untitled));
    EXPECT_FALSE(untitled.done); // the disk work is not done on the main thread
    ASSERT_TRUE(finished(untitled));
    ASSERT_TRUE(untitled.file) << errorText(untitled).toStdString();
    EXPECT_EQ(untitled.file->path(), folder + "/Untitled.txt");
    EXPECT_EQ(loaded.root()->fileAtPath(folder + "/Untitled.txt"), untitled.file);
    EXPECT_EQ(readFile(folder + "/Untitled.txt"), "");

    Outcome clash;
    c.operations().createDocument(folder + "/Notes.md", QByteArray("new"), into(clash));
    ASSERT_TRUE(finished(clash));
    EXPECT_EQ(clash.file->path(), folder + "/Notes 2.md");
    EXPECT_EQ(readFile(folder + "/Notes.md"), "mine");
    EXPECT_EQ(readFile(folder + "/Notes 2.md"), "new");

    // New Document pressed quickly five times: five files.
    std::vector<Outcome> quick(5);
    for (Outcome& o : quick) c.operations().createDocument(folder + "/Untitled.txt", std::nullopt, into(o));
    ASSERT_TRUE(waitUntil([&] { return std::all_of(quick.begin(), quick.end(), [](auto& o) { return o.done; }); }));
    QStringList made;
    for (const Outcome& o : quick) made << o.file->name();
    made.sort();
    EXPECT_EQ(made, (QStringList{"Untitled 2.txt", "Untitled 3.txt", "Untitled 4.txt", "Untitled 5.txt",
                                 "Untitled 6.txt"}));

    Outcome other;
    c.operations().createDocument(folder + "/Report.doc", std::nullopt, into(other));
    ASSERT_TRUE(finished(other));
    EXPECT_EQ(other.file->name(), "Report.doc.txt");

    Outcome first;
    Outcome second;
    c.operations().createFolder(folder + "/Folder", into(first));
    c.operations().createFolder(folder + "/Folder", into(second));
    ASSERT_TRUE(finished(first) && finished(second));
    EXPECT_TRUE(first.file->isDirectory() && second.file->isDirectory());
    EXPECT_NE(first.file->name(), second.file->name());
    EXPECT_TRUE(loaded.matchesDisk());
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileOperations, TypedNamesAreCheckedBeforeAnyDiskCall)
{
    EXPECT_EQ(*FileOperations::diskNameForTypedName("Q1/Q2 plans"), "Q1:Q2 plans");
    const QString tooLong(256, 'x');
    const QString longest = QString(252, 'x') + ".md";
    for (const QString& bad : {QString(), QString("   "), QString("."), QString(".."), QString("a") + QChar(0) + "b",
                               tooLong, QString(".hidden")}) {
        const auto refused = FileOperations::diskNameForTypedName(bad);
        ASSERT_FALSE(refused.ok()) << bad.toStdString();
        EXPECT_FALSE(refused.error().recoverySuggestion.isEmpty());
    }
    EXPECT_TRUE(FileOperations::diskNameForTypedName(longest).ok());
    // 85 characters of three bytes each are too many bytes.
    EXPECT_FALSE(FileOperations::diskNameForTypedName(QString(85, QChar(0x20AC)) + ".md").ok());

    const QString folder = freshDirectory("operations");
    writeFile(folder + "/plan.md", "p");
    LoadedLibrary loaded(folder);
    Outcome hidden;
    loaded.controller()->operations().moveFile(folder + "/plan.md", folder + "/.plan.md", into(hidden));
    Outcome dots;
    loaded.controller()->operations().createFolder(folder + "/..", into(dots));
    ASSERT_TRUE(finished(hidden) && finished(dots));
    EXPECT_TRUE(hidden.error && dots.error);
    EXPECT_TRUE(hidden.error->recoverySuggestion.contains("dot"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"plan.md"});

    // A name with a slash is stored with a colon and shown with the slash.
    Outcome slash;
    loaded.controller()->operations().moveFile(folder + "/plan.md",
                                               folder + "/" + *FileOperations::diskNameForTypedName("Q1/Q2.md"), into(slash));
    ASSERT_TRUE(finished(slash));
    EXPECT_EQ(slash.file->filename(), "Q1/Q2.md");
    EXPECT_TRUE(QFileInfo::exists(folder + "/Q1:Q2.md"));
}

TEST(FileOperations, MovesAndRenamesNeverReplace)
{
    const QString folder = freshDirectory("operations");
    writeFile(folder + "/Letter.txt", "letter");
    writeFile(folder + "/Taken.txt", "taken");
    writeFile(folder + "/Box/Inner/x.md", "x");
    LoadedLibrary loaded(folder);
    FileController& c = *loaded.controller();

    Outcome same;
    c.operations().moveFile(folder + "/Letter.txt", folder + "/Letter.txt", into(same));
    EXPECT_TRUE(same.done && !same.error && !same.file);

    Outcome rename;
    c.operations().moveFile(folder + "/Letter.txt", folder + "/Final", into(rename));
    ASSERT_TRUE(finished(rename));
    EXPECT_EQ(rename.file->path(), folder + "/Final.txt");
    Outcome markdown;
    c.operations().moveFile(folder + "/Final.txt", folder + "/Final.md", into(markdown));
    ASSERT_TRUE(finished(markdown));
    EXPECT_EQ(markdown.file, rename.file);
    EXPECT_EQ(markdown.file->name(), "Final.md");

    Outcome onto;
    c.operations().moveFile(folder + "/Final.md", folder + "/Taken.txt", into(onto));
    ASSERT_TRUE(finished(onto));
    ASSERT_TRUE(onto.error);
    EXPECT_EQ(onto.error->errorDescription, "“Final.md” couldn't be renamed to “Taken.txt”.");
    EXPECT_EQ(readFile(folder + "/Taken.txt"), "taken");
    EXPECT_EQ(readFile(folder + "/Final.md"), "letter");

    for (const QString& inside : {folder + "/Box/Box", folder + "/Box/Inner/Box"}) {
        Outcome into_;
        c.operations().moveFile(folder + "/Box", inside, into(into_));
        ASSERT_TRUE(finished(into_));
        ASSERT_TRUE(into_.error);
        EXPECT_TRUE(into_.error->recoverySuggestion.contains("into itself"));
    }

    Outcome folderRename;
    c.operations().moveFile(folder + "/Box", folder + "/Crate", into(folderRename));
    ASSERT_TRUE(finished(folderRename));
    EXPECT_EQ(folderRename.file->name(), "Crate");
    EXPECT_EQ(loaded.root()->fileAtPath(folder + "/Crate/Inner/x.md")->path(), folder + "/Crate/Inner/x.md");
    ASSERT_TRUE(loaded.waitForDisk());
    EXPECT_TRUE(loaded.view.mirrorMatches());
    EXPECT_EQ(loaded.view.errors, 0);
}

TEST(FileOperations, TrashReportsEachFile)
{
    const QString folder = freshDirectory("operations");
    for (const char* name : {"a.md", "b.md", "c.md"}) writeFile(folder + "/" + name, name);
    LoadedLibrary loaded(folder);
    RegularFile missing(folder + "/missing.md", loaded.controller());
    std::vector<File*> files{loaded.root()->child(0), &missing, loaded.root()->child(1), loaded.root()->child(2)};
    int successes = 0;
    QStringList failures;
    loaded.controller()->operations().trashFiles(files, [&](const std::optional<PlatformError>& error) {
        if (error) failures << error->errorDescription;
        else ++successes;
    });
    ASSERT_TRUE(waitUntil([&] { return successes + failures.size() == 4; }));
    EXPECT_EQ(successes, 3);
    EXPECT_EQ(failures, QStringList{"“missing.md” couldn't be moved to the Trash."});
    EXPECT_EQ(loaded.root()->count(), 0);
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileOperations, OpenDocumentsFollowTheirFiles)
{
    const QString folder = freshDirectory("operations");
    writeFile(folder + "/a.md", "a");
    writeFile(folder + "/Box/c.md", "c");
    writeFile(folder + "/t.md", "t");
    LoadedLibrary loaded(folder);
    FileController& c = *loaded.controller();

    TextDocument moved;
    ASSERT_TRUE(moved.readFromFile(folder + "/a.md", "public.plain-text").ok());
    moved.edit(" edited"); // pending, not saved yet
    Outcome rename;
    c.operations().moveFile(folder + "/a.md", folder + "/b.md", into(rename));
    ASSERT_TRUE(finished(rename));
    EXPECT_EQ(moved.filePath(), folder + "/b.md");
    EXPECT_EQ(readFile(folder + "/b.md"), "a edited"); // the edits went with the file
    moved.edit(" again");
    ASSERT_TRUE(moved.save().ok());
    EXPECT_FALSE(QFileInfo::exists(folder + "/a.md")); // never written back at the old path
    EXPECT_EQ(readFile(folder + "/b.md"), "a edited again");

    TextDocument inside;
    ASSERT_TRUE(inside.readFromFile(folder + "/Box/c.md", "public.plain-text").ok());
    Outcome folderMove;
    c.operations().moveFile(folder + "/Box", folder + "/Crate", into(folderMove));
    ASSERT_TRUE(finished(folderMove));
    EXPECT_EQ(inside.filePath(), folder + "/Crate/c.md");

    TextDocument trashed;
    ASSERT_TRUE(trashed.readFromFile(folder + "/t.md", "public.plain-text").ok());
    trashed.edit(" last words");
    bool done = false;
    c.operations().trashFiles({loaded.root()->fileAtPath(folder + "/t.md")}, [&](const auto&) { done = true; });
    ASSERT_TRUE(waitUntil([&] { return done; }));
    EXPECT_TRUE(trashed.isClosed());
    EXPECT_TRUE(FileManager::isInTrash(trashed.filePath()));
    EXPECT_EQ(readFile(trashed.filePath()), "t last words");
    EXPECT_FALSE(QFileInfo::exists(folder + "/t.md"));
}

namespace {

// Makes a file by its name's very bytes.
void makeRaw(const QByteArray& path, const QByteArray& text)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.constData(), size_t(text.size())), text.size());
    ::close(fd);
}

} // namespace

TEST(FileOperations, NamesThatAreNotUtf8AreShownAndTheirFilesChanged)
{
    const QString folder = freshDirectory("operations");
    const QByteArray base = QFile::encodeName(folder);
    makeRaw(base + "/Lettre \xe9t\xe9.md", "Summer letter");
    ASSERT_EQ(::mkdir((base + "/Dossier\xff").constData(), 0755), 0);
    makeRaw(base + "/Dossier\xff/inside.md", "inside");
    LoadedLibrary loaded(folder);
    FileController& c = *loaded.controller();
    const QString letter = NativePath::decode(base + "/Lettre \xe9t\xe9.md");
    const QString dossier = NativePath::decode(base + "/Dossier\xff");

    // Every item is in the tree under its real name, shown readably.
    ASSERT_EQ(loaded.root()->count(), 2);
    File* letterNode = loaded.root()->fileAtPath(letter);
    ASSERT_TRUE(letterNode);
    EXPECT_EQ(letterNode->filename(), QString::fromUtf8("Lettre \xef\xbf\xbdt\xef\xbf\xbd.md"));
    ASSERT_TRUE(loaded.root()->fileAtPath(dossier + "/inside.md"));
    EXPECT_EQ(RegularFile::readSummary(letter, Encoding::utf8), "Summer letter");

    // Another program makes one: the watcher brings it.
    makeRaw(base + "/Dossier\xff/later\xfe.md", "later");
    ASSERT_TRUE(waitUntil([&] { return loaded.root()->fileAtPath(dossier + NativePath::decode("/later\xfe.md")); }));

    // Moved into the folder, renamed there, trashed: the real files each time.
    Outcome move;
    c.operations().moveFile(letter, dossier + NativePath::decode("/Lettre \xe9t\xe9.md"), into(move));
    ASSERT_TRUE(finished(move));
    ASSERT_TRUE(move.file) << errorText(move).toStdString();
    EXPECT_FALSE(NativePath::exists(letter));
    EXPECT_TRUE(NativePath::isRegularFile(move.file->path()));
    EXPECT_EQ(NativePath::encode(move.file->path()), base + "/Dossier\xff/Lettre \xe9t\xe9.md");

    Outcome rename;
    c.operations().moveFile(move.file->path(), dossier + "/Letter.md", into(rename));
    ASSERT_TRUE(finished(rename));
    ASSERT_TRUE(rename.file) << errorText(rename).toStdString();
    EXPECT_EQ(readFileSafely(dossier + "/Letter.md").value(), "Summer letter");

    bool trashed = false;
    std::optional<PlatformError> trashError;
    c.operations().trashFiles({loaded.root()->fileAtPath(dossier)}, [&](const std::optional<PlatformError>& error) {
        trashError = error;
        trashed = true;
    });
    ASSERT_TRUE(waitUntil([&] { return trashed; }));
    EXPECT_FALSE(trashError) << trashError->message().toStdString();
    EXPECT_FALSE(NativePath::exists(dossier));
    EXPECT_EQ(loaded.root()->count(), 0);
    EXPECT_TRUE(loaded.view.mirrorMatches());
}

TEST(FileOperations, ADocumentMovedFromAnotherDiskKeepsItsRecord)
{
    QTemporaryDir other(QStringLiteral("/dev/shm/lumora-test-XXXXXX"));
    struct stat a {};
    struct stat b {};
    if (!other.isValid() || ::stat(QFile::encodeName(other.path()).constData(), &a) != 0
        || ::stat(QFile::encodeName(sandboxRoot()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system";
    const QString folder = freshDirectory("operations");
    LoadedLibrary loaded(folder);
    writeFile(other.path() + "/draft.md", "draft");
    TextDocument document;
    ASSERT_TRUE(document.readFromFile(other.path() + "/draft.md", "public.plain-text").ok());
    Outcome move;
    loaded.controller()->operations().moveFile(other.path() + "/draft.md", folder + "/draft.md", into(move));
    ASSERT_TRUE(finished(move));
    ASSERT_TRUE(move.file) << errorText(move).toStdString();
    EXPECT_EQ(document.filePath(), folder + "/draft.md");
    EXPECT_FALSE(document.fileChangedOnDisk());
    EXPECT_FALSE(QFileInfo::exists(other.path() + "/draft.md"));
}
