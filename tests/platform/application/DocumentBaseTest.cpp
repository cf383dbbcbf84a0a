#include "TextDocument.h"

#include "support/TestEnvironment.h"

#include "platform/files/FileWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::freshDirectory;
using lumora::test::readFile;
using lumora::test::writeFile;
using lumora::test::TextDocument;

namespace {

// Answers the document's questions as a test scripts them, and notes them.
class ScriptedPrompter : public DocumentPrompter {
public:
    SaveChoice saveChoice = SaveChoice::cancel;
    std::optional<QString> saveLocation;
    ExternalChangeChoice externalChoice = ExternalChangeChoice::keepMine;
    QStringList asked;
    QList<PlatformError> errors;

    SaveChoice askToSaveChanges(DocumentBase&) override { asked << "save"; return saveChoice; }
    std::optional<QString> chooseSaveLocation(DocumentBase&) override { asked << "location"; return saveLocation; }
    ExternalChangeChoice askAboutExternalChange(DocumentBase&) override { asked << "external"; return externalChoice; }
    void presentError(DocumentBase&, const PlatformError& error) override { errors << error; }
};

class DocumentBaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DocumentBase::setPrompter(&prompter);
        useFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override
    {
        DocumentBase::setPrompter(nullptr);
        DocumentBase::setAutosavingDelay(15000);
    }

    void useFolder(const char* name)
    {
        dir = freshDirectory(QString::fromUtf8(name));
        path = dir + QStringLiteral("/Notes.md");
    }

    // A document opened from a file with the given bytes.
    std::unique_ptr<TextDocument> open(const QByteArray& bytes)
    {
        writeFile(path, bytes);
        auto doc = std::make_unique<TextDocument>();
        const auto status = doc->readFromFile(path, QStringLiteral("text/plain"));
        EXPECT_TRUE(status.ok()) << status.error().message().toStdString();
        return doc;
    }

    // Another program rewrites the file by replacing it (new inode).
    void replaceBehindTheDocument(const QByteArray& bytes)
    {
        writeFile(path + QStringLiteral(".other"), bytes);
        ASSERT_EQ(::rename(QFile::encodeName(path + QStringLiteral(".other")).constData(),
                           QFile::encodeName(path).constData()),
                  0);
    }

    int asideFiles(const QString& label) const
    {
        return int(QDir(dir).entryList({QStringLiteral("Notes (%1 *).md").arg(label)}, QDir::Files).size());
    }

    ScriptedPrompter prompter;
    QString dir;
    QString path;
};

} // namespace

TEST_F(DocumentBaseTest, EditedStateFollowsTheUndoStackAndTheSaves)
{
    auto doc = open("start");
    QSignalSpy edited(doc.get(), &DocumentBase::editedChanged);
    doc->edit(QStringLiteral(" more"));
    EXPECT_TRUE(doc->isDocumentEdited());
    doc->undoManager().undo();
    EXPECT_FALSE(doc->isDocumentEdited());
    doc->undoManager().redo();
    ASSERT_TRUE(doc->save().ok());
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_EQ(readFile(path), QByteArray("start more"));
    EXPECT_EQ(edited.count(), 4);
    EXPECT_EQ(doc->saveCount, 1);
}

TEST_F(DocumentBaseTest, AutosavesInPlaceAfterTheLastChangeButNeverUntitledOrLocked)
{
    DocumentBase::setAutosavingDelay(150);
    auto doc = open("draft");
    QSignalSpy saved(doc.get(), &DocumentBase::saved);
    for (int i = 0; i < 5; ++i) doc->edit(QString::number(i));
    EXPECT_EQ(readFile(path), QByteArray("draft")) << "nothing is written before the delay";
    EXPECT_TRUE(QTest::qWaitFor([&] { return saved.count() > 0; }, 5000));
    EXPECT_EQ(readFile(path), QByteArray("draft01234"));
    EXPECT_FALSE(doc->isDocumentEdited());

    TextDocument untitled;
    untitled.edit(QStringLiteral("words"));
    EXPECT_TRUE(untitled.autosave().ok());
    EXPECT_TRUE(untitled.isDocumentEdited());

    doc->setLocked(true);
    doc->edit(QStringLiteral(" changed"));
    QTest::qWait(250);
    EXPECT_EQ(saved.count(), 1) << "one save for a burst of changes, none while locked";
    EXPECT_EQ(doc->save().error().code, PlatformError::Code::locked);
    EXPECT_EQ(readFile(path), QByteArray("draft01234"));
    EXPECT_TRUE(prompter.asked.isEmpty());
}

