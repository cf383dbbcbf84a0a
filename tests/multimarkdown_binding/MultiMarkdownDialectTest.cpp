// The MultiMarkdown syntax of our own layer: notes, citations, glossary,
// abbreviations and CriticMarkup, checked by the structure of the HTML.
#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace lumora {
namespace {

using test::htmlOf;
using test::isWellFormed;
using Extensions = MultiMarkdown::Extensions;

bool has(const QString& html, const char* fragment)
{
    return html.contains(QString::fromUtf8(fragment));
}

// The HTML of the notes list of one kind, from its <div> to the end.
QString notesList(const QString& html, const char* listClass)
{
    const qsizetype start = html.indexOf(QStringLiteral("<div class=\"%1\">").arg(QLatin1String(listClass)));
    return start < 0 ? QString() : html.mid(start);
}

TEST(MultiMarkdownFootnotes, ReferenceAndDefinitionMakeALinkedNote)
{
    const QString html = htmlOf(QStringLiteral("Text with a note[^one].\n\n[^one]: The *first* note.\n"));
    EXPECT_TRUE(has(html, "note<a href=\"#fn:1\" id=\"fnref:1\" title=\"see footnote\" class=\"footnote\"><sup>1</sup></a>."));
    const QString list = notesList(html, "footnotes");
    ASSERT_FALSE(list.isEmpty());
    EXPECT_TRUE(list.contains(QLatin1String("<hr />")));
    EXPECT_TRUE(list.contains(QLatin1String("<li id=\"fn:1\">")));
    EXPECT_TRUE(list.contains(QLatin1String("The <em>first</em> note. <a href=\"#fnref:1\" title=\"return to body\" "
                                            "class=\"reversefootnote\">&#8617;</a></p>")));
    EXPECT_FALSE(html.contains(QLatin1String("[^one]")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownFootnotes, AreNumberedInTheOrderOfTheirFirstReference)
{
    const QString html = htmlOf(QStringLiteral("B[^b] then A[^a] then B again[^b].\n\n"
                                               "[^a]: Alpha.\n[^b]: Beta.\n[^unused]: Never cited.\n"));
    EXPECT_TRUE(has(html, "B<a href=\"#fn:1\" id=\"fnref:1\""));
    EXPECT_TRUE(has(html, "A<a href=\"#fn:2\" id=\"fnref:2\""));
    EXPECT_TRUE(has(html, "again<a href=\"#fn:1\" id=\"fnref:1-2\""));
    const QString list = notesList(html, "footnotes");
    EXPECT_LT(list.indexOf(QLatin1String("Beta.")), list.indexOf(QLatin1String("Alpha.")));
    EXPECT_FALSE(html.contains(QLatin1String("Never cited")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownFootnotes, InlineNotesAndMultiParagraphNotes)
{
    const QString html = htmlOf(QStringLiteral("Inline[^an *inline* note] and long[^long].\n\n"
                                               "[^long]: First paragraph.\n\n    Second paragraph.\n\n"
                                               "        code in the note\n\nBack in the body.\n"));
    const QString list = notesList(html, "footnotes");
    EXPECT_TRUE(list.contains(QLatin1String("<li id=\"fn:1\">\n<p>an <em>inline</em> note <a href=\"#fnref:1\"")));
    EXPECT_TRUE(list.contains(QLatin1String("<p>First paragraph.</p>\n<p>Second paragraph.</p>")));
    EXPECT_TRUE(list.contains(QLatin1String("<pre><code>code in the note\n</code></pre>")));
    // A note ending in code gets its way back in a paragraph of its own.
    EXPECT_TRUE(list.contains(QLatin1String("</code></pre>\n<p><a href=\"#fnref:2\"")));
    EXPECT_TRUE(html.indexOf(QLatin1String("Back in the body.")) < html.indexOf(QLatin1String("<div class")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownFootnotes, UndefinedOrEscapedReferencesStayAsWritten)
{
    const QString html = htmlOf(QStringLiteral("Missing[^nope], escaped \\[^a], bracket [a] and [^].\n\n[^a]: A.\n"));
    EXPECT_TRUE(has(html, "Missing[^nope], escaped [^a], bracket [a] and [^]."));
    EXPECT_FALSE(html.contains(QLatin1String("footnotes")));
}

TEST(MultiMarkdownFootnotes, NotesCanUseTheBodysLinkDefinitionsAndCiteEachOther)
{
    const QString html = htmlOf(QStringLiteral("Body[^a].\n\n[site]: https://example.com\n\n"
                                               "[^a]: See [the site][site] and[^b].\n[^b]: Nested.\n"));
    EXPECT_TRUE(has(html, "See <a href=\"https://example.com\">the site</a> and<a href=\"#fn:2\""));
    EXPECT_TRUE(has(html, "<li id=\"fn:2\">\n<p>Nested."));
}

TEST(MultiMarkdownFootnotes, ReferenceInsideALinkHasNoLinkOfItsOwn)
{
    const QString html = htmlOf(QStringLiteral("[a link[^1]](https://example.com)\n\n[^1]: N.\n"));
    EXPECT_TRUE(has(html, "<a href=\"https://example.com\">a link<sup>1</sup></a>"));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownCitations, WithAndWithoutLocator)
{
    const QString html = htmlOf(QStringLiteral("As shown [#Doe 2005], see [p. 23][#doe 2005].\n\n"
                                               "[#Doe 2005]: Doe, J. *A Book*.\n"));
    EXPECT_TRUE(has(html, "shown <a href=\"#cn:1\" id=\"cnref:1\" title=\"see citation\" class=\"citation\">[1]</a>"));
    EXPECT_TRUE(has(html, "see <a href=\"#cn:1\" id=\"cnref:1-2\" title=\"see citation\" class=\"citation\">[1, p. 23]</a>."));
    const QString list = notesList(html, "citations");
    EXPECT_TRUE(list.contains(QLatin1String("<li id=\"cn:1\">\n<p>Doe, J. <em>A Book</em>. <a href=\"#cnref:1\"")));
    EXPECT_FALSE(html.contains(QLatin1String("[#")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownGlossary, InlineDefinitionAndLaterReferences)
{
    const QString html = htmlOf(QStringLiteral("An [?(API) application programming interface] and the [?API] again; "
                                               "also [?term].\n\n[?Term]: A defined *term*.\n"));
    EXPECT_TRUE(has(html, "An <a href=\"#gn:1\" id=\"gnref:1\" title=\"see glossary\" class=\"glossary\">API</a> and"));
    EXPECT_TRUE(has(html, "the <a href=\"#gn:1\" id=\"gnref:1-2\" title=\"see glossary\" class=\"glossary\">API</a>"));
    EXPECT_TRUE(has(html, "<a href=\"#gn:2\" id=\"gnref:2\" title=\"see glossary\" class=\"glossary\">term</a>"));
    const QString list = notesList(html, "glossary");
    EXPECT_TRUE(list.contains(QLatin1String("<p><span class=\"glossary name\">API</span>: application programming "
                                            "interface <a href=\"#gnref:1\"")));
    EXPECT_TRUE(list.contains(QLatin1String("<span class=\"glossary name\">Term</span>: A defined <em>term</em>.")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownAbbreviations, BecomeAbbrElementsWithEscapedTitles)
{
    const QString html = htmlOf(QStringLiteral("[>(MMD) Multi&lt;Markdown&gt; &amp; &quot;more&quot;] and [>MMD]; "
                                               "[>HTML] too.\n\n[>HTML]: Hypertext Markup Language\n"));
    // The first use is written out, the later ones are the abbreviation.
    EXPECT_TRUE(has(html, "Multi&lt;Markdown&gt; &amp; &quot;more&quot; (<abbr title=\"Multi&lt;Markdown&gt; &amp; "
                          "&quot;more&quot;\">MMD</abbr>) and <abbr title=\"Multi&lt;Markdown&gt; &amp; "
                          "&quot;more&quot;\">MMD</abbr>;"));
    EXPECT_TRUE(has(html, "Hypertext Markup Language (<abbr title=\"Hypertext Markup Language\">HTML</abbr>) too."));
    EXPECT_FALSE(html.contains(QLatin1String("<div class")));
    EXPECT_TRUE(has(htmlOf(QStringLiteral("[>XYZ] unknown\n")), "[&gt;XYZ] unknown"));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownCritic, EachMarkBecomesItsElement)
{
    const QString html = htmlOf(QStringLiteral("a {++added *text*++} b {--gone--} c {~~old~>new~~} "
                                               "d {==marked==}{>>a comment<<} e\n"));
    EXPECT_TRUE(has(html, "a <ins>added <em>text</em></ins> b"));
    EXPECT_TRUE(has(html, "b <del>gone</del> c"));
    EXPECT_TRUE(has(html, "c <del>old</del><ins>new</ins> d"));
    EXPECT_TRUE(has(html, "d <mark>marked</mark><span class=\"critic comment\">a comment</span> e"));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownCritic, AcceptAndRejectGiveTheTextAlone)
{
    const QString text = QStringLiteral("a {++added++} b {--gone--} c {~~old~>new~~} d {==marked==}{>>note<<} e\n");
    const QString accepted = htmlOf(text, test::systemExtensions | Extensions::criticAccept);
    EXPECT_TRUE(has(accepted, "<p>a added b  c new d marked e</p>"));
    const QString rejected = htmlOf(text, test::systemExtensions | Extensions::criticReject);
    EXPECT_TRUE(has(rejected, "<p>a  b gone c old d marked e</p>"));
}

TEST(MultiMarkdownCritic, UnmatchedOrMisnestedMarksStayWellFormed)
{
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"{++open only", "{++open only"},
        {"close only++}", "close only++}"},
        {"{~~no split~~}", "{~~no split~~}"},
        {"{++a {--b++} c--}", "<ins>a {--b</ins> c--}"},
        {"\\{++escaped++}", "{++escaped++}"},
        {"{++across\n\nparagraphs++}", "<p>{++across</p>\n<p>paragraphs++}</p>"},
    };
    for (const Case& c : cases) {
        const QString html = htmlOf(QString::fromUtf8(c.text));
        EXPECT_TRUE(html.contains(QString::fromUtf8(c.expected))) << c.text << " -> " << html.toStdString();
        EXPECT_TRUE(isWellFormed(html)) << c.text;
    }
    const QString crossed = htmlOf(QStringLiteral("*a {++b* c++}\n"));
    EXPECT_TRUE(isWellFormed(crossed)) << crossed.toStdString();
}

TEST(MultiMarkdownDialect, WithoutItsFlagNothingIsRecognised)
{
    EXPECT_TRUE(has(htmlOf(QStringLiteral("Note[^1] and [?(A) b].\n"), Extensions::smart), "Note[^1] and [?(A) b]."));
    EXPECT_TRUE(has(htmlOf(QStringLiteral("a {==b==} c\n"), Extensions::notes), "a {==b==} c"));
}

TEST(MultiMarkdownDialect, NothingAppliesInsideCode)
{
    const QString text = QStringLiteral(
        "Span `{++x++} [^1] \\[ [?(A) b]` here.\n\n"
        "```{++info++}\n{++fenced++} [^1]\n[^1]: not a definition\n```\n\n"
        "    {--indented--} [#c]\n\n"
        "- item\n\n      {==in list code==} [^1]\n\n"
        "[^1]: The real note.\n");
    const QString html = htmlOf(text);
    EXPECT_TRUE(has(html, "<code>{++x++} [^1] \\[ [?(A) b]</code>"));
    EXPECT_TRUE(has(html, "<pre><code class=\"{++info++}\">{++fenced++} [^1]\n[^1]: not a definition\n</code></pre>"));
    EXPECT_TRUE(has(html, "<pre><code>{--indented--} [#c]\n</code></pre>"));
    EXPECT_TRUE(has(html, "<pre><code>{==in list code==} [^1]\n</code></pre>"));
    // No reference was made, so no list either.
    EXPECT_FALSE(html.contains(QLatin1String("footnotes")));
}

TEST(MultiMarkdownDialect, MarksInRawHtmlAndLinksAreKeptAsWritten)
{
    const QString html = htmlOf(QStringLiteral("<div title=\"{++x++} [^1]\">{--y--}</div>\n\n"
                                               "[a](https://example.com/{++a++} \"t {--b--}\") and "
                                               "<span>{++inline html++}</span>\n\n[^1]: N.\n"));
    EXPECT_TRUE(has(html, "<div title=\"{++x++} [^1]\">{--y--}</div>"));
    EXPECT_TRUE(has(html, "<a href=\"https://example.com/%7B++a++%7D\" title=\"t {--b--}\">a</a>"));
    EXPECT_TRUE(has(html, "<span><ins>inline html</ins></span>"));
}

TEST(MultiMarkdownDialect, ImageDescriptionsGetPlainText)
{
    const QString html = htmlOf(QStringLiteral("![a {++b++} [^1]](pic.png)\n\n[^1]: N.\n"));
    EXPECT_TRUE(has(html, "<img src=\"pic.png\" alt=\"a b 1\" />"));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownDialect, WorksInTablesQuotesAndLists)
{
    const QString html = htmlOf(QStringLiteral("| a | b |\n|---|---|\n| {++x++} | y[^1] |\n\n"
                                               "> quoted {--z--}[^1]\n\n- item {==w==}\n\n[^1]: N.\n"));
    EXPECT_TRUE(has(html, "<td><ins>x</ins></td>"));
    EXPECT_TRUE(has(html, "<td>y<a href=\"#fn:1\" id=\"fnref:1\""));
    EXPECT_TRUE(has(html, "quoted <del>z</del><a href=\"#fn:1\" id=\"fnref:1-2\""));
    EXPECT_TRUE(has(html, "<li>item <mark>w</mark></li>"));
    EXPECT_TRUE(isWellFormed(html));
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

bool contains(const QString& html, const char* fragment) { return html.contains(QString::fromUtf8(fragment)); }

// A definition on the line right under a paragraph's last line, or right under
// another definition, is a definition: the editor's Link and Footnote commands
// put theirs there.
TEST(MultiMarkdownDefinitions, RightUnderAParagraphLineOrAnotherDefinition)
{
    const QString link = test::htmlOf(QStringLiteral("Text [x][1] here.\n[1]: http://u\n"));
    EXPECT_TRUE(contains(link, "<p>Text <a href=\"http://u\">x</a> here.</p>")) << link.toStdString();
    EXPECT_FALSE(link.contains(QLatin1String("[1]")));

    const QString note = test::htmlOf(QStringLiteral("Text[^1] here.\n[^1]: a note\n"));
    EXPECT_TRUE(contains(note, "Text<a href=\"#fn:1\" id=\"fnref:1\"")) << note.toStdString();
    EXPECT_TRUE(contains(note, "<li id=\"fn:1\">\n<p>a note <a href=\"#fnref:1\""));
    EXPECT_FALSE(note.contains(QLatin1String("[^1]")));

    // Every kind, one under the other, under a paragraph of two lines.
    const QString all = test::htmlOf(QStringLiteral(
        "A [link][1], a note[^n], a source [#doe],\na [?term] and the [>MMD] [two][2].\n"
        "[1]: http://one\n[^n]: The note.\n[2]: http://two class=wide\n[#doe]: Doe, *Book*.\n"
        "[?term]: A term.\n[>MMD]: MultiMarkdown\n"));
    EXPECT_TRUE(contains(all, "<a href=\"http://one\">link</a>")) << all.toStdString();
    EXPECT_TRUE(contains(all, "<a href=\"http://two\" class=\"wide\">two</a>"));
    EXPECT_TRUE(contains(all, "<li id=\"fn:1\">\n<p>The note. <a"));
    EXPECT_TRUE(contains(all, "class=\"citation\">[1]</a>"));
    EXPECT_TRUE(contains(all, "Doe, <em>Book</em>."));
    EXPECT_TRUE(contains(all, "class=\"glossary\">term</a>"));
    EXPECT_TRUE(contains(all, "<abbr title=\"MultiMarkdown\">MMD</abbr>"));
    EXPECT_FALSE(all.contains(QLatin1String("]:"))) << all.toStdString();
    EXPECT_TRUE(test::isWellFormed(all));

    // A link definition right under a note's definition ends the note.
    const QString chain = test::htmlOf(QStringLiteral("Note[^1] and [x][1].\n\n[^1]: The note.\n[1]: http://u\n"));
    EXPECT_TRUE(contains(chain, "<a href=\"http://u\">x</a>")) << chain.toStdString();
    EXPECT_TRUE(contains(chain, "<p>The note. <a href=\"#fnref:1\""));
    EXPECT_FALSE(chain.contains(QLatin1String("http://u\n")));

    // Under a heading and under a table's last row too; the paragraph and
    // the table keep what they had.
    const QString table = test::htmlOf(QStringLiteral("| a | b |\n|---|---|\n| c | [d][1] |\n[1]: http://d\n"));
    EXPECT_TRUE(contains(table, "<td><a href=\"http://d\">d</a></td>")) << table.toStdString();
    EXPECT_EQ(table.count(QLatin1String("<tr>")), 2);
    const QString paragraph = test::htmlOf(QStringLiteral("One\ntwo [x][1]\n[1]: http://u\nthree\n"));
    EXPECT_TRUE(contains(paragraph, "<p>One\ntwo <a href=\"http://u\">x</a></p>\n<p>three</p>")) << paragraph.toStdString();
}

// Where a definition line is code, raw HTML, or a lazy continuation of a
// quote or a list item, it stays what it was.
TEST(MultiMarkdownDefinitions, NeverInCodeHtmlQuotesOrListItems)
{
    const QString fenced = test::htmlOf(QStringLiteral("Text [x][1][^1]\n```\ncode\n[1]: http://u\n[^1]: n\n```\n"));
    EXPECT_TRUE(contains(fenced, "<pre><code>code\n[1]: http://u\n[^1]: n\n</code></pre>")) << fenced.toStdString();
    EXPECT_TRUE(contains(fenced, "Text [x][1][^1]"));

    const QString indented = test::htmlOf(QStringLiteral("Para\n\n    code [x][1]\n    [1]: http://u\n    [^1]: n\n"));
    EXPECT_TRUE(contains(indented, "<pre><code>code [x][1]\n[1]: http://u\n[^1]: n\n</code></pre>")) << indented.toStdString();

    const QString html = test::htmlOf(QStringLiteral("<div>\nraw [x][1][^1]\n[1]: http://u\n[^1]: n\n</div>\n"));
    EXPECT_TRUE(contains(html, "<div>\nraw [x][1][^1]\n[1]: http://u\n[^1]: n\n</div>")) << html.toStdString();

    // (The address in the text is autolinked, as any address is.)
    const char* stays = "[x][1][^1]\n[1]: <a href=\"http://u\">http://u</a>\n[^1]: n";
    const QString quote = test::htmlOf(QStringLiteral("> quoted [x][1][^1]\n[1]: http://u\n[^1]: n\n"));
    EXPECT_TRUE(contains(quote, "<blockquote>\n<p>quoted ")) << quote.toStdString();
    EXPECT_TRUE(contains(quote, stays));
    EXPECT_FALSE(contains(quote, "footnotes"));

    const QString list = test::htmlOf(QStringLiteral("- item [x][1][^1]\n[1]: http://u\n[^1]: n\n"));
    EXPECT_TRUE(contains(list, "<li>item ")) << list.toStdString();
    EXPECT_TRUE(contains(list, stays));
    EXPECT_FALSE(contains(list, "footnotes"));
    // Text that continues an item after a blank line stays in the item too.
    const QString loose = test::htmlOf(QStringLiteral("- item\n\n  more [x][1]\n[1]: http://u\n"));
    EXPECT_TRUE(contains(loose, "<p>more [x][1]\n[1]: <a href=\"http://u\">http://u</a></p>\n</li>"))
        << loose.toStdString();
    // After the list, a paragraph is the top level's again.
    const QString after = test::htmlOf(QStringLiteral("- item\n\nText [x][1]\n[1]: http://u\n"));
    EXPECT_TRUE(contains(after, "<p>Text <a href=\"http://u\">x</a></p>")) << after.toStdString();
}

} // namespace
} // namespace lumora
