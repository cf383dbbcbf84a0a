#include "TextDocument.h"

#include "support/HeldSave.h"
#include "support/TestEnvironment.h"
#include "support/WithoutPrivileges.h"

#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileRelocations.h"
#include "platform/files/FileWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <QTemporaryDir>
#include <QTimer>
#include <QThreadPool>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::freshDirectory;
using lumora::test::readFile;
using lumora::test::writeFile;
using lumora::test::TextDocument;
using lumora::test::WithoutPrivileges;

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
    DeletedFileChoice deletedChoice = DeletedFileChoice::saveAgain;
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
    DeletedFileChoice askAboutDeletedFile(DocumentBase&) override { asked << "deleted"; return deletedChoice; }
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return saved.count() > 0; }, test::patience));
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return !prompter.errors.isEmpty(); }, test::patience));
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(doc->openedVersionPath()); }, test::patience));
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return !untitled.recoveryFilePath().isEmpty(); }, test::patience));
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
    // A name the disk cannot hold is refused ("/" typed stands for ":").
    prompter.newName = QStringLiteral("..");
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
        ASSERT_TRUE(process.waitForFinished(test::patience));
        ASSERT_EQ(process.exitCode(), 0) << command.toStdString();
    };
    const auto quoted = [](const QString& p) { return QLatin1Char('\'') + p + QLatin1Char('\''); };

    // Unedited: written in place by another process, then replaced.
    auto doc = open("one");
    QSignalSpy reverted(doc.get(), &DocumentBase::reverted);
    shell(QStringLiteral("printf 'two' > ") + quoted(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->text == QStringLiteral("two"); }, test::patience));
    EXPECT_FALSE(doc->isDocumentEdited());
    shell(QStringLiteral("printf 'three' > %1.tmp && mv %1.tmp %1").arg(quoted(path)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->text == QStringLiteral("three"); }, test::patience));
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.asked.isEmpty(); }, test::patience));
    EXPECT_EQ(prompter.asked, QStringList{"external"});
    EXPECT_EQ(readFile(path), QByteArray("three! mine"));
    EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);

    // Renamed by another program: the document follows.
    const QString renamedPath = dir + QStringLiteral("/Renamed.md");
    shell(QStringLiteral("mv %1 %2").arg(quoted(path), quoted(renamedPath)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->filePath() == renamedPath; }, test::patience));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Its folder renamed: the document follows too.
    const QString movedFolder = dir + QStringLiteral("-moved");
    shell(QStringLiteral("mv %1 %2").arg(quoted(dir), quoted(movedFolder)));
    const QString movedPath = movedFolder + QStringLiteral("/Renamed.md");
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->filePath() == movedPath; }, test::patience));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Deleted: the text stays, and the document is unsaved; saving asks.
    shell(QStringLiteral("rm ") + quoted(movedPath));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->isDocumentEdited(); }, test::patience));
    EXPECT_TRUE(doc->isFileMissing());
    EXPECT_EQ(doc->text, QStringLiteral("three! mine"));
    prompter.asked.clear();
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(prompter.asked, QStringList{"deleted"});
    EXPECT_EQ(readFile(movedPath), QByteArray("three! mine"));
    FileChangeWatcher::shared().setSettlingTime(150);
}

namespace {

void runShell(const QString& command)
{
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    ASSERT_TRUE(process.waitForFinished(test::patience));
    ASSERT_EQ(process.exitCode(), 0) << command.toStdString();
}

QString quotedPath(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

// The document of another Lumora: opens the file, puts the text given in
// it, saves, and dies at the step of the save named.
const test::ChildRole saveKilledAt("document-save-killed-at", [](const QStringList& arguments) {
    const QString path = arguments.value(0);
    const std::string step = arguments.value(1).toStdString();
    TextDocument doc;
    if (!doc.readFromFile(path, QStringLiteral("text/plain")).ok()) return 2;
    // The copy of the version opened is written on another thread: done
    // before the save, so that the kill cuts the save and nothing else.
    QThreadPool::globalInstance()->waitForDone();
    doc.text = arguments.value(2);
    doc.edit(QString());
    setFileFaultHook([path, step](const char* now, const QString& file) {
        if (file == path && step == now) ::raise(SIGKILL);
        return 0;
    });
    (void)doc.save();
    return 0;
});

// A first Lumora with an untitled document whose text is in its recovery
// file; it says where, and runs until it is told to stop or killed.
const test::ChildRole recoveryHolder("recovery-holder", [](const QStringList&) {
    TextDocument untitled;
    untitled.edit(QStringLiteral("the first instance's words"));
    if (!untitled.autosave().ok()) return 2;
    std::printf("%s\n", qPrintable(untitled.recoveryFilePath()));
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
    }
    return 0;
});

} // namespace

