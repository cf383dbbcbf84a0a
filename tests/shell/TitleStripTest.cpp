// The document window's title strip: hidden while the writer writes, shown
// for the mouse at the top, for menus, dialogs, the find bar and full screen.
#include "ShellTestSupport.h"

#include "document/OutlineViewController.h"
#include "library/LibraryViewController.h"
#include "shell/MainMenu.h"
#include "shell/TitleStripController.h"
#include "widgets/ViewUtilities.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>

using namespace lumora;
using namespace lumora::test;

namespace {

struct StripWindow {
    Shell shell;
    Document* document = nullptr;
    WindowController* window = nullptr;
    TextView* editor = nullptr;

    StripWindow(const char* name, const QByteArray& text = "Some words\n")
    {
        const QString path = freshDirectory(QLatin1String(name)) + "/notes.md";
        writeFile(path, text);
        document = shell.open(path);
        window = windowOf(document);
        if (!window) return;
        window->window()->resize(900, 600);
        activate(window);
        editor = window->documentViewController()->textView();
        // The mouse starts on the text (Qt drops a move to where the mouse
        // already is: the strip of an earlier window may stand there).
        moveMouse(QPoint(frame()->width() / 3, frame()->height() / 2));
    }

    DocumentWindowBase* frame() const { return window->window(); }
    double alpha() const { return frame()->titleStripAlpha(); }
    bool stripShown() const { return frame()->isTitleStripVisible() && alpha() == 1.0; }
    // Moves the mouse to a point of the window (window coordinates).
    void moveMouse(QPoint at) const { QTest::mouseMove(frame(), at); }
    void moveToStrip() const { moveMouse(QPoint(frame()->width() / 2, 10)); }
    void moveToText() const { moveMouse(QPoint(frame()->width() / 2, 300)); }
};

} // namespace

TEST(TitleStrip, ShowsForTheMouseAtTheTopAndNothingInTheTextMoves)
{
    StripWindow w("mouse", QByteArray("A line of words.\n").repeated(200));
    ASSERT_TRUE(w.window);
    ASSERT_TRUE(w.editor->verticalScrollBar()->isVisible());
    // The text opens at its top, its first line clear of the strip.
    EXPECT_EQ(w.editor->verticalScrollBar()->value(), 0);
    EXPECT_GT(w.editor->cursorRect().top(), TitleStrip::stripHeight);
    // A new window starts without it, floating over the panes.
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);
    EXPECT_TRUE(w.frame()->isTitleStripFloating());
    const QRect viewport(w.editor->viewport()->mapTo(w.frame(), QPoint(0, 0)), w.editor->viewport()->size());
    // The text reaches the top of the window, under the strip.
    EXPECT_EQ(viewport.top(), w.frame()->titleStrip()->geometry().top());
    const QRect caret = w.editor->cursorRect();
    const auto scrollerTop = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        return w.editor->verticalScrollBar()->mapTo(w.frame(), QPoint(0, 0)).y();
    };
    const int scroller = scrollerTop();

    w.moveToStrip();
    EXPECT_FALSE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 1.0);
    EXPECT_TRUE(w.frame()->isTitleStripFading());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.frame()->isTitleStripFading(); }, test::patience));
    // Nothing in the text moved; only the scroller keeps clear of the strip.
    EXPECT_EQ(QRect(w.editor->viewport()->mapTo(w.frame(), QPoint(0, 0)), w.editor->viewport()->size()), viewport);
    EXPECT_EQ(w.editor->cursorRect(), caret);
    EXPECT_EQ(scrollerTop(), scroller + TitleStrip::stripHeight);

    w.moveToText();
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);
    EXPECT_TRUE(w.frame()->isTitleStripVisible()); // faded, not snapped away
    EXPECT_EQ(w.editor->cursorRect(), caret);
    EXPECT_EQ(scrollerTop(), scroller);

    // Leaving the window hides it too.
    w.moveToStrip();
    EXPECT_EQ(w.alpha(), 1.0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w.frame()->windowHandle(), &leave);
    QCursor::setPos(w.frame()->mapToGlobal(QPoint(-50, -50)));
    EXPECT_EQ(w.alpha(), 0.0);
}

