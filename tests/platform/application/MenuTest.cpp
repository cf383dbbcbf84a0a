#include "platform/application/ActionDispatcher.h"
#include "platform/application/CommandTable.h"
#include "platform/application/Menu.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>

using namespace lumora;

namespace {

// A member of the responder chain that records the commands it was asked
// to carry out.
class Recorder {
public:
    explicit Recorder(QList<Command> commands) : m_handled(std::move(commands)) {}
    virtual ~Recorder() = default;
    bool handles(Command command) const { return m_handled.contains(command); }
    bool validate(Command command, MenuItem& item) const
    {
        if (command == retitles) item.setTitle(QStringLiteral("Retitled"));
        return !disabled.contains(command);
    }

    QList<Command> performed;
    QList<Command> disabled;
    // The command whose item it retitles when validating it.
    Command retitles = Command::none;

private:
    QList<Command> m_handled;
};

class RecordingObject : public QObject, public Recorder {
public:
    using Recorder::Recorder;
};

// A window's controller that leads to its document.
class WindowRecorder : public RecordingObject {
public:
    using RecordingObject::RecordingObject;
    RecordingObject* document() const { return m_document; }
    void setDocument(RecordingObject* document) { m_document = document; }

private:
    RecordingObject* m_document = nullptr;
};

// A focusable widget that records the commands and the keys it gets.
class KeyView : public QWidget, public Recorder {
public:
    explicit KeyView(QList<Command> commands) : Recorder(std::move(commands)) { setFocusPolicy(Qt::StrongFocus); }
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() < Qt::Key_Shift || event->key() > Qt::Key_Meta) keys << event->key();
    }
    bool focusNextPrevChild(bool) override { return false; } // Tab stays here
};

// The command table of these tests: every command goes to the recorders
// that handle it (a window's controller's document after the controller),
// undo to Qt's text fields too, and the windows menu's items to the
// application.
struct RecorderTable {
    CommandTable table;

    RecorderTable()
    {
        for (int i = 1; i < commandCount; ++i) {
            const Command command = Command(i);
            const auto record = [command](Recorder& recorder) { recorder.performed << command; };
            const auto handles = [command](const Recorder& recorder) { return recorder.handles(command); };
            const auto validate = [command](Recorder& recorder, MenuItem& item) {
                return recorder.validate(command, item);
            };
            table.add(command, "")
                .handledBy(on<Recorder>(record).servesIf(handles).validatedBy(validate))
                .handledBy(onVia<Recorder>(&WindowRecorder::document, record).servesIf(handles).validatedBy(validate));
        }
        table.bind(Command::undo,
                   on<QWidget>(&QtEditCommands::undo).servesIf(&QtEditCommands::isEdit).enabledIf(&QtEditCommands::canUndo));
        table.bind(Command::makeKeyAndOrderFront, on<ApplicationCommands>(&ApplicationCommands::orderFront)
                                                      .validatedBy(&ApplicationCommands::validateWindowItem));
        ActionDispatcher::instance().setCommandTable(&table);
    }
};

// Leaves the process-wide dispatcher as it found it.
struct DispatcherReset {
    QList<QObject*> targets;
    ~DispatcherReset()
    {
        ActionDispatcher::instance().setMainMenu(nullptr);
        ActionDispatcher::instance().setCommandTable(nullptr);
        for (QObject* target : targets) ActionDispatcher::instance().removeApplicationTarget(target);
    }
    void addApplicationTarget(QObject* target)
    {
        ActionDispatcher::instance().addApplicationTarget(target);
        targets << target;
    }
};

// Commands the tests use as stand-ins: hidden without a key, a bigger text,
// a jump and its alternate.
constexpr Command secret = Command::centerSelectionInVisibleArea;
constexpr Command bigger = Command::increaseFontSize;
constexpr Command jump = Command::jumpToPreviousParagraph;
constexpr Command jumpSelecting = Command::selectUntilPreviousParagraph;

