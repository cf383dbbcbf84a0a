#include "shell/MainMenu.h"

#include "markdown/MarkdownStylesheet.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/files/UserDefaults.h"
#include "platform/text/Fonts.h"
#include "settings/Settings.h"
#include "shell/ApplicationStyle.h"
#include "shell/Commands.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

using namespace lumora;

namespace {

std::unique_ptr<UserDefaults> makeStore(const char* name)
{
    return std::make_unique<UserDefaults>(test::freshDirectory(QLatin1String(name)) + QStringLiteral("/defaults.json"));
}

// Stands in for the window and the library pane, which carry a new tab and
// opening the selected file.
class KeyRecorder : public QObject {
public:
    QList<Command> performed;
};

// The main menu on settings of its own, carrying the application's text
// commands; the application's table, with the stand-in bound.
struct Fixture {
    std::unique_ptr<UserDefaults> store;
    Settings settings;
    MainMenu mainMenu;
    CommandTable table = commandTable();
    KeyRecorder controller;

    explicit Fixture(const char* name) : store(makeStore(name)), settings(store.get()), mainMenu(settings)
    {
        for (Command command : {Command::newTab, Command::openSelectedFile})
            table.bind(command, on<KeyRecorder>([command](KeyRecorder& recorder) { recorder.performed << command; }));
        ActionDispatcher::instance().setCommandTable(&table);
        ActionDispatcher::instance().addApplicationTarget(&controller);
    }
    ~Fixture()
    {
        ActionDispatcher::instance().removeApplicationTarget(&controller);
        ActionDispatcher::instance().setCommandTable(&commandTable());
    }

    MenuItem& find(MainMenu::TopLevel menu, Command command)
    {
        MenuItem* item = mainMenu.topLevelMenu(menu).itemWithCommand(command);
        EXPECT_TRUE(item) << command;
        return *item;
    }
};

// A menu's items by the command each sends: none for separators and
// submenus (submenus() tells those apart).
constexpr Command none = Command::none;

QList<Command> commands(const Menu& menu)
{
    QList<Command> list;
    for (const auto& item : menu.items()) list << item->command();
    return list;
}

QList<int> submenus(const Menu& menu)
{
    QList<int> list;
    for (int i = 0; i < menu.count(); ++i)
        if (menu.itemAt(i)->submenu()) list << i;
    return list;
}

} // namespace

TEST(MainMenu, HasEveryMenuAndItemInOrder)
{
    Fixture f("menu-shape");
    const Menu& bar = f.mainMenu.menu();
    QStringList titles;
    QList<int> counts;
    for (const auto& item : bar.items()) {
        titles << item->title();
        counts << item->submenu()->count();
    }
    EXPECT_EQ(titles, (QStringList{"Lumora", "File", "Edit", "Mode", "Library", "View", "Window", "Help"}));
    // The tables' items, and the Linux keys: File ▸ Quit, a hidden item for
    // Ctrl+=, and F11 shown for full screen with a hidden item for the
    // table's key.
    EXPECT_EQ(counts, (QList<int>{10, 13, 35, 6, 14, 16, 4, 2}));

    EXPECT_EQ(commands(f.mainMenu.topLevelMenu(MainMenu::view)),
              (QList<Command>{Command::toggleInfoView, Command::toggleLibraryView, Command::showAndFocusLibraryView,
                              Command::toggleOutlineView, Command::togglePreview, none, none, none, none, none, none,
                              none, none, none, Command::toggleFullScreen, Command::toggleFullScreen}));
    EXPECT_EQ(submenus(f.mainMenu.topLevelMenu(MainMenu::view)), (QList<int>{6, 8, 9, 10, 11, 12}));
    EXPECT_EQ(commands(f.mainMenu.topLevelMenu(MainMenu::file)).mid(10),
              (QList<Command>{Command::printDocument, none, Command::terminate}));
    EXPECT_EQ(f.mainMenu.librarySubmenu(), &f.mainMenu.topLevelMenu(MainMenu::library));
    EXPECT_EQ(f.mainMenu.windowsMenu(), &f.mainMenu.topLevelMenu(MainMenu::window));
    EXPECT_EQ(f.mainMenu.fontSubmenu()->count(), 0);
    EXPECT_EQ(f.mainMenu.themesSubmenu()->count(), 0);

    // Alternates and tags appear only where the menu says.
    QList<Command> alternates;
    QList<qint64> tags;
    QList<Command> tagged;
    bar.forEachItem([&](MenuItem& item) {
        if (item.isAlternate()) alternates << item.command();
        if (item.tag() != 0) {
            tags << item.tag();
            tagged << item.command();
        }
    });
    EXPECT_EQ(alternates, (QList<Command>{Command::selectUntilPreviousSentence, Command::selectUntilNextSentence,
                                          Command::selectUntilPreviousParagraph, Command::selectUntilNextParagraph,
                                          Command::showAndFocusLibraryView}));
    EXPECT_EQ(tags, (QList<qint64>{1, 12, 2, 3, 7}));
    EXPECT_EQ(tagged, (QList<Command>{Command::showFindInterface, Command::showReplaceInterface, Command::findNext,
                                      Command::findPrevious, Command::useSelectionForFind}));

    // Summary lines: none, then numbers in the locale's digits.
    const Menu& lines = *f.mainMenu.topLevelMenu(MainMenu::view).itemAt(6)->submenu();
    QStringList lineTitles;
    for (const auto& item : lines.items()) lineTitles << item->title() + "=" + item->representedObject().toString();
    EXPECT_EQ(lineTitles, (QStringList{"None=0", "1=1", "2=2", "3=3"}));

    // The mode that only lets the writer add text says so.
    QStringList modes;
    for (const auto& item : f.mainMenu.topLevelMenu(MainMenu::modus).items())
        modes << (item->isSeparator() ? QStringLiteral("-") : item->title());
    EXPECT_EQ(modes, (QStringList{"Markdown", "-", "Typewriter Scrolling", "Typing Sounds", "Focus", "No Deleting"}));

    // Every title comes from the strings table.
    bar.forEachItem([](MenuItem& item) {
        EXPECT_FALSE(item.title().startsWith("menu.") || item.title().startsWith("settings.")) << item.title().toStdString();
    });

    f.mainMenu.addRecentDocumentsMenu(std::make_unique<Menu>("Open Recent"));
    EXPECT_EQ(f.mainMenu.topLevelMenu(MainMenu::file).itemAt(3)->title(), QStringLiteral("Open Recent"));

    f.mainMenu.addStylesheetItems();
    const Menu& view = f.mainMenu.topLevelMenu(MainMenu::view);
    EXPECT_EQ(view.count(), 20);
    EXPECT_EQ(commands(view).mid(13),
              (QList<Command>{none, Command::linkStylesheet, Command::unlinkStylesheet, Command::exportStylesheet, none,
                              Command::toggleFullScreen, Command::toggleFullScreen}));
    EXPECT_EQ(submenus(view), (QList<int>{6, 8, 9, 10, 11, 12}));
}

