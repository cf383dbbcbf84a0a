#include "platform/files/FileWriter.h"
#include "platform/files/FolderListing.h"

#include "support/HeldSave.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace lumora;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

struct stat statOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

// What is left in the folder besides the names given: temporaries must never be.
QStringList othersIn(const QString& folder, const QStringList& expected)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : expected) names.removeAll(name);
    return names;
}

// Simulates a process killed at a step: the hook throws, so nothing after
// that point of the write runs, just as after a SIGKILL.
struct Killed : std::runtime_error {
    Killed() : std::runtime_error("killed") {}
};

class FileWriterTest : public ::testing::Test {
protected:
    void TearDown() override { setFileWriteFaultHook({}); }

    // Fails the n-th time (counting from 1) that `step` comes up.
    void failAt(const char* step, int error, int nth = 1)
    {
        auto count = std::make_shared<int>(0);
        const std::string wanted = step;
        setFileWriteFaultHook([=](const char* now) {
            if (wanted == now && ++*count == nth) return error;
            return 0;
        });
    }
    void killAt(const char* step)
    {
        const std::string wanted = step;
        setFileWriteFaultHook([=](const char* now) {
            if (wanted == now) throw Killed();
            return 0;
        });
    }

    QTemporaryDir dir;
    QString path(const QString& name = QStringLiteral("notes.md")) const { return dir.filePath(name); }
};

} // namespace

TEST_F(FileWriterTest, WritesNewAndExistingFilesLeavingNothingBehind)
{
    ASSERT_TRUE(writeFileSafely(path(), "first"));
    EXPECT_EQ(contents(path()), "first");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(statOf(path()).st_mode & 0777, 0666 & ~mask);

    ::chmod(QFile::encodeName(path()).constData(), 0640);
    ASSERT_TRUE(writeFileSafely(path(), "second, longer"));
    EXPECT_EQ(contents(path()), "second, longer");
    EXPECT_EQ(statOf(path()).st_mode & 0777, 0640u);
    ASSERT_TRUE(writeFileSafely(path(), QByteArray()));
    EXPECT_EQ(contents(path()), "");
    EXPECT_EQ(othersIn(dir.path(), {"notes.md"}), QStringList());
}

TEST_F(FileWriterTest, CreateOnlyNeverReplaces)
{
    put(path(), "theirs");
    const auto status = writeFileSafely(path(), "mine", {.createOnly = true});
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().code, PlatformError::Code::fileExists);
    EXPECT_EQ(contents(path()), "theirs");
    ASSERT_TRUE(QFile::link(path(), path("link.md")));
    EXPECT_FALSE(writeFileSafely(path("link.md"), "mine", {.createOnly = true}));
    EXPECT_TRUE(writeFileSafely(path("new.md"), "mine", {.createOnly = true}));
    EXPECT_EQ(contents(path("new.md")), "mine");
    EXPECT_EQ(othersIn(dir.path(), {"notes.md", "link.md", "new.md"}), QStringList());
}

// Every step of the replacement can fail; each failure is reported, the old
// file stays whole and no temporary remains.
TEST_F(FileWriterTest, AFailedStepKeepsTheOldFile)
{
    struct Case {
        const char* step;
        int error;
    };
    for (const Case c : {Case{"open", ENOSPC}, Case{"write", ENOSPC}, Case{"write", EDQUOT}, Case{"sync", EIO},
                         Case{"close", ENOSPC}, Case{"rename", EIO}, Case{"xattr", EIO}}) {
        SCOPED_TRACE(c.step);
        put(path(), "the old text");
        failAt(c.step, c.error);
        const auto status = writeFileSafely(path(), "the new text that did not fit");
        setFileWriteFaultHook({});
        if (std::strcmp(c.step, "xattr") == 0) {
            // Attributes that cannot be copied send the write in place, which works.
            ASSERT_TRUE(status) << status.error().message().toStdString();
            EXPECT_EQ(contents(path()), "the new text that did not fit");
        } else {
            ASSERT_FALSE(status);
            EXPECT_EQ(status.error().filePath, path());
            EXPECT_TRUE(status.error().errorDescription.contains("notes.md"));
            EXPECT_EQ(contents(path()), "the old text");
        }
        EXPECT_EQ(othersIn(dir.path(), {"notes.md"}), QStringList());
    }
}