std::unique_ptr<Menu> editMenu()
{
    auto menu = std::make_unique<Menu>(QStringLiteral("Edit"));
    menu->addItem(MenuItem::make({}, Command::undo, QStringLiteral("z"), commandKey));
    menu->addItem(MenuItem::make(QStringLiteral("Delete"), Command::deleteSelection, QString(QChar(0x08))));
    menu->addItem(MenuItem::make(QStringLiteral("Indent"), Command::insertTab, QString(QChar(0x09))));
    menu->addItem(
        MenuItem::make(QStringLiteral("Outdent"), Command::insertBacktab, QString(QChar(0x09)), shiftKey));
    menu->addItem(MenuItem::separator());
    auto tab = MenuItem::make(QStringLiteral("New Tab"), Command::newTab, QStringLiteral("t"), commandKey);
    tab->setHidden(true);
    tab->setAllowsKeyEquivalentWhenHidden(true);
    menu->addItem(std::move(tab));
    auto hidden = MenuItem::make(QStringLiteral("Secret"), secret, QStringLiteral("j"), commandKey);
    hidden->setHidden(true);
    menu->addItem(std::move(hidden));
    menu->addItem(MenuItem::make(QStringLiteral("Bigger"), bigger, QStringLiteral("+"), commandKey));
    menu->addItem(MenuItem::make(QStringLiteral("Jump"), jump, QString(QChar(0xF700)), optionKey));
    menu->addItem(MenuItem::make(QStringLiteral("Select"), jumpSelecting, QString(QChar(0xF700)), optionKey | shiftKey, true));
    auto bar = std::make_unique<Menu>();
    bar->addItem(MenuItem::withSubmenu(std::move(menu)));
    return bar;
}

} // namespace

TEST(Menu, KeyEquivalentsMapCommandToCtrlOptionToAltAndNeverClaimTypingKeys)
{
    struct Case {
        QString key;
        KeyModifierMask mask;
        std::optional<QKeyCombination> expected;
    };
    const Case cases[] = {
        {"n", commandKey, QKeyCombination(Qt::ControlModifier, Qt::Key_N)},
        {"h", optionKey | commandKey, QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_H)},
        {"f", controlKey | commandKey, QKeyCombination(Qt::MetaModifier | Qt::ControlModifier, Qt::Key_F)},
        {"N", commandKey, QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_N)},
        {QString(QChar(0x0A)), commandKey, QKeyCombination(Qt::ControlModifier, Qt::Key_Return)},
        {QString(QChar(0xF702)), optionKey | commandKey,
         QKeyCombination(Qt::AltModifier | Qt::ControlModifier, Qt::Key_Left)},
        {"?", commandKey, QKeyCombination(Qt::ControlModifier, Qt::Key_Question)},
        {QString(QChar(0x08)), 0, std::nullopt},
        {QString(QChar(0x09)), 0, std::nullopt},
        {QString(QChar(0x09)), shiftKey, std::nullopt},
        {QString(QChar(0x08)), commandKey, QKeyCombination(Qt::ControlModifier, Qt::Key_Backspace)},
        {"", commandKey, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(menuShortcut(c.key, c.mask), c.expected) << c.key.toStdString();

    const auto plus = *menuShortcut("+", commandKey);
    EXPECT_TRUE(keyEventMatches(QKeyEvent(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier), plus));
    EXPECT_TRUE(keyEventMatches(QKeyEvent(QEvent::KeyPress, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier), plus));
    const auto n = *menuShortcut("n", commandKey);
    EXPECT_FALSE(keyEventMatches(QKeyEvent(QEvent::KeyPress, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier), n));
    EXPECT_FALSE(keyEventMatches(QKeyEvent(QEvent::KeyPress, Qt::Key_N, Qt::NoModifier), n));
    const auto enter = *menuShortcut(QString(QChar(0x0A)), commandKey);
    EXPECT_TRUE(keyEventMatches(QKeyEvent(QEvent::KeyPress, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier), enter));
}

