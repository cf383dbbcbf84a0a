// What keeps a writer's text safe around the document window: a save that
// cannot succeed has a way out, quitting never hangs on one, the title's
// document menu, reverting to the version opened, changes by other programs,
// recovered documents, the introduction, and what opens at launch.
#include "ShellTestSupport.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/files/FileChangeWatcher.h"
#include "platform/files/FileWriter.h"
#include "shell/MainMenu.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMenu>
#include <QProcess>
#include <QScrollBar>
#include <QSignalSpy>

#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// A folder where nothing can be saved any more: removed, or read-only
// (through the write helper's fault hook where permissions don't bite).
struct StuckFolder {
    QString dir;
    bool removed;

    void stick() const
    {
        if (removed) {
            QDir(dir).removeRecursively();
            return;
        }
        ::chmod(QFile::encodeName(dir).constData(), 0555);
        for (const QString& name : QDir(dir).entryList(QDir::Files))
            ::chmod(QFile::encodeName(dir + "/" + name).constData(), 0444);
        if (::geteuid() == 0)
            setFileFaultHook([folder = dir](const char* step, const QString& file) {
                const std::string_view s(step);
                return (s == "open" || s == "writeInPlace") && file.startsWith(folder + "/") ? EACCES : 0;
            });
    }
    ~StuckFolder()
    {
        setFileFaultHook({});
        if (!removed) ::chmod(QFile::encodeName(dir).constData(), 0755);
    }
};

void runShell(const QString& command)
{
    QProcess process;
    process.start("/bin/sh", {"-c", command});
    ASSERT_TRUE(process.waitForFinished(test::patience));
    ASSERT_EQ(process.exitCode(), 0) << command.toStdString();
}

QStringList titlesOf(const QMenu* menu)
{
    QStringList titles;
    for (const QAction* action : menu->actions()) titles << (action->isSeparator() ? "-" : action->text());
    return titles;
}

} // namespace

TEST(DocumentSafety, AStuckDocumentIsSavedElsewhereOrKeptWhenQuitting)
{
    for (const bool removed : {true, false}) {
        SCOPED_TRACE(removed ? "folder removed" : "folder read-only");
        Shell shell;
        const StuckFolder stuck{freshDirectory("stuck"), removed};
        const QString elsewhere = freshDirectory("elsewhere");
        writeFile(stuck.dir + "/first.txt", "First");
        writeFile(stuck.dir + "/second.txt", "Second");
        Document* first = shell.open(stuck.dir + "/first.txt");
        Document* second = shell.open(stuck.dir + "/second.txt");
        ASSERT_TRUE(first && second);
        type(*first, " draft");
        type(*second, " draft");
        stuck.stick();

        // Closing the window: the alert offers Save As, and the document
        // lives where it was saved.
        shell.dialogs.failedSaveChoice = FailedSaveChoice::saveAs;
        shell.dialogs.saveLocation = elsewhere + "/rescued.txt";
        QPointer<Document> watched(first);
        windowOf(first)->window()->close();
        EXPECT_EQ(shell.dialogs.asked, (QStringList{"failedSave:closing", "saveLocation"}));
        EXPECT_EQ(readFile(elsewhere + "/rescued.txt"), QByteArray("First draft"));
        EXPECT_TRUE(!watched || watched->isClosed());

        // Quitting asks once, then keeps the text in a recovery file and says where.
        shell.dialogs.asked.clear();
        shell.dialogs.failedSaveChoice.reset();
        shell.dialogs.errors.clear();
        QSignalSpy kept(second, &DocumentBase::keptInRecoveryFile);
        EXPECT_TRUE(shell.controller->applicationShouldTerminate());
        EXPECT_EQ(shell.dialogs.asked, QStringList{"failedSave:quitting"});
        ASSERT_EQ(kept.count(), 1);
        const QString recovery = kept.at(0).at(0).toString();
        EXPECT_EQ(readFile(recovery), QByteArray("Second draft"));
        EXPECT_EQ(QFileInfo(recovery).absolutePath(), QFileInfo(DocumentBase::recoveryFolder()).absoluteFilePath());
        QFile::remove(recovery);
    }
}

