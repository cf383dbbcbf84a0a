#include "markdown/MarkdownEditing.h"
#include "markdown/MarkdownScanner.h"
#include "markdown/MarkdownStyling.h"
#include "platform/text/TextBoundaries.h"

#include "MarkdownTestSupport.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

using test::markParagraphs;

// Types text at the caret (a marker '|' in before), then runs list continuation.
// Returns the text with the edit applied and the caret shown as '|', or
// "none" when no edit comes back.
QString typeAndContinue(const QString& before, const QString& typed)
{
    QString s = before;
    const qsizetype caret = s.indexOf(u'|');
    s.remove(caret, 1);
    s.insert(caret, typed);
    const auto edit = listContinuation(s, Range(caret, typed.size()));
    if (!edit) return QStringLiteral("none");
    EXPECT_GE(edit->range.location, 0);
    EXPECT_LE(edit->range.end(), s.size());
    s.replace(edit->range.location, edit->range.length, edit->replacement);
    EXPECT_EQ(edit->selection.length, 0);
    s.insert(edit->selection.location, u'|');
    return s;
}

QString applied(const TextStorage& s, const std::optional<IndentationEdit>& edit)
{
    if (!edit) return QStringLiteral("none");
    QString t = s.string();
    t.replace(edit->range.location, edit->range.length, edit->replacement);
    return t;
}

} // namespace

TEST(ListContinuation, ContinuesListsQuotesAndCode)
{
    struct Case {
        const char16_t* before;
        const char* expected;
    };
    const Case cases[] = {
        {u"1. apple|", "1. apple\n2. |"},
        {u"9) x|", "9) x\n10) |"},
        {u"    3. x|", "    3. x\n    4. |"},
        {u"007. x|", "007. x\n8. |"},
        {u"1.\tx|", "1.\tx\n2.\t|"},
        {u"- item|", "- item\n- |"},
        {u"* item|", "* item\n* |"},
        {u"+\titem|", "+\titem\n+\t|"},
        {u"> > quoted|", "> > quoted\n> > |"},
        {u"    code|", "    code\n    |"},
        {u"- it|em", "- it\n- |em"},
        {u"a\n- item|\nb", "a\n- item\n- |\nb"},
        // An item that holds only its prefix: the prefix goes and the new
        // break stays, so a blank line ends the list, quote or code and what
        // is typed next is a paragraph of its own.
        {u"- |", "\n|"},
        {u"2. |", "\n|"},
        {u"> |", "\n|"},
        {u"    |", "\n|"},
        {u"- a pencil\n- |", "- a pencil\n\n|"},
        {u"> quote\n> |", "> quote\n\n|"},
        {u"x\n- |\ny", "x\n\n|\ny"},
        // Nothing to continue.
        {u"# Heading|", "none"},
        {u"plain|", "none"},
        {u"|- item", "none"},
        {u"[a]: b|", "none"},
        {u"9223372036854775807. x|", "none"},
        {u"99999999999999999999. x|", "none"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typeAndContinue(QString::fromUtf16(c.before), QStringLiteral("\n")), QString::fromUtf8(c.expected))
            << QString::fromUtf16(c.before).toStdString();
}

TEST(ListContinuation, OnlyASingleTypedLineBreakCounts)
{
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("x")), QStringLiteral("none"));
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\n\n")), QStringLiteral("none"));
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\na")), QStringLiteral("none"));
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\u2028")), QStringLiteral("- item\u2028- |"));
    EXPECT_FALSE(listContinuation(QStringLiteral("- a\n"), Range(4, 1))) << "past the end";
    EXPECT_FALSE(listContinuation(QStringLiteral("- a\r\n"), Range(3, 3))) << "past the end";
    EXPECT_FALSE(listContinuation(QString(), Range(0, 1)));
}

