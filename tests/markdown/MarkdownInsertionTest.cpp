#include "markdown/MarkdownInsertion.h"
#include "markdown/MarkdownStylesheet.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "multimarkdown_binding/SourceReading.h"
#include "markdown/MarkdownScanner.h"
#include "platform/foundation/Localization.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

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

// What the conversion reads in the text, as the editor asks it.
ConversionReading conversionReading(const QString& text)
{
    const SourceReading source(text);
    ConversionReading reading;
    for (const TextStretch& stretch : source.literalStretches()) reading.literal.emplace_back(stretch.start, stretch.length);
    for (const TextStretch& stretch : source.noteDefinitions())
        reading.noteDefinitions.emplace_back(stretch.start, stretch.length);
    return reading;
}

QString link(const QString& marked, QStringView lineEnding = u"\n")
{
    const Marked m = parse(marked);
    return applied(m.text, insertMarkdownLink(*styled(m.text), m.selection, conversionReading(m.text), lineEnding));
}

QString footnote(const QString& marked, QStringView lineEnding = u"\n")
{
    const Marked m = parse(marked);
    return applied(m.text, insertMarkdownFootnote(*styled(m.text), m.selection, conversionReading(m.text), lineEnding));
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
    EXPECT_EQ(applied(m.text, insertMarkdownLink(*styled(m.text), m.selection, conversionReading(m.text))),
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
    EXPECT_EQ(applied(m.text, insertMarkdownFootnote(*styled(m.text), m.selection, conversionReading(m.text))), "Text«[^a note]» more[^1].\n[^1]: first\n");
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

// The second paragraph of a note, a citation, a glossary entry or a
// definition is indented as code would be, but it is that note's text: its
// references count and move like any others.
TEST(MarkdownInsertion, ReferencesInANotesLaterParagraphsAreRenumbered)
{
    EXPECT_EQ(link("See [the |site](http://u.example) and a note[^n].\n\n[^n]: The note.\n\n"
                   "    Its second paragraph cites [the paper][1].\n\n[1]: http://paper.example\n"),
              "See [the site][«1»] and a note[^n].\n\n[^n]: The note.\n\n"
              "    Its second paragraph cites [the paper][2].\n\n[1]: http://u.example\n[2]: http://paper.example\n");
    for (const QString& note : {QStringLiteral("[#c]: A citation."), QStringLiteral("[?Term]: An entry.")}) {
        EXPECT_EQ(link("[x](|u) [#c] [?Term]\n\n" + note + "\n\n    More, see [z][1].\n\n[1]: v\n"),
                  "[x][«1»] [#c] [?Term]\n\n" + note + "\n\n    More, see [z][2].\n\n[1]: u\n[2]: v\n");
    }
    EXPECT_EQ(link("[x](|u)\n\nTerm\n:   Definition.\n\n    More, see [z][1].\n\n[1]: v\n"),
              "[x][«1»]\n\nTerm\n:   Definition.\n\n    More, see [z][2].\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(footnote("Text[^a |note].\n\n[^n]: The note.\n\n    It cites more[^1].\n\n[^1]: first\n"),
              "Text[^«1»].\n\n[^1]: a note\n[^n]: The note.\n\n    It cites more[^2].\n\n[^2]: first\n");
}

// Code keeps what it says wherever it stands: a code span over two lines,
// code blocks in list items and in quotes.
TEST(MarkdownInsertion, CodeInListsQuotesAndWrappedSpansIsLeftAlone)
{
    EXPECT_EQ(link("[x](|u) and `a\n[y][1]` ok [z][1]\n\n[1]: v\n"), "[x][«1»] and `a\n[y][1]` ok [z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(link("[x](|u)\n\n- item\n\n        [y][1] code\n\n[z][1]\n\n[1]: v\n"),
              "[x][«1»]\n\n- item\n\n        [y][1] code\n\n[z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(link("[x](|u)\n\n- item\n\n  ```\n  [y][1]\n  ```\n\n[z][1]\n\n[1]: v\n"),
              "[x][«1»]\n\n- item\n\n  ```\n  [y][1]\n  ```\n\n[z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(link("[x](|u)\n\n>     [y][1]\n>     [1]: code\n\n[z][1]\n\n[1]: v\n"),
              "[x][«1»]\n\n>     [y][1]\n>     [1]: code\n\n[z][2]\n\n[1]: u\n[2]: v\n");
    EXPECT_EQ(footnote("Text[^a |note]\n\n- item\n\n        [^1] code\n\nmore[^1]\n\n[^1]: first\n"),
              "Text[^«1»]\n\n- item\n\n        [^1] code\n\nmore[^2]\n\n[^1]: a note\n[^2]: first\n");
    EXPECT_EQ(link("See `a\n[y][|1]` and [z][1]\n\n[1]: v\n"), "none");
}

// Numbers move from the one made or freed on, wherever they stand: a
// writer's numbers that do not follow the text stay apart and keep their
// addresses.
TEST(MarkdownInsertion, NumbersOutOfReadingOrderStayApart)
{
    EXPECT_EQ(link("[x](u) [|w](w.example) [z][1]\n\n[1]: v\n"), "[x](u) [w][«2»] [z][1]\n\n[1]: v\n[2]: w.example\n");
    EXPECT_EQ(link("[z][3] [|x](u) [y][1]\n\n[1]: v\n[3]: w\n"),
              "[z][4] [x][«2»] [y][1]\n\n[1]: v\n[2]: u\n[4]: w\n");
    EXPECT_EQ(link("[z][3] [|y][1]\n\n[1]: v\n[3]: w\n"), "[z][2] «[y](v)»\n\n[2]: w\n");
}

// A reference going inline takes nothing another one still needs: a link
// keeps the definition, and a note referred to twice, or one that says more
// than its first line, stays numbered (inline it would become two notes, or
// lose the rest).
TEST(MarkdownInsertion, WhatOtherReferencesOrLaterLinesNeedStays)
{
    EXPECT_EQ(link("[a][|1] and [b][1]\n\n[1]: u\n[2]: w\n"), "«[a](u)» and [b][1]\n\n[1]: u\n[2]: w\n");
    EXPECT_EQ(link("[a][|1] and ![b][1]\n\n[1]: u\n"), "«[a](u)» and ![b][1]\n\n[1]: u\n");
    EXPECT_EQ(footnote("A[^|1] B[^1]\n\n[^1]: n\n"), "none");
    EXPECT_EQ(footnote("See[^|1].\n\n[^1]: First.\n\n    Second.\n"), "none");
    EXPECT_EQ(footnote("See[^|1].\n\n[^1]: First\ngoes on.\n"), "none");
    EXPECT_EQ(footnote("See[^|1] and[^2].\n\n[^1]: First.\n[^2]: Two.\n"), "See«[^First.]» and[^1].\n\n[^1]: Two.\n");
}

namespace {

// What the HTML of a text says of its links, notes and code: every link
// with its address and text, in order (the notes' references and their
// ways back among them), the notes list, and every piece of code.
struct HtmlReading {
    QStringList links;
    QString notes;
    QStringList code;
};

HtmlReading htmlReading(const QString& text)
{
    const QString html = MultiMarkdown::applicationHtml(text).value_or(QString());
    HtmlReading reading;
    static const QRegularExpression link(QStringLiteral("<a\\b[^>]*?href=\"([^\"]*)\"[^>]*>(.*?)</a>"),
                                         QRegularExpression::DotMatchesEverythingOption);
    for (auto it = link.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        reading.links << match.captured(1) + QStringLiteral(" -> ") + match.captured(2);
    }
    static const QRegularExpression notes(QStringLiteral("<div class=\"footnotes\">.*</div>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    reading.notes = notes.match(html).captured();
    static const QRegularExpression code(QStringLiteral("<code\\b[^>]*>.*?</code>"),
                                         QRegularExpression::DotMatchesEverythingOption);
    for (auto it = code.globalMatch(html); it.hasNext();) reading.code << it.next().captured();
    return reading;
}

// The numbered labels defined more than once ("[1]: ", "[^1]: " at the start
// of a line outside literal text).
int repeatedLabels(const QString& text)
{
    static const QRegularExpression definition(QStringLiteral("^ {0,3}\\[(\\^?\\d+)\\]:"),
                                               QRegularExpression::MultilineOption);
    const std::vector<Range> literal = conversionReading(text).literal;
    const auto inLiteral = [&literal](qsizetype at) {
        return std::any_of(literal.begin(), literal.end(), [at](Range r) { return r.contains(at); });
    };
    QStringList labels;
    int repeated = 0;
    for (auto it = definition.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        if (inLiteral(match.capturedStart())) continue;
        if (labels.contains(match.captured(1))) ++repeated;
        labels << match.captured(1);
    }
    return repeated;
}

// The places of a text where Link or Footnote turns an element: a caret
// inside each inline link, numbered reference and footnote.
std::vector<std::pair<qsizetype, Markdown::Kind>> turningPlaces(const QString& text)
{
    std::vector<std::pair<qsizetype, Markdown::Kind>> places;
    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0) lineEnd = text.size();
        for (qsizetype at = lineStart; at < lineEnd;) {
            const auto element = nextInlineMarkdown(text, at, lineEnd - at);
            if (!element) break;
            const Markdown::Kind kind = element->element.kind();
            if (kind == Markdown::Kind::LinkInline || kind == Markdown::Kind::LinkReference
                || kind == Markdown::Kind::FootnoteInline)
                places.emplace_back(element->range.location + 1, kind);
            at = std::max(element->range.end(), at + 1);
        }
        lineStart = lineEnd + 1;
    }
    return places;
}

QStringList propertyDocuments()
{
    QStringList documents = {
        "See [the site](http://u.example) and a note[^n].\n\n[^n]: The note.\n\n"
        "    Its second paragraph cites [the paper][1].\n\n[1]: http://paper.example\n",
        "[x](u) and [w](w.example) [#c] [?Term]\n\n[#c]: A citation.\n\n    More, see [z][1].\n\n"
        "[?Term]: An entry.\n\n    Also [q][2] and a[^2].\n\n[1]: v\n[2]: q.example\n[^2]: two\n",
        "[x](u)\n\nTerm\n:   Definition [d](d.example).\n\n    More, see [z][1].\n\n[1]: v\n",
        "[x](u) and `a\n[y][1]` ok [z][1] and [^a note].\n\n[1]: v\n",
        "[x](u)\n\n- item [i](i.example)\n\n        [y][1] code [^1]\n\n  ```\n  [y][2]\n  ```\n\n"
        "[z][1] [k](k.example) more[^1]\n\n[1]: v\n[2]: w\n[^1]: first\n",
        "[x](u)\n\n>     [y][1]\n>     [1]: code\n\n> quoted [q](q.example) and `[y][2]`\n\n[z][1] [w][2]\n\n"
        "[1]: v\n[2]: w\n",
        "Text[^a note] and `[^1]` more[^1] and [^b note].\n\n```\n[^1]: code\n```\n\n[^1]: first\n",
        "| a | b |\n|---|---|\n| [t](t.example) `[y][1]` | [z][1] |\n\n# Head [h](h.example) `[y][1]`\n\n"
        "<div>\n[y][1]\n</div>\n\n* **see [s](s.example)** and *[e][1]*\n\n[1]: v\n",
    };
    const QDir corpus(QStringLiteral(LUMORA_CONVERSION_CORPUS));
    for (const QFileInfo& file : corpus.entryInfoList({QStringLiteral("*.md")}, QDir::Files, QDir::Name)) {
        if (file.size() > 4096) continue; // the long ones are made to try the conversion's speed
        QFile in(file.filePath());
        if (!in.open(QIODevice::ReadOnly)) continue;
        // Each begins with the fuzzer's two bytes of options; the text is
        // UTF-8 when the first one's lowest bit is clear. Texts the fuzzer
        // made up itself, NULs and all, are no writer's: their links and
        // notes nest in ways the editor's scanner and the conversion end
        // apart.
        const QByteArray bytes = in.readAll();
        if (bytes.size() < 2 || (bytes[0] & 1)) continue;
        const QByteArray body = bytes.sliced(2);
        if (!body.contains('\0')) documents << QString::fromUtf8(body);
    }
    return documents;
}

} // namespace

// An address with parentheses in it, or a note with brackets in it, goes on
// past the first ")" or "]" where the editor's scanner ends it: turning what
// the scanner found would cut it in two, so such a link or note stays as it
// is. Titles and attributes go with the address into the definition.
TEST(MarkdownInsertion, LinksAndNotesTheScannerEndsEarlyAreNotTurned)
{
    EXPECT_EQ(link("[t](|http://t.example/(a)) x\n"), "none");
    EXPECT_EQ(footnote("A note[^a [b|] c] x\n"), "none");
    EXPECT_EQ(link("[t](|http://t.example \"Title\") x\n"), "[t][«1»] x\n[1]: http://t.example \"Title\"\n");
    EXPECT_EQ(link("[t](|u width=40) x\n"), "[t][«1»] x\n[1]: u width=40\n");
}

// Turning any link or note between its inline and numbered forms, and back
// again, changes nothing the outputs show: every link and note keeps its
// address and its text (the turned one too), the code stays as it was to
// the byte, and no numbered label comes to be defined twice.
TEST(MarkdownInsertion, TurningLinksAndNotesChangesNoOutput)
{
    const QStringList documents = propertyDocuments();
    ASSERT_GT(documents.size(), 10);
    int turned = 0;
    for (const QString& text : documents) {
        const HtmlReading before = htmlReading(text);
        const int repeatedBefore = repeatedLabels(text);
        const ConversionReading reading = conversionReading(text);
        const auto storage = styled(text);
        for (const auto& [place, kind] : turningPlaces(text)) {
            const Range caret(place, 0);
            const std::vector<MarkdownEdit> edits = kind == Markdown::Kind::FootnoteInline
                ? insertMarkdownFootnote(*storage, caret, reading)
                : insertMarkdownLink(*storage, caret, reading);
            // A reference to a label nothing defines is no link in any
            // output: it turns inline with an address still to write.
            if (edits.empty() || edits.front().replacement.endsWith(QStringLiteral("(?)"))) continue;
            QString after = text;
            for (const MarkdownEdit& edit : edits) after.replace(edit.range.location, edit.range.length, edit.replacement);
            const HtmlReading afterwards = htmlReading(after);
            const std::string trace = QStringLiteral("\n%1\n---- at %2 became ----\n%3").arg(text).arg(place).arg(after).toStdString();
            SCOPED_TRACE(trace);
            EXPECT_EQ(afterwards.links, before.links);
            EXPECT_EQ(afterwards.notes, before.notes);
            EXPECT_EQ(afterwards.code, before.code);
            EXPECT_LE(repeatedLabels(after), repeatedBefore);
            ++turned;

            // And back again, from where the first turn left the caret.
            const Range back(edits.back().selection.location, 0);
            const auto turnedStorage = styled(after);
            const ConversionReading turnedReading = conversionReading(after);
            const std::vector<MarkdownEdit> again = kind == Markdown::Kind::FootnoteInline
                ? insertMarkdownFootnote(*turnedStorage, back, turnedReading)
                : insertMarkdownLink(*turnedStorage, back, turnedReading);
            if (again.empty()) continue;
            QString twice = after;
            for (const MarkdownEdit& edit : again) twice.replace(edit.range.location, edit.range.length, edit.replacement);
            const HtmlReading backAgain = htmlReading(twice);
            const std::string traceBack = QStringLiteral("\n---- and back ----\n%1").arg(twice).toStdString();
            SCOPED_TRACE(traceBack);
            EXPECT_EQ(backAgain.links, before.links);
            EXPECT_EQ(backAgain.notes, before.notes);
            EXPECT_EQ(backAgain.code, before.code);
            EXPECT_LE(repeatedLabels(twice), repeatedBefore);
            ++turned;
        }
    }
    EXPECT_GT(turned, 60);
}