TEST(DocumentSafety, ASignalDuringAQuestionAsksNothingMore)
{
    Shell shell;
    const StuckFolder stuck{freshDirectory("signal"), true};
    writeFile(stuck.dir + "/stuck.txt", "Stuck");
    Document* blocked = shell.open(stuck.dir + "/stuck.txt");
    const QString fine = freshDirectory("signal-fine") + "/fine.txt";
    writeFile(fine, "Fine");
    Document* saved = shell.open(fine);
    auto* untitled = qobject_cast<Document*>(*shell.controller->openUntitledDocument(true));
    type(*blocked, " text");
    type(*saved, " text");
    type(*untitled, "New text");
    stuck.stick();
    const QStringList kept = shell.controller->prepareForImmediateExit();
    EXPECT_TRUE(shell.dialogs.asked.isEmpty());
    EXPECT_EQ(readFile(fine), QByteArray("Fine text"));
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(readFile(blocked->recoveryFilePath()), QByteArray("Stuck text"));
    EXPECT_EQ(readFile(untitled->recoveryFilePath()), QByteArray("New text"));
    for (const QString& path : kept) QFile::remove(path);
}

TEST(DocumentSafety, TheTitleOffersTheDocumentMenu)
{
    Shell shell;
    const QString dir = freshDirectory("title-menu");
    writeFile(dir + "/Chapter.md", "Chapter");
    Document* document = shell.open(dir + "/Chapter.md");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    TitleStrip* strip = window->window()->titleStrip();
    EXPECT_TRUE(strip->isTitleClickable());
    const QRect title = strip->titleRect();
    ASSERT_FALSE(title.isEmpty());

    const auto openMenu = [&]() -> QMenu* {
        QTest::mouseClick(strip, Qt::LeftButton, {}, title.center());
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    };
    QMenu* menu = openMenu();
    ASSERT_TRUE(menu);
    // Each with a letter that chooses it from the keyboard.
    EXPECT_EQ(titlesOf(menu), (QStringList{"&Rename…", "&Move To…", "&Duplicate", "-", "&Locked"}));
    QAction* locked = menu->actions().last();
    EXPECT_TRUE(locked->isCheckable() || !locked->isChecked());
    EXPECT_FALSE(locked->isChecked());
    locked->trigger();
    menu->close();
    EXPECT_TRUE(document->isLocked());
    menu = openMenu();
    ASSERT_TRUE(menu);
    EXPECT_TRUE(menu->actions().last()->isChecked());
    menu->actions().last()->trigger();
    menu->close();
    EXPECT_FALSE(document->isLocked());

    // Rename: the file and the window's title follow.
    shell.dialogs.newName = "Chapter One.md";
    menu = openMenu();
    ASSERT_TRUE(menu);
    menu->actions().at(0)->trigger();
    menu->close();
    EXPECT_EQ(document->filePath(), dir + "/Chapter One.md");
    EXPECT_EQ(readFile(dir + "/Chapter One.md"), QByteArray("Chapter"));
    EXPECT_TRUE(strip->title().startsWith("Chapter One.md"));

    // Duplicate: an untitled copy in a window of its own.
    menu = openMenu();
    ASSERT_TRUE(menu);
    menu->actions().at(2)->trigger();
    menu->close();
    ASSERT_EQ(shell.controller->documents().size(), size_t(2));
    auto* copy = qobject_cast<Document*>(shell.controller->documents().back());
    EXPECT_TRUE(copy->isUntitled());
    EXPECT_EQ(textOf(copy), "Chapter");
}

