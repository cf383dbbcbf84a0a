#include "TextDocument.h"

#include "support/TestEnvironment.h"

#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <string_view>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    std::optional<FailedSaveChoice> failedSaveChoice; // none: the default answer
    bool confirmClose = false;
    std::optional<QString> newName;
    std::optional<QString> moveLocation;
    QStringList asked;
    QList<PlatformError> errors;

    SaveChoice askToSaveChanges(DocumentBase&) override { asked << "save"; return saveChoice; }
    std::optional<QString> chooseSaveLocation(DocumentBase&) override { asked << "location"; return saveLocation; }
    ExternalChangeChoice askAboutExternalChange(DocumentBase&) override { asked << "external"; return externalChoice; }
    void presentError(DocumentBase&, const PlatformError& error) override { errors << error; }
    FailedSaveChoice askAfterFailedSave(DocumentBase& document, const PlatformError& error,
                                        FailedSaveContext context) override
    {
        asked << QStringLiteral("failed:%1").arg(int(context));
        if (!failedSaveChoice) return DocumentPrompter::askAfterFailedSave(document, error, context);
        errors << error;
        return *failedSaveChoice;
    }
    bool confirmCloseWithoutSaving(DocumentBase&) override { asked << "confirmClose"; return confirmClose; }
    std::optional<QString> chooseNewName(DocumentBase&) override { asked << "name"; return newName; }
    std::optional<QString> chooseMoveLocation(DocumentBase&) override { asked << "move"; return moveLocation; }
};

const QString kFailedWhileSaving = QStringLiteral("failed:%1").arg(int(FailedSaveContext::saving));
const QString kFailedWhileClosing = QStringLiteral("failed:%1").arg(int(FailedSaveContext::closing));
const QString kFailedWhileQuitting = QStringLiteral("failed:%1").arg(int(FailedSaveContext::terminating));

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
        DocumentBase::setMaximumFileSize(DocumentBase::defaultMaximumFileSize);
        setFileWriteFaultHook({});
        for (const QString& leftover : DocumentBase::leftoverRecoveryFiles()) QFile::remove(leftover);
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
    auto doc = open("read only");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    // Root may write any file: the write helper refuses as the system would.
    if (::geteuid() == 0)
        setFileFaultHook([file = path](const char* step, const QString& target) {
            const std::string_view s(step);
            return (s == "open" || s == "writeInPlace") && target == file ? EACCES : 0;
        });
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
    EXPECT_EQ(reverted.count(), 1);
    EXPECT_EQ(doc->readCount, 2);
    // The revert is one step of the undo history, which it keeps.
    doc->undoManager().undo();
    EXPECT_EQ(doc->text, QStringLiteral("saved unsaved"));
    EXPECT_TRUE(doc->isDocumentEdited());
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
        {"folder", dir + QStringLiteral("/folder"), PlatformError::Code::notAFile},
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

// Only regular files are read, and only up to the bound: a pipe, a device,
// a socket or a folder is refused at once (a pipe would wait for a writer,
// /dev/zero would never end), and so is a file too large to edit.
TEST_F(DocumentBaseTest, OpeningReadsRegularFilesOnlyWithinBounds)
{
    const QString fifo = dir + QStringLiteral("/pipe.md");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString socketPath = dir + QStringLiteral("/socket.md");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(socketPath);
    ASSERT_LT(size_t(encoded.size()), sizeof(address.sun_path));
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QDir(dir).mkdir(QStringLiteral("folder"));

    struct Case {
        const char* what;
        QString path;
        const char* reason;
    };
    const Case cases[] = {
        {"named pipe", fifo, "pipe"},
        {"device", QStringLiteral("/dev/zero"), "device"},
        {"socket", socketPath, "socket"},
        {"folder", dir + QStringLiteral("/folder"), "folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextDocument doc;
        const auto status = doc.readFromFile(c.path, QStringLiteral("text/plain"));
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().code, PlatformError::Code::notAFile);
        EXPECT_TRUE(status.error().errorDescription.contains(QFileInfo(c.path).fileName()));
        EXPECT_TRUE(status.error().recoverySuggestion.contains(QLatin1String(c.reason)))
            << status.error().recoverySuggestion.toStdString();
        EXPECT_TRUE(doc.isUntitled());
    }
    ::close(listener);

    DocumentBase::setMaximumFileSize(1000);
    writeFile(path, QByteArray(1500, 'a'));
    TextDocument large;
    const auto status = large.readFromFile(path, QStringLiteral("text/plain"));
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, PlatformError::Code::tooLarge);
    EXPECT_TRUE(status.error().recoverySuggestion.contains(QStringLiteral("larger than")));
    writeFile(path, QByteArray(1000, 'a'));
    EXPECT_TRUE(large.readFromFile(path, QStringLiteral("text/plain")).ok()) << "the bound itself opens";

    // A file that cannot be read says why, in the system's own words where
    // there are no better ones.
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "read" ? EIO : 0; });
    TextDocument unreadable;
    const auto failed = unreadable.readFromFile(path, QStringLiteral("text/plain"));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().recoverySuggestion, QStringLiteral("The disk reported an input/output error."));
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "read" ? ENOEXEC : 0; });
    const auto odd = unreadable.readFromFile(path, QStringLiteral("text/plain"));
    EXPECT_TRUE(odd.error().recoverySuggestion.startsWith(QStringLiteral("Reading the file failed: ")))
        << odd.error().recoverySuggestion.toStdString();
}

