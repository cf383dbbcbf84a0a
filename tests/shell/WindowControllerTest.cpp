// The document window: its menu bar, keys, pane toggles, preference
// commands and their check marks, and its width.
#include "ShellTestSupport.h"

#include "document/InfoView.h"
#include "document/PreviewViewController.h"
#include "library/Library.h"
#include "library/LibraryController.h"
#include "library/LibraryViewController.h"
#include "markdown/MarkdownStylesheet.h"
#include "platform/text/EditorLayout.h"
#include "platform/text/TextMirror.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/files/UserDefaults.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/StringExtensions.h"
#include "shell/Dialogs.h"
#include "shell/MainMenu.h"
#include "shell/WindowCommands.h"
#include "shell/WindowPlacement.h"
#include "widgets/ViewUtilities.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"
#include "support/WebEngine.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScrollBar>

#include <sys/stat.h>

using namespace lumora;
using namespace lumora::test;

namespace {

MenuItem& itemFor(DocumentController& controller, MainMenu::TopLevel menu, Command command)
{
    return *controller.mainMenu()->topLevelMenu(menu).itemWithCommand(command);
}

Document* openText(Shell& shell, const char* name, const QByteArray& text)
{
    const QString path = freshDirectory(name) + "/" + name + ".txt";
    writeFile(path, text);
    return shell.open(path);
}

} // namespace

TEST(WindowController, EveryWindowHasTheMainMenuAndItsKeysWork)
{
    Shell shell;
    Document* document = openText(shell, "keys", "Draft");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(window && window->menuBar());
    QStringList titles;
    for (QAction* action : window->menuBar()->actions()) titles << action->text();
    // Alt and the underlined letter open each menu.
    EXPECT_EQ(titles, (QStringList{"&Lumora", "&File", "&Edit", "&Mode", "L&ibrary", "&View", "&Window", "&Help"}));
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();

    // Typing goes through the editor; Ctrl+Z takes it back through the gate.
    editor->setSelectedRange(Range(5, 0));
    QTest::keyClicks(editor, " one");
    EXPECT_EQ(textOf(document), "Draft one");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(textOf(document), "Draft");
    QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(textOf(document), "Draft one");

    // Ctrl+S saves in place.
    QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(readFile(document->filePath()), QByteArray("Draft one"));
    EXPECT_FALSE(document->isDocumentEdited());

    // Ctrl+N: a new untitled window; Ctrl+O asks what to open.
    QTest::keyClick(editor, Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(shell.controller->documents().size(), size_t(2));
    Document* untitled = qobject_cast<Document*>(shell.controller->documents().back());
    EXPECT_TRUE(untitled->isUntitled());
    ASSERT_TRUE(activate(windowOf(untitled)));
    const QString other = freshDirectory("keys-other") + "/other.txt";
    writeFile(other, "Other");
    shell.dialogs.filesToOpen = {other};
    QTest::keyClick(windowOf(untitled)->documentViewController()->textView(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(shell.dialogs.asked, QStringList{"open"});
    EXPECT_TRUE(shell.controller->documentForPath(other));

    // Ctrl+W closes the window and its (unedited) document.
    ASSERT_TRUE(activate(window));
    QTest::keyClick(editor, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(document->isClosed());
}

TEST(WindowController, ViewCommandsTogglePanesAndNameWhatTheyWillDo)
{
    Shell shell;
    Document* document = openText(shell, "panes", "# One\n\nText\n");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    auto& dispatcher = ActionDispatcher::instance();
    MenuItem& library = itemFor(*shell.controller, MainMenu::view, Command::toggleLibraryView);
    MenuItem& outline = itemFor(*shell.controller, MainMenu::view, Command::toggleOutlineView);
    MenuItem& statistics = itemFor(*shell.controller, MainMenu::view, Command::toggleInfoView);

    const bool libraryShown = window->isLibraryVisible();
    dispatcher.validateItem(library);
    EXPECT_EQ(library.title(), libraryShown ? "Hide Library" : "Show Library");
    dispatcher.performMenuItem(library);
    EXPECT_EQ(window->isLibraryVisible(), !libraryShown);
    EXPECT_EQ(window->libraryViewController() != nullptr, !libraryShown);
    dispatcher.validateItem(library);
    EXPECT_EQ(library.title(), libraryShown ? "Show Library" : "Hide Library");

    if (window->isOutlineVisible()) window->setOutlineVisible(false);
    dispatcher.validateItem(outline);
    EXPECT_FALSE(outline.isHidden());
    EXPECT_EQ(outline.title(), QStringLiteral("Show Outline"));
    QTest::keyClick(window->documentViewController()->textView(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(window->isOutlineVisible());
    // Markdown off hides the outline pane and its item; the Markdown item
    // is checked while it is on.
    MenuItem& markdown = itemFor(*shell.controller, MainMenu::modus, Command::toggleMarkdown);
    dispatcher.validateItem(markdown);
    EXPECT_EQ(markdown.state(), MenuItem::State::on);
    dispatcher.performMenuItem(markdown);
    EXPECT_FALSE(document->isMarkdownEnabled());
    EXPECT_FALSE(window->isOutlineVisible());
    dispatcher.validateItem(outline);
    EXPECT_TRUE(outline.isHidden());
    dispatcher.validateItem(markdown);
    EXPECT_EQ(markdown.state(), MenuItem::State::off);
    dispatcher.performMenuItem(markdown);

    Settings& settings = Settings::shared();
    const bool shown = settings.isInfoViewVisible();
    QTest::keyClick(window->documentViewController()->textView(), Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(settings.isInfoViewVisible(), !shown);
    EXPECT_EQ(window->documentViewController()->infoView()->isVisibleTo(window->window()), !shown);
    dispatcher.validateItem(statistics);
    EXPECT_EQ(statistics.title(), shown ? "Show Statistics" : "Hide Statistics");
    dispatcher.performMenuItem(statistics);
}

TEST(WindowController, WindowCommandsActOnTheKeyWindow)
{
    Shell shell;
    WindowController* window = windowOf(openText(shell, "window-commands", "Text\n"));
    ASSERT_TRUE(activate(window));
    auto& dispatcher = ActionDispatcher::instance();
    MainMenu& menu = *shell.controller->mainMenu();

    // Full screen: the item names what it will do.
    MenuItem& fullScreen = *menu.topLevelMenu(MainMenu::view).itemWithCommand(Command::toggleFullScreen);
    EXPECT_TRUE(dispatcher.validateItem(fullScreen));
    EXPECT_EQ(fullScreen.title(), QStringLiteral("Enter Full Screen"));
    dispatcher.performMenuItem(fullScreen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->window()->isFullScreen(); }, test::patience));
    dispatcher.validateItem(fullScreen);
    EXPECT_EQ(fullScreen.title(), QStringLiteral("Exit Full Screen"));
    dispatcher.performMenuItem(fullScreen);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->window()->isFullScreen(); }, test::patience));

    // Zoom maximises the window and brings it back.
    MenuItem& zoom = *menu.topLevelMenu(MainMenu::window).itemWithCommand(Command::performZoom);
    EXPECT_TRUE(dispatcher.validateItem(zoom));
    dispatcher.performMenuItem(zoom);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->window()->isMaximized(); }, test::patience));
    dispatcher.performMenuItem(zoom);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->window()->isMaximized(); }, test::patience));
}