// A save of a file with two names is killed after its new bytes are synced
// but before its backup is gone; another program then writes the file. The
// next open shows that program's text, never the old backup, and tells the
// writer where the earlier contents are kept.
TEST_F(DocumentBaseTest, AnInterruptedSaveNeverUndoesANewerEditOfAnotherProgram)
{
    writeFile(path, "the old text");
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(dir + "/Twin.md").constData()), 0);
    QProcess child;
    ASSERT_TRUE(test::startChild(child, "document-save-killed-at",
                                 {path, "removeBackup", "the old text and the new words"}));
    ASSERT_TRUE(child.waitForFinished(test::patience));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(readFile(path), QByteArray("the old text and the new words"));
    runShell(QStringLiteral("printf 'what another program wrote' > ") + quotedPath(path));

    TextDocument doc;
    ASSERT_TRUE(doc.readFromFile(path, QStringLiteral("text/plain")).ok());
    EXPECT_EQ(doc.text, QStringLiteral("what another program wrote"));
    EXPECT_EQ(readFile(dir + "/Twin.md"), QByteArray("what another program wrote"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.errors.isEmpty(); }, test::patience)) << "the writer is told";
    const PlatformError told = prompter.errors.constFirst();
    EXPECT_TRUE(told.errorDescription.contains(QStringLiteral("interrupted"))) << told.message().toStdString();
    const QString backups = privateStateFolder(QStringLiteral("backups"));
    const QStringList kept = QDir(backups).entryList({QStringLiteral("Notes (before an interrupted save *).md")});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(told.recoverySuggestion.contains(backups + "/" + kept.first())) << told.message().toStdString();
    EXPECT_EQ(readFile(backups + "/" + kept.first()), QByteArray("the old text"));
    QFile::remove(backups + "/" + kept.first());

    // Killed half way instead (shorter new text written over the old, not yet
    // cut to length), with nobody writing after: the old text comes back.
    ASSERT_TRUE(test::startChild(child, "document-save-killed-at", {path, "truncate", "shorter"}));
    ASSERT_TRUE(child.waitForFinished(test::patience));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(readFile(path), QByteArray("shorterother program wrote"));
    TextDocument again;
    ASSERT_TRUE(again.readFromFile(path, QStringLiteral("text/plain")).ok());
    EXPECT_EQ(again.text, QStringLiteral("what another program wrote"));
    // Nothing stays behind; the copy of the version opened may still be
    // written in the background, holding its turn there for a moment.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QDir(backups).entryList(QDir::Files | QDir::Hidden).isEmpty(); },
                                test::patience))
        << QDir(backups).entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString();
}

// Two Lumoras run at once (each with a runtime folder of its own, so they do
// not join). The second neither lists nor adopts the first's recovery file,
// so its "Don't Save" cannot delete it; once the first has died, the file is
// a leftover like any other.
TEST_F(DocumentBaseTest, ASecondInstanceNeverTakesTheFirstsRecoveryFile)
{
    QProcess first;
    ASSERT_TRUE(test::startChild(first, "recovery-holder", {}, test::childEnvironmentWithOwnRuntime()));
    const QString theirs = QString::fromLocal8Bit(test::readLineFrom(first));
    ASSERT_FALSE(theirs.isEmpty());
    EXPECT_EQ(readFile(theirs), QByteArray("the first instance's words"));

    EXPECT_FALSE(DocumentBase::leftoverRecoveryFiles().contains(theirs));
    TextDocument adopted;
    const auto refused = adopted.recoverFrom(theirs, QStringLiteral("text/plain"));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().recoverySuggestion.contains(QStringLiteral("another Lumora")));
    prompter.saveChoice = SaveChoice::dontSave;
    // A document of this instance, untitled as well: a name of its own.
    TextDocument mine;
    mine.edit(QStringLiteral("the second instance's words"));
    ASSERT_TRUE(mine.autosave().ok());
    EXPECT_NE(mine.recoveryFilePath(), theirs);
    ASSERT_TRUE(mine.close());
    EXPECT_EQ(readFile(theirs), QByteArray("the first instance's words"));

    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(test::patience));
    EXPECT_EQ(DocumentBase::leftoverRecoveryFiles(), QStringList{theirs});
    TextDocument recovered;
    ASSERT_TRUE(recovered.recoverFrom(theirs, QStringLiteral("text/plain")).ok());
    EXPECT_EQ(recovered.text, QStringLiteral("the first instance's words"));
    EXPECT_TRUE(DocumentBase::leftoverRecoveryFiles().isEmpty()) << "held by this process now";
    ASSERT_TRUE(recovered.close());
    EXPECT_FALSE(QFileInfo::exists(theirs));
    EXPECT_EQ(QDir(DocumentBase::recoveryFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The folder of an open document is replaced by another folder of the same
// name. Nothing is written into the new folder, by Save or by autosave: the
// save fails with Save As as the way out, and the text is kept in a recovery
// file meanwhile.
TEST_F(DocumentBaseTest, NothingIsWrittenIntoAFolderThatReplacedTheDocumentsOwn)
{
    auto doc = open("text");
    doc->edit(QStringLiteral(" typed"));
    ASSERT_EQ(::rename(QFile::encodeName(dir).constData(), QFile::encodeName(dir + ".away").constData()), 0);
    ASSERT_TRUE(QDir().mkdir(dir));

    const auto refused = doc->save();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, PlatformError::Code::writeFailed);
    EXPECT_TRUE(refused.error().recoverySuggestion.contains(QStringLiteral("is not the folder it was in")))
        << refused.error().message().toStdString();
    EXPECT_FALSE(doc->autosave().ok());
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(readFile(dir + ".away/Notes.md"), QByteArray("text"));
    EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("text typed"));
    EXPECT_TRUE(doc->isDocumentEdited());
    EXPECT_TRUE(prompter.asked.isEmpty());

    // The Save command offers Save As; a document closing with nobody to ask
    // keeps its text in the recovery file.
    const QString elsewhere = freshDirectory(QStringLiteral("elsewhere")) + "/Rescued.md";
    prompter.failedSaveChoice = FailedSaveChoice::saveAs;
    prompter.saveLocation = elsewhere;
    ASSERT_TRUE(doc->saveDocument().ok());
    EXPECT_EQ(prompter.asked, (QStringList{kFailedWhileSaving, "location"}));
    EXPECT_EQ(readFile(elsewhere), QByteArray("text typed"));
    EXPECT_EQ(doc->filePath(), elsewhere);

    auto other = open("again"); // in the new folder: it is that folder's now
    other->edit(QStringLiteral("!"));
    ASSERT_TRUE(QDir(dir).removeRecursively());
    ASSERT_TRUE(QDir().mkdir(dir));
    EXPECT_TRUE(other->closeForTermination(false));
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(readFile(other->recoveryFilePath()), QByteArray("again!"));
    // Save As to that very path writes there: the writer chose it.
    ASSERT_TRUE(other->saveAs(path).ok());
    EXPECT_EQ(readFile(path), QByteArray("again!"));
    other->edit(QStringLiteral("?"));
    ASSERT_TRUE(other->save().ok());
}