// The change check looks at the change time, which no program can set back:
// a rewrite that restores the modification time is still a change. A file
// that was only touched (same bytes) is none.
TEST_F(DocumentBaseTest, ARestoredModificationTimeIsStillAChangeAndATouchIsNone)
{
    auto doc = open("12345");
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    QTest::qWait(20); // a later change time
    writeFile(path, "54321");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    EXPECT_TRUE(doc->fileChangedOnDisk());

    auto same = open("same bytes");
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_FALSE(same->fileChangedOnDisk());
    same->edit(QStringLiteral("!"));
    ASSERT_TRUE(same->save().ok());
    EXPECT_TRUE(prompter.asked.isEmpty());
}

// Autosaves write over the file; the text as it was opened is kept aside and
// can come back, and the undo history survives both kinds of revert.
TEST_F(DocumentBaseTest, RevertAfterAnAutosaveCanGoBackToTheVersionOpened)
{
    auto doc = open("as opened");
    EXPECT_FALSE(doc->canRevertToOpenedVersion());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(doc->openedVersionPath()); }, 5000));
    EXPECT_TRUE(doc->openedVersionPath().startsWith(DocumentBase::versionsFolder()));
    EXPECT_EQ(QFileInfo(DocumentBase::versionsFolder()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              QFileDevice::Permissions());

    doc->edit(QStringLiteral(", then changed"));
    ASSERT_TRUE(doc->autosave().ok());
    EXPECT_EQ(readFile(path), QByteArray("as opened, then changed"));
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_TRUE(doc->canRevertToOpenedVersion());

    // Revert to saved finds nothing to undo: the file has the text.
    ASSERT_TRUE(doc->revertToSaved().ok());
    EXPECT_EQ(doc->text, QStringLiteral("as opened, then changed"));

    ASSERT_TRUE(doc->revertToOpenedVersion().ok());
    EXPECT_EQ(doc->text, QStringLiteral("as opened"));
    EXPECT_TRUE(doc->isDocumentEdited()) << "the file still holds the later text";
    EXPECT_EQ(readFile(path), QByteArray("as opened, then changed"));
    doc->undoManager().undo();
    EXPECT_EQ(doc->text, QStringLiteral("as opened, then changed"));
    EXPECT_FALSE(doc->isDocumentEdited());
    doc->undoManager().redo();
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(path), QByteArray("as opened"));
    EXPECT_FALSE(doc->canRevertToOpenedVersion());

    // The same bytes opened again share the kept copy; it stays while open.
    auto again = open("as opened");
    EXPECT_EQ(again->openedVersionPath(), doc->openedVersionPath());
}

