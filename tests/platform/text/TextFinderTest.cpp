#include "platform/text/TextFinder.h"
#include "support/Patience.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace lumora;

TEST(TextFinder, StepsForwardsAndBackwardsAndGoesRound)
{
    const QString text = QStringLiteral("Cat cat CAT scatter cat");
    const TextFinder any(QStringLiteral("cat"), {});
    EXPECT_EQ(any.next(text, 0), Range(0, 3));
    EXPECT_EQ(any.next(text, 1), Range(4, 3));
    EXPECT_EQ(any.previous(text, 11), Range(8, 3));
    EXPECT_EQ(any.find(text, 21, false, true), Range(0, 3)); // round the end
    EXPECT_EQ(any.find(text, 21, false, false), std::nullopt);
    EXPECT_EQ(any.find(text, 0, true, true), Range(20, 3)); // round the start

    const TextFinder exact(QStringLiteral("cat"), {true, false});
    EXPECT_EQ(exact.matches(text, Range(0, text.size())),
              (std::vector<Range>{Range(4, 3), Range(13, 3), Range(20, 3)}));
    const TextFinder words(QStringLiteral("cat"), {false, true});
    EXPECT_EQ(words.matches(text, Range(0, text.size())),
              (std::vector<Range>{Range(0, 3), Range(4, 3), Range(8, 3), Range(20, 3)}));
    // Only matches wholly inside the range; a lone match found when going
    // round is still found.
    EXPECT_EQ(any.matches(text, Range(5, 10)), (std::vector<Range>{Range(8, 3)}));
    EXPECT_EQ(TextFinder(QStringLiteral("CAT"), {true, false}).find(text, 9, false, true), Range(8, 3));
    EXPECT_TRUE(TextFinder().matches(text, Range(0, text.size())).empty());
}

TEST(TextFinder, WholeWordsFollowLettersOfEveryScript)
{
    const QString text = QString::fromUtf8("über überall Über-all _über 𝐀über über.");
    const TextFinder words(QString::fromUtf8("über"), {false, true});
    const auto found = words.matches(text, Range(0, text.size()));
    std::vector<qsizetype> starts;
    for (const Range& r : found) starts.push_back(r.location);
    // Not inside "überall", nor after "_" or a mathematical letter (a
    // surrogate pair); before "-" and "." it is a word.
    EXPECT_EQ(starts, (std::vector<qsizetype>{0, 13, qsizetype(text.size() - 5)}));
    // A pattern that starts with punctuation needs no word edge there.
    EXPECT_EQ(TextFinder(QStringLiteral("-all"), {false, true}).matches(text, Range(0, text.size())).size(), 1u);
    // Overlapping candidates: the next match starts after the last one.
    EXPECT_EQ(TextFinder(QStringLiteral("aa"), {}).matches(QStringLiteral("aaaaa"), Range(0, 5)).size(), 2u);
}

TEST(TextFinder, BackgroundSearchDeliversOnlyTheLatestCount)
{
    QString text;
    for (int i = 0; i < 20000; ++i) text += QStringLiteral("needle in a haystack, ");
    BackgroundFinder finder;
    std::vector<std::shared_ptr<const BackgroundFinder::Result>> results;
    finder.start(text, TextFinder(QStringLiteral("hay"), {}), [&](auto r) { results.push_back(r); });
    finder.start(text, TextFinder(QStringLiteral("needle"), {}), [&](auto r) { results.push_back(r); });
    EXPECT_TRUE(finder.isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.empty(); }, test::patience));
    QCoreApplication::processEvents();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0]->finder.pattern(), QStringLiteral("needle"));
    EXPECT_EQ(results[0]->starts.size(), 20000u);
    EXPECT_EQ(results[0]->starts[1], 22);
    EXPECT_FALSE(finder.isRunning());

    // The slices of a background search neither lose nor double a match
    // that crosses their edges.
    const QString repeated(200000, QChar(u'a'));
    const auto whole = BackgroundFinder::search(repeated, TextFinder(QStringLiteral("aaa"), {}));
    EXPECT_EQ(whole->starts.size(), size_t(200000 / 3));
    std::atomic<bool> cancelled{true};
    EXPECT_EQ(BackgroundFinder::search(repeated, TextFinder(QStringLiteral("a"), {}), &cancelled), nullptr);
}