TEST(Menu, TheQtViewFollowsTheModelAndRegistersNoShortcut)
{
    DispatcherReset reset;
    auto bar = editMenu();
    Menu& edit = *bar->itemAt(0)->submenu();
    QMenu* view = edit.qMenu();
    ASSERT_EQ(view->actions().size(), edit.count());

    MenuItem& deleteItem = *edit.itemAt(1);
    deleteItem.setTitle(QStringLiteral("Cut & Paste"));
    deleteItem.setState(MenuItem::State::on);
    QAction* action = deleteItem.qAction();
    EXPECT_TRUE(action->text().startsWith(QStringLiteral("Cut && Paste\t")));
    EXPECT_TRUE(action->isChecked());
    EXPECT_FALSE(edit.itemAt(5)->qAction()->isVisible()); // hidden
    EXPECT_FALSE(edit.itemAt(9)->qAction()->isVisible()); // an alternate stands back
    for (QAction* a : view->actions()) EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();

    // While the menu is open, holding Shift shows the alternate instead.
    ActionDispatcher::instance().setMainMenu(bar.get()); // installs the key filter
    ActionDispatcher::instance().menuWillOpen(edit);
    QWidget anyWidget;
    QKeyEvent shiftDown(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    QApplication::sendEvent(&anyWidget, &shiftDown);
    EXPECT_FALSE(edit.itemAt(8)->qAction()->isVisible());
    EXPECT_TRUE(edit.itemAt(9)->qAction()->isVisible());
    QKeyEvent shiftUp(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier);
    QApplication::sendEvent(&anyWidget, &shiftUp);
    EXPECT_TRUE(edit.itemAt(8)->qAction()->isVisible());
    EXPECT_FALSE(edit.itemAt(9)->qAction()->isVisible());
    ActionDispatcher::instance().menuDidClose(edit);

    edit.removeItemAt(0);
    edit.insertItem(MenuItem::make(QStringLiteral("First")), 0);
    EXPECT_EQ(view->actions().size(), edit.count());
    EXPECT_EQ(view->actions().first()->text(), QStringLiteral("First"));
}

TEST(Menu, TheChainRunsFromTheFocusUpToTheDocumentController)
{
    DispatcherReset reset;
    RecorderTable commands;
    auto& dispatcher = ActionDispatcher::instance();
    QWidget window;
    auto* pane = new QWidget(&window);
    auto* view = new KeyView({Command::copy});
    view->setParent(pane);
    RecordingObject paneController({Command::copy, Command::exportAsHTML});
    RecordingObject document({Command::saveDocument, Command::toggleDocumentLocked});
    WindowRecorder windowController({Command::saveDocument, Command::performClose});
    windowController.setDocument(&document);
    RecordingObject documentController({Command::newDocument, Command::saveDocument});
    dispatcher.setViewController(pane, &paneController);
    dispatcher.setViewController(&window, &windowController);
    reset.addApplicationTarget(&documentController);

    const auto chain = dispatcher.responderChain(view);
    const std::vector<QObject*> expected{view, pane, &paneController, &window, &windowController,
                                         &dispatcher.applicationCommands(), &documentController};
    EXPECT_EQ(chain, expected);
    const auto target = [&](Command command) { return dispatcher.targetFor(command, view).object; };
    EXPECT_EQ(target(Command::copy), static_cast<Recorder*>(view));
    EXPECT_EQ(target(Command::saveDocument), static_cast<Recorder*>(&windowController));
    EXPECT_EQ(target(Command::toggleDocumentLocked), static_cast<Recorder*>(&document));
    EXPECT_EQ(target(Command::newDocument), static_cast<Recorder*>(&documentController));
    EXPECT_FALSE(dispatcher.canSend(Command::openInFinder, view));
    ASSERT_TRUE(dispatcher.send(Command::toggleDocumentLocked, nullptr, view));
    EXPECT_EQ(document.performed, QList<Command>{Command::toggleDocumentLocked});

    // Validation: nothing to carry it out disables, or hides when the item
    // says so; the binding decides otherwise; untitled standard items get a
    // title.
    MenuItem unhandled({}, Command::openInFinder);
    MenuItem optional({}, Command::startSpeaking);
    optional.setHidesWhenUnhandled(true);
    MenuItem retitled({}, Command::toggleDocumentLocked);
    document.retitles = Command::toggleDocumentLocked;
    MenuItem undo({}, Command::undo);
    EXPECT_FALSE(dispatcher.validateItem(unhandled, view));
    EXPECT_FALSE(unhandled.isHidden());
    EXPECT_FALSE(dispatcher.validateItem(optional, view));
    EXPECT_TRUE(optional.isHidden());
    EXPECT_TRUE(dispatcher.validateItem(retitled, view));
    EXPECT_EQ(retitled.title(), QStringLiteral("Retitled"));
    dispatcher.validateItem(undo, view);
    EXPECT_EQ(undo.title(), QStringLiteral("Undo"));
    windowController.disabled << Command::performClose;
    MenuItem close({}, Command::performClose);
    EXPECT_FALSE(dispatcher.validateItem(close, view));

    // A controller that goes away leaves the chain.
    {
        RecordingObject passing({Command::printDocument});
        dispatcher.setViewController(pane, &passing);
        EXPECT_EQ(target(Command::printDocument), static_cast<Recorder*>(&passing));
    }
    EXPECT_FALSE(dispatcher.canSend(Command::printDocument, view));
}

TEST(Menu, KeyEquivalentsReachTheFirstResponderAndTypingKeysReachTheWidget)
{
    DispatcherReset reset;
    RecorderTable commands;
    auto& dispatcher = ActionDispatcher::instance();
    auto bar = editMenu();
    dispatcher.setMainMenu(bar.get());
    RecordingObject documentController({secret, Command::undo, bigger});
    reset.addApplicationTarget(&documentController);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new KeyView({Command::undo, Command::deleteSelection, Command::insertTab, Command::insertBacktab, jump, jumpSelecting});
    auto* field = new QLineEdit(&window);
    layout->addWidget(view);
    layout->addWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->performed, QList<Command>{Command::undo});
    EXPECT_TRUE(view->keys.isEmpty());

    // Backspace, Tab and Shift-Tab are the editor's own keys.
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Tab);
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(view->keys, (QList<int>{Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Backtab}));
    EXPECT_EQ(view->performed, QList<Command>{Command::undo});

    // A hidden item keeps its key only when it says so (MainMenu shows the
    // ones that do).
    QTest::keyClick(view, Qt::Key_J, Qt::ControlModifier);
    EXPECT_TRUE(documentController.performed.isEmpty());
    EXPECT_EQ(view->keys.last(), Qt::Key_J);

    // An item and its alternate both keep their keys.
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->performed, (QList<Command>{Command::undo, jump, jumpSelecting}));

    // "+" with or without Shift; a disabled command takes its key and does nothing.
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(documentController.performed.last(), bigger);
    documentController.disabled << bigger;
    const int keysBefore = int(view->keys.size());
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(documentController.performed.count(bigger), 1);
    EXPECT_EQ(view->keys.size(), keysBefore);

    // A line edit of Qt's own keeps its editing keys: undo goes to the
    // field, not to the document behind it.
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("abc"));
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(documentController.performed.count(Command::undo), 0);
    EXPECT_NE(field->text(), QStringLiteral("ab"));
}