TEST_F(FileWriterTest, ErrorsNameTheRealReason)
{
    put(path(), "old");
    failAt("sync", ENOSPC);
    EXPECT_EQ(writeFileSafely(path(), "new").error().recoverySuggestion, "The disk is full.");
    // The folder refuses a replacement, and the backup for an in-place
    // write cannot be made either: nothing can be done.
    setFileWriteFaultHook([](const char* step) {
        return std::strcmp(step, "open") == 0 || std::strcmp(step, "backup") == 0 ? EACCES : 0;
    });
    const auto denied = writeFileSafely(path(), "new");
    ASSERT_FALSE(denied);
    EXPECT_FALSE(denied.error().message().contains("disk"));
    EXPECT_EQ(denied.error().recoverySuggestion.left(18), "Permission denied.");
    // An error without words of its own says which step failed.
    failAt("rename", ELOOP);
    EXPECT_EQ(writeFileSafely(path(), "new").error().recoverySuggestion,
              "Putting the new file in place failed: " + QString::fromLocal8Bit(std::strerror(ELOOP)) + ".");
    EXPECT_EQ(contents(path()), "old");
}

// A real write failure from the kernel, not from the hook: a file size limit
// makes write() fail part way, as a full disk does.
TEST_F(FileWriterTest, AKernelWriteFailureIsNeverSuccess)
{
    put(path(), "short");
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = saved;
    tight.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    const auto status = writeFileSafely(path(), QByteArray(100000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().recoverySuggestion, "The file is too large for this disk.");
    EXPECT_EQ(contents(path()), "short");
    EXPECT_EQ(othersIn(dir.path(), {"notes.md"}), QStringList());
}

TEST_F(FileWriterTest, KeepsLinksOwnerAndAttributes)
{
    put(path(), "shared");
    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("other name.md")).constData()), 0);
    ASSERT_TRUE(writeFileSafely(path(), "both names see this"));
    EXPECT_EQ(contents(path("other name.md")), "both names see this");
    EXPECT_EQ(statOf(path()).st_ino, statOf(path("other name.md")).st_ino);

    ASSERT_TRUE(QFile::link(path(), path("symlink.md")));
    ASSERT_TRUE(writeFileSafely(path("symlink.md"), "through the link"));
    EXPECT_TRUE(QFileInfo(path("symlink.md")).isSymLink());
    EXPECT_EQ(contents(path()), "through the link");

    if (::geteuid() == 0) { // another user's file keeps its owner
        put(path("theirs.md"), "theirs");
        ASSERT_EQ(::chown(QFile::encodeName(path("theirs.md")).constData(), 65534, 65534), 0);
        ASSERT_TRUE(writeFileSafely(path("theirs.md"), "still theirs"));
        EXPECT_EQ(statOf(path("theirs.md")).st_uid, 65534u);
        EXPECT_EQ(statOf(path("theirs.md")).st_gid, 65534u);
    }
    put(path("acl.md"), "one name only");
    if (QProcess::execute("setfacl", {"-m", "u:65534:r", path("acl.md")}) == 0) {
        const ino_t inode = statOf(path("acl.md")).st_ino;
        ASSERT_TRUE(writeFileSafely(path("acl.md"), "with an access list"));
        EXPECT_NE(statOf(path("acl.md")).st_ino, inode); // replaced, not written in place
        QProcess getfacl;
        getfacl.start("getfacl", {"-n", "-p", path("acl.md")});
        ASSERT_TRUE(getfacl.waitForFinished(test::patience));
        EXPECT_TRUE(getfacl.readAllStandardOutput().contains("user:65534:r--"));
    }

    put(path("tagged.md"), "tagged");
    const QByteArray tagged = QFile::encodeName(path("tagged.md"));
    if (::setxattr(tagged.constData(), "user.lumora.test", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system has no user attributes";
    ASSERT_TRUE(writeFileSafely(path("tagged.md"), "tagged again"));
    char value[16] = {};
    EXPECT_EQ(::getxattr(tagged.constData(), "user.lumora.test", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
}

// A writable file in a folder that allows no new files (read-only, or
// /tmp's sticky rules) is written in place.
TEST_F(FileWriterTest, AFolderThatRefusesAReplacementGetsAnInPlaceWrite)
{
    for (const char* step : {"open", "rename"}) {
        SCOPED_TRACE(step);
        put(path(), "old");
        const ino_t inode = statOf(path()).st_ino;
        failAt(step, EACCES);
        ASSERT_TRUE(writeFileSafely(path(), "new and in place"));
        EXPECT_EQ(contents(path()), "new and in place");
        EXPECT_EQ(statOf(path()).st_ino, inode);
        EXPECT_EQ(othersIn(dir.path(), {"notes.md"}), QStringList());
    }
    if (::geteuid() != 0) { // root writes into read-only folders anyway
        put(path(), "old");
        ::chmod(QFile::encodeName(dir.path()).constData(), 0555);
        const auto status = writeFileSafely(path(), "new");
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        ASSERT_TRUE(status) << status.error().message().toStdString();
        EXPECT_EQ(contents(path()), "new");
    }
}

TEST_F(FileWriterTest, AFailedInPlaceWritePutsTheOldBytesBack)
{
    put(path(), "the old text");
    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);
    failAt("syncInPlace", ENOSPC);
    const auto status = writeFileSafely(path(), "new text");
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error().recoverySuggestion, "The disk is full.");
    EXPECT_EQ(contents(path()), "the old text");
    EXPECT_EQ(QDir(privateStateFolder("backups")).entryList(QDir::Files), QStringList());
}

// A save killed in the middle is mended at the next open: a temporary goes,
// a half-written in-place file gets its old bytes back, and a finished one
// is left as it is.
TEST_F(FileWriterTest, ASaveKilledMidwayIsMendedLater)
{
    put(path(), "old");
    killAt("rename");
    EXPECT_THROW(writeFileSafely(path(), "new"), Killed);
    setFileWriteFaultHook({});
    EXPECT_EQ(othersIn(dir.path(), {"notes.md"}).size(), 1);
    EXPECT_EQ(cleanUpInterruptedWrite(path()).outcome, InterruptedWrite::Outcome::none);
    EXPECT_EQ(othersIn(dir.path(), {"notes.md"}), QStringList());
    EXPECT_EQ(contents(path()), "old");

    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);
    killAt("truncate"); // new bytes written over the old, not yet cut to length
    EXPECT_THROW(writeFileSafely(path(), "n"), Killed);
    setFileWriteFaultHook({});
    EXPECT_EQ(contents(path()), "nld");
    EXPECT_EQ(cleanUpInterruptedWrite(path()).outcome, InterruptedWrite::Outcome::restored);
    EXPECT_EQ(contents(path()), "old");
    EXPECT_EQ(contents(path("twin.md")), "old");

    killAt("removeBackup"); // everything written; only the backup remains
    EXPECT_THROW(writeFileSafely(path(), "finished"), Killed);
    setFileWriteFaultHook({});
    EXPECT_EQ(cleanUpInterruptedWrite(path()).outcome, InterruptedWrite::Outcome::none);
    EXPECT_EQ(contents(path()), "finished");
    EXPECT_EQ(QDir(privateStateFolder("backups")).entryList(QDir::Files), QStringList());
}