// An untitled document with text is written to a recovery file a while after
// the last change; a later launch brings it back as an untitled, edited
// document; saving or closing by choice removes the file.
TEST_F(DocumentBaseTest, UntitledTextSurvivesACrashInARecoveryFile)
{
    DocumentBase::setAutosavingDelay(30);
    QString recovery;
    {
        TextDocument untitled;
        untitled.setUntitledName(QStringLiteral("Untitled 2"));
        untitled.edit(QStringLiteral("Words worth keeping"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !untitled.recoveryFilePath().isEmpty(); }, 5000));
        recovery = untitled.recoveryFilePath();
        EXPECT_EQ(QFileInfo(recovery).absolutePath(), QFileInfo(DocumentBase::recoveryFolder()).absoluteFilePath());
        EXPECT_EQ(QFileInfo(recovery).fileName(), QStringLiteral("Untitled 2.txt"));
        EXPECT_EQ(readFile(recovery), QByteArray("Words worth keeping"));
        EXPECT_TRUE(untitled.isDocumentEdited());
        // The program dies: the document goes without closing.
    }
    EXPECT_EQ(DocumentBase::leftoverRecoveryFiles(), QStringList{recovery});

    TextDocument recovered;
    ASSERT_TRUE(recovered.recoverFrom(recovery, QStringLiteral("text/plain")).ok());
    EXPECT_TRUE(recovered.isUntitled());
    EXPECT_TRUE(recovered.isDocumentEdited());
    EXPECT_EQ(recovered.text, QStringLiteral("Words worth keeping"));
    recovered.edit(QStringLiteral("!"));
    ASSERT_TRUE(recovered.autosave().ok());
    EXPECT_EQ(readFile(recovery), QByteArray("Words worth keeping!")) << "the same file is kept up to date";
    ASSERT_TRUE(recovered.saveAs(dir + QStringLiteral("/Kept.md")).ok());
    EXPECT_FALSE(QFileInfo::exists(recovery));

    // Closed by choice: the edits were not wanted.
    TextDocument dropped;
    dropped.edit(QStringLiteral("scratch"));
    ASSERT_TRUE(dropped.autosave().ok());
    const QString droppedRecovery = dropped.recoveryFilePath();
    ASSERT_TRUE(QFileInfo::exists(droppedRecovery));
    prompter.saveChoice = SaveChoice::dontSave;
    ASSERT_TRUE(dropped.close());
    EXPECT_FALSE(QFileInfo::exists(droppedRecovery));
    EXPECT_TRUE(DocumentBase::leftoverRecoveryFiles().isEmpty());
}

// A document whose folder was removed, or became read-only, cannot be saved
// where it is. The writer gets a way out every time: Save As (the document
// then lives there), closing without saving after a second confirmation,
// and on quitting a recovery file instead of a refusal.
TEST_F(DocumentBaseTest, AStuckSaveHasAWayOut)
{
    struct Case {
        const char* what;
        bool folderRemoved; // else read-only (through the fault hook where permissions don't bite)
    };
    for (const Case c : {Case{"folder removed", true}, Case{"folder read-only", false}}) {
        SCOPED_TRACE(c.what);
        useFolder(c.what);
        prompter = ScriptedPrompter{};
        const auto stick = [&] {
            if (c.folderRemoved) {
                ASSERT_TRUE(QDir(dir).removeRecursively());
            } else {
                ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0555), 0);
                ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
                if (::geteuid() == 0)
                    setFileFaultHook([folder = dir](const char* step, const QString& file) {
                        const std::string_view s(step);
                        return (s == "open" || s == "writeInPlace") && file.startsWith(folder + "/") ? EACCES : 0;
                    });
            }
        };
        const auto unstick = [&] {
            setFileWriteFaultHook({});
            if (!c.folderRemoved) ::chmod(QFile::encodeName(dir).constData(), 0755);
        };
        const QString elsewhere = freshDirectory(QStringLiteral("elsewhere"));

        // The Save command: the error, and Save As.
        auto doc = open("text");
        stick();
        doc->edit(QStringLiteral(" typed"));
        prompter.failedSaveChoice = FailedSaveChoice::saveAs;
        prompter.saveLocation = elsewhere + QStringLiteral("/Rescued.md");
        ASSERT_TRUE(doc->saveDocument().ok());
        EXPECT_EQ(prompter.asked, (QStringList{kFailedWhileSaving, "location"}));
        ASSERT_EQ(prompter.errors.size(), 1);
        EXPECT_FALSE(prompter.errors.constFirst().recoverySuggestion.contains(QStringLiteral("disk")))
            << "not a disk that is full: " << prompter.errors.constFirst().recoverySuggestion.toStdString();
        EXPECT_TRUE(prompter.errors.constFirst().errorDescription.contains(QStringLiteral("Notes.md")));
        EXPECT_EQ(doc->filePath(), prompter.saveLocation);
        EXPECT_EQ(readFile(*prompter.saveLocation), QByteArray("text typed"));
        EXPECT_FALSE(doc->isDocumentEdited());
        unstick();
        doc.reset();

        // Closing: the writer may close without saving, but only when sure.
        useFolder(c.what);
        doc = open("text");
        stick();
        doc->edit(QStringLiteral(" lost"));
        prompter = ScriptedPrompter{};
        prompter.failedSaveChoice = FailedSaveChoice::closeWithoutSaving;
        EXPECT_FALSE(doc->close()) << "not confirmed";
        EXPECT_EQ(prompter.asked, (QStringList{kFailedWhileClosing, "confirmClose"}));
        prompter.confirmClose = true;
        EXPECT_TRUE(doc->close());
        unstick();

        // Quitting asks once, then keeps the text in a recovery file.
        useFolder(c.what);
        doc = open("text");
        stick();
        doc->edit(QStringLiteral(" kept"));
        prompter = ScriptedPrompter{};
        QSignalSpy kept(doc.get(), &DocumentBase::keptInRecoveryFile);
        EXPECT_TRUE(doc->closeForTermination(true));
        EXPECT_EQ(prompter.asked, QStringList{kFailedWhileQuitting});
        ASSERT_EQ(kept.count(), 1);
        const QString recovery = kept.at(0).at(0).toString();
        EXPECT_EQ(readFile(recovery), QByteArray("text kept"));
        EXPECT_TRUE(recovery.startsWith(DocumentBase::recoveryFolder()));
        unstick();
        QFile::remove(recovery);

        // Nobody to ask (the program is told to stop while a question is
        // open): saved where possible, else kept, never a question.
        useFolder(c.what);
        doc = open("text");
        auto fine = open("fine");
        stick();
        doc->edit(QStringLiteral(" quietly"));
        prompter = ScriptedPrompter{};
        EXPECT_TRUE(doc->closeForTermination(false));
        EXPECT_TRUE(prompter.asked.isEmpty());
        EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("text quietly"));
        unstick();
    }
}