TEST_F(DocumentBaseTest, SavesAreAtomicAndKeepPermissionsAndLinks)
{
    auto doc = open("old text");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    // A reader holding the old file sees the old text whole, never a mix.
    QFile reader(path);
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    struct stat before {}, after {};
    ::stat(QFile::encodeName(path).constData(), &before);
    doc->edit(QStringLiteral(" and new text"));
    ASSERT_TRUE(doc->save().ok());
    ::stat(QFile::encodeName(path).constData(), &after);
    EXPECT_NE(before.st_ino, after.st_ino) << "the new text went to a new file renamed over the old one";
    EXPECT_EQ(after.st_mode & 0777, 0640u);
    EXPECT_EQ(reader.readAll(), QByteArray("old text"));
    EXPECT_EQ(readFile(path), QByteArray("old text and new text"));

    // A save that fails leaves the file as it was, and no temporary file behind.
    doc->edit(QStringLiteral("!"));
    doc->failWriting = true;
    EXPECT_FALSE(doc->save().ok());
    EXPECT_EQ(readFile(path), QByteArray("old text and new text"));
    EXPECT_TRUE(doc->isDocumentEdited());
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Notes.md")});

    // Saved through a symbolic link, the link stays and its target changes.
    const QString link = dir + QStringLiteral("/Link.md");
    ASSERT_TRUE(QFile::link(path, link));
    TextDocument viaLink;
    ASSERT_TRUE(viaLink.readFromFile(link, QStringLiteral("text/plain")).ok());
    viaLink.edit(QStringLiteral(" via link"));
    ASSERT_TRUE(viaLink.save().ok());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(path), QByteArray("old text and new text via link"));
}

// A disk that fills up at the last moment (the flush) fails the save: the
// file keeps its old text and the document stays edited.
TEST_F(DocumentBaseTest, AFullDiskIsAFailedSaveNeverAnEmptyFile)
{
    auto doc = open("the old text");
    doc->edit(QStringLiteral(" and more"));
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "sync" ? ENOSPC : 0; });
    const auto status = doc->save();
    setFileWriteFaultHook({});
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().message().contains("The disk is full.")) << status.error().message().toStdString();
    EXPECT_EQ(readFile(path), QByteArray("the old text"));
    EXPECT_TRUE(doc->isDocumentEdited());
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(path), QByteArray("the old text and more"));
}

// A save killed while writing in place (the file has a second name) is
// mended when the document is opened next: the old text comes back whole.
TEST_F(DocumentBaseTest, OpeningMendsASaveKilledMidway)
{
    auto doc = open("the old text");
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(dir + "/Twin.md").constData()), 0);
    doc->text = QStringLiteral("short"); // the new bytes land over the old ones, not yet cut to length
    doc->edit(QString());
    struct Killed {};
    setFileWriteFaultHook([](const char* step) -> int {
        if (std::string_view(step) == "truncate") throw Killed{};
        return 0;
    });
    EXPECT_THROW(doc->save(), Killed);
    setFileWriteFaultHook({});
    doc.reset();
    TextDocument again;
    ASSERT_TRUE(again.readFromFile(path, QStringLiteral("text/plain")).ok());
    EXPECT_EQ(readFile(path), QByteArray("the old text"));
    EXPECT_EQ(readFile(dir + "/Twin.md"), QByteArray("the old text"));
}

TEST_F(DocumentBaseTest, ReadOnlyFilesAreNotReplaced)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    auto doc = open("read only");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    doc->edit(QStringLiteral("!"));
    EXPECT_EQ(doc->save().error().code, PlatformError::Code::permissionDenied);
    EXPECT_EQ(readFile(path), QByteArray("read only"));
}

TEST_F(DocumentBaseTest, AnExternalChangeIsNeverOverwrittenSilently)
{
    struct Case {
        const char* what;
        ExternalChangeChoice choice;
        bool replaced; // with a new inode and the same size, rather than grown in place
        bool autosave;
    };
    const Case cases[] = {
        {"keep mine, file grown in place", ExternalChangeChoice::keepMine, false, false},
        {"keep mine, file replaced, autosaved", ExternalChangeChoice::keepMine, true, true},
        {"reload theirs, file grown in place, autosaved", ExternalChangeChoice::reloadTheirs, false, true},
        {"reload theirs, file replaced", ExternalChangeChoice::reloadTheirs, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useFolder(c.what);
        prompter = ScriptedPrompter{};
        prompter.externalChoice = c.choice;

        auto doc = open("base\r\n");
        QSignalSpy aside(doc.get(), &DocumentBase::versionSavedAside);
        doc->edit(QStringLiteral("mine"));
        const QByteArray theirs = c.replaced ? QByteArray("BASE\r\n") : QByteArray("base\r\ntheirs, longer");
        if (c.replaced) replaceBehindTheDocument(theirs);
        else writeFile(path, theirs);
        EXPECT_TRUE(doc->fileChangedOnDisk());
        ASSERT_TRUE((c.autosave ? doc->autosave() : doc->save()).ok());
        EXPECT_EQ(prompter.asked, QStringList{"external"});
        ASSERT_EQ(aside.count(), 1);
        const QString asidePath = aside.at(0).at(0).toString();
        EXPECT_EQ(QFileInfo(asidePath).dir().absolutePath(), QFileInfo(path).dir().absolutePath());

        if (c.choice == ExternalChangeChoice::keepMine) {
            EXPECT_EQ(readFile(path), QByteArray("base\r\nmine"));
            EXPECT_EQ(readFile(asidePath), theirs);
            EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);
        } else {
            EXPECT_EQ(readFile(path), theirs);
            EXPECT_EQ(doc->text, QString::fromUtf8(theirs));
            EXPECT_EQ(readFile(asidePath), QByteArray("base\r\nmine"));
            EXPECT_EQ(asideFiles(QStringLiteral("unsaved edits")), 1);
            EXPECT_FALSE(doc->undoManager().canUndo());
        }
        EXPECT_FALSE(doc->isDocumentEdited());
        EXPECT_FALSE(doc->fileChangedOnDisk());

        // The next save finds no change and asks nothing.
        doc->edit(QStringLiteral("+"));
        ASSERT_TRUE(doc->save().ok());
        EXPECT_EQ(prompter.asked.size(), 1);
    }
}

