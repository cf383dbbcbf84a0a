// The themes editor: its list (selection, context menu, inline rename,
// reordering by dragging), its form (colours, dark flag, opposite theme),
// and what reaches the stored theme list across a restart.
#include "ShellTestSupport.h"

#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/application/ActionDispatcher.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "shell/ThemeViewController.h"
#include "shell/ThemesTableViewController.h"
#include "widgets/ViewUtilities.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QStyleOptionButton>

#include <algorithm>
#include <cstdlib>

using namespace lumora;
using namespace lumora::test;

namespace {

QStringList ids(const ThemeList& themes)
{
    QStringList list;
    for (const auto& t : themes) list << t->id;
    return list;
}

// The settings as the next launch reads them from disk.
std::unique_ptr<Settings> restarted()
{
    static std::unique_ptr<UserDefaults> store;
    store = std::make_unique<UserDefaults>(UserDefaults::standardFilePath());
    return std::make_unique<Settings>(store.get());
}

std::shared_ptr<Theme> custom(const QString& id, bool dark)
{
    return Theme::make(id, Color::white(dark ? 0.8 : 0.2), Color::white(dark ? 0.1 : 0.9), Color(0.2, 0.6, 0.85), dark);
}

// The application's settings start from the built-in themes, the first
// current, with the custom themes given added at the end.
struct ThemesEditor : ::testing::Test {
    Settings& settings = Settings::shared();

    void SetUp() override { useThemes({}); }
    void TearDown() override
    {
        closeWindows<ThemesTableViewController>();
        useThemes({});
    }

    void useThemes(const ThemeList& added)
    {
        ThemeList themes;
        for (const auto& builtIn : Theme::defaultThemes())
            themes.push_back(Theme::make(builtIn->propertyList(), themes));
        themes.insert(themes.end(), added.begin(), added.end());
        settings.setThemes(std::move(themes));
        settings.setTheme(settings.themes().front());
        settings.saveThemes();
    }
    std::shared_ptr<Theme> at(int row) { return settings.themes()[size_t(row)]; }
    int selectedRow(const ThemesTableViewController& list)
    {
        const auto rows = list.tableView()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
    QModelIndex row(const ThemesTableViewController& list, int r) { return list.tableView()->model()->index(r, 0); }
};

} // namespace

TEST_F(ThemesEditor, TheMenuItemOpensAWindowEachTimeCentredOverItsWindowAndTitled)
{
    Shell shell;
    const QString path = freshDirectory("themes-over") + "/notes.md";
    writeFile(path, "Notes\n");
    WindowController* documentWindow = windowOf(shell.open(path));
    ASSERT_TRUE(documentWindow);
    documentWindow->window()->setGeometry(60, 40, 700, 520);
    ASSERT_TRUE(activate(documentWindow));
    MenuItem* edit = nullptr;
    shell.controller->mainMenu()->updateThemesMenu();
    edit = shell.controller->mainMenu()->themesSubmenu()->itemWithCommand(Command::editThemes);
    ASSERT_TRUE(edit);
    EXPECT_TRUE(ActionDispatcher::instance().validateItem(*edit));
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::editThemes, edit));
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::editThemes, edit));
    QList<ThemesTableViewController*> lists;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* list = window->findChild<ThemesTableViewController*>(); list && window->isVisible()) lists << list;
    ASSERT_EQ(lists.size(), 2);
    ThemesTableViewController& first = *lists[0];
    ThemesTableViewController& second = *lists[1];
    EXPECT_TRUE(first.window()->findChild<ThemeViewController*>());
    EXPECT_EQ(selectedRow(first), 0);
    for (const ThemesTableViewController* list : lists) {
        QWidget* window = list->window();
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Themes"));
        const QPoint offset = window->frameGeometry().center() - documentWindow->window()->frameGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    }

    // Selecting a row in one window makes its theme current everywhere.
    first.tableView()->selectionModel()->select(row(first, 2), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(settings.theme(), at(2));
    // Each list keeps the row chosen in it: a theme chosen elsewhere (the
    // other window, the Theme menu) leaves both selections where they were,
    // while each form shows the current theme.
    EXPECT_EQ(selectedRow(second), 0);
    settings.setTheme(at(3));
    EXPECT_EQ(selectedRow(first), 2);
    EXPECT_EQ(selectedRow(second), 0);
    EXPECT_EQ(first.window()->findChild<ThemeViewController*>()->theme(), at(3));
}