namespace {

// A folder with a file system of its own mounted on it, taken away again.
struct Mount {
    QString at;
    bool mounted = false;

    Mount(const QString& folder, const char* source, const char* type, unsigned long flags)
        : at(folder)
    {
        mounted = ::mount(source, QFile::encodeName(folder).constData(), type, flags, nullptr) == 0;
    }
    void unmount()
    {
        if (mounted) ::umount2(QFile::encodeName(at).constData(), MNT_DETACH);
        mounted = false;
    }
    // The ordinary unmount of a desktop's Eject: 0, or the errno of the
    // refusal (EBUSY while anything holds the disk).
    int eject()
    {
        if (!mounted) return EINVAL;
        if (::umount2(QFile::encodeName(at).constData(), 0) != 0) return errno;
        mounted = false;
        return 0;
    }
    ~Mount() { unmount(); }
};

} // namespace

// A library's disk is unmounted while a document from it is open (a tmpfs
// here), or another folder is mounted over the document's (a bind mount).
// Save and autosave see that the path names another folder now and write
// nothing there: after a remount the text would be hidden under the mount.
TEST_F(DocumentBaseTest, AVanishedDiskIsNotAFolder)
{
    // A tmpfs on the folder, taken away while the document is open.
    const QString mountPoint = freshDirectory(QStringLiteral("mount-point"));
    Mount disk(mountPoint, "tmpfs", "tmpfs", 0);
    if (!disk.mounted) GTEST_SKIP() << "mounting is not permitted here: " << std::strerror(errno);
    path = mountPoint + "/Notes.md";
    auto doc = open("on the disk");
    doc->edit(QStringLiteral(" and more"));
    disk.unmount();
    const auto refused = doc->save();
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().recoverySuggestion.contains(QStringLiteral("disk it was on may have been removed")))
        << refused.error().message().toStdString();
    EXPECT_FALSE(doc->autosave().ok());
    EXPECT_EQ(QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList())
        << "nothing in the bare mount point";
    EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("on the disk and more"));
    EXPECT_TRUE(doc->isDocumentEdited());

    // Another folder mounted over the document's.
    const QString covered = freshDirectory(QStringLiteral("covered"));
    const QString cover = freshDirectory(QStringLiteral("cover"));
    path = covered + "/Notes.md";
    auto second = open("under");
    second->edit(QStringLiteral(" edited"));
    Mount bind(covered, QFile::encodeName(cover).constData(), nullptr, MS_BIND);
    ASSERT_TRUE(bind.mounted) << std::strerror(errno);
    EXPECT_FALSE(second->save().ok());
    EXPECT_FALSE(second->autosave().ok());
    EXPECT_EQ(QDir(cover).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    bind.unmount();
    // The disk back as it was: saving goes on where it left off.
    ASSERT_TRUE(second->save().ok());
    EXPECT_EQ(readFile(path), QByteArray("under edited"));
}

