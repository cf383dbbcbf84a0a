#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"

#include <gtest/gtest.h>

using namespace lumora;

TEST(Localization, ParsesTheStringsTable)
{
    const auto table = parseStringsTable(QStringLiteral(R"(/* A comment
   over two lines */
"plain" = "Plain";
// a line comment
"escaped" = "Say \"hi\"\\n\tnow\n";
  "spaced"   =   "a = b ; c"  ;
this line is broken
"unicode" = "Größe “x”";
"last" = "no semicolon")"));
    EXPECT_EQ(table.value("plain"), QStringLiteral("Plain"));
    EXPECT_EQ(table.value("escaped"), QStringLiteral("Say \"hi\"\\n\tnow\n"));
    EXPECT_EQ(table.value("spaced"), QStringLiteral("a = b ; c"));
    EXPECT_EQ(table.value("unicode"), QStringLiteral("Größe “x”"));
    EXPECT_EQ(table.value("last"), QStringLiteral("no semicolon"));
    EXPECT_EQ(table.size(), 5);
}

TEST(Localization, LooksKeysUpAndShowsMissingKeys)
{
    EXPECT_EQ(localized("theme.name.light"), QStringLiteral("Light"));
    EXPECT_EQ(localized("no.such.key"), QStringLiteral("no.such.key"));
}

TEST(Localization, FormatsReplacePlaceholdersInOrder)
{
    EXPECT_EQ(formatWithPlaceholders("%@ Copy", {"Notes"}), QStringLiteral("Notes Copy"));
    EXPECT_EQ(formatWithPlaceholders("%@ and %@", {"a", "b"}), QStringLiteral("a and b"));
    EXPECT_EQ(formatWithPlaceholders("100%% of %@", {"it"}), QStringLiteral("100% of it"));
    EXPECT_EQ(formatWithPlaceholders("%@ %@", {"one"}), QStringLiteral("one %@"));
    EXPECT_EQ(formatWithPlaceholders("Copy", {"x"}), QStringLiteral("Copy"));
    EXPECT_EQ(formatWithPlaceholders("%", {"x"}), QStringLiteral("%"));
    EXPECT_EQ(localizedFormat("theme.name.copy", {"Dark"}), QStringLiteral("Dark Copy"));
}

TEST(Localization, MenuTitlesShowAmpersands)
{
    EXPECT_EQ(localizedMenuTitle("Find & Replace"), QStringLiteral("Find && Replace"));
}