TEST(WindowController, EachWindowsPreviewCommandShowsAndHidesItsOwnPreview)
{
    SKIP_WITHOUT_WEB_ENGINE();
    Shell shell;
    WindowController* alpha = windowOf(openText(shell, "alpha", "# Alpha"));
    WindowController* beta = windowOf(openText(shell, "beta", "# Beta"));
    ASSERT_TRUE(activate(alpha));
    EXPECT_EQ(alpha->previewWindowController(), nullptr) << "made the first time it is shown";

    // Ctrl+Alt+P shows this window's document.
    QTest::keyClick(alpha->documentViewController()->textView(), Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
    PreviewViewController* preview = alpha->previewWindowController();
    ASSERT_TRUE(preview);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->document, alpha->document());
    EXPECT_EQ(preview->windowTitle(), "alpha.txt — Preview");
    EXPECT_TRUE(preview->screen()->availableGeometry().contains(preview->frameGeometry()));

    // The other window has a preview of its own.
    ASSERT_TRUE(activate(beta));
    beta->commands().togglePreviewWindow();
    ASSERT_TRUE(beta->previewWindowController());
    EXPECT_NE(beta->previewWindowController(), preview);
    EXPECT_EQ(preview->document, alpha->document());

    // In front, the same keys hide it, pressed in the preview itself.
    QApplication::setActiveWindow(preview);
    ASSERT_EQ(QApplication::activeWindow(), preview);
    QTest::keyClick(preview, Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(preview->isVisible());
    EXPECT_EQ(preview->document, nullptr);
}

namespace {

const QString kPreviewFrame = QStringLiteral("NSWindow Frame previewWindow");

void savePreviewFrame(const QRect& frame)
{
    QWidget earlier;
    earlier.setGeometry(frame);
    UserDefaults::standard().set(kPreviewFrame, earlier.saveGeometry());
}

} // namespace

// The preview comes back where the writer left it, whatever the document
// window did meanwhile: at the next start from its saved frame, and when
// it is shown again.
TEST(WindowController, ThePreviewComesBackWhereItWasLeft)
{
    SKIP_WITHOUT_WEB_ENGINE();
    savePreviewFrame(QRect(500, 100, 400, 300));
    Shell shell;
    WindowController* controller = windowOf(openText(shell, "left", "# Left"));
    QWidget* window = controller->window();
    ASSERT_TRUE(activate(controller));
    const QRect area = window->screen()->availableGeometry();
    window->setGeometry(area.left() + 10, area.top() + 30, 300, 350);

    controller->commands().togglePreviewWindow();
    PreviewViewController* preview = controller->previewWindowController();
    ASSERT_TRUE(preview && preview->isVisible());
    EXPECT_EQ(preview->geometry(), QRect(500, 100, 400, 300));

    // Moved by the writer, hidden, shown again after the window moved: where
    // the writer put it.
    preview->setGeometry(120, 140, 420, 320);
    QApplication::setActiveWindow(preview);
    controller->commands().togglePreviewWindow();
    ASSERT_FALSE(preview->isVisible());
    window->setGeometry(area.right() + 1 - 300, area.top() + 60, 300, 350);
    ASSERT_TRUE(activate(controller));
    controller->commands().togglePreviewWindow();
    ASSERT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->geometry(), QRect(120, 140, 420, 320));
    preview->hide();
    UserDefaults::standard().remove(kPreviewFrame);
}

