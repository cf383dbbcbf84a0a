#include "platform/application/ActionDispatcher.h"
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

// A responder that records what it was asked to do.
class Recorder : public Responder {
public:
    explicit Recorder(QStringList actions) : m_handled(std::move(actions)) {}
    bool respondsTo(const QString& action) const override { return m_handled.contains(action); }
    void perform(const QString& action, MenuItem*) override { performed << action; }
    std::optional<bool> validate(MenuItem& item) override
    {
        if (disabled.contains(item.action())) return false;
        if (item.action() == QLatin1String("retitle:")) item.setTitle(QStringLiteral("Retitled"));
        return std::nullopt;
    }
    Responder* nextResponder() const override { return next; }

    QStringList performed;
    QStringList disabled;
    Responder* next = nullptr;

private:
    QStringList m_handled;
};

// A focusable widget that is also a responder and records the keys it gets.
class KeyView : public QWidget, public Recorder {
public:
    explicit KeyView(QStringList actions) : Recorder(std::move(actions)) { setFocusPolicy(Qt::StrongFocus); }
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() < Qt::Key_Shift || event->key() > Qt::Key_Meta) keys << event->key();
    }
    bool focusNextPrevChild(bool) override { return false; } // Tab stays here
};

// Leaves the process-wide dispatcher as it found it.
struct DispatcherReset {
    ~DispatcherReset()
    {
        ActionDispatcher::instance().setMainMenu(nullptr);
        ActionDispatcher::instance().setDocumentController(nullptr);
        ActionDispatcher::instance().setApplicationResponder(nullptr);
    }
};

std::unique_ptr<Menu> editMenu()
{
    auto menu = std::make_unique<Menu>(QStringLiteral("Edit"));
    menu->addItem(MenuItem::make({}, QStringLiteral("undo:"), QStringLiteral("z"), commandKey));
    menu->addItem(MenuItem::make(QStringLiteral("Delete"), QStringLiteral("delete:"), QString(QChar(0x08))));
    menu->addItem(MenuItem::make(QStringLiteral("Indent"), QStringLiteral("insertTab:"), QString(QChar(0x09))));
    menu->addItem(
        MenuItem::make(QStringLiteral("Outdent"), QStringLiteral("insertBacktab:"), QString(QChar(0x09)), shiftKey));
    menu->addItem(MenuItem::separator());
    auto tab = MenuItem::make(QStringLiteral("New Tab"), QStringLiteral("newTab:"), QStringLiteral("t"), commandKey);
    tab->setHidden(true);
    tab->setAllowsKeyEquivalentWhenHidden(true);
    menu->addItem(std::move(tab));
    auto secret = MenuItem::make(QStringLiteral("Secret"), QStringLiteral("secret:"), QStringLiteral("j"), commandKey);
    secret->setHidden(true);
    menu->addItem(std::move(secret));
    menu->addItem(MenuItem::make(QStringLiteral("Bigger"), QStringLiteral("bigger:"), QStringLiteral("+"), commandKey));
    menu->addItem(MenuItem::make(QStringLiteral("Jump"), QStringLiteral("jump:"), QString(QChar(0xF700)), optionKey));
    menu->addItem(MenuItem::make(QStringLiteral("Select"), QStringLiteral("select:"), QString(QChar(0xF700)),
                                 optionKey | shiftKey, true));
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
    auto& dispatcher = ActionDispatcher::instance();
    QWidget window;
    auto* pane = new QWidget(&window);
    auto* view = new KeyView({"copy:"});
    view->setParent(pane);
    Recorder paneController({"copy:", "paneAction:"});
    Recorder document({"save:", "retitle:"});
    Recorder windowController({"save:", "close:"});
    windowController.next = &document;
    Recorder application({"terminate:"});
    Recorder documentController({"newDocument:", "save:"});
    dispatcher.setViewController(pane, &paneController);
    dispatcher.setViewController(&window, &windowController);
    dispatcher.setApplicationResponder(&application);
    dispatcher.setDocumentController(&documentController);

    const auto chain = dispatcher.responderChain(view);
    const std::vector<Responder*> expected{view, &paneController, &windowController, &document, &application,
                                           &documentController};
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(dispatcher.targetForAction("copy:", view), view);
    EXPECT_EQ(dispatcher.targetForAction("save:", view), &windowController);
    EXPECT_EQ(dispatcher.targetForAction("newDocument:", view), &documentController);
    EXPECT_EQ(dispatcher.targetForAction("nothing:", view), nullptr);

    // Validation: no responder disables, or hides when the item says so;
    // a responder decides otherwise; untitled standard items get a title.
    MenuItem unhandled({}, "nothing:");
    MenuItem optional({}, "speak:");
    optional.setHidesWhenUnhandled(true);
    MenuItem retitled({}, "retitle:");
    MenuItem undo({}, "undo:");
    EXPECT_FALSE(dispatcher.validateItem(unhandled, view));
    EXPECT_FALSE(unhandled.isHidden());
    EXPECT_FALSE(dispatcher.validateItem(optional, view));
    EXPECT_TRUE(optional.isHidden());
    EXPECT_TRUE(dispatcher.validateItem(retitled, view));
    EXPECT_EQ(retitled.title(), QStringLiteral("Retitled"));
    dispatcher.validateItem(undo, view);
    EXPECT_EQ(undo.title(), QStringLiteral("Undo"));
    windowController.disabled << "close:";
    MenuItem close({}, "close:");
    EXPECT_FALSE(dispatcher.validateItem(close, view));

    // A responder that goes away leaves the chain.
    {
        Recorder passing({"x:"});
        dispatcher.setViewController(pane, &passing);
        EXPECT_EQ(dispatcher.targetForAction("x:", view), &passing);
    }
    EXPECT_EQ(dispatcher.targetForAction("x:", view), nullptr);
}