// A disk holding open documents, edited or not, can be ejected: nothing of
// theirs holds it. Meanwhile nothing is written at the bare mount point.
// When the disk comes back, the same folder on it (a bind mount of one
// folder stands for a disk here, so that it comes back as it was), the
// edited document saves there again by itself, without Save As, and both
// hear of other programs' changes again.
TEST_F(DocumentBaseTest, ADiskWithOpenDocumentsCanBeEjectedAndComesBack)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    DocumentBase::setAutosavingDelay(50);
    const QString stick = freshDirectory(QStringLiteral("stick"));
    const QString drive = freshDirectory(QStringLiteral("drive"));
    ASSERT_TRUE(QDir().mkpath(stick + QStringLiteral("/Notes")));
    Mount disk(drive, QFile::encodeName(stick).constData(), nullptr, MS_BIND);
    if (!disk.mounted) GTEST_SKIP() << "mounting is not permitted here: " << std::strerror(errno);
    path = drive + QStringLiteral("/Notes/Other.md");
    auto unedited = open("as it was");
    path = drive + QStringLiteral("/Notes/Notes.md");
    auto doc = open("on the stick");
    doc->edit(QStringLiteral(" and more"));

    const int ejected = disk.eject();
    ASSERT_EQ(ejected, 0) << "the disk is held: " << std::strerror(ejected);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !doc->recoveryFilePath().isEmpty(); }, test::patience));
    EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("on the stick and more"));
    EXPECT_EQ(QDir(drive).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_FALSE(doc->isFileMissing());
    EXPECT_FALSE(unedited->isFileMissing());
    EXPECT_FALSE(unedited->isDocumentEdited());

    Mount back(drive, QFile::encodeName(stick).constData(), nullptr, MS_BIND);
    ASSERT_TRUE(back.mounted) << std::strerror(errno);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !doc->isDocumentEdited(); }, test::patience));
    EXPECT_EQ(readFile(path), QByteArray("on the stick and more"));
    doc->edit(QStringLiteral("!"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(stick + QStringLiteral("/Notes/Notes.md")), QByteArray("on the stick and more!"));
    EXPECT_FALSE(prompter.asked.contains(QStringLiteral("location")));
    EXPECT_FALSE(prompter.asked.contains(QStringLiteral("deleted")));

    runShell(QStringLiteral("printf 'changed by another' > ") + quotedPath(drive + QStringLiteral("/Notes/Other.md")));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return unedited->text == QStringLiteral("changed by another"); }, test::patience));
    FileChangeWatcher::shared().setSettlingTime(150);
}

// Another program takes away the permissions of the folder of an edited
// document. Saving says that the folder can no longer be read and offers
// Save As; the file is not taken for deleted (writing it again could not
// work), and autosave writes nothing meanwhile.
TEST_F(DocumentBaseTest, AFolderThatCanNoLongerBeReadIsSaidSo)
{
    auto doc = open("text");
    doc->edit(QStringLiteral(" typed"));
    const QString elsewhere = freshDirectory(QStringLiteral("elsewhere"));
    ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0), 0);
    const auto restore = qScopeGuard([&] { ::chmod(QFile::encodeName(dir).constData(), 0755); });
    {
        WithoutPrivileges user(dir);
        if (!user.ok()) GTEST_SKIP() << user.why();
        EXPECT_FALSE(doc->autosave().ok());
        EXPECT_FALSE(doc->isFileMissing());
        prompter.failedSaveChoice = FailedSaveChoice::saveAs;
        prompter.saveLocation = elsewhere + QStringLiteral("/Rescued.md");
        const auto saved = doc->saveDocument();
        ASSERT_TRUE(saved.ok()) << prompter.asked.join(",").toStdString() << " " << saved.error().message().toStdString();
    }
    EXPECT_EQ(prompter.asked, (QStringList{kFailedWhileSaving, "location"}));
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_EQ(prompter.errors.constFirst().code, PlatformError::Code::permissionDenied);
    EXPECT_TRUE(prompter.errors.constFirst().recoverySuggestion.contains(QStringLiteral("can no longer be read")))
        << prompter.errors.constFirst().message().toStdString();
    EXPECT_EQ(readFile(elsewhere + QStringLiteral("/Rescued.md")), QByteArray("text typed"));
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    EXPECT_EQ(readFile(path), QByteArray("text"));
}

// Another program deletes the file of an edited document. The document keeps
// its text, unsaved: autosave writes no file there (only the recovery file);
// Save asks whether to write it again or save it elsewhere.
TEST_F(DocumentBaseTest, ADeletedFileStaysUnsavedUntilTheWriterSavesIt)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    DocumentBase::setAutosavingDelay(50);
    auto doc = open("text");
    doc->edit(QStringLiteral(" typed"));
    runShell(QStringLiteral("rm ") + quotedPath(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return doc->isFileMissing(); }, test::patience));
    doc->edit(QStringLiteral(" more"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !doc->recoveryFilePath().isEmpty()
                   && readFile(doc->recoveryFilePath()) == QByteArray("text typed more");
        },
        test::patience));
    QTest::qWait(200);
    EXPECT_FALSE(QFileInfo::exists(path)) << "autosave never writes the file again";
    EXPECT_TRUE(doc->isDocumentEdited());
    EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("text typed more"));
    EXPECT_TRUE(prompter.asked.isEmpty());
    EXPECT_TRUE(prompter.errors.isEmpty());

    // Save asks: cancelled, nothing is written; Save As puts it elsewhere.
    prompter.deletedChoice = DeletedFileChoice::cancel;
    EXPECT_TRUE(doc->save().error().isCancellation());
    EXPECT_FALSE(QFileInfo::exists(path));
    const QString elsewhere = dir + QStringLiteral("/Elsewhere.md");
    prompter.deletedChoice = DeletedFileChoice::saveAs;
    prompter.saveLocation = elsewhere;
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(prompter.asked, (QStringList{"deleted", "deleted", "location"}));
    EXPECT_EQ(readFile(elsewhere), QByteArray("text typed more"));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(doc->isDocumentEdited());

    // Deleted just now, before the watcher said so: the same. Save Again
    // writes it where it was.
    doc->edit(QStringLiteral("!"));
    ASSERT_TRUE(QFile::remove(elsewhere));
    EXPECT_TRUE(doc->autosave().ok());
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_TRUE(doc->closeForTermination(false)) << "quitting with nobody to ask keeps it in the recovery file";
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    const QString recovery = doc->recoveryFilePath();
    EXPECT_EQ(readFile(recovery), QByteArray("text typed more!"));
    prompter.asked.clear();
    prompter.deletedChoice = DeletedFileChoice::saveAgain;
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(prompter.asked, QStringList{"deleted"});
    EXPECT_EQ(readFile(elsewhere), QByteArray("text typed more!"));
    EXPECT_FALSE(QFileInfo::exists(recovery));
    FileChangeWatcher::shared().setSettlingTime(150);
}