TEST_F(DocumentBaseTest, SavingWithoutTheFolderSaysSoNotThatTheDiskIsFull)
{
    auto doc = open("text");
    ASSERT_TRUE(QDir(dir).removeRecursively());
    doc->edit(QStringLiteral("!"));
    const auto status = doc->save();
    ASSERT_FALSE(status.ok());
    EXPECT_TRUE(status.error().recoverySuggestion.contains(QStringLiteral("folder no longer exists")))
        << status.error().recoverySuggestion.toStdString();
    EXPECT_FALSE(status.error().recoverySuggestion.contains(QStringLiteral("room")));
}

// Rename, Move To and Locked, as offered from the window's title.
TEST_F(DocumentBaseTest, RenameMoveAndLock)
{
    auto doc = open("text");
    doc->edit(QStringLiteral(" and more"));
    prompter.newName = QStringLiteral("Renamed.md");
    QSignalSpy renamed(doc.get(), &DocumentBase::filePathChanged);
    ASSERT_TRUE(doc->rename().ok());
    EXPECT_EQ(doc->displayName(), QStringLiteral("Renamed.md"));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(readFile(dir + QStringLiteral("/Renamed.md")), QByteArray("text and more")) << "edits follow";
    EXPECT_EQ(renamed.count(), 1);

    writeFile(dir + QStringLiteral("/Taken.md"), "someone else's");
    prompter.newName = QStringLiteral("Taken.md");
    EXPECT_FALSE(doc->rename().ok());
    EXPECT_EQ(readFile(dir + QStringLiteral("/Taken.md")), QByteArray("someone else's"));
    prompter.newName = QStringLiteral("a/b");
    EXPECT_FALSE(doc->rename().ok());
    prompter.newName.reset();
    EXPECT_TRUE(doc->rename().error().isCancellation());

    const QString other = freshDirectory(QStringLiteral("moved"));
    prompter.moveLocation = other + QStringLiteral("/Moved.md");
    ASSERT_TRUE(doc->move().ok());
    EXPECT_EQ(doc->filePath(), *prompter.moveLocation);
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/Renamed.md")));

    // Its folder gone, the document moves by being written at the new place.
    ASSERT_TRUE(QDir(other).removeRecursively());
    doc->edit(QStringLiteral("!"));
    prompter.moveLocation = dir + QStringLiteral("/Back.md");
    ASSERT_TRUE(doc->move().ok());
    EXPECT_EQ(readFile(dir + QStringLiteral("/Back.md")), QByteArray("text and more!"));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Locking saves first, and a locked document is never written.
    doc->edit(QStringLiteral("?"));
    ASSERT_TRUE(doc->toggleLocked().ok());
    EXPECT_TRUE(doc->isLocked());
    EXPECT_EQ(readFile(dir + QStringLiteral("/Back.md")), QByteArray("text and more!?"));
    ASSERT_TRUE(doc->toggleLocked().ok());
    EXPECT_FALSE(doc->isLocked());
}