TEST(TitleStrip, OverASidePaneItGoesAtOnce)
{
    StripWindow w("side-pane");
    ASSERT_TRUE(w.window);
    w.window->setOutlineVisible(true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    OutlineViewController* outline = w.window->outlineViewController();
    ASSERT_TRUE(outline);
    const QPoint overOutline = outline->mapTo(w.frame(), QPoint(outline->width() / 2, 120));
    const QPoint stripOverOutline = outline->mapTo(w.frame(), QPoint(outline->width() - 20, 10));
    // The band under the strip stays clear of the pane's own contents.
    EXPECT_EQ(outline->contentsMargins().top(), TitleStrip::stripHeight);

    w.moveToStrip();
    EXPECT_TRUE(w.stripShown());
    // Down into the pane: it goes without fading.
    w.moveMouse(overOutline);
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);
    EXPECT_FALSE(w.frame()->isTitleStripFading());
    EXPECT_TRUE(w.window->titleStrip().isMouseOverSidePane());

    // Up from the pane into the strip's band: the window buttons there are
    // within reach.
    w.moveMouse(stripOverOutline);
    EXPECT_FALSE(w.window->titleStrip().isMouseOverSidePane());
    EXPECT_TRUE(w.stripShown());
    QWidget* under = w.frame()->childAt(stripOverOutline);
    EXPECT_TRUE(under && w.frame()->titleStrip()->isAncestorOf(under)) << (under ? under->metaObject()->className() : "none");
    w.moveMouse(overOutline);
    EXPECT_EQ(w.alpha(), 0.0);
    w.moveToText();
    EXPECT_EQ(w.alpha(), 0.0);

    // The library pane takes the strip's band the same way.
    w.window->setLibraryVisible(true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(w.window->libraryPane().contentsMargins().top(), TitleStrip::stripHeight);
    w.moveMouse(w.window->libraryPane().mapTo(w.frame(), QPoint(20, 10))); // the menus
    EXPECT_TRUE(w.stripShown());
    w.moveMouse(w.window->libraryPane().mapTo(w.frame(), QPoint(20, 200)));
    EXPECT_EQ(w.alpha(), 0.0);
    EXPECT_FALSE(w.frame()->isTitleStripFading());
    // Alt still reaches the menus with the mouse resting on the pane.
    QApplication::setActiveWindow(w.frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.frame()));
    w.editor->setFocus();
    QTest::keyPress(w.editor, Qt::Key_Alt);
    QTest::keyRelease(w.editor, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(w.window->menuBar()->hasFocus());
    EXPECT_TRUE(w.stripShown());
    QTest::keyClick(w.window->menuBar(), Qt::Key_Escape);
}

TEST(TitleStrip, TypingPutsItAwayAndTheMouseBringsItBack)
{
    StripWindow w("typing");
    ASSERT_TRUE(w.window);
    w.moveToStrip();
    EXPECT_TRUE(w.stripShown());
    w.editor->setSelectedRange(Range(0, 0));
    QTest::keyClicks(w.editor, "New ");
    EXPECT_EQ(textOf(w.document), QStringLiteral("New Some words\n"));
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);
    // Commands are not typing.
    w.moveMouse(QPoint(w.frame()->width() / 2 + 5, 12));
    EXPECT_TRUE(w.stripShown());
    QTest::keyClick(w.editor, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(w.stripShown());
    QTest::keyClick(w.editor, Qt::Key_Right);
    EXPECT_TRUE(w.stripShown());
    QTest::keyClick(w.editor, Qt::Key_Backspace);
    EXPECT_EQ(w.alpha(), 0.0);
}

TEST(TitleStrip, MenusAndDialogsKeepItShown)
{
    StripWindow w("popups");
    ASSERT_TRUE(w.window);
    w.moveToText();
    EXPECT_EQ(w.alpha(), 0.0);

    // A menu of the window's menu bar, and a submenu of it (opened from the
    // keyboard: the mouse stays on the text).
    QMenuBar* bar = w.window->menuBar();
    Menu& view = w.shell.controller->mainMenu()->topLevelMenu(MainMenu::view);
    bar->setActiveAction(view.supermenuItem()->qAction());
    QMenu* shown = view.qMenu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    EXPECT_EQ(w.window->titleStrip().openPopupCount(), 1);
    EXPECT_TRUE(w.stripShown());
    QMenu* theme = w.shell.controller->mainMenu()->themesSubmenu()->qMenu();
    theme->popup(shown->mapToGlobal(QPoint(shown->width(), 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(theme));
    EXPECT_EQ(w.window->titleStrip().openPopupCount(), 2);
    // Nothing puts it away while a menu is open.
    w.window->titleStrip().titleBarHidden = true;
    w.window->titleStrip().updateTitleBar();
    EXPECT_TRUE(w.stripShown());
    theme->hide();
    EXPECT_TRUE(w.stripShown());
    shown->hide();
    bar->setActiveAction(nullptr);
    EXPECT_EQ(w.window->titleStrip().openPopupCount(), 0);
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);

    // The text's context menu leaves the strip alone.
    QMenu context(w.editor);
    context.addAction(QStringLiteral("Copy"));
    context.popup(w.editor->mapToGlobal(QPoint(50, 50)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&context));
    EXPECT_EQ(w.window->titleStrip().openPopupCount(), 0);
    EXPECT_EQ(w.alpha(), 0.0);
    context.hide();

    // The document menu of the title, with the mouse on the strip: it
    // stays after the menu closes.
    w.moveToStrip();
    w.frame()->showDocumentMenu();
    QMenu* documentMenu = w.frame()->documentMenu().qMenu();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(documentMenu));
    documentMenu->hide();
    EXPECT_TRUE(w.stripShown());

    // A dialog in front of the window shows it; it goes when the dialog
    // ends.
    w.moveToText();
    EXPECT_EQ(w.alpha(), 0.0);
    bool shownWhileOpen = false;
    QTimer::singleShot(0, [&] {
        shownWhileOpen = w.stripShown() && w.window->titleStrip().hasAttachedSheet();
        if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    });
    QMessageBox box(w.frame());
    box.setText(QStringLiteral("A question"));
    box.exec();
    EXPECT_TRUE(shownWhileOpen);
    EXPECT_FALSE(w.window->titleStrip().hasAttachedSheet());
    EXPECT_EQ(w.alpha(), 0.0);
}

TEST(TitleStrip, TheFindBarShowsItAndTheTextMakesRoom)
{
    StripWindow w("find");
    ASSERT_TRUE(w.window);
    QTest::keyClick(w.editor, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w.editor->isFindBarVisible());
    EXPECT_TRUE(w.stripShown());
    // The editor, with its find bar, sits below the strip.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GE(w.editor->mapTo(w.frame(), QPoint(0, 0)).y(), w.frame()->titleStrip()->geometry().bottom());
    // The mouse does not put it away while the bar shows.
    w.moveToStrip();
    w.moveToText();
    EXPECT_TRUE(w.stripShown());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ASSERT_FALSE(w.editor->isFindBarVisible());
    EXPECT_EQ(w.alpha(), 0.0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_EQ(w.editor->mapTo(w.frame(), QPoint(0, 0)).y(), w.window->splitView()->mapTo(w.frame(), QPoint(0, 0)).y());
}

TEST(TitleStrip, FullScreenKeepsItAboveThePanes)
{
    StripWindow w("full-screen");
    ASSERT_TRUE(w.window);
    w.frame()->toggleFullScreen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.frame()->isFullScreen(); }, test::patience));
    EXPECT_TRUE(w.stripShown());
    EXPECT_FALSE(w.frame()->isTitleStripFloating());
    EXPECT_FALSE(w.window->titleStrip().isTrackingMouse());
    w.moveToText();
    EXPECT_TRUE(w.stripShown());
    // A dialog in full screen changes nothing, nor does its end.
    w.window->titleStrip().sheetWillBegin(w.frame());
    w.window->titleStrip().sheetDidEnd(w.frame());
    EXPECT_TRUE(w.stripShown());

    w.frame()->toggleFullScreen();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.frame()->isFullScreen(); }, test::patience));
    EXPECT_TRUE(w.frame()->isTitleStripFloating());
    EXPECT_TRUE(w.window->titleStrip().isTrackingMouse());
    EXPECT_EQ(w.alpha(), 0.0);
    w.moveToStrip();
    EXPECT_TRUE(w.stripShown());
}