// A real process is killed at a step of an in-place save (the file has a
// second name); then, sometimes, another program writes, replaces or
// removes the file; then the file is opened again. The old bytes come back
// only over the half-written file that save left; anything newer stays, and
// the old bytes are kept aside under a readable name.
TEST_F(FileWriterTest, AKilledInPlaceSaveIsNeverRestoredOverNewerContents)
{
    enum class Then { nothing, writtenInPlace, replaced, removed };
    struct Case {
        const char* what;
        const char* killedAt;
        Then then;
        InterruptedWrite::Outcome outcome;
        QByteArray after; // what the file holds after the clean-up
    };
    const QByteArray oldBytes = "the old text, longer than the new";
    const QByteArray newBytes = "the new text";
    const Case cases[] = {
        {"killed before cutting to length", "truncate", Then::nothing, InterruptedWrite::Outcome::restored, oldBytes},
        {"killed before cutting, then written by another program", "truncate", Then::writtenInPlace,
         InterruptedWrite::Outcome::keptAside, "their edit"},
        {"killed after the sync", "removeBackup", Then::nothing, InterruptedWrite::Outcome::none, newBytes},
        {"killed after the sync, then written by another program", "removeBackup", Then::writtenInPlace,
         InterruptedWrite::Outcome::keptAside, "their edit"},
        {"killed after the sync, then replaced by another program", "removeBackup", Then::replaced,
         InterruptedWrite::Outcome::keptAside, "their edit"},
        {"killed after the sync, then removed", "removeBackup", Then::removed, InterruptedWrite::Outcome::keptAside,
         "<unreadable>"},
    };
    const QString backups = privateStateFolder("backups");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        put(path(), oldBytes);
        QFile::remove(path("twin.md"));
        ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);

        QProcess child;
        ASSERT_TRUE(test::startChild(child, "write-killed-at", {path(), c.killedAt, QString::fromLatin1(newBytes)}));
        ASSERT_TRUE(child.waitForFinished(test::patience));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the save was to be killed";
        ASSERT_EQ(QDir(backups).entryList({"*.json"}, QDir::Files).size(), 1) << "the save's note is left";

        const auto shell = [](const QString& command) {
            ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", command}), 0) << command.toStdString();
        };
        const QString quoted = "'" + path() + "'";
        switch (c.then) {
        case Then::nothing: break;
        case Then::writtenInPlace: shell("printf 'their edit' > " + quoted); break;
        case Then::replaced: shell(QString("printf 'their edit' > %1.new && mv %1.new %1").arg(quoted)); break;
        case Then::removed: shell("rm " + quoted); break;
        }

        const InterruptedWrite result = cleanUpInterruptedWrite(path());
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(contents(path()), c.after);
        if (c.outcome == InterruptedWrite::Outcome::keptAside) {
            EXPECT_EQ(contents(result.keptAt), oldBytes);
            EXPECT_EQ(QFileInfo(result.keptAt).absolutePath(), QFileInfo(backups).absoluteFilePath());
            EXPECT_TRUE(QFileInfo(result.keptAt).fileName().startsWith("notes (before an interrupted save "))
                << result.keptAt.toStdString();
            EXPECT_TRUE(result.keptAt.endsWith(").md")) << result.keptAt.toStdString();
            QFile::remove(result.keptAt);
        }
        // Nothing of that save is left to mend, now or at the next open.
        EXPECT_EQ(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(cleanUpInterruptedWrite(path()).outcome, InterruptedWrite::Outcome::none);
        EXPECT_EQ(othersIn(dir.path(), {"notes.md", "twin.md"}), QStringList());
        QFile::remove(path());
    }
}