TEST_F(DocumentBaseTest, ReadingAgainAndReadingFailures)
{
    auto doc = open("saved");
    doc->edit(QStringLiteral(" unsaved"));
    QSignalSpy reverted(doc.get(), &DocumentBase::reverted);
    ASSERT_TRUE(doc->revertToSaved().ok());
    EXPECT_EQ(doc->text, QStringLiteral("saved"));
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_FALSE(doc->undoManager().canUndo());
    EXPECT_EQ(reverted.count(), 1);
    EXPECT_EQ(doc->readCount, 2);
    EXPECT_EQ(TextDocument().revertToSaved().error().code, PlatformError::Code::noFile);

    struct Case {
        const char* what;
        QString path;
        PlatformError::Code code;
    };
    writeFile(dir + QStringLiteral("/image.png"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    QDir(dir).mkdir(QStringLiteral("folder"));
    const Case cases[] = {
        {"missing", dir + QStringLiteral("/missing.md"), PlatformError::Code::fileNotFound},
        {"folder", dir + QStringLiteral("/folder"), PlatformError::Code::readFailed},
        {"binary", dir + QStringLiteral("/image.png"), PlatformError::Code::notText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextDocument failed;
        const auto status = failed.readFromFile(c.path, QStringLiteral("text/plain"));
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().code, c.code);
        EXPECT_FALSE(status.error().errorDescription.isEmpty());
        EXPECT_EQ(status.error().filePath, c.path);
        EXPECT_TRUE(failed.isUntitled());
    }
}

// Closing an edited document (saved in place, or asked about) is shown
// with the document windows in tests/shell/OpeningTest.cpp.

TEST_F(DocumentBaseTest, SaveAsMovesTheDocumentToTheNewFile)
{
    auto doc = open("original");
    doc->setLocked(true);
    doc->edit(QStringLiteral(" copy"));
    QSignalSpy renamed(doc.get(), &DocumentBase::filePathChanged);
    const QString other = dir + QStringLiteral("/Other.md");
    ASSERT_TRUE(doc->saveAs(other).ok());
    EXPECT_EQ(readFile(other), QByteArray("original copy"));
    EXPECT_EQ(readFile(path), QByteArray("original"));
    EXPECT_EQ(doc->displayName(), QStringLiteral("Other.md"));
    EXPECT_FALSE(doc->isLocked());
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_EQ(renamed.count(), 1);

    TextDocument untitled;
    EXPECT_EQ(untitled.displayName(), QStringLiteral("Untitled"));
    untitled.setUntitledName(QStringLiteral("Untitled 2"));
    EXPECT_EQ(untitled.displayName(), QStringLiteral("Untitled 2"));
}

TEST_F(DocumentBaseTest, AFailingAutosaveIsReportedOnceAndKeepsTheEdits)
{
    DocumentBase::setAutosavingDelay(20);
    auto doc = open("kept");
    ASSERT_TRUE(QDir(dir).removeRecursively());
    doc->edit(QStringLiteral(" one"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !prompter.errors.isEmpty(); }, 5000));
    doc->edit(QStringLiteral(" two"));
    QTest::qWait(100);
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_EQ(prompter.errors.constFirst().code, PlatformError::Code::writeFailed);
    EXPECT_TRUE(prompter.errors.constFirst().errorDescription.contains(QStringLiteral("Notes.md")));
    EXPECT_TRUE(prompter.errors.constFirst().recoverySuggestion.contains(QStringLiteral("folder")));
    EXPECT_TRUE(doc->isDocumentEdited());
    // Closing cannot save either: the document stays open.
    EXPECT_FALSE(doc->close());
    EXPECT_FALSE(doc->isClosed());
}

TEST_F(DocumentBaseTest, WithoutAPrompterNothingIsLost)
{
    DocumentBase::setPrompter(nullptr);
    TextDocument untitled;
    untitled.edit(QStringLiteral("words"));
    EXPECT_FALSE(untitled.close()) << "no one to ask: closing is cancelled";
    EXPECT_EQ(untitled.save().error().code, PlatformError::Code::cancelled);

    auto doc = open("disk");
    writeFile(path, "disk, changed elsewhere");
    doc->edit(QStringLiteral(" mine"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(path), QByteArray("disk mine"));
    EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);
}
