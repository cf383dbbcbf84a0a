#include "platform/text/CaseMapping.h"

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::text;

TEST(CaseMapping, FollowsTheLanguagesRules)
{
    EXPECT_EQ(changeCase(QString::fromUtf8("Straße"), CaseChange::upper, "de_DE"), QString::fromUtf8("STRASSE"));
    EXPECT_EQ(changeCase(QStringLiteral("istanbul"), CaseChange::upper, "tr_TR"), QString::fromUtf8("İSTANBUL"));
    EXPECT_EQ(changeCase(QStringLiteral("istanbul"), CaseChange::upper, "en_US"), QStringLiteral("ISTANBUL"));
    EXPECT_EQ(changeCase(QStringLiteral("ISPARTA"), CaseChange::lower, "tr_TR"), QString::fromUtf8("ısparta"));
    // A sigma at the end of a word is written ς.
    EXPECT_EQ(changeCase(QString::fromUtf8("ΟΔΟΣ ΟΔΟΣ"), CaseChange::lower, "el_GR"), QString::fromUtf8("οδος οδος"));
    EXPECT_EQ(changeCase(QStringLiteral("hELLO wORLD, it's fine"), CaseChange::capitalize, "en_US"),
              QStringLiteral("Hello World, It's Fine"));
    EXPECT_EQ(changeCase(QString(), CaseChange::upper, "en_US"), QString());
}

TEST(CaseMapping, WordAtTheCaret)
{
    const QString text = QStringLiteral("one two, it's\nthree");
    EXPECT_EQ(wordAt(text, 0), Range(0, 3));
    EXPECT_EQ(wordAt(text, 3), Range(0, 3)); // at its end
    EXPECT_EQ(wordAt(text, 5), Range(4, 3));
    EXPECT_EQ(wordAt(text, 9), Range(9, 4)); // "it's" is one word
    EXPECT_EQ(wordAt(text, 14), Range(14, 5));
    EXPECT_EQ(wordAt(QStringLiteral("a  b"), 2), std::nullopt);
}