TEST_F(ThemesEditor, TheListKeepsTheRowTheWriterChoseWhenTheThemeChangesElsewhere)
{
    useThemes({custom("Paper", false)});
    ThemesTableViewController list;
    list.tableView()->selectionModel()->select(row(list, 4), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(settings.theme(), at(4));

    // A reset of another row makes that theme current; the selection stays.
    at(1)->backgroundColor = Color(0.3, 0.0, 0.0);
    list.prepareContextMenu(row(list, 1));
    list.reset();
    EXPECT_EQ(settings.theme(), at(1));
    EXPECT_EQ(selectedRow(list), 4);
    // So does the appearance switch, and a list saved elsewhere.
    settings.setTheme(at(0));
    settings.saveThemes();
    EXPECT_EQ(selectedRow(list), 4);
    // A reset of the chosen row itself keeps it chosen (the fresh copy).
    list.tableView()->selectionModel()->select(row(list, 2), QItemSelectionModel::ClearAndSelect);
    list.prepareContextMenu(row(list, 2));
    list.reset();
    EXPECT_EQ(selectedRow(list), 2);
    EXPECT_EQ(settings.theme(), at(2));
}

TEST_F(ThemesEditor, TheContextMenuActsOnTheClickedRowAndFitsItsTheme)
{
    useThemes({custom("Paper", false)});
    ThemesTableViewController list;
    EXPECT_EQ(selectedRow(list), 0);

    // A custom row outside the selection: the commands act on it.
    list.prepareContextMenu(row(list, 4));
    EXPECT_TRUE(list.renameItem()->isEnabled());
    EXPECT_FALSE(list.resetItem()->isVisible());
    EXPECT_TRUE(list.removeItem()->isVisible());
    list.duplicate();
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "dark", "sepia", "amber", "Paper", "Paper Copy"}));
    EXPECT_EQ(settings.theme(), at(5)); // the copy, selected right below
    EXPECT_EQ(selectedRow(list), 5);

    // A built-in row: no renaming, reset instead of remove.
    list.prepareContextMenu(row(list, 1));
    EXPECT_FALSE(list.renameItem()->isEnabled());
    EXPECT_TRUE(list.resetItem()->isVisible());
    EXPECT_FALSE(list.removeItem()->isVisible());
    EXPECT_TRUE(list.duplicateItem()->isEnabled());
    list.remove(); // hidden, and refused even when sent
    EXPECT_EQ(settings.themes().size(), 6u);

    // Beside the rows, with a selection: the selected row.
    list.prepareContextMenu(QModelIndex());
    EXPECT_TRUE(list.renameItem()->isEnabled()); // "Paper Copy" is selected
    list.tableView()->selectionModel()->clearSelection();
    list.prepareContextMenu(QModelIndex());
    for (QAction* item : list.contextMenu()->actions()) EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    list.duplicate(); // with nothing to act on, nothing happens
    EXPECT_EQ(settings.themes().size(), 6u);

    // Reset: a built-in that is not current gets its colours back and
    // becomes current, while the selection stays where it was.
    list.tableView()->selectionModel()->select(row(list, 5), QItemSelectionModel::ClearAndSelect);
    at(2)->foregroundColor = Color(1, 0, 0);
    list.prepareContextMenu(row(list, 2));
    list.reset();
    EXPECT_EQ(at(2)->foregroundColor, Theme::defaultThemes()[2]->foregroundColor);
    EXPECT_EQ(settings.theme(), at(2));
    EXPECT_EQ(selectedRow(list), 5);

    const auto again = restarted();
    EXPECT_EQ(ids(again->themes()), ids(settings.themes()));
    EXPECT_EQ(again->theme()->id, QStringLiteral("sepia"));
    EXPECT_EQ(again->themes()[2]->foregroundColor, Theme::defaultThemes()[2]->foregroundColor);
}