TEST(DocumentSafety, RevertAfterAnAutosaveGoesBackToTheVersionOpenedAndCanBeUndone)
{
    Shell shell;
    const QString path = freshDirectory("revert") + "/notes.md";
    writeFile(path, "As opened.");
    Document* document = shell.open(path);
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    editor->setSelectedRange(Range(10, 0));
    QTest::keyClicks(editor, " Typed.");
    ASSERT_TRUE(document->autosave().ok());
    EXPECT_EQ(readFile(path), QByteArray("As opened. Typed."));

    // Not edited, but autosaved over: Revert offers the version opened.
    MenuItem& revert = *shell.controller->mainMenu()->topLevelMenu(MainMenu::TopLevel::file).itemWithCommand(Command::revertDocumentToSaved);
    EXPECT_TRUE(ActionDispatcher::instance().validateItem(revert, editor));
    shell.dialogs.revertChoice = Dialogs::RevertChoice::lastOpened;
    ActionDispatcher::instance().send(Command::revertDocumentToSaved, nullptr, editor);
    EXPECT_EQ(shell.dialogs.asked, QStringList{"revert:opened"});
    EXPECT_EQ(textOf(document), "As opened.");
    EXPECT_TRUE(document->isDocumentEdited());

    // Undo brings the autosaved text back; the history before it survives.
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(textOf(document), "As opened. Typed.");
    EXPECT_FALSE(document->isDocumentEdited());
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(textOf(document), "As opened.");

    // Edited and autosaved over: both texts are offered.
    shell.dialogs.asked.clear();
    shell.dialogs.revertChoice = Dialogs::RevertChoice::lastSaved;
    ActionDispatcher::instance().send(Command::revertDocumentToSaved, nullptr, editor);
    EXPECT_EQ(shell.dialogs.asked, QStringList{"revert:savedopened"});
    EXPECT_EQ(textOf(document), "As opened. Typed.");
}

TEST(DocumentSafety, ChangesByAnotherProgramReloadQuietlyOrAskAtOnce)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    Shell shell;
    const QString path = freshDirectory("watched") + "/long.md";
    QByteArray text;
    for (int i = 0; i < 400; ++i) text += "Line " + QByteArray::number(i) + " of a long document.\n";
    writeFile(path, text);
    Document* document = shell.open(path);
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    window->window()->resize(700, 500);
    QTest::qWait(50);
    const qsizetype caret = text.indexOf("Line 200");
    editor->setSelectedRange(Range(caret, 0));
    editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum() / 2);
    // What the writer sees is the line at the top of the view; the scroll
    // bar's value may differ while the rest of the text is still measured.
    const auto firstShownLine = [&] {
        return editor->cursorForPosition(QPoint(editor->viewport()->width() / 2, 0)).blockNumber();
    };
    const int shown = firstShownLine();
    ASSERT_GT(shown, 0);

    // Unedited: the new text comes in quietly, caret and place kept.
    runShell("printf 'A new last line.\\n' >> '" + path + "'");
    ASSERT_TRUE(QTest::qWaitFor([&] { return textOf(document).endsWith("A new last line.\n"); }, test::patience));
    EXPECT_EQ(editor->selectedRange(), Range(caret, 0));
    EXPECT_EQ(firstShownLine(), shown);
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_TRUE(shell.dialogs.asked.isEmpty());

    // Edited: asked at once.
    editor->setSelectedRange(Range(0, 0));
    QTest::keyClicks(editor, "Mine. ");
    runShell("printf 'Theirs.\\n' > '" + path + "'");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.dialogs.asked.isEmpty(); }, test::patience));
    EXPECT_EQ(shell.dialogs.asked, QStringList{"externalChange"});
    FileChangeWatcher::shared().setSettlingTime(150);
}