TEST(MainMenu, KeyEquivalentsAndHiddenItemsFollowTheTables)
{
    Fixture f("menu-keys");
    struct Row {
        MainMenu::TopLevel menu;
        Command command;
        QString key;
        KeyModifierMask mask;
        bool hidden;
        bool keyWhenHidden;
    };
    const Row rows[] = {
        {MainMenu::app, Command::hideOtherApplications, "h", optionKey | commandKey, false, false},
        {MainMenu::file, Command::newTab, "t", commandKey, true, true},
        {MainMenu::edit, Command::deleteSelection, QString(QChar(0x08)), 0, false, false},
        {MainMenu::edit, Command::insertBacktab, QString(QChar(0x09)), shiftKey, false, false},
        {MainMenu::edit, Command::moveLineUp, QString(QChar(0xF700)), optionKey | commandKey, false, false},
        {MainMenu::edit, Command::selectUntilNextParagraph, QString(QChar(0xF701)), optionKey | shiftKey, false, false},
        {MainMenu::library, Command::openSelectedFile, QString(QChar(0x0A)), commandKey, true, true},
        {MainMenu::library, Command::moveToLibrary, "", 0, true, false},
        {MainMenu::library, Command::toggleLibraryLinked, "", 0, true, false},
        {MainMenu::view, Command::toggleFullScreen, QString(QChar(KeyEquivalent::f11)), 0, false, false},
        {MainMenu::file, Command::terminate, "q", commandKey, false, false},
        {MainMenu::help, Command::openWebsite, "?", commandKey, false, false},
    };
    for (const Row& row : rows) {
        const MenuItem& item = f.find(row.menu, row.command);
        EXPECT_EQ(item.keyEquivalent(), row.key) << row.command;
        EXPECT_EQ(item.keyEquivalentModifierMask(), row.mask) << row.command;
        EXPECT_EQ(item.isHidden(), row.hidden) << row.command;
        EXPECT_EQ(item.allowsKeyEquivalentWhenHidden(), row.keyWhenHidden) << row.command;
    }

    // The Linux keys beside them: hidden items that keep their keys.
    const Menu& view = f.mainMenu.topLevelMenu(MainMenu::view);
    const MenuItem& tableKey = *view.itemAt(view.count() - 1);
    EXPECT_EQ(tableKey.command(), Command::toggleFullScreen);
    EXPECT_TRUE(tableKey.isHidden() && tableKey.allowsKeyEquivalentWhenHidden());
    EXPECT_EQ(tableKey.shortcut(), QKeyCombination(Qt::MetaModifier | Qt::ControlModifier, Qt::Key_F));
    EXPECT_EQ(view.itemAt(view.count() - 2)->shortcut(), QKeyCombination(Qt::Key_F11));
    const Menu& textSize = *view.itemAt(10)->submenu();
    const MenuItem& equals = *textSize.itemAt(1);
    EXPECT_EQ(equals.command(), Command::increaseFontSize);
    EXPECT_TRUE(equals.isHidden() && equals.allowsKeyEquivalentWhenHidden());
    EXPECT_EQ(equals.shortcut(), QKeyCombination(Qt::ControlModifier, Qt::Key_Equal));
}

