// What a session keeps: a Quit asks everything before any window closes (a
// Cancel changes nothing), every window comes back where its writer left
// it, and Open Recent knows the documents the writer works on.
#include "LibrarySidebarTestSupport.h"

#include "platform/application/ActionDispatcher.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QSignalSpy>

using namespace lumora;
using namespace lumora::test;

namespace {

const QString kRestorableWindows = QStringLiteral("restorableWindows");

QStringList restorablePaths()
{
    QStringList paths;
    for (const QVariant& entry : UserDefaults::standard().arrayValue(kRestorableWindows).value_or(QVariantList()))
        paths << entry.toMap().value("path").toString();
    return paths;
}

Document* untitledWith(Shell& shell, const QString& text)
{
    auto made = shell.controller->openUntitledDocument(true);
    auto* document = made ? qobject_cast<Document*>(*made) : nullptr;
    if (document) type(*document, text);
    return document;
}

// The character at the top left of the editor.
int topCharacter(const TextView* view) { return view->cursorForPosition(QPoint(0, 0)).position(); }

} // namespace

TEST(Session, QuitAsksEverythingBeforeAnyWindowClosesAndACancelChangesNothing)
{
    Shell shell;
    const QString dir = freshDirectory("quit-review");
    writeFile(dir + "/saved.md", "Saved.");
    writeFile(dir + "/edited.md", "Edited.");
    QPointer<Document> saved = shell.open(dir + "/saved.md");
    QPointer<Document> edited = shell.open(dir + "/edited.md");
    ASSERT_TRUE(saved && edited);
    type(*edited, " More.");
    QPointer<Document> untitled = untitledWith(shell, "A draft.");
    ASSERT_TRUE(untitled);
    // What the last quit left to restore.
    const QVariantList earlier{QVariantMap{{"path", dir + "/earlier.md"}}};
    UserDefaults::standard().set(kRestorableWindows, earlier);

    // Cancel at the last question: every window stays, nothing is closed,
    // and the record of the last quit is untouched.
    shell.dialogs.saveChoices = {SaveChoice::cancel};
    EXPECT_FALSE(shell.controller->applicationShouldTerminate());
    EXPECT_EQ(shell.dialogs.asked, QStringList{"saveChanges:Untitled"});
    ASSERT_TRUE(saved && edited && untitled);
    EXPECT_FALSE(saved->isClosed());
    EXPECT_FALSE(edited->isClosed());
    EXPECT_FALSE(untitled->isClosed());
    EXPECT_EQ(WindowController::all().size(), 3u);
    for (WindowController* window : WindowController::all()) EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(UserDefaults::standard().arrayValue(kRestorableWindows).value_or(QVariantList()), earlier);
    // An edited document with a file saves without a question, as it would
    // have a moment later by itself.
    EXPECT_EQ(readFile(dir + "/edited.md"), QByteArray("Edited. More."));
    EXPECT_TRUE(untitled->isDocumentEdited());

    // Quit again and save the draft: the record holds every window, the
    // draft's new file too, before the first window closes.
    shell.dialogs.asked.clear();
    shell.dialogs.saveChoices = {SaveChoice::save};
    shell.dialogs.saveLocation = dir + "/draft.md";
    QStringList recordAtFirstClose;
    bool sawClose = false;
    for (Document* document : {saved.data(), edited.data(), untitled.data()})
        QObject::connect(document, &DocumentBase::closed, [&] {
            if (std::exchange(sawClose, true)) return;
            recordAtFirstClose = restorablePaths();
        });
    EXPECT_TRUE(shell.controller->applicationShouldTerminate());
    EXPECT_EQ(shell.dialogs.asked, (QStringList{"saveChanges:Untitled", "saveLocation"}));
    EXPECT_TRUE(sawClose);
    EXPECT_EQ(recordAtFirstClose, (QStringList{dir + "/saved.md", dir + "/edited.md", dir + "/draft.md"}));
    EXPECT_EQ(readFile(dir + "/draft.md"), QByteArray("A draft."));
    EXPECT_TRUE(!saved || saved->isClosed());
    EXPECT_TRUE(!untitled || untitled->isClosed());
}

TEST(Session, DontSaveClosesWithoutTheEditsAndACancelLaterKeepsThemAll)
{
    Shell shell;
    QPointer<Document> first = untitledWith(shell, "First draft.");
    QPointer<Document> second = untitledWith(shell, "Second draft.");
    ASSERT_TRUE(first && second);
    // Don't Save for the first, Cancel for the second: the first keeps its
    // window and its edits, since the quit did not happen.
    shell.dialogs.saveChoices = {SaveChoice::dontSave, SaveChoice::cancel};
    EXPECT_FALSE(shell.controller->applicationShouldTerminate());
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->isClosed());
    EXPECT_TRUE(first->isDocumentEdited());
    EXPECT_EQ(textOf(first), "First draft.");

    // Don't Save for both: both close, and no recovery file is left.
    shell.dialogs.saveChoices = {SaveChoice::dontSave, SaveChoice::dontSave};
    EXPECT_TRUE(shell.controller->applicationShouldTerminate());
    EXPECT_TRUE(!first || first->isClosed());
    EXPECT_TRUE(!second || second->isClosed());
}