TEST(Menu, KeyEquivalentsReachTheFirstResponderAndTypingKeysReachTheWidget)
{
    DispatcherReset reset;
    auto& dispatcher = ActionDispatcher::instance();
    auto bar = editMenu();
    dispatcher.setMainMenu(bar.get());
    Recorder documentController({"secret:", "undo:", "bigger:"});
    dispatcher.setDocumentController(&documentController);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new KeyView({"undo:", "delete:", "insertTab:", "insertBacktab:", "jump:", "select:"});
    auto* field = new QLineEdit(&window);
    layout->addWidget(view);
    layout->addWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->performed, QStringList{"undo:"});
    EXPECT_TRUE(view->keys.isEmpty());

    // Backspace, Tab and Shift-Tab are the editor's own keys.
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Tab);
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(view->keys, (QList<int>{Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Backtab}));
    EXPECT_EQ(view->performed, QStringList{"undo:"});

    // A hidden item keeps its key only when it says so (MainMenu shows the
    // ones that do).
    QTest::keyClick(view, Qt::Key_J, Qt::ControlModifier);
    EXPECT_TRUE(documentController.performed.isEmpty());
    EXPECT_EQ(view->keys.last(), Qt::Key_J);

    // An item and its alternate both keep their keys.
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->performed, (QStringList{"undo:", "jump:", "select:"}));

    // "+" with or without Shift; a disabled command takes its key and does nothing.
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(documentController.performed.last(), QStringLiteral("bigger:"));
    documentController.disabled << "bigger:";
    const int keysBefore = int(view->keys.size());
    QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(documentController.performed.count("bigger:"), 1);
    EXPECT_EQ(view->keys.size(), keysBefore);

    // A line edit of Qt's own keeps its editing keys: undo goes to the
    // field, not to the document behind it.
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("abc"));
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(documentController.performed.count("undo:"), 0);
    EXPECT_NE(field->text(), QStringLiteral("ab"));
}