TEST_F(ThemesEditor, RemovingMakesTheRowAboveCurrentAndUnpairs)
{
    const auto paper = custom("Paper", false);
    const auto ink = custom("Ink", true);
    const auto notes = custom("Notes", false);
    paper->setOppositeTheme(ink);
    useThemes({paper, ink, notes});
    ThemesTableViewController list;

    // Removing row 5 while row 4 is selected and current: row 4 stays and
    // is current; the pairing is undone on the surviving side.
    list.tableView()->selectionModel()->select(row(list, 4), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(settings.theme(), paper);
    list.prepareContextMenu(row(list, 5));
    list.remove();
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "dark", "sepia", "amber", "Paper", "Notes"}));
    EXPECT_FALSE(paper->oppositeTheme());
    EXPECT_EQ(settings.theme(), paper);
    EXPECT_EQ(selectedRow(list), 4);

    // Removing row 5 while another row (0) was selected: row 4 becomes
    // selected and current.
    list.tableView()->selectionModel()->select(row(list, 0), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(settings.theme(), at(0));
    list.prepareContextMenu(row(list, 5));
    list.remove();
    EXPECT_EQ(settings.theme(), paper);
    EXPECT_EQ(selectedRow(list), 4);

    // Removing the current theme: the row above takes over.
    list.prepareContextMenu(row(list, 4));
    list.remove();
    EXPECT_EQ(settings.theme(), at(3));
    EXPECT_EQ(selectedRow(list), 3);
    EXPECT_EQ(list.tableView()->model()->rowCount(), 4);

    const auto again = restarted();
    EXPECT_EQ(ids(again->themes()), (QStringList{"light", "dark", "sepia", "amber"}));
    EXPECT_EQ(again->theme()->id, QStringLiteral("amber"));
}

TEST_F(ThemesEditor, StaleRowsNeverReachTheList)
{
    useThemes({custom("Paper", false), custom("Notes", false)});
    ThemesTableViewController one;
    ThemesTableViewController two;

    // Window two readied its menu on "Notes"; window one removes it first.
    two.prepareContextMenu(row(two, 5));
    one.prepareContextMenu(row(one, 5));
    one.remove();
    EXPECT_EQ(two.tableView()->model()->rowCount(), 5); // reloaded on the change
    two.remove();    // the theme is gone: nothing happens
    two.duplicate();
    two.rename();
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "dark", "sepia", "amber", "Paper"}));

    // The list changed behind the editors' backs and was then announced.
    ThemeList shorter = settings.themes();
    shorter.erase(shorter.begin() + 4);
    settings.setThemes(std::move(shorter));
    EXPECT_EQ(one.tableView()->model()->data(row(one, 4), Qt::DisplayRole), QVariant());
    settings.saveThemes();
    EXPECT_EQ(one.tableView()->model()->rowCount(), 4);
    EXPECT_EQ(two.tableView()->model()->rowCount(), 4);

    // Drops that name rows the list does not have change nothing.
    const auto rows = [](const QList<int>& list) {
        return std::unique_ptr<QMimeData>(ThemesTableViewController::mimeDataForRows(list));
    };
    EXPECT_FALSE(one.acceptDrop(rows({4}).get(), 0, true));
    EXPECT_FALSE(one.acceptDrop(rows({1}).get(), 5, true));
    EXPECT_FALSE(one.acceptDrop(rows({1, 1}).get(), 0, true));
    EXPECT_FALSE(one.acceptDrop(rows({}).get(), 0, true));
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "dark", "sepia", "amber"}));
}

TEST_F(ThemesEditor, DraggingRowsReordersTheListAndTheThemeMenu)
{
    useThemes({custom("Paper", false), custom("Notes", false)});
    Shell shell;
    ThemesTableViewController list;
    list.tableView()->selectionModel()->select(row(list, 1), QItemSelectionModel::ClearAndSelect);
    const auto drop = [&](QList<int> rows, int above) {
        std::unique_ptr<QMimeData> data(ThemesTableViewController::mimeDataForRows(rows));
        return list.acceptDrop(data.get(), above, true);
    };

    EXPECT_TRUE(drop({1}, 4));
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "sepia", "amber", "dark", "Paper", "Notes"}));
    // The selection moves with its theme: the current theme stays.
    EXPECT_EQ(settings.theme()->id, QStringLiteral("dark"));
    EXPECT_EQ(selectedRow(list), 3);
    EXPECT_TRUE(drop({4}, 1));
    EXPECT_EQ(ids(settings.themes()), (QStringList{"light", "Paper", "sepia", "amber", "dark", "Notes"}));
    EXPECT_TRUE(drop({0, 5}, 6)); // to the end, in their order
    EXPECT_EQ(ids(settings.themes()), (QStringList{"Paper", "sepia", "amber", "dark", "light", "Notes"}));

    // The Theme menu follows.
    shell.controller->mainMenu()->menuNeedsUpdate(*shell.controller->mainMenu()->themesSubmenu());
    QStringList titles;
    for (int i = 0; i < 6; ++i) titles << shell.controller->mainMenu()->themesSubmenu()->itemAt(i)->title();
    EXPECT_EQ(titles, (QStringList{"Paper", "Sepia", "Amber", "Dark", "Light", "Notes"}));
    EXPECT_EQ(ids(restarted()->themes()), ids(settings.themes()));

    // A drag from elsewhere, or of anything else, is refused.
    std::unique_ptr<QMimeData> rows(ThemesTableViewController::mimeDataForRows({1}));
    EXPECT_FALSE(list.acceptDrop(rows.get(), 0, false));
    QMimeData text;
    text.setText("1");
    EXPECT_FALSE(list.acceptDrop(&text, 0, true));
    QMimeData garbage;
    garbage.setData(ThemesTableViewController::themeIndicesType, "[\"one\"]");
    EXPECT_FALSE(list.acceptDrop(&garbage, 0, true));
    list.resize(200, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QDropEvent fromOutside(QPointF(20, 10), Qt::MoveAction, rows.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list.tableView()->viewport(), &fromOutside);
    EXPECT_FALSE(fromOutside.isAccepted());
    EXPECT_EQ(ids(settings.themes()), (QStringList{"Paper", "sepia", "amber", "dark", "light", "Notes"}));
}