// The library moves or trashes a document's file on another thread and says
// where it went once it is done; on a busy machine the document's watcher
// may see the file leave before that. It is not taken for a file another
// program deleted: the document follows it, saves there, and closes from the
// Trash without a question. A file that really went while a move failed is
// deleted all the same.
TEST_F(DocumentBaseTest, AFileTheProgramMovesIsNeverTakenForADeletedOne)
{
    FileChangeWatcher::shared().setSettlingTime(10);
    const auto guard = qScopeGuard([] { FileChangeWatcher::shared().setSettlingTime(150); });
    FileRelocations& relocations = FileRelocations::shared();
    QStringList heard;
    QObject listener;
    QObject::connect(&FileChangeWatcher::shared(), &FileChangeWatcher::fileChanged, &listener,
                     [&](const QString& changed, const QString&) { heard << changed; });
    const auto moveHeard = [&](const QString& from, const QString& to) {
        heard.clear();
        relocations.announceWillMove(from);
        EXPECT_EQ(::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0);
        return QTest::qWaitFor([&] { return heard.contains(from); }, test::patience);
    };

    auto doc = open("text");
    doc->edit(QStringLiteral(" typed"));
    const QString other = freshDirectory(QStringLiteral("moved-to"));
    const QString moved = other + QStringLiteral("/Notes.md");
    ASSERT_TRUE(moveHeard(path, moved));
    EXPECT_FALSE(doc->isFileMissing());
    relocations.announceMoved(path, moved);
    EXPECT_EQ(doc->filePath(), moved);
    EXPECT_EQ(readFile(moved), QByteArray("text typed"));
    EXPECT_FALSE(doc->isDocumentEdited());
    doc->edit(QStringLiteral(" there"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(moved), QByteArray("text typed there"));

    const QString trash = freshDirectory(QStringLiteral("trash")) + QStringLiteral("/Notes.md");
    ASSERT_TRUE(moveHeard(moved, trash));
    EXPECT_FALSE(doc->isFileMissing());
    relocations.announceTrashed(moved, trash);
    EXPECT_TRUE(doc->isClosed());
    EXPECT_EQ(doc->filePath(), trash);
    EXPECT_TRUE(prompter.asked.isEmpty()) << prompter.asked.join(u' ').toStdString();

    // The move failed, and the file went all the same (another program).
    auto gone = open("gone");
    heard.clear();
    relocations.announceWillMove(path);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.contains(path); }, test::patience));
    relocations.announceMoveFailed(path);
    EXPECT_TRUE(gone->isFileMissing());
    EXPECT_TRUE(gone->isDocumentEdited());
}

// A file with a name of 253 bytes changed by another program: the copy kept
// aside gets a shortened name that fits, so the change can be resolved
// either way.
TEST_F(DocumentBaseTest, AChangedFileWithALongNameCanBeResolved)
{
    for (const QString& name : {QString(250, QLatin1Char('a')) + ".md", QString(125, QChar(u'é')) + ".md"}) {
        for (const ExternalChangeChoice choice : {ExternalChangeChoice::keepMine, ExternalChangeChoice::reloadTheirs}) {
            SCOPED_TRACE(name.left(3).toStdString() + (choice == ExternalChangeChoice::keepMine ? " keep" : " load"));
            useFolder("long-name");
            path = dir + "/" + name;
            ASSERT_EQ(QFile::encodeName(name).size(), 253);
            prompter = ScriptedPrompter{};
            prompter.externalChoice = choice;
            auto doc = open("base");
            QSignalSpy aside(doc.get(), &DocumentBase::versionSavedAside);
            doc->edit(QStringLiteral(" mine"));
            writeFile(path, "theirs, changed elsewhere");
            const auto status = doc->save();
            ASSERT_TRUE(status.ok()) << status.error().message().toStdString();
            ASSERT_EQ(aside.count(), 1);
            const QString asidePath = aside.at(0).at(0).toString();
            EXPECT_LE(QFile::encodeName(QFileInfo(asidePath).fileName()).size(), 255);
            EXPECT_TRUE(asidePath.endsWith(").md"));
            EXPECT_EQ(readFile(asidePath), choice == ExternalChangeChoice::keepMine ? QByteArray("theirs, changed elsewhere")
                                                                                  : QByteArray("base mine"));
            EXPECT_EQ(readFile(path), choice == ExternalChangeChoice::keepMine ? QByteArray("base mine")
                                                                             : QByteArray("theirs, changed elsewhere"));
        }
    }
}