// Without a saved frame, or with one that lies off every screen, the
// preview goes beside its document window: right where the screen has
// room, else left, as tall as the window.
TEST(WindowController, APreviewWithNoPlaceOfItsOwnGoesBesideItsWindow)
{
    SKIP_WITHOUT_WEB_ENGINE();
    UserDefaults::standard().remove(kPreviewFrame);
    Shell shell;
    // The window system's frames are the offscreen platform's.
    const auto frame = [](const QWidget* w) { return w->frameGeometry(); };
    WindowController* first = windowOf(openText(shell, "unplaced", "# Unplaced"));
    QWidget* window = first->window();
    ASSERT_TRUE(activate(first));
    const QRect area = window->screen()->availableGeometry();
    window->setGeometry(area.left() + 10, area.top() + 30, 300, 350);
    first->commands().togglePreviewWindow();
    PreviewViewController* preview = first->previewWindowController();
    ASSERT_TRUE(preview && preview->isVisible());
    // In its content's size, which may leave no room on either side.
    EXPECT_EQ(frame(preview), WindowPlacement::previewFrameBeside(frame(window), frame(preview).width(), area));
    EXPECT_EQ(frame(preview).height(), frame(window).height());
    EXPECT_TRUE(area.contains(frame(preview)));
    preview->hide();

    // Saved far away from every screen (one that is gone): beside the
    // window too, on its left where the right has no room, in its size.
    savePreviewFrame(QRect(area.right() + 5000, area.bottom() + 5000, 400, 300));
    WindowController* second = windowOf(openText(shell, "faraway", "# Far away"));
    ASSERT_TRUE(activate(second));
    second->window()->setGeometry(area.right() + 1 - 300, area.top() + 60, 300, 350);
    second->commands().togglePreviewWindow();
    PreviewViewController* far = second->previewWindowController();
    ASSERT_TRUE(far && far->isVisible());
    EXPECT_EQ(far->width(), 400);
    EXPECT_EQ(frame(far).topLeft(), QPoint(frame(second->window()).left() - 12 - frame(far).width(),
                                           frame(second->window()).top()));
    EXPECT_EQ(frame(far).height(), frame(second->window()).height());
    far->hide();
    UserDefaults::standard().remove(kPreviewFrame);
}

TEST(WindowPlacement, APreviewGoesBesideItsWindowElseOverItsRightSide)
{
    const QRect area(0, 30, 1600, 870);
    // Right, left, and over the right side when neither side has room.
    EXPECT_EQ(WindowPlacement::previewFrameBeside(QRect(100, 80, 900, 700), 500, area), QRect(1012, 80, 500, 700));
    EXPECT_EQ(WindowPlacement::previewFrameBeside(QRect(650, 80, 900, 700), 500, area), QRect(138, 80, 500, 700));
    EXPECT_EQ(WindowPlacement::previewFrameBeside(QRect(300, 80, 1000, 700), 500, area), QRect(1100, 80, 500, 700));
    // No taller than the screen, and on it.
    EXPECT_EQ(WindowPlacement::previewFrameBeside(QRect(100, 0, 600, 1200), 500, area), QRect(712, 30, 500, 870));
    EXPECT_EQ(WindowPlacement::previewFrameBeside(QRect(100, 500, 600, 700), 2000, area), QRect(0, 200, 1600, 700));
}

TEST(WindowController, ModeCommandsFlipThePreferencesAndCheckMarksFollow)
{
    Shell shell;
    Document* document = openText(shell, "modes", "Text");
    ASSERT_TRUE(activate(windowOf(document)));
    Settings& settings = Settings::shared();
    auto& dispatcher = ActionDispatcher::instance();
    struct Toggle {
        Command action;
        const char* key;
        bool (Settings::*value)() const;
    };
    const Toggle toggles[] = {
        {Command::toggleTypewriterScrolling, "typewriterScrolling", &Settings::isTypewriterScrollingEnabled},
        {Command::toggleSounds, "typewriterSounds", &Settings::isTypewriterSoundsEnabled},
        {Command::toggleNoEditing, "noEditing", &Settings::isNoEditingEnabled},
    };
    for (const Toggle& t : toggles) {
        MenuItem& item = itemFor(*shell.controller, MainMenu::modus, t.action);
        for (int round = 0; round < 2; ++round) {
            const bool before = (settings.*t.value)();
            dispatcher.performMenuItem(item);
            EXPECT_EQ((settings.*t.value)(), !before) << t.action;
            EXPECT_EQ(UserDefaults::standard().object(t.key), QVariant(!before)) << t.action;
            EXPECT_TRUE(dispatcher.validateItem(item));
            EXPECT_EQ(item.state(), !before ? MenuItem::State::on : MenuItem::State::off) << t.action;
        }
    }

    // Value choices: exactly the current value is checked.
    const auto checked = [&](Menu& menu) {
        dispatcher.validateMenu(menu);
        QStringList list;
        for (const auto& item : menu.items())
            if (item->state() == MenuItem::State::on) list << item->title();
        return list;
    };
    Menu& highlighting = *itemFor(*shell.controller, MainMenu::modus, Command::toggleNoEditing).menu()->itemAt(4)->submenu();
    dispatcher.performMenuItem(*highlighting.itemAt(2));
    EXPECT_EQ(settings.highlighting(), Settings::Highlighting::paragraph);
    EXPECT_EQ(checked(highlighting), QStringList{"Current Paragraph"});
    dispatcher.performMenuItem(*highlighting.itemAt(0));
    EXPECT_EQ(checked(highlighting), QStringList{"Off"});

    Menu& sizes = *shell.controller->mainMenu()->topLevelMenu(MainMenu::view).itemAt(12)->submenu();
    dispatcher.performMenuItem(*sizes.itemAt(1));
    EXPECT_EQ(settings.editorSize(), 968.0);
    EXPECT_EQ(UserDefaults::standard().doubleValue("editorSize"), 968.0);
    EXPECT_EQ(checked(sizes).size(), 1);
    settings.setEditorSize(700); // none of the choices
    EXPECT_TRUE(checked(sizes).isEmpty());
    dispatcher.performMenuItem(*sizes.itemAt(0));
}