TEST(MainMenu, FontAndThemeSubmenusFillWhenTheyOpen)
{
    Fixture f("menu-submenus");
    auto& dispatcher = ActionDispatcher::instance();
    Menu& font = *f.mainMenu.fontSubmenu();
    dispatcher.validateMenu(font);
    const auto& [monospaced, others] = f.settings.allFontFamilies();
    ASSERT_EQ(font.count(), 5 + monospaced.size() + others.size());
    EXPECT_EQ(font.itemAt(0)->title(), QStringLiteral("Default"));
    EXPECT_EQ(font.itemAt(2)->title(), QStringLiteral("Monospaced"));
    EXPECT_FALSE(font.itemAt(2)->isEnabled()); // a heading
    const MenuItem* first = font.itemAt(3);
    dispatcher.validateMenu(font);
    EXPECT_EQ(font.itemAt(3), first); // filled once
    // Each family shows in its own face, also one the database lists with
    // its foundry ("Nimbus Sans [urw]").
    for (const auto& item : font.items()) {
        if (item->command() != Command::setFontFamily || !item->representedObject().isValid()) continue;
        const QString family = item->representedObject().toString();
        ASSERT_TRUE(item->titleFont()) << family.toStdString();
        EXPECT_EQ(fonts::familyWithoutFoundry(QFontInfo(*item->titleFont()).family()), family);
    }

    Menu& themes = *f.mainMenu.themesSubmenu();
    dispatcher.validateMenu(themes);
    QStringList titles;
    for (const auto& item : themes.items()) titles << (item->isSeparator() ? QStringLiteral("-") : item->title());
    EXPECT_EQ(titles, (QStringList{"Light", "Dark", "Sepia", "Amber", "-", "Edit Themes…"}));
    EXPECT_EQ(themes.itemAt(0)->state(), MenuItem::State::on);
    EXPECT_EQ(themes.itemAt(1)->state(), MenuItem::State::off);

    f.settings.setTheme(f.settings.themes()[1]);
    dispatcher.validateMenu(themes);
    EXPECT_EQ(themes.itemAt(0)->state(), MenuItem::State::off);
    EXPECT_EQ(themes.itemAt(1)->state(), MenuItem::State::on);

    f.settings.duplicateTheme(0);
    EXPECT_EQ(themes.count(), 0); // emptied by the theme list's change
    dispatcher.validateMenu(themes);
    EXPECT_EQ(themes.count(), 7);
}

TEST(MainMenu, ValidationMirrorsThePreferences)
{
    Fixture f("menu-validation");
    auto& dispatcher = ActionDispatcher::instance();
    Menu& textSize = *f.mainMenu.topLevelMenu(MainMenu::view).itemAt(10)->submenu();
    MenuItem& increase = *textSize.itemAt(0);
    MenuItem& decrease = *textSize.itemAt(2);
    MenuItem& reset = *textSize.itemAt(4);

    struct SizeCase {
        std::optional<double> size;
        bool increase, decrease, reset;
    };
    const double builtIn = *MarkdownStylesheet::defaultStylesheet().base.size;
    const SizeCase sizes[] = {
        {std::nullopt, true, true, false}, // the built-in size
        {30.0, false, true, true},
        {10.0, true, false, true},
        {builtIn + 1, true, true, true},
    };
    for (const SizeCase& c : sizes) {
        if (c.size) f.settings.setFontSize(*c.size);
        dispatcher.validateMenu(textSize);
        EXPECT_EQ(increase.isEnabled(), c.increase) << c.size.value_or(0);
        EXPECT_EQ(decrease.isEnabled(), c.decrease) << c.size.value_or(0);
        EXPECT_EQ(reset.isEnabled(), c.reset) << c.size.value_or(0);
    }

    // Exactly the stored family carries the check mark; the default item
    // carries it while none is stored.
    Menu& font = *f.mainMenu.fontSubmenu();
    const QString family = f.settings.allFontFamilies().second.value(0);
    ASSERT_FALSE(family.isEmpty());
    const auto checked = [&] {
        dispatcher.validateMenu(font);
        QStringList list;
        for (const auto& item : font.items())
            if (item->state() == MenuItem::State::on) list << item->title();
        return list;
    };
    EXPECT_EQ(checked(), QStringList{"Default"});
    f.settings.setCustomFont(family);
    EXPECT_EQ(checked(), QStringList{family});

    Menu& spacing = *f.mainMenu.topLevelMenu(MainMenu::view).itemAt(11)->submenu();
    f.store->set(QStringLiteral("paragraphSpacingFactor"), 0.5);
    f.settings.updateParsedStylesheet();
    dispatcher.validateMenu(spacing);
    EXPECT_EQ(spacing.itemAt(0)->state(), MenuItem::State::off);
    EXPECT_EQ(spacing.itemAt(1)->state(), MenuItem::State::on);
}