TEST(ListContinuation, ALineBreakOfCarriageReturnAndLineFeedCounts)
{
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\r\n")), QStringLiteral("- item\r\n- |"));
    EXPECT_EQ(typeAndContinue(QStringLiteral("a\r\n1. x|\r\nb"), QStringLiteral("\r\n")),
              QStringLiteral("a\r\n1. x\r\n2. |\r\nb"));
    // The empty item's prefix goes; the caret stands after the whole break.
    EXPECT_EQ(typeAndContinue(QStringLiteral("x\r\n- |\r\ny"), QStringLiteral("\r\n")),
              QStringLiteral("x\r\n\r\n|\r\ny"));
    // Two characters that are not one break.
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\n\r")), QStringLiteral("none"));
    EXPECT_EQ(typeAndContinue(QStringLiteral("- item|"), QStringLiteral("\r\r")), QStringLiteral("none"));
}

namespace {

// Types text at the caret ('|' in before), then asks whether that closes a
// fenced block; the text with the edit applied and the caret as '|', or
// "none".
QString typeAndCloseFence(const QString& before, const QString& typed)
{
    QString s = before;
    const qsizetype caret = s.indexOf(u'|');
    s.remove(caret, 1);
    s.insert(caret, typed);
    CodeFences fences;
    fences.reset(s);
    const auto edit = fenceClosing(s, Range(caret, typed.size()), [&]() -> const CodeFences& { return fences; });
    if (!edit) return QStringLiteral("none");
    s.replace(edit->range.location, edit->range.length, edit->replacement);
    s.insert(edit->selection.location, u'|');
    return s;
}

} // namespace

TEST(FenceClosing, AMarkerAfterCarriedIndentationClosesTheBlock)
{
    const QString code = QStringLiteral("```python\ndef walk(miles):\n    return miles * 2\n");
    // The third backtick completes the marker: the four spaces Return
    // carried go, and the line closes the block.
    EXPECT_EQ(typeAndCloseFence(code + QStringLiteral("    ``|"), QStringLiteral("`")), code + QStringLiteral("```|"));
    EXPECT_EQ(typeAndCloseFence(code + QStringLiteral("    |"), QStringLiteral("```")), code + QStringLiteral("```|"));
    // Back to the opening fence's own indentation; tildes and tabs too;
    // a longer opener needs its length; text after the block stays.
    EXPECT_EQ(typeAndCloseFence(QStringLiteral("  ~~~\n\tx\n\t~~|\nmore"), QStringLiteral("~")),
              QStringLiteral("  ~~~\n\tx\n  ~~~|\nmore"));
    EXPECT_EQ(typeAndCloseFence(QStringLiteral("````\n    x\n    ```|"), QStringLiteral("`")),
              QStringLiteral("````\n    x\n````|"));
    EXPECT_EQ(typeAndCloseFence(QStringLiteral("````\n    x\n    ``|"), QStringLiteral("`")), QStringLiteral("none"));
    EXPECT_EQ(typeAndCloseFence(QStringLiteral("```\r\n    x\r\n    ``|"), QStringLiteral("`")),
              QStringLiteral("```\r\n    x\r\n```|"));
}

TEST(FenceClosing, OnlyWhereTheLineWouldNotCloseAsTyped)
{
    const auto none = [](const char16_t* before, const char16_t* typed) {
        EXPECT_EQ(typeAndCloseFence(QString::fromUtf16(before), QString::fromUtf16(typed)), QStringLiteral("none"))
            << QString::fromUtf16(before).toStdString();
    };
    none(u"    x\n    ``|", u"`");                 // no fenced block: indented code
    none(u"```\nx\n```\n    y\n    ``|", u"`");  // that block is closed
    none(u"~~~\n    x\n    ``|", u"`");           // another marker
    none(u"```\n    x\n    ```|", u"`");          // completed already: a fourth
    none(u"```\n    x\n        ``|", u"`");       // more than Return carried
    none(u"```\n    x\n  ``|", u"`");             // less: it closes as it is
    none(u"```\n\tx\n    ``|", u"`");             // other white space than the line above
    none(u"```\nx\n    ``|", u"`");               // typed by hand, not carried
    none(u"```\n    x\n    ``|y", u"`");          // text after it
    none(u"```\n    x\n    a``|", u"`");          // text before it
    none(u"```\n    x\n    ``|", u"x");           // no marker typed
}