TEST(WindowController, EditorSizeSetsTheWidthAndKeepsTheWindowOnItsScreen)
{
    struct Case {
        QRect frame;
        QRect screen;
        double editorSize;
        int sides;
        QRect expected;
    };
    const QRect screen(0, 0, 1440, 900);
    const Case cases[] = {
        {QRect(100, 50, 1000, 700), screen, 0, 450, QRect(0, 50, 1440, 700)},     // the whole screen
        {QRect(100, 50, 1000, 700), screen, 968, 450, QRect(5, 50, 1418, 700)},    // side panes too
        {QRect(100, 50, 1000, 700), QRect(0, 0, 1280, 800), 968, 450, QRect(0, 50, 1280, 700)},
        {QRect(0, 50, 1440, 700), screen, 712, 0, QRect(364, 50, 712, 700)},       // was as wide: centred
        {QRect(100, 50, 1000, 700), screen, 712, 0, QRect(165, 50, 712, 700)},     // same place in the room
        // A second screen to the right: the window stays on it.
        {QRect(1540, 50, 1000, 700), QRect(1440, 0, 1920, 1080), 712, 0, QRect(1440 + 131, 50, 712, 700)},
        // Wider than its screen: centred on it, not pushed off.
        {QRect(1300, 50, 1800, 700), QRect(1440, 0, 1280, 800), 712, 0, QRect(1440 + 284, 50, 712, 700)},
    };
    for (const Case& c : cases) {
        const QRect frame = WindowPlacement::frameForEditorSize(c.frame, c.screen, c.editorSize, c.sides);
        EXPECT_EQ(frame, c.expected) << c.editorSize << " " << c.frame.x();
        EXPECT_TRUE(c.screen.contains(frame.topLeft()) && frame.right() <= c.screen.right());
    }
}

TEST(WindowController, AThemeChosenFromTheMenuRestylesTextAndWindow)
{
    Shell shell(true);
    Document* document = openText(shell, "theme", "Words\n");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    Settings& settings = Settings::shared();
    const auto original = settings.theme();
    const auto colourOfText = [&] {
        const AttributeValue value = document->data().textStorage().attributes(0).value(AttributeKey::ForegroundColor);
        return value.color() ? value.color()->toQColor() : QColor();
    };
    const QColor before = colourOfText();
    Menu& themes = *shell.controller->mainMenu()->themesSubmenu();
    ActionDispatcher::instance().validateMenu(themes);
    MenuItem* other = nullptr;
    for (const auto& item : themes.items())
        if (item->command() == Command::setTheme && item->state() == MenuItem::State::off && !other)
            other = item.get();
    ASSERT_TRUE(other);
    ActionDispatcher::instance().performMenuItem(*other);
    EXPECT_NE(settings.theme(), original);
    EXPECT_EQ(colourOfText(), settings.theme()->foregroundColor.toQColor());
    EXPECT_NE(colourOfText(), before);
    EXPECT_EQ(window->window()->palette().color(QPalette::Window), settings.theme()->backgroundColor.toQColor());
    // The page itself is drawn in the new background.
    TextView* editor = window->documentViewController()->textView();
    const QImage page = editor->viewport()->grab().toImage();
    EXPECT_EQ(QColor(page.pixel(page.width() - 4, page.height() - 4)).rgb(),
              settings.theme()->backgroundColor.toQColor().rgb());
    settings.setTheme(original);
    EXPECT_EQ(colourOfText(), before);
}

TEST(WindowController, AWindowClosesWithTextSelected)
{
    // The editor goes after its pane: losing its selection then must not
    // call back into the pane.
    Shell shell;
    Document* document = openText(shell, "selected", "Some words here");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    window->documentViewController()->textView()->setSelectedRange(Range(5, 5));
    delete window->window();
    EXPECT_TRUE(WindowController::all().empty());
}

