#include "platform/text/TextSubstitutions.h"

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::text;

namespace {

// The text after typing s one character at a time, each rule applied as the
// editor applies it.
QString typed(const QString& s, const std::vector<TextReplacementEntry>& replacements = {})
{
    QString text;
    for (QChar c : s) {
        text += c;
        const qsizetype at = text.size() - 1;
        std::optional<Substitution> change = smartQuote(text, at);
        if (!change) change = smartDash(text, at);
        if (!change) change = textReplacement(text, at, replacements);
        if (change) text.replace(change->range.location, change->range.length, change->replacement);
    }
    return text;
}

} // namespace

TEST(TextSubstitutions, QuotesAndDashesFollowTheirContext)
{
    EXPECT_EQ(typed(QStringLiteral("It's -- as they say -- \"fine\"")),
              QString::fromUtf8("It’s — as they say — “fine”"));
    EXPECT_EQ(typed(QStringLiteral("('quoted') [\"x\"] —'a'")), QString::fromUtf8("(‘quoted’) [“x”] —‘a’"));
    EXPECT_EQ(typed(QStringLiteral("\"'nested'\"")), QString::fromUtf8("“‘nested’”"));
    EXPECT_EQ(typed(QStringLiteral("line\n\"next\"")), QString::fromUtf8("line\n“next”"));
    // Hyphens that are Markdown or HTML stay.
    EXPECT_EQ(typed(QStringLiteral("--- \n-- \n  -- x")), QStringLiteral("--- \n-- \n  -- x"));
    EXPECT_EQ(typed(QStringLiteral("a --- b")), QStringLiteral("a --- b"));
    EXPECT_EQ(typed(QStringLiteral("a<!-- c -->")), QStringLiteral("a<!-- c -->"));
    EXPECT_EQ(typed(QStringLiteral("word--word")), QString::fromUtf8("word—word"));
    // Nothing happens until the character after the hyphens comes.
    EXPECT_EQ(typed(QStringLiteral("end --")), QStringLiteral("end --"));
}

TEST(TextSubstitutions, TextReplacementNeedsAWordEdgeOnBothSides)
{
    const std::vector<TextReplacementEntry> list{{QStringLiteral("(c)"), QString::fromUtf8("©")},
                                                 {QStringLiteral("omw"), QStringLiteral("on my way")},
                                                 {QStringLiteral("omwh"), QStringLiteral("on my way home")}};
    EXPECT_EQ(typed(QStringLiteral("(c) 2024, omw. omwh!"), list), QString::fromUtf8("© 2024, on my way. on my way home!"));
    EXPECT_EQ(typed(QStringLiteral("x(c) zomw omwx"), list), QStringLiteral("x(c) zomw omwx"));
    EXPECT_EQ(typed(QStringLiteral("\"omw\" (omw "), list), QString::fromUtf8("“omw” (on my way "));
}

TEST(TextSubstitutions, SmartPasteAndDeleteKeepOneSpaceBetweenWords)
{
    const QString text = QStringLiteral("one two three.");
    EXPECT_EQ(smartInsertPadding(text, Range(3, 0), u"word"), std::make_pair(QStringLiteral(" "), QString()));
    EXPECT_EQ(smartInsertPadding(text, Range(4, 0), u"word"), std::make_pair(QString(), QStringLiteral(" ")));
    EXPECT_EQ(smartInsertPadding(text, Range(4, 3), u"2"), std::make_pair(QString(), QString()));
    EXPECT_EQ(smartInsertPadding(text, Range(4, 0), u" word "), std::make_pair(QString(), QString()));

    EXPECT_EQ(smartDeleteRange(text, Range(4, 3)), Range(4, 4));  // "two" and the space after it
    EXPECT_EQ(smartDeleteRange(text, Range(8, 5)), Range(7, 6));   // "three" before "." takes the space before
    EXPECT_EQ(smartDeleteRange(text, Range(0, 3)), Range(0, 4));   // at the start of a line
    EXPECT_EQ(smartDeleteRange(text, Range(5, 2)), Range(5, 2));   // part of a word stays as it is
    EXPECT_EQ(smartDeleteRange(text, Range(3, 5)), Range(3, 5));   // spaces at the edges: not whole words
}