namespace {

// Opens a file, edits, lets another program take its read permission away,
// and saves; prints what the writer was told, one line each. As root, it
// first becomes nobody, for whom permissions count.
const test::ChildRole unreadableSave("unreadable-save", [](const QStringList& arguments) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
    ScriptedPrompter prompter;
    DocumentBase::setPrompter(&prompter);
    const QString file = arguments.value(0) + "/Notes.md";
    test::writeFile(file, "text");
    TextDocument doc;
    if (!doc.readFromFile(file, QStringLiteral("text/plain")).ok()) return 3;
    doc.edit(QStringLiteral(" typed"));
    if (QProcess::execute(QStringLiteral("chmod"), {QStringLiteral("000"), file}) != 0) return 4;
    const auto status = doc.save();
    std::printf("%s\n", status.ok() ? "saved" : qPrintable(status.error().message()));
    // The watcher tells the document too: the same words.
    doc.fileDidChangeOnDisk();
    for (const PlatformError& error : prompter.errors) std::printf("%s\n", qPrintable(error.message()));
    std::printf("asked: %s\n", qPrintable(prompter.asked.join(QLatin1Char(','))));
    std::printf("edited: %d\n", int(doc.isDocumentEdited()));
    DocumentBase::setPrompter(nullptr);
    return 0;
});

} // namespace

// Another program takes the read permission away (chmod 000). Saving says
// that the file can no longer be read, not that another program changed it,
// and writes nothing over it.
TEST_F(DocumentBaseTest, AFileThatCanNoLongerBeReadIsSaidSoAndLeftAlone)
{
    // A folder of its own, which nobody may use when the test runs as root.
    QTemporaryDir folder(QDir::tempPath() + "/lumora-unreadable-XXXXXX");
    ASSERT_TRUE(folder.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0777), 0);
    QProcessEnvironment environment = test::childEnvironmentWithOwnRuntime();
    if (::geteuid() == 0) {
        for (const char* variable : {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(variable, folder.path() + "/" + variable);
    }
    QProcess child;
    ASSERT_TRUE(test::startChild(child, "unreadable-save", {folder.path()}, environment));
    ASSERT_TRUE(child.waitForFinished(test::patience));
    ASSERT_EQ(child.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(child.exitCode(), 0);
    const QStringList told = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed().split(QLatin1Char('\n'));
    ASSERT_EQ(told.size(), 4) << told.join('\n').toStdString();
    for (const QString& line : told.mid(0, 2)) {
        EXPECT_TRUE(line.contains(QStringLiteral("can no longer be read"))) << line.toStdString();
        EXPECT_FALSE(line.contains(QStringLiteral("changed by another program"))) << line.toStdString();
    }
    EXPECT_EQ(told.at(2), QStringLiteral("asked: ")) << "no question about another version";
    EXPECT_EQ(told.at(3), QStringLiteral("edited: 1"));
    ::chmod(QFile::encodeName(folder.path() + "/Notes.md").constData(), 0644);
    EXPECT_EQ(readFile(folder.path() + "/Notes.md"), QByteArray("text"));
    EXPECT_EQ(QDir(folder.path()).entryList({QStringLiteral("Notes (*")}, QDir::Files), QStringList());
}

namespace {

// Counts the paints of a widget.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

} // namespace

// Another Lumora saves the file while this one saves it too: its write is
// held at the flush or the cut to length (a slow disk), under this file's
// name or under a second name of it. This save waits its turn, then finds
// the other's text on disk: it asks, keeps that text aside, and writes its
// own; nothing is lost, and nobody says "saved" for a text that is not on
// disk.
TEST_F(DocumentBaseTest, ASaveThatWaitedForAnotherLumoraAsksBeforeWritingOverIt)
{
    struct Case {
        const char* what;
        const char* heldAt;
        bool underTwin;
    };
    for (const Case& c : {Case{"held at the flush", "sync", false}, Case{"held at the cut", "truncate", false},
                          Case{"held at the cut, under a second name", "truncate", true}}) {
        SCOPED_TRACE(c.what);
        useFolder(c.what);
        prompter.asked.clear();
        QByteArray old;
        for (int i = 0; old.size() < 256 * 1024; ++i) old += "Line " + QByteArray::number(i) + " as it was.\n";
        auto doc = open(old);
        const QString twin = dir + "/Twin.md";
        if (std::string_view(c.heldAt) == "truncate")
            ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(twin).constData()), 0);
        doc->edit(QStringLiteral("My last words."));
        const QByteArray theirs = "Their shorter text.\n";
        writeFile(dir + "/theirs", theirs);

        test::HeldSave other(c.underTwin ? twin : path, c.heldAt, dir + "/theirs");
        ASSERT_EQ(other.said(), "holding");
        setFileWriteFaultHook([&](const char* step) {
            if (std::string_view(step) == "waitForTurn" && !other.released) {
                other.release();
                EXPECT_EQ(other.said(), "saved");
            }
            return 0;
        });
        const PlatformStatus status = doc->save();
        setFileWriteFaultHook({});
        ASSERT_TRUE(status.ok()) << status.error().message().toStdString();
        EXPECT_TRUE(other.released) << "this save did not wait for the other";
        EXPECT_EQ(prompter.asked, QStringList{"external"});
        EXPECT_FALSE(doc->isDocumentEdited());
        EXPECT_EQ(readFile(path), doc->text.toUtf8());
        const QStringList aside = QDir(dir).entryList({QStringLiteral("Notes (changed elsewhere *).md")});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(readFile(dir + "/" + aside.first()), theirs);
    }
}

