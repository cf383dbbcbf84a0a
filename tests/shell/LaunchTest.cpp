// The program itself, launched with a configuration of its own: what a
// first and a second launch leave behind, a file handed over by a later
// launch, and a clean quit on SIGTERM.
#include "platform/files/FileLock.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileWriter.h"
#include "support/HostileFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;

namespace {

const QStringList kWindowState{"restorableWindows", "NSWindow Frame documentWindow",
                               "NSSplitView Subview Frames mainSplitView", "recentDocuments"};

class Launcher {
public:
    explicit Launcher(const QString& root) : m_root(root)
    {
        for (const char* sub : {"home", "config", "data", "cache", "state", "runtime"}) QDir().mkpath(root + "/" + sub);
        QFile::setPermissions(root + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("HOME", root + "/home");
        m_environment.insert("XDG_CONFIG_HOME", root + "/config");
        m_environment.insert("XDG_DATA_HOME", root + "/data");
        m_environment.insert("XDG_CACHE_HOME", root + "/cache");
        m_environment.insert("XDG_STATE_HOME", root + "/state");
        m_environment.insert("XDG_RUNTIME_DIR", root + "/runtime");
        m_environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_environment.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        m_environment.remove("DBUS_SESSION_BUS_ADDRESS");
        m_environment.remove("LUMORA_APPEARANCE");
    }

    // Keys pressed in the program's window once it shows, separated by
    // spaces (see support/TestHands.cpp).
    void pressKeys(const QString& keys)
    {
        preloadHands();
        m_environment.insert("LUMORA_TEST_KEYS", keys);
    }

    // The application object's teardown never ends (see support/TestHands.cpp).
    void neverWindDown()
    {
        preloadHands();
        m_environment.insert("LUMORA_TEST_STUCK_AT_EXIT", "1");
    }

    void setEnvironment(const QString& name, const QString& value) { m_environment.insert(name, value); }
    void removeEnvironment(const QString& name) { m_environment.remove(name); }

    // Starts the running instance and waits until it listens.
    bool start(QProcess& process, const QStringList& arguments = {})
    {
        process.setProcessEnvironment(m_environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(LUMORA_EXECUTABLE, arguments);
        // Events are handled meanwhile, so that a program that ended is seen.
        const QString socket = m_root + "/runtime/lumora.socket";
        return QTest::qWaitFor(
                   [&] { return QFileInfo::exists(socket) || process.state() == QProcess::NotRunning; },
                   test::patience)
               && process.state() != QProcess::NotRunning && QFileInfo::exists(socket);
    }

    // A later launch: it hands its arguments over and exits at once.
    int handOver(const QStringList& arguments)
    {
        QProcess later;
        later.setProcessEnvironment(m_environment);
        later.start(LUMORA_EXECUTABLE, arguments);
        if (!later.waitForFinished(test::patience)) {
            later.kill();
            later.waitForFinished();
            return -1;
        }
        return later.exitCode();
    }

    // Stops the program the way a session ends: SIGTERM; with resend, sent
    // again every so often while it is still running (a question may be
    // open by then).
    static int quit(QProcess& process, bool resend = false)
    {
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(process.processId()), SIGTERM);
        while (!process.waitForFinished(resend ? 300 : test::patience) && timer.elapsed() < test::patience)
            ::kill(pid_t(process.processId()), SIGTERM);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QVariantMap preferences() const
    {
        QFile file(m_root + "/config/Lumora/defaults.json");
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
    }

private:
    void preloadHands()
    {
        m_environment.insert("LD_PRELOAD", LUMORA_TEST_HANDS_LIBRARY);
        // Preloaded before the sanitizers' runtime, in the sanitizer build.
        const QString asan = m_environment.value("ASAN_OPTIONS");
        if (!asan.contains("verify_asan_link_order"))
            m_environment.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
    }

    QString m_root;
    QProcessEnvironment m_environment;
};

QVariantMap withoutWindowState(QVariantMap map)
{
    for (const QString& key : kWindowState) map.remove(key);
    return map;
}

// The documents whose windows were open when the program quit.
QStringList windowsAtQuit(const QVariantMap& preferences)
{
    QStringList paths;
    for (const QVariant& window : preferences.value("restorableWindows").toList())
        paths << window.toMap().value("path").toString();
    paths.sort();
    return paths;
}

} // namespace

TEST(Launch, FirstAndLaterLaunchesAndAFileHandedOver)
{
    const QString root = test::freshDirectory("launch");
    const QString notes = root + "/notes.txt";
    test::writeFile(notes, "# Notes\n");
    Launcher launcher(root);

    QProcess first;
    ASSERT_TRUE(launcher.start(first));
    EXPECT_EQ(launcher.handOver({notes}), 0);
    ASSERT_EQ(Launcher::quit(first), 0);

    const QVariantMap afterFirst = launcher.preferences();
    EXPECT_EQ(afterFirst.value("lastVersion").toInt(), LUMORA_BUILD_NUMBER);
    EXPECT_EQ(afterFirst.value("theme"), QVariant("light"));
    EXPECT_EQ(afterFirst.value("libraries"), QVariant(QVariantList()));
    int options = 0;
    for (auto it = afterFirst.begin(); it != afterFirst.end(); ++it) {
        if (!it.key().endsWith("Enabled")) continue;
        EXPECT_EQ(it.value(), QVariant(false)) << it.key().toStdString();
        ++options;
    }
    EXPECT_EQ(options, 9);
    // The handed-over file was open when the program quit.
    const QVariantList windows = afterFirst.value("restorableWindows").toList();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0].toMap().value("path"), QVariant(notes));