TEST(Menu, HoldingAltInAnOpenMenuShowsItsAlternates)
{
    DispatcherReset reset;
    RecorderTable commands;
    auto& dispatcher = ActionDispatcher::instance();
    auto bar = editMenu();
    dispatcher.setMainMenu(bar.get());
    RecordingObject documentController({jump, jumpSelecting, Command::toggleLibraryView, Command::showAndFocusLibraryView});
    reset.addApplicationTarget(&documentController);
    Menu& menu = *bar->itemAt(0)->submenu();
    MenuItem* library = menu.addItem(
        MenuItem::make(QStringLiteral("Library"), Command::toggleLibraryView, QStringLiteral("l"), commandKey));
    MenuItem* focus = menu.addItem(MenuItem::make(QStringLiteral("Focus Library"), Command::showAndFocusLibraryView,
                                                  QStringLiteral("l"), optionKey | commandKey, true));

    QWidget window;
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QMenu* shown = menu.qMenu();
    shown->popup(window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    EXPECT_TRUE(library->qAction()->isVisible());
    EXPECT_FALSE(focus->qAction()->isVisible());

    // Alt pressed and released with the menu open: the menu stays, and
    // shows the alternate while Alt is down.
    QTest::keyPress(shown, Qt::Key_Alt);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_FALSE(library->qAction()->isVisible());
    EXPECT_TRUE(focus->qAction()->isVisible());
    QTest::keyRelease(shown, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(library->qAction()->isVisible());
    EXPECT_FALSE(focus->qAction()->isVisible());

    // Shift does the same for the items whose alternate adds Shift.
    MenuItem* jumpItem = menu.itemWithCommand(jump);
    MenuItem* selectItem = menu.itemWithCommand(jumpSelecting);
    QTest::keyPress(shown, Qt::Key_Alt);
    QTest::keyPress(shown, Qt::Key_Shift, Qt::AltModifier);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_FALSE(jumpItem->qAction()->isVisible());
    EXPECT_TRUE(selectItem->qAction()->isVisible());
    QTest::keyRelease(shown, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyRelease(shown, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(jumpItem->qAction()->isVisible());
    // Escape still closes it.
    QTest::keyClick(shown, Qt::Key_Escape);
    EXPECT_FALSE(shown->isVisible());
}

TEST(Menu, TheWindowsMenuListsTheOpenWindowsWithTheKeyWindowChecked)
{
    DispatcherReset reset;
    RecorderTable commands;
    auto& dispatcher = ActionDispatcher::instance();
    Menu windows(QStringLiteral("Window"));
    windows.addItem(MenuItem::make(QStringLiteral("Minimize"), Command::performMiniaturize));
    dispatcher.setWindowsMenu(&windows);
    const auto listed = [&] {
        dispatcher.menuWillOpen(windows);
        dispatcher.menuDidClose(windows);
        QStringList titles;
        for (const auto& item : windows.items())
            titles << (item->isSeparator() ? QStringLiteral("-")
                                           : item->title() + (item->state() == MenuItem::State::on ? "*" : ""));
        return titles;
    };

    QWidget first;
    first.setWindowTitle(QStringLiteral("Notes.md"));
    QWidget second;
    second.setWindowTitle(QStringLiteral("Letter.md[*]"));
    QWidget untitled; // nothing to name it by
    QWidget dialog(&first, Qt::Dialog);
    dialog.setWindowTitle(QStringLiteral("A question"));
    for (QWidget* w : {&first, &second, &untitled}) w->show();
    dialog.show();
    QApplication::setActiveWindow(&first);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&first));
    EXPECT_EQ(listed(), (QStringList{"Minimize", "-", "Notes.md*", "Letter.md"}));

    // Choosing a window brings it forward; the list is made again each time.
    MenuItem* letter = windows.itemAt(3);
    letter->qAction()->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    EXPECT_EQ(listed(), (QStringList{"Minimize", "-", "Notes.md", "Letter.md*"}));
    // A dialog in front leaves its window checked; minimised windows stay.
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_EQ(listed(), (QStringList{"Minimize", "-", "Notes.md*", "Letter.md"}));
    second.setWindowTitle(QStringLiteral("Letter to Ann.md"));
    second.showMinimized();
    first.close();
    EXPECT_EQ(listed().mid(0, 2), (QStringList{"Minimize", "-"}));
    EXPECT_TRUE(listed().value(2).startsWith(QStringLiteral("Letter to Ann.md")));
    EXPECT_EQ(listed().size(), 3);
    second.close();
    EXPECT_EQ(listed(), QStringList{"Minimize"});
    dispatcher.setWindowsMenu(nullptr);
}

TEST(Menu, EachItemGetsALetterOfItsOwnWhenTheMenuOpens)
{
    DispatcherReset reset;
    RecorderTable commands;
    auto& dispatcher = ActionDispatcher::instance();
    constexpr Command font = Command::setFontFamily;
    RecordingObject controller({Command::toggleInfoView, Command::toggleLibraryView, Command::toggleOutlineView,
                                Command::togglePreview, Command::editThemes, bigger, Command::toggleFullScreen, font});
    reset.addApplicationTarget(&controller);
    auto bar = std::make_unique<Menu>();
    auto view = std::make_unique<Menu>(QStringLiteral("View"));
    for (const auto& [title, command] : std::initializer_list<std::pair<const char*, Command>>{
             {"Show Statistics", Command::toggleInfoView}, {"Show Library", Command::toggleLibraryView},
             {"Show Outline", Command::toggleOutlineView}, {"Preview", Command::togglePreview},
             {"Theme", Command::editThemes}, {"Text Size", bigger}, {"Full Screen", Command::toggleFullScreen},
             {"Font", font}})
        view->addItem(MenuItem::make(QString::fromUtf8(title), command));
    view->addItem(MenuItem::separator());
    auto hidden = MenuItem::make(QStringLiteral("Secret"), secret);
    hidden->setHidden(true);
    view->addItem(std::move(hidden));
    view->addItem(MenuItem::make(QStringLiteral("Copy & Paste"), font));
    view->addItem(MenuItem::make(QStringLiteral("Heading")));
    view->addItem(MenuItem::make(QStringLiteral("Select All"), font, QStringLiteral("a"), commandKey));
    view->addItem(MenuItem::withSubmenu(std::make_unique<Menu>(QStringLiteral("Speech"))));
    auto names = std::make_unique<Menu>(QStringLiteral("Names"));
    names->setMnemonicStyle(Menu::MnemonicStyle::firstLetters);
    for (const char* name : {"Noto Sans", "DejaVu Sans", "Nimbus Mono"})
        names->addItem(MenuItem::make(QString::fromUtf8(name), font));
    bar->addItem(MenuItem::withSubmenu(std::move(view)));
    bar->addItem(MenuItem::withSubmenu(std::move(names)));
    bar->addItem(MenuItem::withSubmenu(std::make_unique<Menu>(QStringLiteral("Vista"))));

    // The menu bar: one letter each, first letters where they are free.
    QWidget window;
    QMenuBar* menuBar = bar->makeMenuBar(&window);
    QStringList barTitles;
    for (QAction* action : menuBar->actions()) barTitles << action->text();
    EXPECT_EQ(barTitles, (QStringList{"&View", "&Names", "V&ista"}));

    // Each item its own letter, in order: the title's first letter, else
    // another word's, else any letter; submenus choose first, items with a
    // key of their own last; hidden items and headings take none; "&" stays
    // a character.
    Menu& menu = *bar->itemAt(0)->submenu();
    dispatcher.menuWillOpen(menu);
    QStringList titles;
    for (const auto& item : menu.items())
        if (!item->isSeparator()) titles << item->qAction()->text();
    EXPECT_EQ(titles, (QStringList{"S&how Statistics", "Show &Library", "Show &Outline", "&Preview", "&Theme",
                                   "T&ext Size", "&Full Screen", "Fo&nt", "Secret", "&Copy && Paste", "Heading",
                                   "Select &All\tCtrl+A", "&Speech"}));
    dispatcher.menuDidClose(menu);

    // A retitled item gets a letter again when its menu next opens.
    menu.itemAt(1)->setTitle(QStringLiteral("Hide Library"));
    EXPECT_EQ(menu.itemAt(1)->qAction()->text(), QStringLiteral("Hide Library"));
    dispatcher.menuWillOpen(menu);
    EXPECT_EQ(menu.itemAt(1)->qAction()->text(), QStringLiteral("Hide &Library"));
    dispatcher.menuDidClose(menu);

    // A list of names: each its first letter, so that a letter steps
    // through the names that start with it.
    Menu& list = *bar->itemAt(1)->submenu();
    dispatcher.menuWillOpen(list);
    QStringList listTitles;
    for (const auto& item : list.items()) listTitles << item->qAction()->text();
    EXPECT_EQ(listTitles, (QStringList{"&Noto Sans", "&DejaVu Sans", "&Nimbus Mono"}));
    dispatcher.menuDidClose(list);

    // The letter chooses the item in the open menu.
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QMenu* shown = menu.qMenu();
    shown->popup(window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    QTest::keyClick(shown, Qt::Key_O);
    EXPECT_EQ(controller.performed, QList<Command>{Command::toggleOutlineView});
    EXPECT_FALSE(shown->isVisible());
}
