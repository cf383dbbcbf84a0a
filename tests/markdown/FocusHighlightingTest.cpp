#include "markdown/FocusHighlighting.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

const Color kInk(0.2, 0.2, 0.2, unhighlightedTextAlpha);
const Color kLink(0.0, 0.3, 0.9, unhighlightedTextAlpha);

// Text with every character coloured (dimmed, as styling leaves it while
// highlighting is on); the stretch "[link]" in its own colour.
TextStorage coloured(const QString& text)
{
    TextStorage s(text, Attributes{{AttributeKey::ForegroundColor, kInk}});
    for (qsizetype at = text.indexOf(QStringLiteral("[link]")); at >= 0; at = text.indexOf(QStringLiteral("[link]"), at + 1))
        s.addAttribute(AttributeKey::ForegroundColor, kLink, Range(at, 6));
    return s;
}

// 'F' for full strength, 'd' for dimmed, one per character.
QString strength(const TextStorage& s)
{
    QString out;
    for (qsizetype i = 0; i < s.length(); ++i) {
        const Color* c = s.attribute(AttributeKey::ForegroundColor, i).color();
        out += !c ? u'?' : c->a == highlightedTextAlpha ? u'F' : u'd';
    }
    return out;
}

QString cut(const QString& s, Range r) { return s.mid(r.location, r.length); }

} // namespace

TEST(FocusHighlighting, FocusRangeByMode)
{
    // Where sentences and paragraphs begin and end: TextNavigationTest.
    using H = Highlighting;
    const QString s = QStringLiteral("One. Two three.\nNext para. End");
    EXPECT_EQ(cut(s, focusRange(s, Range(0, 0), H::sentence)), QStringLiteral("One. "));
    EXPECT_EQ(cut(s, focusRange(s, Range(0, 0), H::paragraph)), QStringLiteral("One. Two three."));
    EXPECT_EQ(focusRange(s, Range(2, 3), H::sentence), Range(0, s.size())) << "a selection shows everything";
    EXPECT_EQ(focusRange(s, Range(2, 0), H::off), Range(0, s.size()));
    EXPECT_EQ(focusRange(QString(), Range(0, 0), H::sentence), Range(0, 0));
    EXPECT_EQ(focusRange(QString(), Range(0, 0), H::paragraph), Range(0, 0));
}

TEST(FocusHighlighting, CaretMovesRecolourOnlyTheOldAndNewFocus)
{
    const QString text = QStringLiteral("First one. Second [link] two. Third three. Fourth.");
    TextStorage s = coloured(text);
    const Range first = focusRange(text, Range(0, 0), Highlighting::sentence);
    highlightFocus(s, first, true);
    EXPECT_EQ(strength(s), QStringLiteral("FFFFFFFFFFF") + QString(s.length() - 11, u'd'));
    EXPECT_EQ(highlightedRange(s), first);

    // Move the caret into the third sentence.
    const Range third = focusRange(text, Range(33, 0), Highlighting::sentence);
    EXPECT_EQ(cut(text, third), QStringLiteral("Third three. "));
    std::vector<TextStorage::Change> changes;
    s.addObserver([&](const TextStorage::Change& c) { changes.push_back(c); });
    std::vector<Attributes> before;
    for (qsizetype i = 0; i < s.length(); ++i) before.push_back(s.attributes(i));
    highlightFocus(s, third, false);

    QString expected(s.length(), u'd');
    expected.replace(third.location, third.length, QString(third.length, u'F'));
    EXPECT_EQ(strength(s), expected);
    ASSERT_EQ(changes.size(), 1u) << "one bracket, one change";
    EXPECT_FALSE(changes[0].characters);
    EXPECT_EQ(changes[0].editedRange, first.united(third));
    for (qsizetype i = 0; i < s.length(); ++i) {
        if (first.contains(i) || third.contains(i)) continue;
        EXPECT_EQ(s.attributes(i), before[size_t(i)]) << "touched outside the two focus ranges at " << i;
    }
    EXPECT_EQ(highlightedRange(s), third);

    // The second sentence has its own link colour: lifted and dimmed with its own hue.
    const Range second = focusRange(text, Range(15, 0), Highlighting::sentence);
    highlightFocus(s, second, false);
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 20).color(), kLink.withAlpha(1.0));
    EXPECT_EQ(*s.attribute(AttributeKey::HighlightColor, 20).color(), kLink.withAlpha(1.0));
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 12).color(), kInk.withAlpha(1.0));
    highlightFocus(s, first, false);
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 20).color(), kLink);
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 12).color(), kInk);

    // A caret move that changes nothing reports nothing.
    changes.clear();
    highlightFocus(s, first, false);
    EXPECT_TRUE(changes.empty());
}

TEST(FocusHighlighting, RestyledTextInsideTheOldFocusKeepsItsColours)
{
    TextStorage s = coloured(QStringLiteral("See [link] here."));
    highlightFocus(s, Range(0, s.length()), true);
    // A restyle gives part of the lifted run a colour of its own.
    s.addAttribute(AttributeKey::ForegroundColor, kLink, Range(11, 4));
    highlightFocus(s, Range(0, 0), false);
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 12).color(), kLink);
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 0).color(), kInk);
    EXPECT_EQ(highlightedRange(s), Range(0, 0));
}

TEST(FocusHighlighting, EdgesOfTheText)
{
    TextStorage empty;
    std::vector<TextStorage::Change> changes;
    empty.addObserver([&](const TextStorage::Change& c) { changes.push_back(c); });
    highlightFocus(empty, Range(0, 0), true);
    highlightFocus(empty, Range(0, 0), false);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(highlightedRange(empty), Range(0, 0));

    // The last paragraph without a line break, and an empty paragraph.
    const QString text = QStringLiteral("one\n\nlast");
    TextStorage s = coloured(text);
    highlightFocus(s, focusRange(text, Range(text.size(), 0), Highlighting::paragraph), true);
    EXPECT_EQ(strength(s), QStringLiteral("ddddd" "FFFF"));
    highlightFocus(s, focusRange(text, Range(4, 0), Highlighting::paragraph), false);
    EXPECT_EQ(strength(s), QStringLiteral("ddddddddd")) << "an empty paragraph lifts nothing";
    EXPECT_EQ(highlightedRange(s), Range(0, 0));
    highlightFocus(s, Range(0, s.length()), true);
    EXPECT_EQ(strength(s), QStringLiteral("FFFFFFFFF")) << "highlighting off: everything at full strength";
}