    // A later launch restores that window and writes nothing but window state.
    QProcess second;
    ASSERT_TRUE(launcher.start(second));
    EXPECT_EQ(launcher.handOver({}), 0); // answered once the program is up
    ASSERT_EQ(Launcher::quit(second), 0);
    const QVariantMap afterSecond = launcher.preferences();
    EXPECT_EQ(withoutWindowState(afterSecond), withoutWindowState(afterFirst));
    EXPECT_EQ(afterSecond.value("restorableWindows").toList().size(), 1);
}

// Files and folders named at a launch open beside the windows of the last
// session, which come back however the program is started; at the next
// plain start nothing is gone.
TEST(Launch, WhatALaunchNamesOpensBesideTheLastSessionsWindows)
{
    const QString root = test::freshDirectory("launch-session");
    const QString notes = root + "/notes.txt";
    const QString letter = root + "/letter.txt";
    const QString folder = root + "/Folder";
    test::writeFile(notes, "# Notes\n");
    test::writeFile(letter, "Dear reader,\n");
    test::writeFile(folder + "/draft.md", "# Draft\n");
    Launcher launcher(root);
    const auto launch = [&](const QStringList& arguments) {
        QProcess program;
        if (!launcher.start(program, arguments)) return QStringList{"(did not start)"};
        if (Launcher::quit(program) != 0) return QStringList{"(did not quit)"};
        return windowsAtQuit(launcher.preferences());
    };

    EXPECT_EQ(launch({notes}), QStringList{notes});
    // A file named: beside the last session's window.
    EXPECT_EQ(launch({letter}), (QStringList{letter, notes}));
    // A folder named (its window shows an untitled document, which is not
    // kept): the last session's windows are there too.
    EXPECT_EQ(launch({folder}), (QStringList{letter, notes}));
    // A file of the last session named again: its one window.
    EXPECT_EQ(launch({notes}), (QStringList{letter, notes}));
    // And a plain start has them all.
    EXPECT_EQ(launch({}), (QStringList{letter, notes}));
}

// A crash left an untitled document's text behind: the next launch shows it
// again, as an edited document. Told to stop, the program asks whether to
// save it; told again while that question is open, it asks nothing more,
// keeps the text where it was and exits.
TEST(Launch, ASignalWhileAQuestionIsOpenKeepsTheTextAndExits)
{
    const QString root = test::freshDirectory("launch-signal");
    const QString recovery = root + "/state/Lumora/recovery/Untitled.txt";
    test::writeFile(recovery, "Words a crash left behind");
    Launcher launcher(root);
    QProcess program;
    ASSERT_TRUE(launcher.start(program));
    EXPECT_EQ(Launcher::quit(program, true), 0);
    EXPECT_EQ(test::readFile(recovery), QByteArray("Words a crash left behind"));
}

// Whether a thread of the process waits in open() for a named pipe's other
// end (where the kernel says so).
bool waitsForAPipe(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile wchan(tasks + "/" + task + "/wchan");
        if (wchan.open(QIODevice::ReadOnly) && wchan.readAll().contains("wait_for_partner")) return true;
    }
    return false;
}