// A UTF-8 file another program rewrites comes back as UTF-8 even when the
// encoding preference names a single-byte encoding that could read anything.
TEST(DocumentSafety, AFileReloadedAfterAnotherProgramChangedItKeepsItsCharacters)
{
    FileChangeWatcher::shared().setSettlingTime(30);
    UserDefaults::standard().set(QStringLiteral("saveEncoding"), qlonglong(Encoding::isoLatin1));
    {
        Shell shell;
        const QString path = freshDirectory("reloaded") + "/café.md";
        writeFile(path, QStringLiteral(u"Café\n").toUtf8());
        Document* document = shell.open(path);
        ASSERT_TRUE(document);
        EXPECT_EQ(textOf(document), QStringLiteral(u"Café\n"));
        writeFile(path, QStringLiteral(u"Crème brûlée\n").toUtf8());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return textOf(document) == QStringLiteral(u"Crème brûlée\n"); }, test::patience))
            << textOf(document).toStdString();
        EXPECT_EQ(document->data().encoding(), Encoding::utf8);
    }
    UserDefaults::standard().remove(QStringLiteral("saveEncoding"));
    FileChangeWatcher::shared().setSettlingTime(150);
}

TEST(DocumentSafety, TheIntroductionNeverLocksTheWritersFile)
{
    Shell shell;
    Document* introduction = shell.controller->openIntroduction();
    ASSERT_TRUE(introduction && introduction->isLocked());
    const QString saved = freshDirectory("intro") + "/my intro.md";
    ASSERT_TRUE(introduction->saveAs(saved).ok());
    EXPECT_FALSE(introduction->isLocked());

    Document* again = shell.controller->openIntroduction();
    ASSERT_TRUE(again);
    EXPECT_NE(again, introduction);
    EXPECT_TRUE(again->isUntitled());
    EXPECT_TRUE(again->isLocked());
    EXPECT_EQ(textOf(again), textOf(introduction));
    EXPECT_FALSE(introduction->isLocked()) << "the saved file is the writer's";
    EXPECT_EQ(introduction->filePath(), saved);
    EXPECT_EQ(shell.controller->openIntroduction(), again) << "the bundled one is brought forward";
}

TEST(DocumentSafety, LaunchOpensWhatWasNamedAndOnlyThat)
{
    const QString dir = freshDirectory("launch-names");
    // No windows of an earlier session, which would come back beside them.
    UserDefaults::standard().remove("restorableWindows");
    {
        // A name where nothing is yet: a new document that saves there.
        Shell shell;
        shell.controller->openLaunchDocuments({dir + "/notes.md"});
        ASSERT_EQ(shell.controller->documents().size(), size_t(1));
        auto* created = qobject_cast<Document*>(shell.controller->documents().front());
        EXPECT_EQ(created->filePath(), dir + "/notes.md");
        EXPECT_FALSE(QFileInfo::exists(dir + "/notes.md"));
        ASSERT_TRUE(windowOf(created));
        type(*created, "First words");
        ASSERT_TRUE(created->save().ok());
        EXPECT_EQ(readFile(dir + "/notes.md"), QByteArray("First words"));
        EXPECT_TRUE(shell.dialogs.asked.isEmpty());
    }
    {
        // Something that is not text: its error, and no empty window.
        Shell shell;
        writeFile(dir + "/image.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
        shell.controller->openLaunchDocuments({dir + "/image.png"});
        EXPECT_EQ(shell.dialogs.errors.size(), 1);
        EXPECT_TRUE(WindowController::all().empty());
    }
    {
        // A pipe, a device and a folder that does not exist, handed over by
        // a later launch: errors at once, nothing waits.
        Shell shell;
        ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600), 0);
        shell.controller->openHandedOverDocuments({dir + "/pipe", "/dev/zero", dir + "/no/such.md"});
        EXPECT_EQ(shell.dialogs.errors.size(), 3);
        EXPECT_TRUE(WindowController::all().empty());
        EXPECT_TRUE(shell.controller->documents().empty());
    }
}

