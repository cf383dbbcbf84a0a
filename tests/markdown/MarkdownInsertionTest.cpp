#include "markdown/MarkdownInsertion.h"
#include "markdown/MarkdownStylesheet.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/foundation/Localization.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

// A text with its selection written in it: "«" and "»" around a selection,
// "|" for a caret.
struct Marked {
    QString text;
    Range selection;
};

Marked parse(QString s)
{
    if (const qsizetype caret = s.indexOf(u'|'); caret >= 0) {
        s.remove(caret, 1);
        return {s, Range(caret, 0)};
    }
    const qsizetype from = s.indexOf(u'«');
    s.remove(from, 1);
    const qsizetype to = s.indexOf(u'»');
    s.remove(to, 1);
    return {s, Range(from, to - from)};
}

QString show(QString text, Range selection)
{
    if (selection.isEmpty()) return text.insert(selection.location, u'|');
    text.insert(selection.end(), u'»');
    return text.insert(selection.location, u'«');
}

// The edits made one after another as the editor makes them; the text with
// the selection the last one leaves, or "none" without edits.
QString applied(const QString& text, const std::vector<MarkdownEdit>& edits)
{
    if (edits.empty()) return QStringLiteral("none");
    QString s = text;
    Range selection;
    for (const MarkdownEdit& edit : edits) {
        EXPECT_GE(edit.range.location, 0);
        EXPECT_LE(edit.range.end(), s.size()) << qPrintable(s);
        s.replace(edit.range.location, edit.range.length, edit.replacement);
        selection = edit.selection;
    }
    return show(s, selection);
}

// The text styled as the editor styles it, so that links, footnotes and
// definitions carry their marks.
std::unique_ptr<TextStorage> styled(const QString& text)
{
    const ParsedMarkdownStylesheet parsed(MarkdownStylesheet::defaultStylesheet(), Color(0.0, 0.0, 0.0, 1.0), 0.0);
    auto storage = std::make_unique<TextStorage>(text, parsed.base);
    restyleParagraphs(*storage, parsed, Range(0, storage->length()), true);
    return storage;
}

QString link(const QString& marked, QStringView lineEnding = u"\n")
{
    const Marked m = parse(marked);
    return applied(m.text, insertMarkdownLink(*styled(m.text), m.selection, lineEnding));
}

QString footnote(const QString& marked, QStringView lineEnding = u"\n")
{
    const Marked m = parse(marked);
    return applied(m.text, insertMarkdownFootnote(*styled(m.text), m.selection, lineEnding));
}

QString strong(const QString& marked)
{
    const Marked m = parse(marked);
    return applied(m.text, {toggleMarkdownEmphasis(m.text, m.selection, Markdown::Kind::Bold)});
}

QString emphasis(const QString& marked)
{
    const Marked m = parse(marked);
    return applied(m.text, {toggleMarkdownEmphasis(m.text, m.selection, Markdown::Kind::Italic)});
}

} // namespace

TEST(MarkdownInsertion, NewLinksWrapTheSelectionAndSelectThePlaceholderAddress)
{
    const QString address = placeholderLinkAddress();
    const QString label = localized("markdown.link");
    EXPECT_NE(label, QStringLiteral("markdown.link")); // the strings table has it
    EXPECT_EQ(link("Go | now"), "Go [" + label + "](«" + address + "») now");
    EXPECT_EQ(link("Go «there» now"), "Go [there](«" + address + "») now");
    // Inside emphasis a link has no place: nothing changes.
    EXPECT_EQ(link("An *em|phasis* here"), "none");
    // A bracketed text that is no link is no element either.
    EXPECT_EQ(link("[a] b|"), "[a] b[" + label + "](«" + address + "»)");
}

TEST(MarkdownInsertion, AnInlineLinkBecomesNumberedAndLaterNumbersMoveUp)
{
    EXPECT_EQ(link("See [a][1] and [b](http://b|) and [c][2].\n\n[1]: http://a\n[2]: http://c\n"),
              "See [a][1] and [b][«2»] and [c][3].\n\n[1]: http://a\n[2]: http://b\n[3]: http://c\n");
    // Without definitions and without a final line break, the definition
    // starts a line of its own at the end.
    EXPECT_EQ(link("A [|x](u)"), "A [x][«1»]\n[1]: u\n");
    EXPECT_EQ(link("A [|x](u)\n"), "A [x][«1»]\n[1]: u\n");
    // A label that is no number is never renumbered.
    EXPECT_EQ(link("[a](|u) [x][home] [y][1]\n[home]: h\n[1]: y\n"),
              "[a][«1»] [x][home] [y][2]\n[1]: u\n[home]: h\n[2]: y\n");
    // Two later links with one number: its definition moves once.
    EXPECT_EQ(link("[a](|u) [x][1] [y][1]\n[1]: x\n"), "[a][«1»] [x][2] [y][2]\n[1]: u\n[2]: x\n");
}

