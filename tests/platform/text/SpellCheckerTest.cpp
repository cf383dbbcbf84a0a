#include "platform/text/SpellChecker.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace lumora;

TEST(SpellChecker, ChecksWordsWithTheTestDictionary)
{
    SpellChecker checker(test::installTestDictionary());
    ASSERT_TRUE(checker.isAvailable());
    EXPECT_EQ(checker.language(), QStringLiteral("en_ZZ"));
    EXPECT_TRUE(checker.isCorrect(u"quick"));
    EXPECT_FALSE(checker.isCorrect(u"qiuck"));
    EXPECT_TRUE(checker.isCorrect(u"it's"));
    EXPECT_TRUE(checker.isCorrect(QString::fromUtf8("it’s"))); // the writer's apostrophe
    EXPECT_TRUE(checker.isCorrect(u"x"));                          // one letter: not checked
    EXPECT_TRUE(checker.isCorrect(u"abc123"));                     // digits: not checked

    const QString text = QStringLiteral("The qiuck brown fox jmups over `teh` lazy dog");
    const auto found = checker.misspellings(text, Range(0, text.size()), {Range(32, 5)});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(text.mid(found[0].location, found[0].length), QStringLiteral("qiuck"));
    EXPECT_EQ(text.mid(found[1].location, found[1].length), QStringLiteral("jmups"));
    EXPECT_TRUE(checker.suggestions(u"qiuck").contains(QStringLiteral("quick")));
    // One slip away from one word: corrected; the capital stays.
    EXPECT_EQ(checker.correction(u"Qiuck"), QStringLiteral("Quick"));
    EXPECT_EQ(checker.correction(u"quick"), std::nullopt);
    EXPECT_EQ(checker.correction(u"zzzzzz"), std::nullopt);
    const auto first = checker.firstMisspelling(text, Range(10, text.size() - 10), [](Range) { return false; });
    EXPECT_EQ(first, Range(20, 5));
}

TEST(SpellChecker, IgnoredWordsLastASessionAndLearntWordsSurviveARestart)
{
    const QString language = test::installTestDictionary();
    {
        SpellChecker checker(language);
        EXPECT_FALSE(checker.isCorrect(u"Lumorian"));
        EXPECT_FALSE(checker.isCorrect(u"frobble"));
        checker.learn(u"Lumorian");
        checker.ignore(u"frobble");
        EXPECT_TRUE(checker.isCorrect(u"Lumorian"));
        EXPECT_TRUE(checker.isCorrect(u"frobble"));
    }
    SpellChecker again(language);
    EXPECT_TRUE(again.isCorrect(u"Lumorian"));
    EXPECT_FALSE(again.isCorrect(u"frobble"));
    // The personal word list lives in the sandbox, never in the user's folder.
    const QString folder = QFile::decodeName(qgetenv("ENCHANT_CONFIG_DIR"));
    ASSERT_TRUE(folder.startsWith(test::sandboxRoot()));
    EXPECT_TRUE(QString::fromUtf8(test::readFile(QDir(folder).filePath(language + QStringLiteral(".dic"))))
                    .contains(QStringLiteral("Lumorian")));
}

TEST(SpellChecker, FallsBackToEnglishForALanguageWithoutADictionary)
{
    test::installTestDictionary();
    SpellChecker checker(QStringLiteral("xx_XX"));
    if (!checker.isAvailable()) GTEST_SKIP() << "no English dictionary installed";
    EXPECT_TRUE(checker.language().startsWith(QStringLiteral("en")));
    EXPECT_FALSE(SpellChecker::availableLanguages().isEmpty());
}