TEST(Indentation, TabAndBacktabInListItems)
{
    struct Case {
        const char16_t* text;
        qsizetype caret;
        const char* indented;
        const char* outdented;
    };
    const Case cases[] = {
        {u"- item\n", 3, "\t- item\n", "none"},
        {u"    - item\n", 8, "        - item\n", "- item\n"},
        {u"\t- item\n", 4, "\t\t- item\n", "- item\n"},
        {u"        - item\n", 12, "            - item\n", "    - item\n"},
        {u"\t1. item", 8, "\t\t1. item", "1. item"},
        {u"plain\n", 2, "none", "none"},
        {u"> quote\n", 2, "none", "none"},
        {u"a\n\t- b", 6, "a\n\t\t- b", "a\n- b"}, // caret at the very end: the last paragraph
        {u"", 0, "none", "none"},
    };
    for (const Case& c : cases) {
        TextStorage s(QString::fromUtf16(c.text));
        markParagraphs(s);
        EXPECT_EQ(applied(s, indentListItem(s, c.caret)), QString::fromUtf8(c.indented)) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(applied(s, outdentListItem(s, c.caret)), QString::fromUtf8(c.outdented)) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(Indentation, BacktabNeverTrustsAStaleElement)
{
    // Styled as a level-1 item, then the text changed without a restyle.
    TextStorage s(QStringLiteral("    - item\nnext"));
    markParagraphs(s);
    s.replaceCharacters(Range(0, 4), QStringLiteral("ab")); // "ab- item": no list item any more
    EXPECT_EQ(s.string(), QStringLiteral("ab- item\nnext"));
    EXPECT_FALSE(outdentListItem(s, 3)) << "must not remove 'ab- ' or anything else";
    EXPECT_FALSE(indentListItem(s, 3));

    // The element says level 1 but only a level-0 item is left.
    TextStorage t(QStringLiteral("\t- item"));
    markParagraphs(t);
    t.replaceCharacters(Range(0, 1), QString());
    EXPECT_EQ(t.string(), QStringLiteral("- item"));
    EXPECT_FALSE(outdentListItem(t, 2));

    // Markdown switched off: no element, nothing to do.
    TextStorage u(QStringLiteral("\t- item"));
    EXPECT_FALSE(outdentListItem(u, 2));
    EXPECT_FALSE(indentListItem(u, 2));

    // A caret far past the end never reaches past the text.
    TextStorage v(QStringLiteral("\t- x"));
    markParagraphs(v);
    EXPECT_EQ(applied(v, outdentListItem(v, 1000)), QStringLiteral("- x"));
}

TEST(EditTouchesSyntax, PlainTypingInsideAWordNeedsNoRestyle)
{
    struct Case {
        const char16_t* text;
        Range range;
        const char16_t* replacement;
        bool expected;
    };
    const Case cases[] = {
        {u"hello", Range(2, 0), u"x", false},   // between two letters
        {u"", Range(0, 0), u"x", false},
        {u"he llo", Range(3, 0), u"x", true},   // after a space
        {u"he*llo", Range(2, 0), u"x", true},   // before a "*"
        {u"he llo", Range(2, 0), u"x", false},  // before a space: whitespace after does not count
        {u"a1b", Range(1, 1), u"x", true},      // replacing a digit
        {u"ab", Range(1, 0), u" ", true},       // typing a space
        {u"ab", Range(1, 0), u"\n", true},
        {u"ab", Range(1, 0), u"\\", false},     // the backslash is no syntax character
        {u"a\u00A0b", Range(2, 0), u"x", true}, // after a no-break space
        {u"ab", Range(0, 2), u"", false},
        // Fence characters open and close code blocks.
        {u"``", Range(2, 0), u"`", true},
        {u"```", Range(3, 0), u"x", true},
        {u"x~~~", Range(0, 1), u"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(editTouchesMarkdownSyntax(QString::fromUtf16(c.text), c.range, QString::fromUtf16(c.replacement)), c.expected)
            << QString::fromUtf16(c.text).toStdString() << " @" << c.range.location;
}