TEST(WindowController, ALockedDocumentStillCopiesAndSelects)
{
    Shell shell;
    Document* introduction = shell.controller->openIntroduction();
    ASSERT_TRUE(introduction && introduction->isLocked());
    WindowController* window = windowOf(introduction);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    const auto enabled = [&](MainMenu::TopLevel menu, Command action) {
        Menu& top = shell.controller->mainMenu()->topLevelMenu(menu);
        ActionDispatcher::instance().menuWillOpen(top);
        ActionDispatcher::instance().menuDidClose(top);
        return itemFor(*shell.controller, menu, action).isEnabled();
    };

    // Nothing selected: Select All can act, Copy cannot.
    editor->setSelectedRange(Range(0, 0));
    EXPECT_TRUE(enabled(MainMenu::edit, Command::selectAll));
    EXPECT_FALSE(enabled(MainMenu::edit, Command::copy));
    EXPECT_FALSE(enabled(MainMenu::edit, Command::cut));

    // A selection in the locked text: Copy can act; changing it cannot.
    editor->setSelectedRange(Range(2, 7));
    EXPECT_TRUE(enabled(MainMenu::edit, Command::copy));
    EXPECT_FALSE(enabled(MainMenu::edit, Command::cut));
    EXPECT_FALSE(enabled(MainMenu::edit, Command::deleteSelection));
    EXPECT_FALSE(enabled(MainMenu::edit, Command::paste));
    // Also while the menu bar has the focus for keyboard navigation (Alt, F10).
    window->menuBar()->setFocus();
    EXPECT_TRUE(enabled(MainMenu::edit, Command::copy));
    EXPECT_TRUE(enabled(MainMenu::edit, Command::selectAll));
    itemFor(*shell.controller, MainMenu::edit, Command::copy).qAction()->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), textOf(introduction).mid(2, 7));
    itemFor(*shell.controller, MainMenu::edit, Command::selectAll).qAction()->trigger();
    EXPECT_EQ(editor->selectedRange(), Range(0, textOf(introduction).size()));
    EXPECT_TRUE(introduction->isLocked());
    EXPECT_TRUE(shell.dialogs.asked.isEmpty());
}

TEST(WindowController, AnAlertOverOneWindowLeavesTheKeysOfTheOtherWindowsWorking)
{
    Shell shell;
    Document* a = openText(shell, "alert-a", "A");
    Document* b = openText(shell, "alert-b", "B");
    Document* c = openText(shell, "alert-c", "C");
    WindowController* windowA = windowOf(a);
    WindowController* windowB = windowOf(b);
    WindowController* windowC = windowOf(c);
    ASSERT_TRUE(activate(windowA) && activate(windowC) && activate(windowB));
    TextView* editorA = windowA->documentViewController()->textView();
    TextView* editorB = windowB->documentViewController()->textView();
    TextView* editorC = windowC->documentViewController()->textView();
    const auto ctrl = [](QWidget* widget, Qt::Key key) { QTest::keyClick(widget, key, Qt::ControlModifier); };

    // A real alert over A, as the dialogs show one, answered from inside.
    StandardDialogs dialogs;
    bool answered = false;
    whenModal([&](QWidget* alert) {
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        EXPECT_EQ(alert->parentWidget() ? alert->parentWidget()->window() : nullptr, windowA->window());
        EXPECT_TRUE(activate(windowB));
        editorB->setSelectedRange(Range(1, 0));
        QTest::keyClicks(editorB, "b");
        ctrl(editorB, Qt::Key_S);
        EXPECT_EQ(readFile(b->filePath()), QByteArray("Bb"));
        EXPECT_FALSE(b->isDocumentEdited());
        const bool libraryB = windowB->isLibraryVisible();
        ctrl(editorB, Qt::Key_L);
        EXPECT_EQ(windowB->isLibraryVisible(), !libraryB);

        // Quitting waits for the alert's answer: nothing closes under it.
        ctrl(editorB, Qt::Key_Q);
        EXPECT_FALSE(a->isClosed());
        EXPECT_FALSE(b->isClosed());
        EXPECT_TRUE(alert->isVisible());

        // No key reaches the window under the alert, and the alert's own keys
        // are the alert's.
        const bool libraryA = windowA->isLibraryVisible();
        ctrl(editorA, Qt::Key_L);
        ctrl(alert, Qt::Key_L);
        ctrl(alert, Qt::Key_W);
        EXPECT_EQ(windowA->isLibraryVisible(), libraryA);
        EXPECT_FALSE(a->isClosed());
        EXPECT_TRUE(alert->isVisible());

        ctrl(editorB, Qt::Key_W);
        EXPECT_TRUE(b->isClosed());
        answered = true;
        QTest::keyClick(alert, Qt::Key_Return);
    });
    dialogs.presentError(*a, PlatformError(PlatformError::Code::readFailed, "The alert"));
    EXPECT_TRUE(answered);
    EXPECT_FALSE(a->isClosed());

    // An alert of the whole application holds every window's keys.
    ASSERT_TRUE(activate(windowC));
    const bool libraryC = windowC->isLibraryVisible();
    {
        QMessageBox alert;
        alert.setWindowModality(Qt::ApplicationModal);
        alert.show();
        ctrl(editorC, Qt::Key_L);
        EXPECT_EQ(windowC->isLibraryVisible(), libraryC);
    }
    ctrl(editorC, Qt::Key_L);
    EXPECT_EQ(windowC->isLibraryVisible(), !libraryC);
}