TEST(Session, AWindowOutsideAnyLibraryComesBackWithItsSelectionAndScrollPosition)
{
    resetLibraries();
    const QString path = freshDirectory("window-place") + "/long.md";
    QByteArray text;
    for (int i = 1; i <= 3000; ++i) text += "Line " + QByteArray::number(i) + " of a long text that wraps now and then.\n";
    writeFile(path, text);
    const int selected = int(text.indexOf("Line 1500 "));
    int top = 0;
    {
        Shell shell;
        Document* document = shell.open(path);
        WindowController* window = windowOf(document);
        ASSERT_TRUE(window);
        window->window()->resize(900, 600);
        ASSERT_TRUE(activate(window));
        TextView* view = window->documentViewController()->textView();
        view->setSelectedRange(Range(selected, 4));
        view->centerSelectionInVisibleArea();
        QCoreApplication::processEvents();
        top = topCharacter(view);
        ASSERT_GT(top, int(text.indexOf("Line 1400 ")));
        EXPECT_TRUE(shell.controller->applicationShouldTerminate());
    }
    Shell shell;
    shell.controller->openLaunchDocuments({});
    auto* document = qobject_cast<Document*>(shell.controller->documentForPath(path));
    WindowController* window = windowOf(document);
    ASSERT_TRUE(window);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window->window()));
    TextView* view = window->documentViewController()->textView();
    EXPECT_EQ(view->selectedRange(), Range(selected, 4));
    EXPECT_TRUE(waitFor([&] { return topCharacter(view) == top; })) << topCharacter(view) << " " << top;
    // And it stays there once the editor has settled.
    QTest::qWait(300);
    EXPECT_EQ(topCharacter(view), top);
    EXPECT_EQ(view->selectedRange(), Range(selected, 4));
}

TEST(Session, OpenRecentFollowsTheDocumentsTheWriterWorksOn)
{
    resetLibraries();
    Shell shell(true);
    const QString dir = freshDirectory("recent");
    const QString library = makeNotesFolder("recent-library");

    // Saved for the first time through the save dialog: it joins.
    QPointer<Document> draft = untitledWith(shell, "Words.");
    ASSERT_TRUE(draft);
    shell.dialogs.saveLocation = dir + "/draft.md";
    ASSERT_TRUE(draft->saveDocument());
    EXPECT_EQ(shell.controller->recentDocumentPaths(), QStringList{dir + "/draft.md"});

    // Renamed, then moved elsewhere: the entry follows, in its place.
    writeFile(dir + "/other.md", "Other.");
    ASSERT_TRUE(shell.open(dir + "/other.md"));
    shell.dialogs.newName = "renamed.md";
    ASSERT_TRUE(draft->rename());
    EXPECT_EQ(shell.controller->recentDocumentPaths(), (QStringList{dir + "/other.md", dir + "/renamed.md"}));
    QDir().mkpath(dir + "/elsewhere");
    ASSERT_TRUE(draft->moveTo(dir + "/elsewhere/renamed.md"));
    EXPECT_EQ(shell.controller->recentDocumentPaths(),
              (QStringList{dir + "/other.md", dir + "/elsewhere/renamed.md"}));

    // Moved into a library: still followed.
    LibraryController::shared().addLibrary(library, 0);
    WindowController* window = windowOf(draft);
    ASSERT_TRUE(window);
    window->setLibraryVisible(true);
    ASSERT_TRUE(activate(window));
    // The library's tree is read in the background; the move is offered once it stands.
    ASSERT_TRUE(waitFor([&] {
        return window->libraryPane().library() != nullptr && !window->libraryPane().isLoadingTree();
    }));
    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    ASSERT_TRUE(dispatcher.send(Command::moveToLibrary, nullptr, window->documentViewController()->textView()));
    ASSERT_TRUE(waitFor([&] { return draft && draft->filePath() == library + "/renamed.md"; }));
    EXPECT_EQ(shell.controller->recentDocumentPaths(), (QStringList{dir + "/other.md", library + "/renamed.md"}));

    // A library row opened in the background stays out.
    std::optional<Document*> background;
    shell.controller->openDocumentWithoutDisplay(library + "/Ideas.txt",
                                                 [&](Document* document, const std::optional<PlatformError>&) {
                                                     background = document;
                                                 });
    ASSERT_TRUE(background && *background);
    EXPECT_EQ(shell.controller->recentDocumentPaths(), (QStringList{dir + "/other.md", library + "/renamed.md"}));
}