// A document that names a named pipe as an image, shown in the preview: the
// web view never opens the pipe (it would wait for a writer forever, and
// its teardown with it), and Quit ends the program within moments.
TEST(Launch, APipeNamedAsAnImageNeverKeepsThePreviewFromQuitting)
{
    const QString root = test::freshDirectory("launch-pipe");
    const QString notes = root + "/notes.md";
    QImage(40, 30, QImage::Format_RGB32).save(root + "/picture.png");
    test::writeFile(notes, "# Notes\n\n![a picture](picture.png)\n\n![a pipe](pipe.png)\n");
    // Nobody ever writes to it.
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe.png").constData(), 0600), 0);
    Launcher launcher(root);
    launcher.pressKeys("Ctrl+Alt+P");
    QProcess program;
    ASSERT_TRUE(launcher.start(program, {notes}));

    // The preview is up: its page finished loading, or it waits for the pipe.
    QByteArray said;
    QElapsedTimer timer;
    timer.start();
    bool waiting = false;
    while (!said.contains("page loaded") && timer.elapsed() < test::patience
           && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(100);
        said += program.readAllStandardOutput();
        if (said.contains("pressed") && (waiting = waitsForAPipe(program.processId()))) break;
    }
    EXPECT_TRUE(said.contains("pressed Ctrl+Alt+P")) << said.toStdString();
    EXPECT_FALSE(waiting) << "the preview waits for the pipe";
    EXPECT_TRUE(said.contains("page loaded ok")) << said.toStdString();

    timer.restart();
    EXPECT_EQ(Launcher::quit(program), 0);
    EXPECT_LT(timer.elapsed(), test::patience);
}

// Once everything is saved and every window closed, the program ends even
// when a library never winds down (the web view's teardown can wait for a
// thread stuck in a read forever).
TEST(Launch, QuitEndsTheProgramEvenWhenALibraryNeverWindsDown)
{
    const QString root = test::freshDirectory("launch-stuck");
    const QString notes = root + "/notes.md";
    test::writeFile(notes, "# Notes\n");
    Launcher launcher(root);
    launcher.neverWindDown();
    QProcess program;
    ASSERT_TRUE(launcher.start(program, {notes}));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(Launcher::quit(program), 0);
    EXPECT_LT(timer.elapsed(), test::patience);
    EXPECT_TRUE(program.readAllStandardOutput().contains("winding down forever"));
}

// The preview's large pages of a Lumora that crashed are removed at the next
// start; the folders of a Lumora still running stay.
TEST(Launch, PagesACrashedPreviewLeftAreRemovedAtTheNextStart)
{
    const QString root = test::freshDirectory("launch-scratch");
    const QString previews = root + "/runtime/Lumora/preview";
    QProcess ended;
    ended.start("true");
    ASSERT_TRUE(ended.waitForFinished(test::patience));
    const QString crashed = previews + QStringLiteral("/%1-crash1").arg(ended.processId());
    test::writeFile(crashed + "/preview-3.html", "<p>the whole document</p>");
    // Another Lumora's, in use (its lock held).
    const QString running = previews + QStringLiteral("/%1-other1").arg(ended.processId());
    test::writeFile(running + "/preview-1.html", "<p>in use</p>");
    auto held = FileLock::tryAcquire(running + "/.lock");
    ASSERT_TRUE(held);

    Launcher launcher(root);
    QProcess program;
    ASSERT_TRUE(launcher.start(program));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(crashed); }, test::patience));
    EXPECT_EQ(Launcher::quit(program), 0);
    EXPECT_TRUE(QFileInfo::exists(running + "/preview-1.html"));
}

namespace {

// Moves the item to the Trash and is killed right before the item moves,
// its record written.
const test::ChildRole trashKilled("trash-killed-before-the-move", [](const QStringList& arguments) {
    setFileFaultHook([](const char* step, const QString&) {
        if (std::string_view(step) == "moveToTrash") ::raise(SIGKILL);
        return 0;
    });
    (void)FileManager::moveItemToTrash(arguments.value(0));
    return 0; // not killed: the parent says so
});

} // namespace

TEST(Launch, WhatAKilledMoveToTheTrashLeftIsTakenBackAtTheNextStart)
{
    const QString root = test::freshDirectory("launch-trash");
    Launcher launcher(root);
    const QString item = root + "/home/Notes.md";
    test::writeFile(item, "kept");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root + "/home");
    environment.insert("XDG_DATA_HOME", root + "/data");
    environment.insert("XDG_STATE_HOME", root + "/state");
    QProcess killed;
    ASSERT_TRUE(test::startChild(killed, "trash-killed-before-the-move", {item}, environment));
    ASSERT_TRUE(killed.waitForFinished(test::patience));
    ASSERT_EQ(killed.exitStatus(), QProcess::CrashExit) << "the move was to be killed";
    const QString record = root + "/data/Trash/info/Notes.md.trashinfo";
    ASSERT_TRUE(QFileInfo::exists(record));

    QProcess program;
    ASSERT_TRUE(launcher.start(program));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(record); }, test::patience));
    EXPECT_EQ(Launcher::quit(program), 0);
    EXPECT_EQ(test::readFile(item), "kept");
}