TEST(WindowController, NewWindowsCascadeInsideTheScreen)
{
    // A small screen whose free area starts below a panel.
    const QRect area(0, 24, 640, 456);
    const QRect big(100, 100, 1000, 740);
    // Too big: made to fit, and kept inside.
    EXPECT_EQ(WindowPlacement::cascadedFrame(big, {}, area), QRect(0, 24, 640, 456));
    // Stepping aside from a window in the same place, and from the next one.
    const QRect small(50, 40, 400, 300);
    EXPECT_EQ(WindowPlacement::cascadedFrame(small, {QPoint(50, 40)}, area).topLeft(), QPoint(78, 68));
    EXPECT_EQ(WindowPlacement::cascadedFrame(small, {QPoint(50, 40), QPoint(78, 68)}, area).topLeft(), QPoint(106, 96));
    // A step that would leave the area starts again from its edge.
    const QRect low(200, 170, 400, 300);
    const QRect stepped = WindowPlacement::cascadedFrame(low, {QPoint(200, 170)}, area);
    EXPECT_EQ(stepped.topLeft(), QPoint(228, 24));
    // A frame from a larger screen comes inside first.
    EXPECT_EQ(WindowPlacement::cascadedFrame(QRect(900, 700, 400, 300), {}, area).topLeft(), QPoint(240, 180));
    // However many windows, every frame stays inside, and the search ends.
    std::vector<QPoint> taken;
    for (int i = 0; i < 40; ++i) {
        const QRect frame = WindowPlacement::cascadedFrame(small, taken, area);
        EXPECT_TRUE(area.contains(frame)) << i;
        taken.push_back(frame.topLeft());
    }

    // Real windows on the test screen (800 by 800): each new one inside it,
    // none exactly over another while there is room to step.
    Shell shell;
    QList<QPoint> corners;
    for (int i = 0; i < 4; ++i) {
        auto made = shell.controller->openUntitledDocument(true);
        ASSERT_TRUE(made);
        WindowController* window = windowOf(qobject_cast<Document*>(*made));
        ASSERT_TRUE(window);
        const QRect frame = window->window()->geometry();
        EXPECT_TRUE(window->window()->screen()->availableGeometry().contains(frame)) << i;
        EXPECT_FALSE(corners.contains(frame.topLeft())) << i;
        corners << frame.topLeft();
    }
}

TEST(WindowController, WindowsHaveAnEdgeThatStandsApartFromTheirTheme)
{
    Shell shell;
    auto made = shell.controller->openUntitledDocument(true);
    ASSERT_TRUE(made);
    DocumentWindowBase* window = windowOf(qobject_cast<Document*>(*made))->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    Settings& settings = Settings::shared();
    const std::shared_ptr<Theme> chosen = settings.theme();
    // In every built-in theme, against a window of the same theme behind it.
    for (const auto& theme : std::vector<std::shared_ptr<Theme>>(settings.themes().begin(), settings.themes().begin() + 4)) {
        SCOPED_TRACE(theme->id.toStdString());
        settings.setTheme(theme);
        const QColor page = theme->backgroundColor.toQColor();
        const QColor edge = views::windowEdgeColor(page, theme->foregroundColor.toQColor());
        EXPECT_EQ(window->borderColor().rgb(), edge.rgb());
        EXPECT_GE(views::contrastRatio(window->borderColor(), page), views::windowEdgeContrast);
        const QImage image = window->grab().toImage();
        const int w = image.width(), h = image.height();
        for (const QPoint& p : {QPoint(0, h / 2), QPoint(w - 1, h / 2), QPoint(w / 2, 0), QPoint(w / 2, h - 1)})
            EXPECT_EQ(image.pixel(p), edge.rgb()) << p.x() << "," << p.y();
        EXPECT_NE(image.pixel(1, h / 2), edge.rgb());
    }
    settings.setTheme(chosen);
    // The edges still resize the window.
    EXPECT_EQ(window->edgesAt({0, window->height() / 2}), Qt::LeftEdge);
}