TEST_F(ThemesEditor, NamesAreEditedInPlaceAndATakenOrBlankNameIsRefused)
{
    useThemes({custom("Paper", false), custom("Notes", true)});
    Shell shell;
    QWidget* window = ThemesTableViewController::makeThemesWindow();
    auto& list = *window->findChild<ThemesTableViewController*>();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::setActiveWindow(window);
    settings.setTheme(at(4));

    const auto startRenaming = [&](int r) -> QLineEdit* {
        list.prepareContextMenu(row(list, r));
        list.rename();
        return qobject_cast<QLineEdit*>(list.tableView()->indexWidget(row(list, r)));
    };
    QLineEdit* field = startRenaming(4);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text(), QStringLiteral("Paper"));

    // A blank name, and names other themes have (by id or by the name
    // shown), are refused; the field stays open.
    for (const char* refused : {"   ", "Notes", "Light"}) {
        field->setText(QString::fromUtf8(refused));
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_EQ(list.tableView()->indexWidget(row(list, 4)), field) << refused;
    }
    EXPECT_EQ(shell.dialogs.errors, (QStringList{"A theme needs a name.", "A theme with that name already exists.",
                                                 "A theme with that name already exists."}));
    EXPECT_EQ(at(4)->id, QStringLiteral("Paper"));

    // A free name is taken, spaces around it dropped; the current theme
    // stays current, also after a restart.
    field->setText("  Evening ");
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(list.tableView()->indexWidget(row(list, 4)));
    EXPECT_EQ(at(4)->id, QStringLiteral("Evening"));
    EXPECT_EQ(list.tableView()->model()->data(row(list, 4), Qt::DisplayRole), QVariant("Evening"));
    const auto again = restarted();
    EXPECT_EQ(again->theme()->id, QStringLiteral("Evening"));

    // Escape keeps the old name.
    field = startRenaming(5);
    ASSERT_TRUE(field);
    field->setText("Midnight");
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(at(5)->id, QStringLiteral("Notes"));

    // Clicking elsewhere ends the editing the same way: a taken name is
    // refused and the field keeps the focus; a free one is taken.
    field = startRenaming(5);
    ASSERT_TRUE(field && field->hasFocus());
    const QPoint elsewhere = list.tableView()->visualRect(row(list, 0)).center();
    field->setText("Dark");
    QTest::mouseClick(list.tableView()->viewport(), Qt::LeftButton, {}, elsewhere);
    QCoreApplication::processEvents();
    EXPECT_EQ(shell.dialogs.errors.size(), 4);
    ASSERT_EQ(list.tableView()->indexWidget(row(list, 5)), field);
    EXPECT_TRUE(field->hasFocus());
    field->setText("Midnight");
    QTest::mouseClick(list.tableView()->viewport(), Qt::LeftButton, {}, elsewhere);
    QCoreApplication::processEvents();
    EXPECT_EQ(at(5)->id, QStringLiteral("Midnight"));
    EXPECT_EQ(shell.dialogs.errors.size(), 4);

    // Built-in themes are not renamed.
    EXPECT_FALSE(startRenaming(0));
}

