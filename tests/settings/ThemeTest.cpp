#include "settings/LumoraError.h"
#include "settings/Settings.h"
#include "settings/Theme.h"

#include "markdown/ParsedMarkdownStylesheet.h"
#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

std::shared_ptr<Theme> find(const Settings& s, const QString& id)
{
    for (const auto& t : s.themes())
        if (t->id == id) return t;
    return nullptr;
}

std::shared_ptr<Theme> userTheme(const QString& id, bool dark)
{
    return Theme::make(id, Color::white(0.1), Color::white(0.9), Color(1, 0.5, 0.25, 0.75), dark);
}

// Every link in the list is mutual and points into the list.
void expectLinksSound(const ThemeList& themes)
{
    for (const auto& t : themes) {
        const auto opposite = t->oppositeTheme();
        if (!opposite) continue;
        EXPECT_EQ(opposite->oppositeTheme(), t) << t->id.toStdString();
        EXPECT_NE(std::find(themes.begin(), themes.end(), opposite), themes.end()) << t->id.toStdString();
    }
}

} // namespace

TEST(Theme, BuiltInThemesAreCopiesWithTheirLinks)
{
    const Settings s(nullptr);
    ASSERT_EQ(s.themes().size(), 4u);
    const auto& builtIn = Theme::defaultThemes();
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NE(s.themes()[i].get(), builtIn[i].get());
        EXPECT_EQ(s.themes()[i]->propertyList(), builtIn[i]->propertyList());
        EXPECT_TRUE(s.themes()[i]->isBuiltIn());
    }
    EXPECT_EQ(s.themes()[0]->oppositeTheme(), s.themes()[1]);
    EXPECT_EQ(s.themes()[1]->oppositeTheme(), s.themes()[0]);
    EXPECT_FALSE(s.themes()[2]->oppositeTheme());
    EXPECT_FALSE(s.themes()[3]->oppositeTheme());
    EXPECT_EQ(s.themes()[0]->foregroundColor, Color::white(0.16));
    EXPECT_TRUE(s.themes()[1]->isDark);
    EXPECT_EQ(s.themes()[1]->displayName(), QStringLiteral("Dark"));
    EXPECT_EQ(Theme::noOppositeTitle(), QStringLiteral("None"));
}