TEST(DocumentSafety, RecoveredDocumentsReopenAtLaunch)
{
    for (const QString& leftover : DocumentBase::leftoverRecoveryFiles()) ADD_FAILURE() << leftover.toStdString();
    const QString recovery = DocumentBase::recoveryFolder() + "/Untitled.txt";
    writeFile(recovery, "Words from before the crash");
    UserDefaults::standard().remove("restorableWindows");
    Shell shell;
    shell.controller->openLaunchDocuments({});
    ASSERT_EQ(shell.controller->documents().size(), size_t(1)) << "no empty window besides";
    auto* recovered = qobject_cast<Document*>(shell.controller->documents().front());
    EXPECT_TRUE(recovered->isUntitled());
    EXPECT_TRUE(recovered->isDocumentEdited());
    EXPECT_EQ(textOf(recovered), "Words from before the crash");
    ASSERT_TRUE(windowOf(recovered));
    // Closed by choice, the recovery file goes.
    shell.dialogs.saveChoices = {SaveChoice::dontSave};
    windowOf(recovered)->window()->close();
    EXPECT_FALSE(QFileInfo::exists(recovery));
}

TEST(DocumentSafety, UnreadablePreferencesAreSaidOnceAndLeftAlone)
{
    const QString path = freshDirectory("prefs") + "/defaults.json";
    writeFile(path, "{\"theme\": \"dark\"}");
    setFileFaultHook([path](const char* step, const QString& file) {
        return std::string_view(step) == "read" && file == path ? EACCES : 0;
    });
    testing::internal::CaptureStderr();
    UserDefaults store(path);
    testing::internal::GetCapturedStderr();
    ScriptedDialogs dialogs;
    {
        DocumentController controller(&store);
        controller.setDialogs(&dialogs);
        controller.prepareApplication();
        QTest::qWait(0);
        QCoreApplication::processEvents();
        for (WindowController* window : WindowController::all()) delete window->window();
    }
    setFileFaultHook({});
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors.front(), "Lumora can’t read its preferences.");
    EXPECT_EQ(readFile(path), QByteArray("{\"theme\": \"dark\"}"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Ctrl+S in a window whose document's folder was replaced by another of the
// same name (as a disk unmounted under its mount point is): nothing is
// written there, the failed-save alert offers Save As, and the window still
// shows the document as edited. Ctrl+S after another program deleted the
// file asks before writing it again.
TEST(DocumentSafety, SaveNeverWritesWhereTheDocumentsFolderWasReplacedOrItsFileDeleted)
{
    Shell shell;
    const QString folder = freshDirectory("replaced");
    writeFile(folder + "/notes.md", "Notes");
    Document* document = shell.open(folder + "/notes.md");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    editor->setSelectedRange(Range(5, 0));
    QTest::keyClicks(editor, " typed");
    ASSERT_EQ(::rename(QFile::encodeName(folder).constData(), QFile::encodeName(folder + ".unmounted").constData()), 0);
    ASSERT_TRUE(QDir().mkdir(folder));

    shell.dialogs.failedSaveChoice = FailedSaveChoice::dismiss;
    QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(shell.dialogs.asked, QStringList{"failedSave:saving"});
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_TRUE(document->isDocumentEdited());
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_EQ(::rename(QFile::encodeName(folder + ".unmounted").constData(), QFile::encodeName(folder).constData()), 0);

    // The folder back: the file is deleted instead, and Save asks first.
    ASSERT_TRUE(QFile::remove(folder + "/notes.md"));
    shell.dialogs.asked.clear();
    shell.dialogs.deletedFileChoice = DeletedFileChoice::cancel;
    QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(shell.dialogs.asked, QStringList{"deletedFile"});
    EXPECT_FALSE(QFileInfo::exists(folder + "/notes.md"));
    EXPECT_TRUE(document->isDocumentEdited());
    shell.dialogs.deletedFileChoice = DeletedFileChoice::saveAgain;
    QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(readFile(folder + "/notes.md"), QByteArray("Notes typed"));
    EXPECT_FALSE(document->isDocumentEdited());
}