TEST_F(ThemesEditor, TheFormEditsTheCurrentThemeLiveAndKeepsPairsMutual)
{
    const auto a = custom("A", false);
    const auto b = custom("B", true);
    const auto c = custom("C", true);
    const auto d = custom("D", true);
    useThemes({a, b, c, d});
    a->setOppositeTheme(c);
    ThemeViewController form;

    // A built-in: colours editable, its flag and pairing not; the pop-up
    // still shows its opposite.
    settings.setTheme(at(1));
    EXPECT_EQ(form.theme(), at(1));
    EXPECT_TRUE(form.foregroundColorWell()->isEnabled());
    EXPECT_FALSE(form.isDarkButton()->isEnabled());
    EXPECT_TRUE(form.isDarkButton()->isChecked());
    EXPECT_FALSE(form.oppositeThemeButton()->isEnabled());
    EXPECT_EQ(form.oppositeThemeButton()->currentText(), QStringLiteral("Light"));

    // A custom light theme is offered custom dark themes that are free or
    // already its own, after "None" and a separator.
    settings.setSystemAppearanceDark(false);
    settings.setTheme(a);
    EXPECT_EQ(UserDefaults::standard().object("automaticallySwitchTheme"), QVariant(true));
    QComboBox& popUp = *form.oppositeThemeButton();
    EXPECT_TRUE(popUp.isEnabled());
    QStringList offered;
    for (int i = 0; i < popUp.count(); ++i) offered << popUp.itemText(i);
    EXPECT_EQ(offered, (QStringList{"None", "", "B", "C", "D"}));
    EXPECT_EQ(popUp.currentText(), QStringLiteral("C"));

    // Pairing A with B lets C go.
    form.setOppositeTheme(popUp.findText("B"));
    EXPECT_EQ(a->oppositeTheme(), b);
    EXPECT_EQ(b->oppositeTheme(), a);
    EXPECT_FALSE(c->oppositeTheme());
    // The dark flag of a paired theme turns its partner the other way.
    form.isDarkButton()->click();
    EXPECT_TRUE(a->isDark);
    EXPECT_FALSE(b->isDark);
    // The flag goes through the theme setter: a dark theme on a light
    // desktop no longer follows the desktop.
    EXPECT_EQ(UserDefaults::standard().object("theme"), QVariant("A"));
    EXPECT_EQ(UserDefaults::standard().object("automaticallySwitchTheme"), QVariant(false));
    offered.clear();
    for (int i = 2; i < popUp.count(); ++i) offered << popUp.itemText(i);
    EXPECT_EQ(offered, QStringList{"B"}); // now light themes: only its partner is free
    form.setOppositeTheme(0);             // None unpairs both sides
    EXPECT_FALSE(a->oppositeTheme());
    EXPECT_FALSE(b->oppositeTheme());
    form.setOppositeTheme(popUp.findText("B"));

    form.saveEdits();
    const auto again = restarted();
    EXPECT_EQ(again->themes()[4]->oppositeTheme(), again->themes()[5]);
    EXPECT_TRUE(again->themes()[4]->isDark);
    EXPECT_FALSE(again->themes()[6]->oppositeTheme());
}