TEST(Theme, RecordsLinkWhenTheSecondOfAPairIsRead)
{
    const auto a = userTheme("A", false);
    const auto b = userTheme("B", true);
    QVariantMap recordA = a->propertyList();
    EXPECT_FALSE(recordA.contains("oppositeTheme"));
    recordA.insert("oppositeTheme", "B");
    QVariantMap recordB = b->propertyList();
    recordB.insert("oppositeTheme", "A");
    QVariantMap recordC = userTheme("C", true)->propertyList();
    recordC.insert("oppositeTheme", "nobody");

    const auto store = makeStore("records");
    store->set("themes", QVariantList{recordA, recordB, recordC});
    store->set("theme", "B");
    const Settings s(store.get());
    ASSERT_EQ(ids(s.themes()), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(s.themes()[0]->oppositeTheme(), s.themes()[1]);
    EXPECT_EQ(s.themes()[1]->oppositeTheme(), s.themes()[0]);
    EXPECT_FALSE(s.themes()[2]->oppositeTheme());
    EXPECT_EQ(s.theme(), s.themes()[1]);
    EXPECT_EQ(s.themes()[1]->propertyList().value("oppositeTheme"), QVariant("A"));
    EXPECT_EQ(s.themes()[0]->cursorColor, Color(1, 0.5, 0.25, 0.75));
}

TEST(Theme, UnusableRecordsAreLeftOutAndAnUnusableListGivesTheBuiltIns)
{
    const QVariantMap good = userTheme("Good", false)->propertyList();
    QVariantMap noId = good;
    noId.remove("id");
    QVariantMap wrongType = good;
    wrongType.insert("isDark", "no");
    QVariantMap badColour = good;
    badColour.insert("cursorColor", QByteArray("not a colour"));
    QVariantMap stringColour = good;
    stringColour.insert("foregroundColor", "red");

    const auto store = makeStore("bad-records");
    store->set("themes", QVariantList{noId, wrongType, good, badColour, stringColour});
    EXPECT_EQ(ids(Settings(store.get()).themes()), QStringList{"Good"});

    const QVariant unusable[] = {QVariantList{good, 3}, QVariant("themes"), QVariantList{},
                                 QVariantList{noId, badColour}};
    for (const QVariant& value : unusable) {
        store->set("themes", value);
        const Settings s(store.get());
        EXPECT_EQ(ids(s.themes()), (QStringList{"light", "dark", "sepia", "amber"})) << value.toString().toStdString();
        EXPECT_EQ(s.theme(), s.themes().front());
    }
}

TEST(Theme, LinkingDropsEarlierPartners)
{
    const auto a = userTheme("A", false);
    const auto b = userTheme("B", true);
    const auto c = userTheme("C", true);
    const auto d = userTheme("D", false);
    a->setOppositeTheme(b);
    c->setOppositeTheme(d);
    a->setOppositeTheme(c); // A and C leave B and D
    EXPECT_EQ(a->oppositeTheme(), c);
    EXPECT_EQ(c->oppositeTheme(), a);
    EXPECT_FALSE(b->oppositeTheme());
    EXPECT_FALSE(d->oppositeTheme());
    a->setOppositeTheme(a); // a theme is never its own opposite
    EXPECT_FALSE(a->oppositeTheme());
    EXPECT_FALSE(c->oppositeTheme());

    // A theme that goes away leaves no link behind.
    auto e = userTheme("E", true);
    a->setOppositeTheme(e);
    e.reset();
    EXPECT_FALSE(a->oppositeTheme());
    EXPECT_FALSE(a->propertyList().contains("oppositeTheme"));
}

TEST(Theme, DuplicatesAreNamedByTheCopyFormat)
{
    const auto store = makeStore("duplicate");
    Settings s(store.get());
    const auto current = s.theme();
    Announced announced(s, {"themesChanged"});
    s.duplicateTheme(1);
    s.duplicateTheme(1);
    EXPECT_EQ(ids(s.themes()), (QStringList{"light", "dark", "Dark Copy Copy", "Dark Copy", "sepia", "amber"}));
    const auto copy = s.themes()[3];
    EXPECT_EQ(copy->foregroundColor, s.themes()[1]->foregroundColor);
    EXPECT_TRUE(copy->isDark);
    EXPECT_FALSE(copy->oppositeTheme());
    EXPECT_FALSE(copy->isBuiltIn());
    EXPECT_EQ(s.theme(), current);
    EXPECT_EQ(announced.names.size(), 2);
    EXPECT_EQ(store->arrayValue("themes")->size(), 6);
}

TEST(Theme, CopyNamesAlwaysEnd)
{
    const QStringList taken{"Notes Copy", "Copy", "Copy 2", "theme.name.copy"};
    const auto isTaken = [&](const QString& n) { return taken.contains(n); };
    EXPECT_EQ(Theme::nameForCopy("Notes", "%@ Copy", isTaken), QStringLiteral("Notes Copy Copy"));
    EXPECT_EQ(Theme::nameForCopy("Fresh", "%@ Copy", isTaken), QStringLiteral("Fresh Copy"));
    // A format without a placeholder (or a missing table entry, which reads
    // as its key) gives the same name every time: numbered names take over.
    EXPECT_EQ(Theme::nameForCopy("Notes", "Copy", isTaken), QStringLiteral("Copy 3"));
    EXPECT_EQ(Theme::nameForCopy("Notes", "theme.name.copy", isTaken), QStringLiteral("theme.name.copy 2"));
    // Numbered names count up until one is free.
    const auto takenUpToSix = [](const QString& n) { return !n.endsWith(" 7"); };
    EXPECT_EQ(Theme::nameForCopy("X", "%@", takenUpToSix), QStringLiteral("X 7"));
}

TEST(Theme, RenamingRefusesTakenNames)
{
    const auto store = makeStore("rename");
    Settings s(store.get());
    s.duplicateTheme(0);
    const auto mine = s.themes()[1];
    for (const QString& taken : {QStringLiteral("amber"), QStringLiteral("Dark"), QStringLiteral("light")}) {
        try {
            s.renameTheme(mine, taken);
            ADD_FAILURE() << taken.toStdString();
        } catch (const LumoraError& e) {
            EXPECT_EQ(e.errorDescription, QStringLiteral("A theme with that name already exists."));
            EXPECT_EQ(e.recoverySuggestion, QStringLiteral("Please choose a different name."));
        }
    }
    // A name of nothing but spaces is no name.
    for (const QString& blank : {QString(), QStringLiteral(" \t ")}) {
        try {
            s.renameTheme(mine, blank);
            ADD_FAILURE() << "blank";
        } catch (const LumoraError& e) {
            EXPECT_EQ(e.errorDescription, QStringLiteral("A theme needs a name."));
        }
    }
    EXPECT_EQ(mine->id, QStringLiteral("Light Copy"));
    Announced announced(s, {"themesChanged"});
    s.renameTheme(mine, mine->id); // its own name is fine
    s.setTheme(mine);
    s.renameTheme(mine, " Evening  ");
    EXPECT_EQ(announced.names.size(), 2);
    // The chosen theme stays chosen under its new name.
    const Settings again(store.get());
    EXPECT_EQ(ids(again.themes())[1], QStringLiteral("Evening"));
    EXPECT_EQ(again.theme()->id, QStringLiteral("Evening"));

    // A theme the appearance switch made current, without choosing it,
    // does not become the chosen one by being renamed.
    s.setTheme(s.themes()[2]);
    s.showTheme(mine);
    s.renameTheme(mine, "Dusk");
    EXPECT_EQ(store->stringValue("theme"), QStringLiteral("dark"));
}

TEST(Theme, SelectingAThemeDecidesWhetherToFollowTheAppearance)
{
    const auto store = makeStore("set-theme");
    Settings s(store.get());
    Announced announced(s, {"textAttributesChanged", "themeChanged"});
    const struct {
        const char* id;
        bool systemDark;
        bool automatic;
    } table[] = {{"dark", true, true}, {"dark", false, false}, {"light", false, true}, {"amber", true, false}};
    for (const auto& row : table) {
        s.setSystemAppearanceDark(row.systemDark);
        s.setTheme(find(s, row.id));
        EXPECT_EQ(store->stringValue("theme"), QString(row.id));
        EXPECT_EQ(store->object("automaticallySwitchTheme"), QVariant(row.automatic)) << row.id;
        EXPECT_EQ(s.theme()->id, QString(row.id));
        EXPECT_EQ(*s.parsedStylesheet()->foregroundColor, s.theme()->foregroundColor);
    }
    EXPECT_EQ(announced.names.size(), 8);
    EXPECT_EQ(announced.names.mid(0, 2), (QStringList{"textAttributesChanged", "themeChanged"}));
}

TEST(Theme, TheAppearanceSwitchFindsTheOpposite)
{
    const auto store = makeStore("appearance");
    Settings s(store.get());
    // Key absent: switching is on.
    EXPECT_EQ(s.oppositeThemeForAppearance(true), find(s, "dark"));
    EXPECT_FALSE(s.oppositeThemeForAppearance(false)); // light already suits
    EXPECT_FALSE(store->contains("theme"));
    store->set("automaticallySwitchTheme", "no"); // not a Bool: still on
    EXPECT_EQ(s.oppositeThemeForAppearance(true), find(s, "dark"));
    store->set("automaticallySwitchTheme", false);
    EXPECT_FALSE(s.oppositeThemeForAppearance(true));
    store->set("automaticallySwitchTheme", true);
    s.showTheme(find(s, "sepia"));
    EXPECT_FALSE(s.oppositeThemeForAppearance(true)); // no opposite
}

TEST(Theme, MovingRowsKeepsTheirOrder)
{
    Settings s(nullptr);
    s.duplicateTheme(3); // five themes
    s.moveThemes({2, 0}, 1);
    EXPECT_EQ(ids(s.themes()), (QStringList{"dark", "light", "sepia", "amber", "Amber Copy"}));
    s.moveThemes({4}, 99); // a destination past the end goes last
    EXPECT_EQ(ids(s.themes()).last(), QStringLiteral("Amber Copy"));
    s.moveThemes({-1, 7}, 0); // rows outside the list are ignored
    EXPECT_EQ(s.themes().size(), 5u);
}

TEST(Theme, ResettingLeavesNoLinkToTheOldTheme)
{
    const auto store = makeStore("reset");
    Settings s(store.get());
    s.duplicateTheme(0);
    const auto light = s.themes()[0];
    const auto mine = s.themes()[1];
    mine->isDark = true;
    light->setOppositeTheme(mine); // the user paired light with a theme of their own
    light->foregroundColor = Color(1, 0, 0);
    EXPECT_FALSE(find(s, "dark")->oppositeTheme());

    Announced announced(s, {"themeChanged", "themesChanged"});
    s.resetTheme(0);
    const auto fresh = s.themes()[0];
    EXPECT_NE(fresh, light);
    EXPECT_EQ(fresh->foregroundColor, Color::white(0.16));
    EXPECT_EQ(fresh->oppositeTheme(), find(s, "dark"));
    EXPECT_EQ(find(s, "dark")->oppositeTheme(), fresh);
    EXPECT_FALSE(mine->oppositeTheme());
    EXPECT_FALSE(light->oppositeTheme());
    EXPECT_EQ(s.theme(), fresh);
    EXPECT_EQ(announced.names, (QStringList{"themeChanged", "themesChanged"}));
    expectLinksSound(s.themes());

    s.resetTheme(1); // not built in: nothing
    s.resetTheme(17);
    EXPECT_EQ(s.themes()[1], mine);
}

TEST(Theme, ResettingLeavesTheAppearanceSwitchAlone)
{
    // Night: the writer chose light, and the switch with the appearance
    // made dark current without writing anything.
    const auto store = makeStore("reset-appearance");
    Settings s(store.get());
    s.setSystemAppearanceDark(false);
    s.setTheme(find(s, "light"));
    ASSERT_EQ(store->object("automaticallySwitchTheme"), QVariant(true));
    s.setSystemAppearanceDark(true);
    s.showTheme(find(s, "dark"));
    find(s, "light")->foregroundColor = Color(1, 0, 0);

    // Resetting light, which does not match the night, shows it; the
    // switching stays on, so the night turns it dark again.
    Announced announced(s, {"themeChanged", "themesChanged"});
    s.resetTheme(0);
    EXPECT_EQ(s.theme(), find(s, "light"));
    EXPECT_EQ(s.theme()->foregroundColor, Color::white(0.16));
    EXPECT_EQ(*s.parsedStylesheet()->foregroundColor, s.theme()->foregroundColor);
    EXPECT_EQ(store->stringValue("theme"), QStringLiteral("light"));
    EXPECT_EQ(store->object("automaticallySwitchTheme"), QVariant(true));
    EXPECT_EQ(announced.names, (QStringList{"themeChanged", "themesChanged"}));
    EXPECT_EQ(s.oppositeThemeForAppearance(true), find(s, "dark"));

    // Switching off stays off too.
    store->set("automaticallySwitchTheme", false);
    s.resetTheme(1);
    EXPECT_EQ(store->object("automaticallySwitchTheme"), QVariant(false));
    EXPECT_EQ(store->stringValue("theme"), QStringLiteral("dark"));
}

TEST(Theme, RemovingLeavesNoLinkToTheRemovedTheme)
{
    const auto store = makeStore("remove");
    Settings s(store.get());
    s.duplicateTheme(0);
    s.duplicateTheme(1);
    const auto first = s.themes()[1];
    const auto second = s.themes()[2];
    second->isDark = true;
    first->setOppositeTheme(second);
    s.setTheme(second);

    EXPECT_FALSE(s.removeTheme(0)); // built in
    EXPECT_TRUE(s.removeTheme(2));
    EXPECT_FALSE(first->oppositeTheme());
    EXPECT_FALSE(second->oppositeTheme());
    EXPECT_EQ(s.theme(), first); // the theme above takes over
    expectLinksSound(s.themes());
    const Settings again(store.get());
    EXPECT_EQ(ids(again.themes()), (QStringList{"light", "Light Copy", "dark", "sepia", "amber"}));
    EXPECT_EQ(again.theme()->id, QStringLiteral("Light Copy"));
}

TEST(Theme, PossibleOppositesDifferInDarknessAndKind)
{
    Settings s(nullptr);
    const auto light = find(s, "light");
    const auto dark = find(s, "dark");
    const auto sepia = find(s, "sepia");
    const auto amber = find(s, "amber");
    const auto mineDark = userTheme("Mine", true);
    const auto mineLight = userTheme("Other", false);
    EXPECT_TRUE(Settings::isPossibleOppositeTheme(dark, light));    // its present opposite
    EXPECT_TRUE(Settings::isPossibleOppositeTheme(amber, sepia));   // free, built in, darker
    EXPECT_TRUE(Settings::isPossibleOppositeTheme(amber, light));   // free: light may switch partners
    EXPECT_FALSE(Settings::isPossibleOppositeTheme(sepia, light));  // same darkness
    EXPECT_FALSE(Settings::isPossibleOppositeTheme(mineDark, light)); // not both built in
    EXPECT_TRUE(Settings::isPossibleOppositeTheme(mineDark, mineLight));
    EXPECT_FALSE(Settings::isPossibleOppositeTheme(dark, sepia));   // dark is taken by light
}

// Two Lumoras over the same preferences each copy a theme, the first ones
// ever stored: the stored list holds both copies, each after its original.
TEST(Theme, TwoLumorasKeepEachOthersThemes)
{
    const auto first = makeStore("two-lumoras-themes");
    UserDefaults second(first->filePath());
    Settings a(first.get()), b(&second);
    a.duplicateTheme(0);
    b.duplicateTheme(1);
    UserDefaults stored(first->filePath());
    EXPECT_EQ(ids(Settings(&stored).themes()).join(", ").toStdString(),
              "light, Light Copy, dark, Dark Copy, sepia, amber");
}