// The wait for another Lumora's save never holds up the window: it
// repaints, and what the writer types meanwhile goes into the text. Then the
// save goes on (and asks, as the other changed the file), or its time is up
// and it fails saying why, with the typed text kept; it never writes later
// of its own accord, and the next save asks.
TEST_F(DocumentBaseTest, WaitingForAnotherLumorasSaveNeverHoldsUpTheWindow)
{
    for (const bool timesOut : {false, true}) {
        SCOPED_TRACE(timesOut ? "the time is up" : "the turn comes");
        useFolder(timesOut ? "times out" : "goes on");
        prompter.asked.clear();
        prompter.errors.clear();
        auto doc = open("the old text");
        doc->edit(QStringLiteral(", and mine"));
        QLineEdit window;
        window.setText(doc->text);
        QObject::connect(&window, &QLineEdit::textEdited, [&](const QString& now) {
            if (now.startsWith(doc->text)) doc->edit(now.mid(doc->text.size()));
        });
        PaintCounter counter;
        window.installEventFilter(&counter);
        window.show();
        writeFile(dir + "/theirs", "their text");
        test::HeldSave other(path, "sync", dir + "/theirs");
        ASSERT_EQ(other.said(), "holding");

        bool saving = false;
        bool typedWhileSaving = false;
        int paintsBefore = 0;
        QTimer::singleShot(0, &window, [&] {
            typedWhileSaving = saving;
            paintsBefore = counter.paints;
            QTest::keyClicks(&window, QStringLiteral(" typed"));
            window.update();
        });
        setFileWriteFaultHook([&](const char* step) {
            if (std::string_view(step) != "waitForTurn" || !doc->text.endsWith(QStringLiteral(" typed"))
                || counter.paints <= paintsBefore)
                return 0;
            if (timesOut) return EBUSY; // as when the time is up
            other.release();
            return 0;
        });
        saving = true;
        const PlatformStatus status = doc->save();
        saving = false;
        setFileWriteFaultHook({});
        EXPECT_TRUE(typedWhileSaving) << "nothing happened in the window while the save waited";
        EXPECT_EQ(doc->text, QStringLiteral("the old text, and mine typed"));
        EXPECT_EQ(window.text(), doc->text);
        if (!timesOut) {
            ASSERT_TRUE(status.ok()) << status.error().message().toStdString();
            EXPECT_EQ(other.said(), "saved");
            EXPECT_EQ(prompter.asked, QStringList{"external"});
            EXPECT_EQ(readFile(path), QByteArray("the old text, and mine typed"));
            EXPECT_FALSE(doc->isDocumentEdited());
            EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);
            continue;
        }
        ASSERT_FALSE(status.ok()) << "said saved while another Lumora held the file";
        EXPECT_TRUE(status.error().recoverySuggestion.contains(QStringLiteral("Another Lumora")))
            << status.error().message().toStdString();
        EXPECT_TRUE(doc->isDocumentEdited());
        other.release();
        EXPECT_EQ(other.said(), "saved");
        EXPECT_EQ(readFile(path), QByteArray("their text"));
        EXPECT_TRUE(prompter.asked.isEmpty());
        ASSERT_TRUE(doc->save().ok());
        EXPECT_EQ(prompter.asked, QStringList{"external"});
        EXPECT_EQ(readFile(path), QByteArray("the old text, and mine typed"));
        EXPECT_EQ(asideFiles(QStringLiteral("changed elsewhere")), 1);
    }
}

namespace {

// A second Lumora with the document open: it reads the file, puts its own
// text in, says "ready", saves when told to, and says whether it was asked
// about a change by another program ("asked", keeping its own text), then
// "saved" or "failed".
const test::ChildRole documentSaver("document-saver", [](const QStringList& arguments) {
    ScriptedPrompter prompter;
    DocumentBase::setPrompter(&prompter);
    TextDocument doc;
    if (!doc.readFromFile(arguments.value(0), QStringLiteral("text/plain"))) return 2;
    doc.edit(arguments.value(1));
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin)) return 3;
    const PlatformStatus status = doc.save();
    std::printf("%s\n%s\n", prompter.asked.contains(QStringLiteral("external")) ? "asked" : "not asked",
                status ? "saved" : "failed");
    std::fflush(stdout);
    DocumentBase::setPrompter(nullptr);
    return 0;
});

} // namespace

// Two Lumoras with one large document open save it at almost the same time,
// with nothing held: whichever writes second finds the other's text, asks,
// and keeps it aside. Both texts are kept, whatever the order.
TEST_F(DocumentBaseTest, TwoLumorasSavingALargeDocumentAtOnceLoseNothing)
{
    QByteArray old;
    for (int i = 0; old.size() < 24 * 1024 * 1024; ++i)
        old += "Line " + QByteArray::number(i) + " of a long text that both windows show.\n";
    auto doc = open(old);
    QProcess other;
    ASSERT_TRUE(test::startChild(other, "document-saver", {path, QStringLiteral("Their last words.")},
                                 test::childEnvironmentWithOwnRuntime()));
    ASSERT_EQ(test::readLineFrom(other), "ready");
    doc->edit(QStringLiteral("My last words."));
    other.write("go\n");
    other.waitForBytesWritten();
    const PlatformStatus status = doc->save();
    ASSERT_TRUE(status.ok()) << status.error().message().toStdString();
    const QByteArray theyWereAsked = test::readLineFrom(other);
    EXPECT_EQ(test::readLineFrom(other), "saved");
    ASSERT_TRUE(other.waitForFinished(test::patience));

    const bool iWasAsked = prompter.asked.contains(QStringLiteral("external"));
    EXPECT_NE(iWasAsked, theyWereAsked == "asked") << "exactly the second save asks";
    const QByteArray mine = old + "My last words.";
    const QByteArray theirs = old + "Their last words.";
    const QStringList aside = QDir(dir).entryList({QStringLiteral("Notes (changed elsewhere *).md")});
    ASSERT_EQ(aside.size(), 1);
    const QByteArray onDisk = readFile(path);
    const QByteArray keptAside = readFile(dir + "/" + aside.first());
    EXPECT_TRUE(onDisk == (iWasAsked ? mine : theirs)) << "the file holds the second save's text";
    EXPECT_TRUE(keptAside == (iWasAsked ? theirs : mine)) << "the first save's text is kept aside";
}