namespace {

// Which step of a write a child process stops at: "sync#2" is the second
// sync; the step counts on the file `on`, or on any file inside the folder
// `on` (the backups a save makes), by default on the file saved.
class StepOfAWrite {
public:
    StepOfAWrite(const QString& step, QString on)
        : m_step(step.section('#', 0, 0).toStdString()), m_nth(std::max(1, step.section('#', 1, 1).toInt())),
          m_on(std::move(on))
    {
    }
    bool operator()(const char* now, const QString& file)
    {
        if (m_step != now || (file != m_on && !file.startsWith(m_on + '/'))) return false;
        return ++m_seen == m_nth;
    }

private:
    std::string m_step;
    int m_nth;
    QString m_on;
    int m_seen = 0;
};

// The child of the test above: saves the file and dies at the step named.
const test::ChildRole writeKilledAt("write-killed-at", [](const QStringList& arguments) {
    const QString target = arguments.value(0);
    StepOfAWrite killedAt(arguments.value(1), arguments.value(3, target));
    setFileFaultHook([&](const char* now, const QString& file) {
        if (killedAt(now, file)) ::raise(SIGKILL);
        return 0;
    });
    (void)writeFileSafely(target, arguments.value(2).toUtf8());
    return 0; // not killed: the parent says so
});

// A second Lumora saving a file: its new bytes are read from a file, and at
// the step named it says "holding" and waits for a line before it goes on.
// Then it says "saved", or "failed" and why.
const test::ChildRole writeHeldAt("write-held-at", [](const QStringList& arguments) {
    const QString target = arguments.value(0);
    StepOfAWrite heldAt(arguments.value(1), arguments.value(3, target));
    QFile source(arguments.value(2));
    if (!source.open(QIODevice::ReadOnly)) return 2;
    const QByteArray bytes = source.readAll();
    setFileFaultHook([&](const char* now, const QString& file) {
        if (!heldAt(now, file)) return 0;
        std::printf("holding\n");
        std::fflush(stdout);
        char line[16];
        return std::fgets(line, sizeof line, stdin) ? 0 : EIO;
    });
    const PlatformStatus status = writeFileSafely(target, bytes);
    setFileFaultHook({});
    if (status) std::printf("saved\n");
    else std::printf("failed %s\n", qPrintable(status.error().recoverySuggestion));
    return 0;
});

} // namespace