TEST(Menu, HoldingAltInAnOpenMenuShowsItsAlternates)
{
    DispatcherReset reset;
    auto& dispatcher = ActionDispatcher::instance();
    auto bar = editMenu();
    dispatcher.setMainMenu(bar.get());
    Recorder documentController({"jump:", "select:", "library:", "focusLibrary:"});
    dispatcher.setDocumentController(&documentController);
    Menu& menu = *bar->itemAt(0)->submenu();
    MenuItem* library = menu.addItem(
        MenuItem::make(QStringLiteral("Library"), QStringLiteral("library:"), QStringLiteral("l"), commandKey));
    MenuItem* focus = menu.addItem(MenuItem::make(QStringLiteral("Focus Library"), QStringLiteral("focusLibrary:"),
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
    MenuItem* jump = menu.itemWithAction(QStringLiteral("jump:"));
    MenuItem* select = menu.itemWithAction(QStringLiteral("select:"));
    QTest::keyPress(shown, Qt::Key_Alt);
    QTest::keyPress(shown, Qt::Key_Shift, Qt::AltModifier);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_FALSE(jump->qAction()->isVisible());
    EXPECT_TRUE(select->qAction()->isVisible());
    QTest::keyRelease(shown, Qt::Key_Shift, Qt::AltModifier | Qt::ShiftModifier);
    QTest::keyRelease(shown, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_TRUE(jump->qAction()->isVisible());
    // Escape still closes it.
    QTest::keyClick(shown, Qt::Key_Escape);
    EXPECT_FALSE(shown->isVisible());
}

TEST(Menu, TheWindowsMenuListsTheOpenWindowsWithTheKeyWindowChecked)
{
    DispatcherReset reset;
    auto& dispatcher = ActionDispatcher::instance();
    Menu windows(QStringLiteral("Window"));
    windows.addItem(MenuItem::make(QStringLiteral("Minimize"), QStringLiteral("performMiniaturize:")));
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
    auto& dispatcher = ActionDispatcher::instance();
    Recorder controller({"statistics:", "library:", "outline:", "preview:", "theme:", "size:", "full:", "font:"});
    dispatcher.setDocumentController(&controller);
    auto bar = std::make_unique<Menu>();
    auto view = std::make_unique<Menu>(QStringLiteral("View"));
    for (const auto& [title, action] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Show Statistics", "statistics:"}, {"Show Library", "library:"}, {"Show Outline", "outline:"},
             {"Preview", "preview:"}, {"Theme", "theme:"}, {"Text Size", "size:"}, {"Full Screen", "full:"},
             {"Font", "font:"}})
        view->addItem(MenuItem::make(QString::fromUtf8(title), QString::fromLatin1(action)));
    view->addItem(MenuItem::separator());
    auto hidden = MenuItem::make(QStringLiteral("Secret"), QStringLiteral("secret:"));
    hidden->setHidden(true);
    view->addItem(std::move(hidden));
    view->addItem(MenuItem::make(QStringLiteral("Copy & Paste"), QStringLiteral("font:")));
    view->addItem(MenuItem::make(QStringLiteral("Heading")));
    view->addItem(MenuItem::make(QStringLiteral("Select All"), QStringLiteral("font:"), QStringLiteral("a"), commandKey));
    view->addItem(MenuItem::withSubmenu(std::make_unique<Menu>(QStringLiteral("Speech"))));
    auto names = std::make_unique<Menu>(QStringLiteral("Names"));
    names->setMnemonicStyle(Menu::MnemonicStyle::firstLetters);
    for (const char* name : {"Noto Sans", "DejaVu Sans", "Nimbus Mono"})
        names->addItem(MenuItem::make(QString::fromUtf8(name), QStringLiteral("font:")));
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
    EXPECT_EQ(controller.performed, QStringList{"outline:"});
    EXPECT_FALSE(shown->isVisible());
}