TEST(WindowController, LinuxKeysForFullScreenAndTextSize)
{
    Shell shell;
    Document* document = openText(shell, "linux-keys", "Draft");
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    Settings& settings = Settings::shared();
    settings.setFontSize(16.0);

    // Ctrl+= makes the text bigger, as Ctrl++ does.
    QTest::keyClick(editor, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(settings.stylesheet().base.size, 17.0);
    QTest::keyClick(editor, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(settings.stylesheet().base.size, 18.0);
    EXPECT_EQ(textOf(document), QStringLiteral("Draft"));

    // F11 goes into full screen and out again; so does the menu's own key.
    QTest::keyClick(editor, Qt::Key_F11);
    EXPECT_TRUE(window->window()->isFullScreen());
    QTest::keyClick(editor, Qt::Key_F11);
    EXPECT_FALSE(window->window()->isFullScreen());
    QTest::keyClick(editor, Qt::Key_F, Qt::ControlModifier | Qt::MetaModifier);
    EXPECT_TRUE(window->window()->isFullScreen());
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(window->window()->isFullScreen());
    settings.setFontSize(*MarkdownStylesheet::defaultStylesheet().base.size);
}

TEST(WindowController, FullScreenKeepsTheTextWhereItWas)
{
    Shell shell;
    QByteArray text;
    for (int i = 0; i < 300; ++i) text += "Line " + QByteArray::number(i) + " of a long text.\n";
    Document* document = openText(shell, "full-screen", text);
    WindowController* window = windowOf(document);
    window->window()->setGeometry(40, 40, 700, 500);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    const auto caretTop = [&] { return editor->cursorRect().top(); };
    const auto lineAt = [&](int y) {
        const int at = editor->cursorForPosition(QPoint(editor->viewport()->width() / 2, y)).position();
        return textOf(document).left(at).count(u'\n');
    };

    // Near the start: the first lines in view, the caret a few lines down.
    editor->setSelectedRange(Range(textOf(document).indexOf("Line 4 "), 0));
    editor->verticalScrollBar()->setValue(0);
    const int top = caretTop();
    const int firstLine = lineAt(70);
    window->window()->showFullScreen();
    QTest::qWait(0);
    ASSERT_TRUE(window->window()->isFullScreen());
    // The inset lets the first line reach the middle of the screen, but
    // the text does not move to get there: no blank half.
    EXPECT_GE(editor->mirror().rootFrameMargins().top(), window->window()->screen()->geometry().height() / 2 - 1);
    EXPECT_NEAR(caretTop(), top, 1);
    EXPECT_EQ(lineAt(70), firstLine);
    // Typing moves nothing either.
    QTest::keyClicks(editor, "a");
    EXPECT_NEAR(caretTop(), top, 1);

    // Further down, leaving full screen keeps the caret's line where it was
    // instead of putting it at the top.
    editor->setSelectedRange(Range(textOf(document).indexOf("Line 150 "), 0));
    editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->value() + caretTop() - 300);
    ASSERT_NEAR(caretTop(), 300, 1);
    window->window()->showNormal();
    QTest::qWait(0);
    ASSERT_FALSE(window->window()->isFullScreen());
    EXPECT_DOUBLE_EQ(editor->mirror().rootFrameMargins().top(), 60.0);
    EXPECT_NEAR(caretTop(), 300, 1);
}

TEST(WindowController, APlaceFarDownComesBackWhereItWasWhileTheTextIsStillMeasured)
{
    // Headings and paragraphs of wide letters: taller than a layout
    // estimates before it has measured them.
    QByteArray text;
    for (int i = 0; i < 3000; ++i)
        text += "## Part " + QByteArray::number(i) + "\n\n" + QByteArray("WWWWWWW MMMMMMM ").repeated(12) + "\n\n";
    Shell shell;
    Document* measured = openText(shell, "place-kept", text);
    WindowController* window = windowOf(measured);
    window->window()->resize(900, 600);
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    qobject_cast<EditorLayout*>(editor->document()->documentLayout())->layoutEverything();
    // The end of the text in view, the caret a little above it.
    editor->setSelectedRange(Range(textOf(measured).indexOf("## Part 2998\n"), 0));
    editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const int top = editor->cursorForPosition(QPoint(0, 0)).position();
    const QVariantMap state = window->restorableState();
    ASSERT_GT(top, textOf(measured).indexOf("## Part 2990\n"));

    // The same text read into a window already on screen: measured from
    // scratch, by estimates first.
    Document* fresh = openText(shell, "place-restored", "Short.");
    WindowController* other = windowOf(fresh);
    other->window()->resize(900, 600);
    ASSERT_TRUE(activate(other));
    ASSERT_TRUE(fresh->data().readDocument(text));
    TextView* view = other->documentViewController()->textView();
    auto* layout = qobject_cast<EditorLayout*>(view->document()->documentLayout());
    ASSERT_FALSE(layout->isLaidOut()) << "the text was measured before the place could be put back";
    other->restoreState(state);
    const auto topOf = [&] { return view->cursorForPosition(QPoint(0, 0)).position(); };
    EXPECT_EQ(topOf(), top);
    ASSERT_TRUE(QTest::qWaitFor([&] { return layout->isLaidOut(); }, test::patience));
    QCoreApplication::processEvents();
    EXPECT_EQ(topOf(), top);
    EXPECT_EQ(view->selectedRange(), editor->selectedRange());
}

TEST(WindowController, LibraryItemsFollowTheLibraryShownAndTheDocument)
{
    Shell shell;
    const QString folder = freshDirectory("Shelf");
    ASSERT_TRUE(QDir().mkpath(folder + "/drafts/old"));
    writeFile(folder + "/drafts/old/kept.md", "Kept");
    Document* outside = openText(shell, "outside", "Words");
    WindowController* window = windowOf(outside);
    ASSERT_TRUE(window);
    MenuItem create({}, Command::makeLibraryDocument);
    MenuItem search({}, Command::findInLibrary);
    MenuItem move({}, Command::moveToLibrary);
    MenuItem link({}, Command::toggleLibraryLinked);
    // As the window's own commands: the focus is not in the library pane.
    const auto validate = [](WindowController* w, MenuItem& item) {
        return ActionDispatcher::instance().validateItem(item, w->window());
    };
    const auto quoted = [](const QString& name) { return string::quoted(name); };
    const QString shelf = QFileInfo(folder).fileName();

    // No library at all: creating and searching are disabled, not hidden;
    // with the pane hidden, moving and linking are hidden.
    LibraryController& libraries = LibraryController::shared();
    ASSERT_TRUE(libraries.libraries().empty());
    EXPECT_EQ(validate(window, create), false);
    EXPECT_EQ(validate(window, search), false);
    EXPECT_FALSE(create.isHidden());
    validate(window, move);
    validate(window, link);
    EXPECT_TRUE(move.isHidden());
    EXPECT_TRUE(link.isHidden());

    // The pane shows a folder that is a library of this run.
    window->setLibraryVisible(true);
    const std::shared_ptr<Library> library = libraries.openLibrary(folder);
    window->libraryPane().setLibrary(library);
    // The folder is read on another thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->libraryPane().isLoadingTree(); }, test::patience));
    ASSERT_TRUE(library->fileController() && library->fileController()->rootFile());
    EXPECT_EQ(window->shownLibrary(), library);
    EXPECT_EQ(validate(window, create), true);
    validate(window, link);
    EXPECT_FALSE(link.isHidden());
    EXPECT_EQ(link.title(), localizedFormat(QStringLiteral("menu.library.link.on"), {quoted(shelf)}));
    validate(window, move);
    EXPECT_FALSE(move.isHidden());
    EXPECT_EQ(move.title(), localizedFormat(QStringLiteral("menu.library.moveInto"), {quoted("outside.txt"), quoted(shelf)}));
    ASSERT_TRUE(libraries.toggleLinked(*library));
    validate(window, link);
    EXPECT_EQ(link.title(), localizedFormat(QStringLiteral("menu.library.link.off"), {quoted(shelf)}));

    // A document already in the library, however deep, is not offered; nor
    // is one without a file.
    Document* kept = shell.open(folder + "/drafts/old/kept.md");
    WindowController* keptWindow = windowOf(kept);
    ASSERT_TRUE(keptWindow);
    keptWindow->setLibraryVisible(true);
    keptWindow->libraryPane().setLibrary(library);
    validate(keptWindow, move);
    EXPECT_TRUE(move.isHidden());
    auto untitled = shell.controller->openUntitledDocument(true);
    ASSERT_TRUE(untitled);
    WindowController* untitledWindow = windowOf(qobject_cast<Document*>(*untitled));
    untitledWindow->setLibraryVisible(true);
    untitledWindow->libraryPane().setLibrary(library);
    move.setHidden(false);
    validate(untitledWindow, move);
    EXPECT_TRUE(move.isHidden());

    // The pane hidden again: both go.
    window->setLibraryVisible(false);
    validate(window, move);
    validate(window, link);
    EXPECT_TRUE(move.isHidden());
    EXPECT_TRUE(link.isHidden());
    ASSERT_TRUE(libraries.toggleLinked(*library)); // unlinked: out of the list
}

// A name with ":" on disk reads with "/" wherever it is shown, as the
// library's rows show it; a "/" typed in a new name is stored as ":".
TEST(WindowController, AFileIsNamedAlikeInTheTitleTheMenusAndTheMessages)
{
    Shell shell;
    const QString dir = freshDirectory("colon-name");
    writeFile(dir + "/My:Notes.txt", "Notes\n");
    Document* document = shell.open(dir + "/My:Notes.txt");
    ASSERT_TRUE(document);
    WindowController* window = windowOf(document);
    ASSERT_TRUE(activate(window));
    EXPECT_EQ(window->window()->windowTitle(), "My/Notes.txt");

    ActionDispatcher& dispatcher = ActionDispatcher::instance();
    MainMenu& menu = *shell.controller->mainMenu();
    menu.install();
    const auto titles = [&](Menu& m) {
        dispatcher.menuWillOpen(m);
        QStringList shown;
        for (const auto& item : m.items()) shown << item->title();
        dispatcher.menuDidClose(m);
        return shown;
    };
    EXPECT_TRUE(titles(menu.topLevelMenu(MainMenu::window)).contains("My/Notes.txt"));
    Menu* recent = nullptr;
    for (const auto& item : menu.topLevelMenu(MainMenu::file).items())
        if (item->submenu() && item->title() == localized("menu.file.openRecent")) recent = item->submenu();
    ASSERT_TRUE(recent);
    EXPECT_EQ(titles(*recent).value(0), "My/Notes.txt");

    // A message names it the same way: here, a read that fails.
    const QString pipe = dir + "/Pipe:line.txt";
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    shell.controller->openDocuments({pipe});
    ASSERT_FALSE(shell.dialogs.errors.isEmpty());
    EXPECT_TRUE(shell.dialogs.errors.last().contains("Pipe/line.txt")) << shell.dialogs.errors.last().toStdString();

    // Renamed as shown: the name kept as it was moves nothing; a "/" typed
    // goes to disk as ":".
    shell.dialogs.newName = "My/Notes.txt";
    EXPECT_TRUE(document->rename().ok());
    EXPECT_EQ(document->filePath(), dir + "/My:Notes.txt");
    shell.dialogs.newName = "My/Notes 2.txt";
    ASSERT_TRUE(document->rename().ok());
    EXPECT_EQ(document->filePath(), dir + "/My:Notes 2.txt");
    EXPECT_EQ(window->window()->windowTitle(), "My/Notes 2.txt");
}
