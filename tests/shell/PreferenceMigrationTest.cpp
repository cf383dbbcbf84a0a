#include "shell/PreferenceMigration.h"

#include "platform/files/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>


using namespace lumora;

namespace {

const QStringList kOldTextOptions{
    "automaticDashSubstitution",  "automaticDataDetection",      "automaticLinkDetection",
    "automaticQuoteSubstitution", "automaticSpellingCorrection", "automaticTextReplacement",
    "continuousSpellChecking",    "grammarChecking",             "smartInsertDelete",
};

struct Case {
    const char* name;
    qint64 last;
    QVariantMap before;
    QVariantMap after; // the whole store afterwards
};

QVariantMap allOptionsEnabled(bool value, const QVariantMap& rest = {})
{
    QVariantMap map = rest;
    for (const QString& key : kOldTextOptions) map.insert(key + "Enabled", value);
    return map;
}

} // namespace

TEST(PreferenceMigration, EachStepRunsForBuildsUpToItsNumber)
{
    const QByteArray a("bookmark-a"), b("bookmark-b");
    const QVariantMap library{{"sortKey", "name"}};
    const QVariantMap obsolete{{"useCustomFont", true},   {"showLibrariesIntroduction", true},
                               {"sidebarMultiple", 1},    {"sidebarWidth", 200.0},
                               {"outlineWidth", 180.0}};
    QVariantMap oldOptions{{"automaticDashSubstitution", true}, {"smartInsertDelete", false}};

    QVariantMap firstAfter = allOptionsEnabled(false, {{"libraries", QVariantList{}}, {"theme", "light"}});
    QVariantMap oldAfter = allOptionsEnabled(false, {{"libraries", QVariantList{}}, {"theme", "light"}});
    oldAfter["automaticDashSubstitutionEnabled"] = true;
    QVariantMap oldBefore = obsolete;
    oldBefore.insert(oldOptions);

    const Case cases[] = {
        // A first launch runs every step.
        {"first launch", 0, {}, firstAfter},
        {"an old build with every old key", 40, oldBefore, oldAfter},
        // 51: steps 51 to 87; data items stay, the dark flag becomes an id.
        {"build 51", 51,
         {{"libraries", QVariantList{a, b}}, {"theme", true}, {"useCustomFont", true}, {"sentenceHighlighting", true},
          {"automaticDashSubstitution", true}},
         {{"libraries", QVariantList{a, b}}, {"theme", "dark"}, {"useCustomFont", true},
          {"sentenceHighlighting", true}, {"highlighting", "sentence"}, {"automaticDashSubstitution", true}}},
        // A theme id is kept as it is (read as a flag, "dark" would become "light").
        {"a library list with anything but data empties; a theme id stays", 51,
         {{"libraries", QVariantList{a, library}}, {"theme", "dark"}},
         {{"libraries", QVariantList{}}, {"theme", "dark"}}},
        {"libraries that are no list empty", 51, {{"libraries", "x"}, {"theme", false}},
         {{"libraries", QVariantList{}}, {"theme", "light"}}},
        {"build 60", 60, {{"theme", 1}, {"sidebarMultiple", 2}}, {{"theme", "dark"}}},
        {"build 86", 86, {{"theme", true}, {"sidebarWidth", 1.0}, {"outlineWidth", 2.0}, {"sentenceHighlighting", false}},
         {{"theme", true}, {"sentenceHighlighting", false}}},
        {"build 87: only the highlighting step", 87, {{"sentenceHighlighting", true}, {"sidebarWidth", 1.0}},
         {{"sentenceHighlighting", true}, {"sidebarWidth", 1.0}, {"highlighting", "sentence"}}},
        {"build 88: nothing", 88, {{"sentenceHighlighting", true}, {"useCustomFont", true}},
         {{"sentenceHighlighting", true}, {"useCustomFont", true}}},
    };

    for (const Case& c : cases) {
        const QString path = test::freshDirectory("migration") + "/defaults.json";
        {
            UserDefaults defaults(path);
            for (auto it = c.before.begin(); it != c.before.end(); ++it) defaults.set(it.key(), it.value());
            migrateUserDefaults(defaults, c.last);
        }
        UserDefaults reread(path); // what was written
        EXPECT_EQ(reread.dictionaryRepresentation(), c.after) << c.name;
    }
}