TEST(TitleStrip, TheKeyboardInTheMenusShowsItAndZoomingPutsItAway)
{
    StripWindow w("keyboard");
    ASSERT_TRUE(w.window);
    EXPECT_EQ(w.alpha(), 0.0);
    // Alt pressed and let go: the menu bar takes the keyboard.
    QApplication::setActiveWindow(w.frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.frame()));
    w.editor->setFocus();
    QTest::keyPress(w.editor, Qt::Key_Alt);
    QTest::keyRelease(w.editor, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(w.window->menuBar()->hasFocus());
    EXPECT_TRUE(w.stripShown());
    QTest::keyClick(w.window->menuBar(), Qt::Key_Escape);
    w.editor->setFocus();
    EXPECT_EQ(w.alpha(), 0.0);

    // A renamed or duplicated document's window shows its strip until the
    // writer goes on.
    w.window->titleStrip().titleBarHidden = false;
    w.window->titleStrip().updateTitleBar();
    EXPECT_TRUE(w.stripShown());
    w.frame()->toggleMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.frame()->isMaximized(); }, test::patience));
    EXPECT_TRUE(w.window->titleStrip().titleBarHidden);
    EXPECT_EQ(w.alpha(), 0.0);
}

// Two windows side by side: the one left behind puts its strip away as the
// active one does, whatever held the strip while it was active.
TEST(TitleStrip, AWindowLeftBehindPutsItAwayAsTheActiveOneDoes)
{
    StripWindow a("behind-a");
    ASSERT_TRUE(a.window);
    const QString path = freshDirectory("behind-b") + "/other.md";
    writeFile(path, "Other words\n");
    WindowController* b = windowOf(a.shell.open(path));
    ASSERT_TRUE(b);
    a.frame()->setGeometry(0, 0, 390, 560);
    b->window()->setGeometry(400, 0, 390, 560);
    ASSERT_TRUE(activate(a.window));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(b->window()));
    const auto onTextOfB = [&] { QTest::mouseMove(b->window(), QPoint(200, 300)); };

    // The keyboard went into a's menus (Alt), then the writer clicked into b.
    a.moveToText();
    QApplication::setActiveWindow(a.frame());
    ASSERT_TRUE(QTest::qWaitForWindowActive(a.frame()));
    a.editor->setFocus();
    QTest::keyPress(a.editor, Qt::Key_Alt);
    QTest::keyRelease(a.editor, Qt::Key_Alt, Qt::AltModifier);
    ASSERT_TRUE(a.window->menuBar()->hasFocus());
    EXPECT_TRUE(a.stripShown());
    onTextOfB();
    QApplication::setActiveWindow(b->window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(b->window()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.alpha() == 0.0; }, test::patience)) << a.alpha();

    // A menu of a's strip was open while the mouse went over to b: once it
    // closes, the strip goes, though a never saw the mouse leave.
    ASSERT_TRUE(activate(a.window));
    a.moveToStrip();
    ASSERT_TRUE(a.stripShown());
    QMenuBar* bar = a.window->menuBar();
    Menu& view = a.shell.controller->mainMenu()->topLevelMenu(MainMenu::view);
    bar->setActiveAction(view.supermenuItem()->qAction());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.qMenu()));
    onTextOfB();
    view.qMenu()->hide();
    bar->setActiveAction(nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.alpha() == 0.0; }, test::patience)) << a.alpha();
}

// The document's name stands in the middle of the room between the menus
// and the window buttons, whatever its length and whether or not the strip
// shows.
TEST(TitleStrip, TheNameStaysInOnePlace)
{
    StripWindow w("name-place");
    ASSERT_TRUE(w.window);
    TitleStrip* strip = w.frame()->titleStrip();
    // Wide enough for a short name to stand over the window's middle.
    w.frame()->resize(1400, 600);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const auto middle = [&] { return strip->titleRect().center().x(); };
    QList<int> places;
    for (const QString& name :
         {QStringLiteral("a.md"), QStringLiteral("notes.md"),
          QStringLiteral("A considerably longer name for the opening chapter of the second part of the book.md")}) {
        strip->setTitle(name);
        places << middle();
        w.moveToStrip();
        places << middle();
        w.moveToText();
        places << middle();
    }
    for (int place : places) EXPECT_NEAR(place, places.first(), 1) << places.size();
    // Clear of the menus and the buttons.
    EXPECT_GT(strip->titleRect().left(), w.window->menuBar()->mapTo(strip, QPoint(w.window->menuBar()->width(), 0)).x());
    EXPECT_LT(strip->titleRect().right(), strip->minimizeButton()->geometry().left());
}