TEST(Launch, ACopyAKilledSaveLeftAmongTheBackupsGoesAtTheNextStart)
{
    const QString root = test::freshDirectory("launch-backups");
    const QString backups = root + "/state/Lumora/backups";
    const QString cutShort = backups + "/." + QString(40, 'a') + ".lumora-Xy12Zq";
    test::writeFile(cutShort, "the whole document, copied aside when the save was killed");
    const QString kept = backups + "/notes (before an interrupted save 2024-05-01 10.00.00).md";
    test::writeFile(kept, "an earlier version the writer was told about");

    Launcher launcher(root);
    QProcess program;
    ASSERT_TRUE(launcher.start(program));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(cutShort); }, test::patience));
    EXPECT_EQ(Launcher::quit(program), 0);
    EXPECT_TRUE(QFileInfo::exists(kept));
}

// A session that ends sends SIGTERM and, a few seconds later, SIGKILL. The
// program writes every edit before its first question: the titled document
// in place, the untitled one to the recovery folder. The question that
// follows is killed while it is open, and nothing is lost.
TEST(Launch, TheFirstSignalWritesEveryEditBeforeAnyQuestion)
{
    const QString root = test::freshDirectory("launch-logout");
    const QString notes = root + "/notes.txt";
    const QString recoveryFolder = root + "/state/Lumora/recovery";
    test::writeFile(notes, "Saved words.");
    test::writeFile(recoveryFolder + "/Untitled.txt", "Recovered words.");
    Launcher launcher(root);
    // The test build types this into every document open after start-up,
    // and never saves a document by itself: only the signal writes.
    launcher.setEnvironment("LUMORA_TEST_TYPED_TEXT", " Typed last.");
    launcher.setEnvironment("LUMORA_TEST_NO_AUTOSAVE", "1");
    QProcess program;
    ASSERT_TRUE(launcher.start(program, {notes}));
    const auto recovered = [&] {
        for (const QFileInfo& file : QDir(recoveryFolder).entryInfoList(QDir::Files))
            if (test::readFile(file.filePath()).contains("Recovered words. Typed last.")) return true;
        return false;
    };
    const auto written = [&] { return test::readFile(notes) == "Saved words. Typed last." && recovered(); };
    ::kill(pid_t(program.processId()), SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return written() || program.state() == QProcess::NotRunning; },
                                test::patience));
    // The question about the untitled document is open by now: killed.
    const bool stillRunning = program.state() != QProcess::NotRunning;
    program.kill();
    program.waitForFinished();
    EXPECT_TRUE(stillRunning); // it asked, and waited for an answer
    EXPECT_EQ(test::readFile(notes), QByteArray("Saved words. Typed last."));
    EXPECT_TRUE(recovered());
}

// Run as root, the web engine refuses to start with its sandbox, and ends
// the whole process. Started as root without being told to go without the
// sandbox, the program shows the preview and goes on running.
TEST(Launch, ThePreviewShowsWhenTheProgramRunsAsRoot)
{
    if (::geteuid() != 0) GTEST_SKIP() << "only root is refused the web engine's sandbox";
    const QString root = test::freshDirectory("launch-root-preview");
    const QString notes = root + "/notes.md";
    test::writeFile(notes, "# Notes\n\nShown in the preview.\n");
    Launcher launcher(root);
    launcher.removeEnvironment("QTWEBENGINE_DISABLE_SANDBOX");
    launcher.removeEnvironment("QTWEBENGINE_CHROMIUM_FLAGS");
    launcher.pressKeys("Ctrl+Alt+P");
    QProcess program;
    ASSERT_TRUE(launcher.start(program, {notes}));

    QByteArray said;
    QElapsedTimer timer;
    timer.start();
    while (!said.contains("page loaded") && timer.elapsed() < test::patience
           && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(100);
        said += program.readAllStandardOutput();
    }
    EXPECT_TRUE(said.contains("pressed Ctrl+Alt+P")) << said.toStdString();
    EXPECT_TRUE(said.contains("page loaded ok")) << said.toStdString();
    ASSERT_NE(program.state(), QProcess::NotRunning) << "the preview ended the program";
    EXPECT_EQ(Launcher::quit(program), 0);
}