TEST(MarkdownInsertion, ANumberedLinkBecomesInlineAndLaterNumbersMoveDown)
{
    EXPECT_EQ(link("A [x][|1] and [y][2].\n[1]:  http://x \n[2]: http://y\n"),
              "A «[x](http://x)» and [y][1].\n[1]: http://y\n");
    // Converting back and forth gives the text back.
    const QString text = "See [a][1] and [b](http://b) and [c][2].\n\n[1]: http://a\n[2]: http://c\n";
    Marked m = parse(link("See [a][1] and [b](http://b|) and [c][2].\n\n[1]: http://a\n[2]: http://c\n"));
    m.text.remove(u'|');
    EXPECT_EQ(applied(m.text, insertMarkdownLink(*styled(m.text), m.selection)),
              "See [a][1] and «[b](http://b)» and [c][2].\n\n[1]: http://a\n[2]: http://c\n");
    // Nothing says where the link goes: it keeps its text, and the unknown
    // address is selected to be typed over.
    EXPECT_EQ(link("A [x][|7] b"), "A [x](«?») b");
}

TEST(MarkdownInsertion, FootnotesTurnBetweenInlineAndNumbered)
{
    const QString note = localized("markdown.footnote");
    EXPECT_EQ(footnote("Text| more"), "Text[^«" + note + "»] more");
    EXPECT_EQ(footnote("Text «aside» more"), "Text [^«aside»] more");
    // In another element a new footnote goes in at the selection.
    EXPECT_EQ(footnote("An *em|phasis*"), "An *em[^«" + note + "»]phasis*");

    const QString numbered = "Text[^1] more[^2].\n[^1]: a note\n[^2]: first\n";
    EXPECT_EQ(footnote("Text[^a |note] more[^1].\n[^1]: first\n"), "Text[^«1»] more[^2].\n[^1]: a note\n[^2]: first\n");
    Marked m = parse("Text[^|1] more[^2].\n[^1]: a note\n[^2]: first\n");
    EXPECT_EQ(m.text, numbered);
    EXPECT_EQ(applied(m.text, insertMarkdownFootnote(*styled(m.text), m.selection)), "Text«[^a note]» more[^1].\n[^1]: first\n");
}

TEST(MarkdownInsertion, StrongAndEmphasisWrapUnwrapAndToggleMarkers)
{
    // A caret gets one marker, and the next use takes it away.
    EXPECT_EQ(strong("plain | text"), "plain **| text");
    EXPECT_EQ(strong("plain **| text"), "plain | text");
    EXPECT_EQ(strong("a «word» b"), "a **«word»** b");
    // Inside strong text the markers go and the text stays selected.
    EXPECT_EQ(strong("a **«word»** b"), "a «word» b");
    EXPECT_EQ(strong("a **wo|rd** b"), "a «word» b");
    // Inside emphasis Strong does not unwrap: it toggles its own marker.
    EXPECT_EQ(strong("a *wo|rd* b"), "a *wo**|rd* b");
    // Emphasis on the inner text of strong text takes one "*" each side.
    EXPECT_EQ(emphasis("a **«word»** b"), "a *«word»* b");
    EXPECT_EQ(emphasis("a *«word»* b"), "a «word» b");
    // A marker after the selection, none before: only that one goes.
    EXPECT_EQ(strong("a «word»** b"), "a «word» b");
    EXPECT_EQ(strong("a **«word» b"), "a «word» b");
}

TEST(MarkdownInsertion, NumberedReferencesInsideStrongAndEmphasisAreRenumberedToo)
{
    EXPECT_EQ(link("[x](|u) and **see [y][1]** ok\n\n[1]: v\n"),
              "[x][«1»] and **see [y][2]** ok\n\n[1]: u\n[2]: v\n");
    // At any depth, and back down again.
    EXPECT_EQ(link("[x](|u) *a **b [y][1]** c* [z][2]\n\n[1]: v\n[2]: w\n"),
              "[x][«1»] *a **b [y][2]** c* [z][3]\n\n[1]: u\n[2]: v\n[3]: w\n");
    EXPECT_EQ(link("[x][|1] and *see [y][2]* ok\n\n[1]: u\n[2]: v\n"), "«[x](u)» and *see [y][1]* ok\n\n[1]: v\n");
    // A link inside emphasis counts for the numbers of the links after it.
    EXPECT_EQ(link("**[a](a)** [b](|b)\n"), "**[a](a)** [b][«2»]\n[2]: b\n");
    EXPECT_EQ(footnote("Text[^a |note] and **more[^1]**.\n[^1]: first\n"),
              "Text[^«1»] and **more[^2]**.\n[^1]: a note\n[^2]: first\n");
}