// A document for a file that does not exist yet saves there; a file that
// another program makes there meanwhile is not overwritten unasked.
TEST_F(DocumentBaseTest, ANewFileSavesWhereItWasNamed)
{
    TextDocument doc;
    ASSERT_TRUE(doc.prepareNewFile(path, QStringLiteral("text/plain")).ok());
    EXPECT_EQ(doc.displayName(), QStringLiteral("Notes.md"));
    EXPECT_FALSE(QFileInfo::exists(path));
    doc.edit(QStringLiteral("first words"));
    ASSERT_TRUE(doc.save().ok());
    EXPECT_EQ(readFile(path), QByteArray("first words"));
    EXPECT_TRUE(prompter.asked.isEmpty());

    TextDocument raced;
    const QString other = dir + QStringLiteral("/Other.md");
    ASSERT_TRUE(raced.prepareNewFile(other, QStringLiteral("text/plain")).ok());
    writeFile(other, "made elsewhere");
    raced.edit(QStringLiteral("mine"));
    ASSERT_TRUE(raced.save().ok());
    EXPECT_EQ(prompter.asked, QStringList{"external"});
    EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 0);
    EXPECT_EQ(QDir(dir).entryList({QStringLiteral("Other (changed elsewhere *).md")}, QDir::Files).size(), 1);

    EXPECT_EQ(TextDocument().prepareNewFile(path, QStringLiteral("text/plain")).error().code,
              PlatformError::Code::fileExists);
    EXPECT_EQ(TextDocument().prepareNewFile(dir + QStringLiteral("/no/such.md"), QStringLiteral("text/plain")).error().code,
              PlatformError::Code::fileNotFound);
}

// Other programs change the open file: another process writes it, replaces
// it atomically, renames it, deletes it. An unedited document follows
// quietly; an edited one asks at once.
TEST_F(DocumentBaseTest, ChangesByOtherProgramsAreNoticedWhileOpen)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    const auto shell = [](const QString& command) {
        QProcess process;
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        ASSERT_TRUE(process.waitForFinished(10000));
        ASSERT_EQ(process.exitCode(), 0) << command.toStdString();
    };
    const auto quoted = [](const QString& p) { return QLatin1Char('\'') + p + QLatin1Char('\''); };

    // Unedited: written in place by another process, then replaced.
    auto doc = open("one");
    QSignalSpy reverted(doc.get(), &DocumentBase::reverted);
    shell(QStringLiteral("printf 'two' > ") + quoted(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->text == QStringLiteral("two"); }, 5000));
    EXPECT_FALSE(doc->isDocumentEdited());
    shell(QStringLiteral("printf 'three' > %1.tmp && mv %1.tmp %1").arg(quoted(path)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->text == QStringLiteral("three"); }, 5000));
    EXPECT_FALSE(doc->isDocumentEdited());
    EXPECT_TRUE(prompter.asked.isEmpty());
    // Our own saves are not changes.
    doc->edit(QStringLiteral("!"));
    ASSERT_TRUE(doc->save().ok());
    const int reloads = reverted.count();
    QTest::qWait(150);
    EXPECT_EQ(reverted.count(), reloads);
    EXPECT_EQ(doc->text, QStringLiteral("three!"));

    // Edited: asked at once; keeping mine keeps theirs beside it.
    doc->edit(QStringLiteral(" mine"));
    shell(QStringLiteral("printf 'theirs' > ") + quoted(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.asked.isEmpty(); }, 5000));
    EXPECT_EQ(prompter.asked, QStringList{"external"});
    EXPECT_EQ(readFile(path), QByteArray("three! mine"));
    EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);

    // Renamed by another program: the document follows.
    const QString renamedPath = dir + QStringLiteral("/Renamed.md");
    shell(QStringLiteral("mv %1 %2").arg(quoted(path), quoted(renamedPath)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->filePath() == renamedPath; }, 5000));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Its folder renamed: the document follows too.
    const QString movedFolder = dir + QStringLiteral("-moved");
    shell(QStringLiteral("mv %1 %2").arg(quoted(dir), quoted(movedFolder)));
    const QString movedPath = movedFolder + QStringLiteral("/Renamed.md");
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->filePath() == movedPath; }, 5000));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Deleted: the text stays, and the document is unsaved.
    shell(QStringLiteral("rm ") + quoted(movedPath));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->isDocumentEdited(); }, 5000));
    EXPECT_TRUE(doc->isFileMissing());
    EXPECT_EQ(doc->text, QStringLiteral("three! mine"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(movedPath), QByteArray("three! mine"));
    FileChangeWatcher::shared().setSettlingTime(150);
}