TEST_F(ThemesEditor, AColourShowsAtOnceAndCancelPutsItBack)
{
    Shell shell(true);
    const QString path = freshDirectory("colours") + "/words.txt";
    writeFile(path, "Words\n");
    Document* document = shell.open(path);
    ASSERT_TRUE(document && windowOf(document));
    const auto colourOfText = [&] {
        const AttributeValue value = document->data().textStorage().attributes(0).value(AttributeKey::ForegroundColor);
        return value.color() ? value.color()->toQColor().rgb() : QRgb(0);
    };
    ThemeViewController form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    UserDefaults& defaults = UserDefaults::standard();
    settings.setSystemAppearanceDark(true); // light is chosen against the appearance
    settings.setTheme(at(0));
    // Preferences another program left behind: the edit writes its own.
    defaults.set("theme", "sepia");
    defaults.remove("automaticallySwitchTheme");
    const QVariant automatic(false);
    const Color original = at(0)->foregroundColor;
    int themeChanges = 0;
    QObject counting;
    QObject::connect(&settings, &Settings::themeChanged, &counting, [&] { ++themeChanges; });

    QTest::mouseClick(form.foregroundColorWell(), Qt::LeftButton);
    QColorDialog* chooser = form.foregroundColorWell()->chooser();
    ASSERT_TRUE(chooser);
    EXPECT_FALSE(chooser->isModal());
    chooser->setCurrentColor(QColor(200, 30, 40));
    EXPECT_EQ(at(0)->foregroundColor.toQColor(), QColor(200, 30, 40));
    EXPECT_EQ(settings.parsedStylesheet()->foregroundColor->toQColor().rgb(), QColor(200, 30, 40).rgb());
    EXPECT_EQ(colourOfText(), QColor(200, 30, 40).rgb()); // the open document shows it
    EXPECT_EQ(themeChanges, 1);
    // The edit sets the theme again: it is written as the chosen one, with
    // the appearance switch decided for it.
    EXPECT_EQ(defaults.object("theme"), QVariant("light"));
    EXPECT_EQ(defaults.object("automaticallySwitchTheme"), automatic);
    // Colours that come in a rush restyle the windows once more, together.
    for (int red = 100; red < 110; ++red) chooser->setCurrentColor(QColor(red, 30, 40));
    EXPECT_EQ(themeChanges, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return themeChanges == 2; }, test::patience));
    EXPECT_EQ(settings.parsedStylesheet()->foregroundColor->toQColor().rgb(), QColor(109, 30, 40).rgb());
    QTest::qWait(60);
    chooser->reject();
    EXPECT_EQ(at(0)->foregroundColor, original);
    EXPECT_EQ(themeChanges, 3);

    // A choice kept is saved shortly after, and a chooser still open when
    // the theme changes elsewhere is closed, keeping its colour.
    QTest::mouseClick(form.backgroundColorWell(), Qt::LeftButton);
    form.backgroundColorWell()->chooser()->setCurrentColor(QColor(250, 240, 220));
    settings.setTheme(at(2));
    EXPECT_FALSE(form.backgroundColorWell()->chooser());
    EXPECT_EQ(at(0)->backgroundColor.toQColor(), QColor(250, 240, 220));
    EXPECT_EQ(form.theme(), at(2));
    EXPECT_EQ(windowOf(document)->window()->palette().color(QPalette::Window), at(2)->backgroundColor.toQColor());
    form.saveEdits();
    EXPECT_EQ(restarted()->themes()[0]->backgroundColor.toQColor(), QColor(250, 240, 220));
}

TEST_F(ThemesEditor, LooksFinishedInLightAndDark)
{
    useThemes({custom("Paper", false)});
    Shell shell(true);
    QWidget* window = ThemesTableViewController::makeThemesWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QDir dir(QString::fromLocal8Bit(qgetenv("LUMORA_SCREENSHOT_DIR")));
    for (int row : {0, 1, 4}) {
        settings.setTheme(at(row));
        QCoreApplication::processEvents();
        const QImage image = window->grab().toImage();
        EXPECT_GE(image.width(), 440);
        EXPECT_GE(image.height(), 300);
        // The list and the form take the theme's colours.
        const QColor middle = image.pixelColor(image.width() * 3 / 4, image.height() - 10);
        EXPECT_EQ(middle.lightness() < 128, at(row)->isDark) << row;
        if (!dir.path().isEmpty() && dir.path() != ".")
            image.save(dir.filePath(QStringLiteral("themes-editor-%1.png").arg(at(row)->id)));
    }
    // Closing the editor (File ▸ Close) writes the list.
    at(4)->cursorColor = Color(0.9, 0.1, 0.1);
    ASSERT_TRUE(ActionDispatcher::instance().send(Command::performClose, nullptr,
                                                        window->findChild<ThemesTableViewController*>()->tableView()));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(restarted()->themes()[4]->cursorColor, Color(0.9, 0.1, 0.1));
}


// The dark-theme checkbox's box stands out from the form in a dark theme as
// in a light one.
TEST_F(ThemesEditor, TheDarkFlagsBoxShowsInEveryTheme)
{
    useThemes({custom("Night", true), custom("Paper", false)});
    Shell shell(true);
    QWidget* window = ThemesTableViewController::makeThemesWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QCheckBox* box = window->findChild<ThemeViewController*>()->findChild<QCheckBox*>();
    ASSERT_TRUE(box);
    for (int row : {4, 5}) {
        settings.setTheme(at(row));
        QCoreApplication::processEvents();
        ASSERT_TRUE(box->isEnabled());
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage image = box->grab().toImage();
        const int around = image.pixelColor(indicator.right() + 2, indicator.center().y()).lightness();
        // The strongest step between the form and the box's left edge.
        int strongest = 0;
        for (int x = indicator.left(); x <= indicator.left() + 2; ++x)
            strongest = std::max(strongest, std::abs(image.pixelColor(x, indicator.center().y()).lightness() - around));
        EXPECT_GE(strongest, 40) << at(row)->id.toStdString();
    }
}
