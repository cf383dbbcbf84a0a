#include "markdown/TextNavigation.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

QString cut(const QString& s, Range r) { return s.mid(r.location, r.length); }

// Applies a line move as the editor does and returns the text with the
// selection shown as [..].
QString moved(const QString& s, Range selection, bool up)
{
    const auto move = up ? lineMovedUp(s, selection) : lineMovedDown(s, selection);
    if (!move) return QStringLiteral("none");
    QString t = s;
    t.insert(move->insertion.location, move->text);
    t.remove(move->removal.location, move->removal.length);
    const qsizetype at = selection.location + move->selectionShift;
    t.insert(at + selection.length, u']');
    t.insert(at, u'[');
    return t;
}

} // namespace

TEST(TextNavigation, SentenceFocus)
{
    const QString s = QStringLiteral("One two. Three four. Five");
    struct Case {
        qsizetype caret;
        const char* focus;
    };
    for (const Case& c : {Case{0, "One two. "}, Case{3, "One two. "}, Case{8, "One two. "},
                          Case{9, "Three four. "},  // right after the space: the next sentence
                          Case{15, "Three four. "}, Case{26, "Five"}})
        EXPECT_EQ(cut(s, sentenceFocusRange(s, c.caret)), QString::fromUtf8(c.focus)) << c.caret;
    EXPECT_EQ(sentenceFocusRange(QString(), 0), Range(0, 0));
}

TEST(TextNavigation, SentenceRangeForCommands)
{
    const QString s = QStringLiteral("First one. Second one.");
    EXPECT_EQ(cut(s, sentenceRange(s, 2)), QStringLiteral("First one.")) << "without the trailing space";
    EXPECT_EQ(cut(s, sentenceRange(s, 10)), QStringLiteral("Second one.")) << "right after the full stop";
    EXPECT_EQ(cut(s, sentenceRange(s, 22)), QString());
    const QString t = QStringLiteral("Ends in space. ");
    const Range atEnd = sentenceRange(t, t.size());
    EXPECT_EQ(atEnd, Range(t.size(), 0)) << "an empty range at the end, never a negative length";
    EXPECT_EQ(sentenceRange(QString(), 0), Range(0, 0));
}

TEST(TextNavigation, ParagraphFocusLeavesTheLineBreakOut)
{
    const QString s = QStringLiteral("alpha\r\n\nbeta gamma\nlast");
    struct Case {
        qsizetype caret;
        const char* paragraph;
    };
    for (const Case& c : {Case{0, "alpha"}, Case{5, "alpha"}, Case{7, ""}, Case{8, "beta gamma"},
                          Case{13, "beta gamma"}, Case{19, "last"}, Case{23, "last"}})
        EXPECT_EQ(cut(s, paragraphRange(s, c.caret)), QString::fromUtf8(c.paragraph)) << c.caret;
    // The caret on the empty line after a final line break: the paragraph before it.
    EXPECT_EQ(paragraphRange(QStringLiteral("a\n"), 2), Range(0, 1));
    EXPECT_EQ(paragraphRange(QString(), 0), Range(0, 0));
}

TEST(TextNavigation, LinesMoveUpAndDown)
{
    struct Case {
        const char16_t* text;
        Range selection;
        bool up;
        const char* expected;
    };
    const Case cases[] = {
        {u"one\ntwo\nthree", Range(4, 1), true, "[t]wo\none\nthree"},
        {u"one\ntwo\nthree", Range(8, 2), true, "one\n[th]ree\ntwo"},
        {u"one\ntwo\nthree", Range(1, 0), true, "none"},
        {u"one\ntwo\nthree", Range(0, 5), false, "three\n[one\nt]wo"},
        {u"one\ntwo\nthree", Range(4, 0), false, "one\nthree\n[]two"},
        {u"one\ntwo\nthree", Range(9, 0), false, "none"},
        // "\r\n" moves as one line break.
        {u"a\r\nb\r\nc", Range(3, 1), true, "[b]\r\na\r\nc"},
        {u"a\r\nb\r\nc", Range(3, 1), false, "a\r\nc\r\n[b]"},
        {u"a\r\nb\nc", Range(5, 1), true, "a\n[c]\r\nb"}, // breaks travel with their lines
    };
    for (const Case& c : cases)
        EXPECT_EQ(moved(QString::fromUtf16(c.text), c.selection, c.up), QString::fromUtf8(c.expected))
            << QString::fromUtf16(c.text).toStdString() << " " << c.selection.location;
}

TEST(TextNavigation, TitleFromTheFirstSentence)
{
    struct Case {
        const char16_t* text;
        bool strip;
        const char16_t* title; // null: none
    };
    const Case cases[] = {
        {u"Hello world. More text.", true, u"Hello world."},
        {u"# My Title\nBody", true, u"My Title"},
        {u"# My Title\nBody", false, u"# My Title"},
        {u"- item one\n", true, u"item one"},
        {u"", true, nullptr},
        {u"#\n", true, u"#"},
        {u"   \n", true, nullptr},
    };
    for (const Case& c : cases) {
        const auto title = titleFromFirstSentence(QString::fromUtf16(c.text), c.strip);
        if (!c.title) EXPECT_FALSE(title) << QString::fromUtf16(c.text).toStdString();
        else EXPECT_EQ(title.value_or(QStringLiteral("<none>")), QString::fromUtf16(c.title));
    }
    EXPECT_FALSE(titleFromFirstSentence(QString(120, u'a'), true)) << "too long";
    EXPECT_TRUE(titleFromFirstSentence(QString(99, u'a'), true));
}

TEST(TextNavigation, SentenceAndParagraphCommandTargets)
{
    // Two one-letter sentences: from before the last full stop back to just
    // after the first one, then to the start.
    const QString two = QStringLiteral("A. B.");
    EXPECT_EQ(previousSentenceTarget(two, 4), 2);
    EXPECT_EQ(previousSentenceTarget(two, 2), 0);
    EXPECT_EQ(previousSentenceTarget(two, 0), 0);
    const QString three = QStringLiteral("One two. Three four. Five.");
    EXPECT_EQ(nextSentenceTarget(three, 0), 8);
    EXPECT_EQ(nextSentenceTarget(three, 8), 20); // at a sentence's end: the next one's
    EXPECT_EQ(nextSentenceTarget(three, three.size()), three.size());
    // A "\r\n" between sentences is one line break: never split.
    const QString crlf = QStringLiteral("One.\r\nTwo.");
    EXPECT_EQ(previousSentenceTarget(crlf, 8), 4);
    EXPECT_EQ(nextSentenceTarget(crlf, 0), 4);

    // Paragraphs: to the start of the caret's own, then of the one before;
    // to the end of its own (before the break), then of the next; a "\r\n"
    // is one break.
    const QString text = QStringLiteral("first line\r\nsecond line\n\nlast");
    EXPECT_EQ(previousParagraphTarget(text, 16), 12);
    EXPECT_EQ(previousParagraphTarget(text, 12), 0);
    EXPECT_EQ(previousParagraphTarget(text, 0), 0);
    EXPECT_EQ(previousParagraphTarget(text, text.size()), 25);
    EXPECT_EQ(nextParagraphTarget(text, 3), 10);
    EXPECT_EQ(nextParagraphTarget(text, 10), 23);
    EXPECT_EQ(nextParagraphTarget(text, 23), 24); // the empty paragraph
    EXPECT_EQ(nextParagraphTarget(text, 26), text.size());
    EXPECT_EQ(nextParagraphTarget(text, text.size()), text.size());
    EXPECT_EQ(nextParagraphTarget(QString(), 0), 0);
}