// Another Lumora saves a large file in place (it has a second name): its
// new text, 12 characters shorter, is written over the old, and it is held
// there, before the file is cut to its new length. This Lumora opens the
// file meanwhile, which first mends what a killed save left: a save going on
// is no killed save, whether this Lumora waits for it to end or passes over
// it. Nothing is put back over it, and it ends with its text whole.
TEST_F(FileWriterTest, ASaveAnotherLumoraIsMakingIsNeverTakenForAKilledOne)
{
    QByteArray oldBytes;
    for (int i = 0; oldBytes.size() < 1200 * 1024; ++i) oldBytes += "Line " + QByteArray::number(i) + " of a long text.\n";
    QByteArray newBytes = oldBytes;
    newBytes.remove(600 * 1024, 12);
    put(path("new text"), newBytes);
    const QString backups = privateStateFolder("backups");

    for (const bool endsWhileWaitedFor : {true, false}) {
        SCOPED_TRACE(endsWhileWaitedFor ? "waited for" : "passed over");
        put(path(), oldBytes);
        QFile::remove(path("twin.md"));
        ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);

        test::HeldSave other(path(), "truncate", path("new text"));
        ASSERT_EQ(other.said(), "holding");
        if (endsWhileWaitedFor)
            setFileWriteFaultHook([&](const char* step) {
                if (std::strcmp(step, "waitForTurn") == 0) other.release();
                return 0;
            });
        // What opening the file does first.
        const InterruptedWrite opened = cleanUpInterruptedWrite(path());
        setFileWriteFaultHook({});
        EXPECT_EQ(opened.outcome, InterruptedWrite::Outcome::none);
        other.release();
        EXPECT_EQ(other.said(), "saved");

        const QByteArray after = contents(path());
        EXPECT_EQ(after.size(), newBytes.size());
        EXPECT_TRUE(after == newBytes) << "the file holds neither version";
        EXPECT_TRUE(contents(path("twin.md")) == newBytes);
        EXPECT_EQ(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
}

// Two Lumoras save one file at once: the second waits until the first has
// ended, then writes its own text whole.
TEST_F(FileWriterTest, TwoLumorasSavingOneFileTakeTurns)
{
    put(path(), "the old text");
    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);
    put(path("first"), "the first save, longer than the old text");
    put(path("second"), "the second save");

    test::HeldSave first(path(), "truncate", path("first"));
    ASSERT_EQ(first.said(), "holding");
    test::HeldSave second(path(), "waitForTurn", path("second"));
    ASSERT_EQ(second.said(), "holding") << "the second save waits for the first";
    first.release();
    EXPECT_EQ(first.said(), "saved");
    second.release();
    EXPECT_EQ(second.said(), "saved");
    EXPECT_EQ(contents(path()), "the second save");
    EXPECT_EQ(contents(path("twin.md")), "the second save");
    EXPECT_EQ(QDir(privateStateFolder("backups")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// What killed saves left in the backups folder goes at the next start: a
// hidden copy cut short, and the copy of a save that had not begun to write
// its file. What stays: everything of a save another Lumora is making now,
// the backups that mend a half-written file when it is next opened, and an
// earlier version kept aside.
TEST_F(FileWriterTest, BackupsOfKilledSavesGoAtTheNextStart)
{
    const QString backups = privateStateFolder("backups");
    const auto withTwin = [&](const QString& name, const QByteArray& bytes) {
        put(path(name), bytes);
        ASSERT_EQ(::link(QFile::encodeName(path(name)).constData(), QFile::encodeName(path(name + ".twin")).constData()),
                  0);
    };
    const auto killedAt = [&](const QString& name, const char* step, const QString& on) {
        QProcess child;
        QStringList arguments{path(name), step, "the new text"};
        if (!on.isEmpty()) arguments << on;
        ASSERT_TRUE(test::startChild(child, "write-killed-at", arguments));
        ASSERT_TRUE(child.waitForFinished(test::patience));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the save was to be killed";
    };
    const auto hiddenCopies = [&] { return QDir(backups).entryList({".*.lumora-*"}, QDir::Files | QDir::Hidden); };

    withTwin("copying.md", "the old text of the first");
    killedAt("copying.md", "sync", backups); // copying the old text aside
    withTwin("copied.md", "the old text of the second");
    killedAt("copied.md", "sync#2", backups); // old text copied, copying the new
    withTwin("half.md", "the old text of the third, longer");
    killedAt("half.md", "truncate", {}); // new text written over the old
    const QString kept = backups + "/half (before an interrupted save 2024-05-01 10.00.00).md";
    put(kept, "an earlier version");
    withTwin("going.md", "the old text of the fourth");
    put(path("going new"), "the new text of the fourth");
    test::HeldSave going(path("going.md"), "sync", path("going new"), backups); // copying aside now
    ASSERT_EQ(going.said(), "holding");
    ASSERT_EQ(hiddenCopies().size(), 3);

    removeAbandonedBackups();

    EXPECT_EQ(hiddenCopies().size(), 1) << "only the copy of the save going on";
    const QStringList left = QDir(backups).entryList(QDir::Files);
    EXPECT_EQ(left.size(), 4) << left.join(", ").toStdString(); // the half-written file's three, and the kept one
    EXPECT_TRUE(left.contains(QFileInfo(kept).fileName()));
    going.release();
    EXPECT_EQ(going.said(), "saved");
    EXPECT_EQ(contents(path("going.md")), "the new text of the fourth");

    EXPECT_EQ(cleanUpInterruptedWrite(path("half.md")).outcome, InterruptedWrite::Outcome::restored);
    EXPECT_EQ(contents(path("half.md")), "the old text of the third, longer");
    EXPECT_EQ(contents(path("copying.md")), "the old text of the first");
    EXPECT_EQ(contents(path("copied.md")), "the old text of the second");
    EXPECT_EQ(QDir(backups).entryList(QDir::Files | QDir::Hidden).join(", ").toStdString(),
              QFileInfo(kept).fileName().toStdString());
    QFile::remove(kept);
}

TEST_F(FileWriterTest, LabelledNamesFitAFileName)
{
    const auto bytes = [](const QString& name) { return QFile::encodeName(name).size(); };
    const QString label = "changed elsewhere 2024-05-01 10.00.00";
    EXPECT_EQ(labelledFileName("Notes.md", label), "Notes (" + label + ").md");
    EXPECT_EQ(labelledFileName(".notes", label), ".notes (" + label + ")");
    for (const QString& name : {QString(250, 'a') + ".md", QString(125, QChar(u'é')) + ".md",
                                QString(83, QChar(u'書')) + ".md", QString::fromUtf8("😀").repeated(62) + "x.md"}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_GE(bytes(name), 251);
        const QString labelled = labelledFileName(name, label);
        EXPECT_LE(bytes(labelled), 255);
        EXPECT_TRUE(labelled.endsWith(" (" + label + ").md"));
        // Cut between characters: the name decodes back to itself.
        EXPECT_EQ(QFile::decodeName(QFile::encodeName(labelled)), labelled);
        EXPECT_FALSE(labelled.contains(QChar::ReplacementCharacter));
        EXPECT_TRUE(name.startsWith(labelled.left(labelled.indexOf(" (" + label))));
        ASSERT_TRUE(writeFileSafely(path(labelled), "aside", {.createOnly = true}));
    }
}

TEST_F(FileWriterTest, LongNamesSave)
{
    const QString name = QString(246, QChar(u'a')) + QStringLiteral(".md"); // 249 bytes
    ASSERT_TRUE(writeFileSafely(path(name), "one"));
    ASSERT_TRUE(writeFileSafely(path(name), "two"));
    EXPECT_EQ(contents(path(name)), "two");
    const QString wide = QString(125, QChar(u'é')) + QStringLiteral(".md"); // two bytes a letter: 253 bytes
    ASSERT_TRUE(writeFileSafely(path(wide), "three"));
    EXPECT_EQ(contents(path(wide)), "three");
    EXPECT_EQ(othersIn(dir.path(), {name, wide}), QStringList());
}

// Two names of one file are one file: another Lumora saves it in place
// under one name (its new text written, held before the file is cut to its
// length), while this one saves it under the other. This save waits its
// turn, then writes its text whole: no byte of the other's is left over.
TEST_F(FileWriterTest, TwoNamesOfOneFileTakeOneTurn)
{
    QByteArray oldBytes;
    for (int i = 0; oldBytes.size() < 64 * 1024; ++i) oldBytes += "Old line " + QByteArray::number(i) + ".\n";
    put(path("a.md"), oldBytes);
    ASSERT_EQ(::link(QFile::encodeName(path("a.md")).constData(), QFile::encodeName(path("b.md")).constData()), 0);
    const QByteArray theirs = oldBytes.left(40 * 1024).replace("Old", "New");
    put(path("theirs"), theirs);
    const QByteArray mine = "the text saved under the second name\n";

    test::HeldSave other(path("a.md"), "truncate", path("theirs"));
    ASSERT_EQ(other.said(), "holding");
    bool waited = false;
    setFileWriteFaultHook([&](const char* step) {
        if (std::strcmp(step, "waitForTurn") == 0 && !waited) {
            waited = true;
            other.release();
            EXPECT_EQ(other.said(), "saved");
        }
        return 0;
    });
    ASSERT_TRUE(writeFileSafely(path("b.md"), mine));
    setFileWriteFaultHook({});
    EXPECT_TRUE(waited) << "the second name's save went on beside the first's";
    EXPECT_EQ(contents(path("b.md")), mine);
    EXPECT_EQ(contents(path("a.md")), mine);
    EXPECT_FALSE(contents(path("a.md")).contains('\0'));
    EXPECT_EQ(QDir(privateStateFolder("backups")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A document without the library's record of its date added shows its
// birth time, which every save that replaces the file would renew: the save
// records the date it had instead, so that it never moves.
TEST_F(FileWriterTest, SavesKeepTheDateAddedOfAFileWithoutARecord)
{
    put(path(), "first");
    const auto first = FolderListing::examine(path());
    ASSERT_TRUE(first.has_value());
    if (!first->added) GTEST_SKIP() << "this file system keeps no birth time";
    ASSERT_FALSE(first->addedRecorded);
    const auto inode = statOf(path()).st_ino;
    for (const QByteArray& text : {QByteArray("second"), QByteArray("third"), QByteArray("fourth")}) {
        // A later millisecond than the file's birth, so that a new birth shows.
        while (QDateTime::currentMSecsSinceEpoch() <= *first->added + 1) QThread::yieldCurrentThread();
        ASSERT_TRUE(writeFileSafely(path(), text));
        const auto now = FolderListing::examine(path());
        ASSERT_TRUE(now.has_value());
        EXPECT_EQ(now->added, first->added) << text.toStdString();
    }
    EXPECT_NE(statOf(path()).st_ino, inode) << "the saves replaced the file";
    // A recorded date is kept as it is.
    ASSERT_TRUE(FolderListing::recordDateAdded(path(), 1'000'000));
    ASSERT_TRUE(writeFileSafely(path(), "fifth"));
    EXPECT_EQ(FolderListing::examine(path())->added, 1'000'000);
}

// What a save killed while it copied the old text aside left (the hidden
// copy of the new text, cut short before its rename) goes when the file is
// next written, also when that write holds the file while the start's
// clean-up runs and passes over it.
TEST_F(FileWriterTest, ACopyCutShortAtItsRenameGoesAtTheNextWrite)
{
    const QString backups = privateStateFolder("backups");
    const auto hiddenCopies = [&] { return QDir(backups).entryList({".*.lumora-*"}, QDir::Files | QDir::Hidden); };
    put(path(), "the old text");
    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(path("twin.md")).constData()), 0);
    {
        QProcess child;
        ASSERT_TRUE(test::startChild(child, "write-killed-at", {path(), "rename#2", "the new text", backups}));
        ASSERT_TRUE(child.waitForFinished(test::patience));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the save was to be killed";
    }
    ASSERT_EQ(hiddenCopies().size(), 1);
    QFile::remove(path("twin.md"));

    put(path("next"), "the next text");
    test::HeldSave next(path(), "sync", path("next"));
    ASSERT_EQ(next.said(), "holding");
    removeAbandonedBackups(); // the start, while the write holds the file
    next.release();
    EXPECT_EQ(next.said(), "saved");
    EXPECT_EQ(contents(path()), "the next text");
    EXPECT_EQ(hiddenCopies(), QStringList());
    EXPECT_EQ(QDir(backups).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Temporaries that killed writes left in Lumora's own folders (opened
// versions, recovery files) go at the start; those of a write going on now
// stay.
TEST_F(FileWriterTest, TemporariesOfKilledWritesGoAtTheStart)
{
    const QString folder = privateStateFolder("kept");
    const auto temporaries = [&] { return QDir(folder).entryList({".*.lumora-*"}, QDir::Files | QDir::Hidden); };
    for (const QString& name : {QString("killed.md"), QString(240, QChar(u'k')) + ".md"}) {
        QProcess child;
        ASSERT_TRUE(test::startChild(child, "write-killed-at", {folder + "/" + name, "rename", "killed text"}));
        ASSERT_TRUE(child.waitForFinished(test::patience));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the write was to be killed";
    }
    put(folder + "/" + QString(240, QChar(u'k')) + ".md", "an earlier whole copy");
    put(path("going"), "going text");
    test::HeldSave going(folder + "/going.md", "sync", path("going"));
    ASSERT_EQ(going.said(), "holding");
    ASSERT_EQ(temporaries().size(), 3);

    // The start: the killed writes' locks go with the backups' clean-up.
    removeAbandonedBackups();
    removeAbandonedTemporaries(folder);

    EXPECT_EQ(temporaries().size(), 1) << "only the write going on keeps its temporary";
    going.release();
    EXPECT_EQ(going.said(), "saved");
    EXPECT_EQ(contents(folder + "/going.md"), "going text");
    EXPECT_EQ(temporaries(), QStringList());
    EXPECT_EQ(QDir(privateStateFolder("backups")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QDir(folder).removeRecursively();
}
