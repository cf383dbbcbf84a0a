// Start-up: the version check with the migration, the introduction, and
// what a first and a later launch leave in the preferences.
#include "ShellTestSupport.h"

#include "platform/application/ActionDispatcher.h"
#include "platform/application/SystemAppearance.h"
#include "platform/foundation/Bundle.h"
#include "settings/Settings.h"
#include "shell/MainMenu.h"
#include "shell/TitleStripController.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>

using namespace lumora;
using namespace lumora::test;

namespace {

void clearStandardDefaults()
{
    UserDefaults& defaults = UserDefaults::standard();
    defaults.beginBatch();
    for (const QString& key : defaults.dictionaryRepresentation().keys()) defaults.remove(key);
    defaults.endBatch();
}

} // namespace

TEST(Startup, VersionCheckMigratesNewerBuildsAndDecidesOnTheIntroduction)
{
    const qint64 build = Bundle::buildNumber();
    struct Case {
        std::optional<qint64> stored;
        bool introduction;
        bool migrated;
    };
    const Case cases[] = {
        {std::nullopt, true, true}, // first launch
        {51, true, true},
        {52, false, true},
        {build, false, false},      // the same build again
        {build + 50, false, false}, // an older build than the last one
    };
    for (const Case& c : cases) {
        UserDefaults store(freshDirectory("version") + "/defaults.json");
        if (c.stored) store.set("lastVersion", *c.stored);
        store.set("theme", true); // a dark flag of old builds
        DocumentController controller(&store);
        EXPECT_EQ(controller.checkVersion(), c.introduction) << c.stored.value_or(0);
        EXPECT_EQ(store.integerValue("lastVersion"), c.migrated ? build : c.stored.value_or(build)) << c.stored.value_or(0);
        EXPECT_EQ(store.object("theme"), c.migrated ? QVariant("dark") : QVariant(true)) << c.stored.value_or(0);
    }
}

TEST(Startup, FirstLaunchWritesThePreferencesAndOpensTheIntroductionLocked)
{
    // What it writes to the preferences, and a later launch not, is the
    // launch test's (LaunchTest.cpp), with the program itself.
    clearStandardDefaults();
    Shell shell(true);
    Document* introduction = shell.controller->introduction();
    ASSERT_TRUE(introduction);
    EXPECT_TRUE(introduction->isLocked());
    EXPECT_TRUE(introduction->isUntitled()); // nothing can write it back
    const QString text = QString::fromUtf8(Bundle::resourceData("introduction", "md"));
    EXPECT_EQ(textOf(introduction), text);
    WindowController* window = windowOf(introduction);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->window()->isVisible());
    EXPECT_EQ(window->window()->titleStrip()->title(), QStringLiteral("Introduction to Lumora — Locked"));

    // Typing is refused, with one question for the whole burst.
    ASSERT_TRUE(activate(window));
    TextView* editor = window->documentViewController()->textView();
    QTest::keyClicks(editor, "xyz");
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.dialogs.asked.isEmpty(); }, test::patience));
    EXPECT_EQ(shell.dialogs.asked, QStringList{"locked:Introduction to Lumora"});
    EXPECT_EQ(textOf(introduction), text);
    EXPECT_FALSE(introduction->isDocumentEdited());
    EXPECT_FALSE(introduction->isAutosavePending());

    // Opening it again brings the same document back, locked again.
    introduction->setLocked(false);
    EXPECT_EQ(shell.controller->openIntroduction(), introduction);
    EXPECT_TRUE(introduction->isLocked());

    // Duplicating gives an unlocked copy to write in.
    shell.dialogs.lockedChoice = Dialogs::LockedChoice::duplicate;
    QTest::keyClick(editor, Qt::Key_A);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell.controller->documents().size() == 2; }, test::patience));
    auto* copy = qobject_cast<Document*>(shell.controller->documents().back());
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->isLocked());
    EXPECT_EQ(textOf(copy), text);
    ASSERT_TRUE(windowOf(copy));
    EXPECT_FALSE(windowOf(copy)->titleStrip().titleBarHidden);
}

TEST(Startup, WithNothingToOpenOrRestoreANewDocumentOpens)
{
    clearStandardDefaults();
    Shell shell;
    shell.controller->openLaunchDocuments({});
    ASSERT_EQ(shell.controller->documents().size(), size_t(1));
    EXPECT_TRUE(shell.controller->documents().front()->isUntitled());
}

TEST(Startup, AnIntroductionThatCannotBeReadIsReportedAndNothingIsLocked)
{
    Shell shell;
    shell.controller->setIntroductionPath(freshDirectory("no-introduction") + "/introduction.md");
    EXPECT_EQ(shell.controller->openIntroduction(), nullptr);
    EXPECT_EQ(shell.dialogs.errors, QStringList{"The introduction couldn’t be opened."});
    EXPECT_TRUE(shell.controller->documents().empty());
}

TEST(Startup, ScreenshotAppearanceAndBetaItems)
{
    clearStandardDefaults();
    UserDefaults& defaults = UserDefaults::standard();
    defaults.set("lastVersion", qint64(Bundle::buildNumber()));
    defaults.set("Screenshot", true);
    defaults.set("AppleInterfaceStyle", "Dark");
    defaults.set("enableBetaFeatures", true);
    const auto override = SystemAppearance::shared().override();
    {
        Shell shell(true);
        EXPECT_EQ(SystemAppearance::shared().override(), std::optional<bool>(true));
        EXPECT_TRUE(Settings::shared().theme()->isDark);
        EXPECT_EQ(defaults.stringValue("theme"), std::nullopt); // the chosen theme is not rewritten

        // The stylesheet items are there; unlinking shows once a stylesheet
        // is linked.
        Menu& view = shell.controller->mainMenu()->topLevelMenu(MainMenu::view);
        ActionDispatcher::instance().validateMenu(view);
        for (Command command : {Command::linkStylesheet, Command::exportStylesheet})
            EXPECT_FALSE(view.itemWithCommand(command)->isHidden()) << command;
        EXPECT_TRUE(view.itemWithCommand(Command::unlinkStylesheet)->isHidden());
    }
    SystemAppearance::shared().setOverride(override);
    Settings::shared().showTheme(Settings::shared().themes().front());
}
