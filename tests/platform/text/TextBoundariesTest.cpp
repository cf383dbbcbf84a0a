#include "platform/foundation/CharacterSet.h"
#include "platform/text/TextBoundaries.h"

#include <QString>

#include <gtest/gtest.h>

#include <vector>

using namespace lumora;
using namespace lumora::text;

namespace {

std::vector<QString> units(const QString& s, Unit unit, Direction direction = Direction::Forward,
                           Range range = Range(0, -1), bool enclosing = false)
{
    if (range.length < 0) range = Range(0, s.size());
    std::vector<QString> out;
    enumerateSubstrings(s, range, unit, direction, [&](Range sub, Range enc) {
        const Range r = enclosing ? enc : sub;
        out.push_back(s.mid(r.location, r.length));
        return true;
    });
    return out;
}

} // namespace

TEST(TextBoundaries, CharacterClasses)
{
    // Whitespace: the space separators and tab, never a line break; newlines: the break set.
    for (char16_t c : {u' ', u'\t', char16_t(0xA0), char16_t(0x2003), char16_t(0x3000)}) {
        EXPECT_TRUE(isWhitespace(c)) << int(c);
        EXPECT_TRUE(CharacterSet::whitespace().contains(c)) << int(c);
    }
    for (char16_t c : {u'\n', u'\r', char16_t(0x0B), char16_t(0x0C), char16_t(0x85), char16_t(0x2028), char16_t(0x2029)}) {
        EXPECT_TRUE(isNewline(c)) << int(c);
        EXPECT_FALSE(isWhitespace(c)) << int(c);
        EXPECT_TRUE(CharacterSet::whitespaceAndNewlines().contains(c)) << int(c);
    }
    EXPECT_FALSE(isWhitespace(char16_t(0x200B))) << "a zero-width space is no separator";
    EXPECT_TRUE(CharacterSet::decimalDigits().contains(char16_t(0x0663))) << "Arabic-Indic three";
    EXPECT_FALSE(CharacterSet::decimalDigits().contains(char16_t(0xD835))) << "surrogates are never members";
}

TEST(TextBoundaries, Sentences)
{
    const QString s = QStringLiteral("Mr. Smith came home. He slept!  Then\nnothing");
    EXPECT_EQ(units(s, Unit::Sentences),
              (std::vector<QString>{QStringLiteral("Mr. Smith came home. "), QStringLiteral("He slept!  "),
                                    QStringLiteral("Then\n"), QStringLiteral("nothing")}));
    EXPECT_EQ(units(s, Unit::Sentences, Direction::Reverse).front(), QStringLiteral("nothing"));
    // The range is the whole text: a sentence cut by its end ends there.
    EXPECT_EQ(units(s, Unit::Sentences, Direction::Reverse, Range(0, 23)).front(), QStringLiteral("He"));
}

TEST(TextBoundaries, WordsSkipSpacesAndPunctuation)
{
    EXPECT_EQ(units(QStringLiteral("It's 42 — naïve, \U0001F600 ok."), Unit::Words),
              (std::vector<QString>{QStringLiteral("It's"), QStringLiteral("42"), QStringLiteral("naïve"),
                                    QStringLiteral("ok")}));
}

TEST(TextBoundaries, Paragraphs)
{
    const QString s = QStringLiteral("one\r\ntwo\u2028\nthree\n");
    EXPECT_EQ(units(s, Unit::Paragraphs),
              (std::vector<QString>{QStringLiteral("one"), QStringLiteral("two"), QString(), QStringLiteral("three")}));
    EXPECT_EQ(units(s, Unit::Paragraphs, Direction::Forward, Range(0, -1), true).front(), QStringLiteral("one\r\n"));
    EXPECT_EQ(units(s, Unit::Paragraphs, Direction::Reverse),
              (std::vector<QString>{QStringLiteral("three"), QString(), QStringLiteral("two"), QStringLiteral("one")}));

    struct Case {
        Range range;
        ParagraphBounds expected;
    };
    const QString t = QStringLiteral("ab\r\ncd\nef");
    for (const Case& c : {Case{Range(0, 0), {0, 2, 4}}, Case{Range(3, 0), {0, 2, 4}}, Case{Range(4, 0), {4, 6, 7}},
                          Case{Range(1, 4), {0, 6, 7}}, Case{Range(9, 0), {7, 9, 9}}, Case{Range(2, 2), {0, 2, 4}}}) {
        const ParagraphBounds b = paragraphBounds(t, c.range);
        EXPECT_EQ(b.start, c.expected.start) << c.range.location << "," << c.range.length;
        EXPECT_EQ(b.contentsEnd, c.expected.contentsEnd) << c.range.location << "," << c.range.length;
        EXPECT_EQ(b.end, c.expected.end) << c.range.location << "," << c.range.length;
    }
    const ParagraphBounds atEnd = paragraphBounds(QStringLiteral("a\n"), Range(2, 0));
    EXPECT_EQ(atEnd.start, 2);
    EXPECT_EQ(atEnd.end, 2);
}