TEST(MainMenu, HiddenItemsKeepTheirKeysAndPlatformOnlyItemsHide)
{
    Fixture f("menu-hidden-keys");
    f.mainMenu.install();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    layout->addWidget(field);
    window.show();
    QApplication::setActiveWindow(&window);
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(field, Qt::Key_T, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(f.controller.performed, (QList<Command>{Command::newTab, Command::openSelectedFile}));

    // Nothing here hides applications: those items hide. The editor's five
    // submenus stay, their items disabled while no editor has the focus.
    auto& dispatcher = ActionDispatcher::instance();
    Menu& app = f.mainMenu.topLevelMenu(MainMenu::app);
    dispatcher.validateMenu(app);
    EXPECT_TRUE(app.itemWithCommand(Command::hide)->isHidden());
    EXPECT_FALSE(app.itemWithCommand(Command::terminate)->isHidden());
    Menu& edit = f.mainMenu.topLevelMenu(MainMenu::edit);
    dispatcher.validateMenu(edit);
    for (int i = 30; i <= 34; ++i) EXPECT_FALSE(edit.itemAt(i)->isHidden()) << i; // Find ... Speech
    Menu& speech = *edit.itemAt(34)->submenu();
    dispatcher.validateMenu(speech);
    EXPECT_FALSE(speech.itemAt(0)->isHidden());
    EXPECT_FALSE(speech.itemAt(0)->isEnabled());
    EXPECT_FALSE(edit.itemAt(3)->isEnabled()); // Cut: nothing to cut in the window
    ActionDispatcher::instance().setMainMenu(nullptr);
}

TEST(MainMenu, ALongMenuScrollsInOneColumn)
{
    // Hundreds of font families: one column that scrolls, never columns
    // across the screen.
    QApplication::setStyle(new ApplicationStyle());
    Menu menu(QStringLiteral("Font"));
    for (int i = 0; i < 400; ++i) menu.addItem(MenuItem::make(QStringLiteral("Family %1").arg(i), Command::setFontFamily));
    QMenu* shown = menu.qMenu();
    shown->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    const QRect screen = shown->screen()->availableGeometry();
    EXPECT_LE(shown->height(), screen.height());
    Menu one(QStringLiteral("Font"));
    one.addItem(MenuItem::make(QStringLiteral("Family 399"), Command::setFontFamily));
    EXPECT_LT(shown->width(), one.qMenu()->sizeHint().width() * 3 / 2);
    shown->hide();
}

TEST(MainMenu, EveryCommandHasARowAndSomethingToCarryItOut)
{
    // A command without a binding would show as a grey item forever; a
    // menu item without a row would have no title or key to show.
    const CommandTable& table = commandTable();
    QHash<QString, QList<qint64>> tagsByName;
    for (int i = 1; i < commandCount; ++i) {
        const Command command = Command(i);
        const CommandRow& row = table.row(command);
        EXPECT_EQ(row.command, command) << i;
        EXPECT_TRUE(QByteArray(row.name).endsWith(':')) << i;
        EXPECT_FALSE(row.bindings.empty()) << command;
        tagsByName[QString::fromLatin1(row.name)] << row.tag;
    }
    // Commands that share an action's name (the find panel's) are told
    // apart by their tags.
    for (const QList<qint64>& tags : std::as_const(tagsByName)) {
        if (tags.size() == 1) continue;
        EXPECT_EQ(QSet<qint64>(tags.begin(), tags.end()).size(), tags.size());
        EXPECT_FALSE(tags.contains(0));
    }

    Fixture f("menu-rows");
    f.mainMenu.addStylesheetItems();
    f.mainMenu.menu().forEachItem([&](MenuItem& item) {
        if (item.isSeparator() || item.submenu()) return;
        ASSERT_NE(item.command(), Command::none) << item.title().toStdString();
        const CommandRow& row = table.row(item.command());
        EXPECT_EQ(item.tag(), row.tag) << item.command();
        EXPECT_EQ(item.isAlternate(), row.isAlternate) << item.command();
    });
}