// Quitting with nobody to ask, while another Lumora's save of the file is
// held: the document waits its turn, finds that Lumora's text, and keeps its
// own in a recovery file instead of writing over it.
TEST_F(DocumentBaseTest, QuittingAfterAnotherLumorasSaveNeverWritesOverIt)
{
    auto doc = open("the old text");
    doc->edit(QStringLiteral(", and mine"));
    writeFile(dir + "/theirs", "their text");
    test::HeldSave other(path, "sync", dir + "/theirs");
    ASSERT_EQ(other.said(), "holding");
    setFileWriteFaultHook([&](const char* step) {
        if (std::string_view(step) == "waitForTurn" && !other.released) {
            other.release();
            EXPECT_EQ(other.said(), "saved");
        }
        return 0;
    });
    QSignalSpy kept(doc.get(), &DocumentBase::keptInRecoveryFile);
    EXPECT_TRUE(doc->closeForTermination(false));
    setFileWriteFaultHook({});
    EXPECT_TRUE(other.released);
    EXPECT_EQ(readFile(path), QByteArray("their text"));
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(doc->recoveryFilePath()), QByteArray("the old text, and mine"));
}

// Another program moves the folder of an edited document, or a folder above
// it, somewhere other than above it (into a sibling, far off, with its
// parent). The document follows, and saving writes at the new place; its
// folder is held by nothing meanwhile. Moved where it cannot be found, the
// save says so, and does not claim the folder no longer exists.
TEST_F(DocumentBaseTest, ADocumentFollowsItsFolderWhereverAnotherProgramMovesIt)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    const auto restore = qScopeGuard([] { FileChangeWatcher::shared().setSettlingTime(150); });
    struct Case {
        QString document, from, to, now;
    };
    const QList<Case> cases{
        {"L/proj/d.md", "L/proj", "L/other/", "L/other/proj/d.md"},
        {"L/a/d.md", "L/a", "elsewhere/deep/a", "elsewhere/deep/a/d.md"},
        {"L/a/b/d.md", "L/a", "L/other/a", "L/other/a/b/d.md"},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.from.toStdString() + " -> " + c.to.toStdString());
        const QString top = dir + QStringLiteral("/") + QString::number(i);
        ASSERT_TRUE(QDir().mkpath(top + QStringLiteral("/L/other")));
        ASSERT_TRUE(QDir().mkpath(top + QStringLiteral("/elsewhere/deep")));
        path = top + QStringLiteral("/") + c.document;
        auto doc = open("a\n");
        doc->edit(QStringLiteral("typed"));
        runShell(QStringLiteral("mv ") + quotedPath(top + QStringLiteral("/") + c.from) + QLatin1Char(' ')
                 + quotedPath(top + QStringLiteral("/") + c.to));
        const QString now = top + QStringLiteral("/") + c.now;
        ASSERT_TRUE(QTest::qWaitFor([&] { return doc->filePath() == now; }, test::patience))
            << doc->filePath().toStdString();
        const auto saved = doc->save();
        ASSERT_TRUE(saved.ok()) << saved.error().message().toStdString();
        EXPECT_EQ(readFile(now), QByteArray("a\ntyped"));
        EXPECT_FALSE(QFileInfo::exists(path));
        EXPECT_TRUE(prompter.asked.isEmpty()) << prompter.asked.join(",").toStdString();
    }

    // Moved further than Lumora looks, into a folder nobody watches.
    path = dir + QStringLiteral("/lost/proj/d.md");
    auto doc = open("a\n");
    doc->edit(QStringLiteral("typed"));
    const QString far = freshDirectory(QStringLiteral("far")) + QStringLiteral("/1/2/3/4/5/6/7");
    ASSERT_TRUE(QDir().mkpath(far));
    runShell(QStringLiteral("mv ") + quotedPath(dir + QStringLiteral("/lost/proj")) + QLatin1Char(' ') + quotedPath(far));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !FileChangeWatcher::shared().hasEventsOnTheirWay(); }, test::patience));
    const auto refused = doc->save();
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().recoverySuggestion.contains(QStringLiteral("moved where Lumora cannot follow it")))
        << refused.error().recoverySuggestion.toStdString();
    EXPECT_EQ(doc->filePath(), path);
    EXPECT_EQ(readFile(far + QStringLiteral("/proj/d.md")), QByteArray("a\n"));
}