TEST(MarkdownInsertion, NewDefinitionsEndInTheDocumentsLineBreak)
{
    EXPECT_EQ(link("A [|x](u)\r\nB\r\n", u"\r\n"), "A [x][«1»]\r\nB\r\n[1]: u\r\n");
    EXPECT_EQ(link("A [|x](u)", u"\r\n"), "A [x][«1»]\r\n[1]: u\r\n");
    EXPECT_EQ(link("A [|x](u) [y][1]\r\n[1]: v\r\n", u"\r\n"), "A [x][«1»] [y][2]\r\n[1]: u\r\n[2]: v\r\n");
    EXPECT_EQ(footnote("A[^|n]", u"\r"), "A[^«1»]\r[^1]: n\r");
    // Turning a numbered link back takes its whole definition line away.
    EXPECT_EQ(link("A [x][|1]\r\n[1]: u\r\nB\r\n", u"\r\n"), "A «[x](u)»\r\nB\r\n");
}

TEST(MarkdownInsertion, StrongAndEmphasisWrapInsideTheWhiteSpaceAtTheSelectionsEdges)
{
    EXPECT_EQ(emphasis("«quiet »now"), "*«quiet»* now");
    EXPECT_EQ(strong("a« word» b"), "a **«word»** b");
    EXPECT_EQ(strong("a «two words\n»b"), "a **«two words»**\nb");
    // Pressed again, the markers go and the spaces stay where they were.
    EXPECT_EQ(emphasis("*«quiet»* now"), "«quiet» now");
    // White space alone is wrapped as it is.
    EXPECT_EQ(strong("a« »b"), "a**« »**b");
}

// Example code is never changed: a reference or a definition in a code span
// or a code block is no link and no note.
TEST(MarkdownInsertion, RenumberingLeavesCodeAlone)
{
    EXPECT_EQ(link("[x](|u) and `[y][1]` ok [z][1]\n\n[1]: v\n"), "[x][«1»] and `[y][1]` ok [z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(link("[x](|u) and **`[y][1]`** ok [z][1]\n\n[1]: v\n"),
              "[x][«1»] and **`[y][1]`** ok [z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(link("[x](|u)\n\n```\n[y][1]\n[1]: code\n```\n\n    [w][1]\n    [1]: code\n\n[z][1]\n\n[1]: v\n"),
              "[x][«1»]\n\n```\n[y][1]\n[1]: code\n```\n\n    [w][1]\n    [1]: code\n\n[z][2]\n\n[1]: u\n[2]: v\n");
    // An indented line is code only where a block may begin: under a line
    // of text it goes on with the paragraph, in a list with the item.
    EXPECT_EQ(link("[x](|u)\n    [y][1]\n- item\n\n    [z][1]\n\n[1]: v\n"),
              "[x][«1»]\n    [y][2]\n- item\n\n    [z][2]\n\n[1]: u\n[2]: v\n");
    // Back down again.
    EXPECT_EQ(link("[x][|1] `[y][2]` [z][2]\n\n```\n[2]: code\n```\n[1]: u\n[2]: v\n"),
              "«[x](u)» `[y][2]` [z][1]\n\n```\n[2]: code\n```\n[1]: v\n");
    EXPECT_EQ(footnote("Text[^a |note] and `[^1]` more[^1].\n[^1]: first\n"),
              "Text[^«1»] and `[^1]` more[^2].\n[^1]: a note\n[^2]: first\n");
    // With the caret in code the commands leave it as it is.
    EXPECT_EQ(link("See `[y][|1]` and [z][1]\n[1]: v\n"), "none");
    EXPECT_EQ(footnote("See `[^|1]`\n[^1]: n\n"), "none");
}

// Under raw HTML a definition line would be read as more of the HTML: a
// blank line comes between them. Anywhere else the definition goes right
// under the last line.
TEST(MarkdownInsertion, ANewDefinitionAfterRawHtmlFollowsABlankLine)
{
    EXPECT_EQ(link("See [|x](u)\n\n<div>raw</div>"), "See [x][«1»]\n\n<div>raw</div>\n\n[1]: u\n");
    EXPECT_EQ(link("See [|x](u)\n\n<!-- note -->\r\n", u"\r\n"), "See [x][«1»]\n\n<!-- note -->\r\n\r\n[1]: u\r\n");
    EXPECT_EQ(footnote("See[^|x]\n\n  </section>\nmore\n"), "See[^«1»]\n\n  </section>\nmore\n\n[^1]: x\n");
    EXPECT_EQ(link("See [|x](u)\n\n3 < 4 and <b>bold</b>"), "See [x][«1»]\n\n3 < 4 and <b>bold</b>\n[1]: u\n");
    EXPECT_EQ(link("<div>raw</div>\n\nSee [|x](u)\n"), "<div>raw</div>\n\nSee [x][«1»]\n[1]: u\n");
}
