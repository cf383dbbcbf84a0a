// The MultiMarkdown syntax of our own layer: notes, citations, glossary,
// abbreviations and CriticMarkup, checked by the structure of the HTML. Each
// concern is one table: a construct more is a row more.
#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using test::checkConversions;
using Extensions = MultiMarkdown::Extensions;

TEST(MultiMarkdownFootnotes, ReferencesBecomeNumberedLinksToTheNotesList)
{
    checkConversions({
        // A reference and its definition make a linked note.
        {.text = "Text with a note[^one].\n\n[^one]: The *first* note.\n",
         .expected = {"note<a href=\"#fn:1\" id=\"fnref:1\" title=\"see footnote\" class=\"footnote\"><sup>1</sup></a>.",
                      "<div class=\"footnotes\">\n<hr />\n<ol>", "<li id=\"fn:1\">",
                      "The <em>first</em> note. <a href=\"#fnref:1\" title=\"return to body\" "
                      "class=\"reversefootnote\">&#8617;</a></p>"},
         .absent = {"[^one]"}},
        // Notes are numbered in the order of their first reference; one
        // never cited is left out.
        {.text = "B[^b] then A[^a] then B again[^b].\n\n[^a]: Alpha.\n[^b]: Beta.\n[^unused]: Never cited.\n",
         .expected = {"B<a href=\"#fn:1\" id=\"fnref:1\"", "A<a href=\"#fn:2\" id=\"fnref:2\"",
                      "again<a href=\"#fn:1\" id=\"fnref:1-2\""},
         .absent = {"Never cited"},
         .inOrder = {"<div class=\"footnotes\">", "Beta.", "Alpha."}},
        // Inline notes, and notes of several paragraphs and code; a note
        // ending in code gets its way back in a paragraph of its own.
        {.text = "Inline[^an *inline* note] and long[^long].\n\n[^long]: First paragraph.\n\n    Second paragraph.\n\n"
                 "        code in the note\n\nBack in the body.\n",
         .expected = {"<li id=\"fn:1\">\n<p>an <em>inline</em> note <a href=\"#fnref:1\"",
                      "<p>First paragraph.</p>\n<p>Second paragraph.</p>",
                      "<pre><code>code in the note\n</code></pre>", "</code></pre>\n<p><a href=\"#fnref:2\""},
         .inOrder = {"Back in the body.", "<div class"}},
        // Escaped references and empty ones stay as written.
        {.text = "Escaped \\[^a], bracket [a] and [^] and [^ ].\n\n[^a]: A.\n",
         .expected = {"Escaped [^a], bracket [a] and [^] and [^ ]."},
         .absent = {"footnotes"}},
        // A reference to no definition is a note of its own text, one word
        // as well as several.
        {.text = "As written[^sic] and in full[^an aside].\n\n[^other]: Not this one.\n",
         .expected = {"written<a href=\"#fn:1\" id=\"fnref:1\" title=\"see footnote\" class=\"footnote\">"
                      "<sup>1</sup></a>",
                      "full<a href=\"#fn:2\" id=\"fnref:2\"", "<li id=\"fn:1\">\n<p>sic <a href=\"#fnref:1\"",
                      "<li id=\"fn:2\">\n<p>an aside <a href=\"#fnref:2\""},
         .absent = {"[^sic]", "Not this one"}},
        // Notes can use the body's link definitions and cite each other.
        {.text = "Body[^a].\n\n[site]: https://example.com\n\n[^a]: See [the site][site] and[^b].\n[^b]: Nested.\n",
         .expected = {"See <a href=\"https://example.com\">the site</a> and<a href=\"#fn:2\"",
                      "<li id=\"fn:2\">\n<p>Nested."}},
        // A reference inside a link has no link of its own.
        {.text = "[a link[^1]](https://example.com)\n\n[^1]: N.\n",
         .expected = {"<a href=\"https://example.com\">a link<sup>1</sup></a>"}},
    });
}

TEST(MultiMarkdownCitations, WithAndWithoutLocatorLinkToTheSource)
{
    checkConversions({
        {.text = "As shown [#Doe 2005], see [p. 23][#doe 2005].\n\n[#Doe 2005]: Doe, J. *A Book*.\n",
         .expected = {"shown <a href=\"#cn:1\" id=\"cnref:1\" title=\"see citation\" class=\"citation\">[1]</a>",
                      "see <a href=\"#cn:1\" id=\"cnref:1-2\" title=\"see citation\" class=\"citation\">[1, p. 23]</a>.",
                      "<div class=\"citations\">",
                      "<li id=\"cn:1\">\n<p>Doe, J. <em>A Book</em>. <a href=\"#cnref:1\""},
         .absent = {"[#"}},
    });
}

TEST(MultiMarkdownGlossary, InlineDefinitionsAndLaterReferencesLinkToTheGlossary)
{
    checkConversions({
        {.text = "An [?(API) application programming interface] and the [?API] again; also [?term].\n\n"
                 "[?Term]: A defined *term*.\n",
         .expected = {"An <a href=\"#gn:1\" id=\"gnref:1\" title=\"see glossary\" class=\"glossary\">API</a> and",
                      "the <a href=\"#gn:1\" id=\"gnref:1-2\" title=\"see glossary\" class=\"glossary\">API</a>",
                      "<a href=\"#gn:2\" id=\"gnref:2\" title=\"see glossary\" class=\"glossary\">term</a>",
                      "<div class=\"glossary\">",
                      "<p><span class=\"glossary name\">API</span>: application programming interface "
                      "<a href=\"#gnref:1\"",
                      "<span class=\"glossary name\">Term</span>: A defined <em>term</em>."}},
        // Terms standing in another term's definition are not linked there;
        // in the body and in a footnote they are.
        {.text = "An API speaks JSON[^1].\n\n[?API]: An interface speaking JSON.\n[?JSON]: A format an API speaks.\n"
                 "[^1]: About JSON.\n",
         .expected = {"<span class=\"glossary name\">API</span>: An interface speaking JSON. <a",
                      "<span class=\"glossary name\">JSON</span>: A format an API speaks. <a",
                      "<p>About <a href=\"#gn:2\" id=\"gnref:2-2\""}},
    });
}

TEST(MultiMarkdownAbbreviations, BecomeAbbrElementsWithEscapedTitles)
{
    checkConversions({
        // The first use is written out, the later ones are the abbreviation.
        {.text = "[>(MMD) Multi&lt;Markdown&gt; &amp; &quot;more&quot;] and [>MMD]; [>HTML] too.\n\n"
                 "[>HTML]: Hypertext Markup Language\n",
         .expected = {"Multi&lt;Markdown&gt; &amp; &quot;more&quot; (<abbr title=\"Multi&lt;Markdown&gt; &amp; "
                      "&quot;more&quot;\">MMD</abbr>) and <abbr title=\"Multi&lt;Markdown&gt; &amp; "
                      "&quot;more&quot;\">MMD</abbr>;",
                      "Hypertext Markup Language (<abbr title=\"Hypertext Markup Language\">HTML</abbr>) too."},
         .absent = {"<div class"}},
        {.text = "[>XYZ] unknown\n", .expected = {"[&gt;XYZ] unknown"}},
    });
}

TEST(MultiMarkdownCritic, MarksBecomeTheirElementsOrAreAcceptedOrRejected)
{
    const char* changes = "a {++added++} b {--gone--} c {~~old~>new~~} d {==marked==}{>>note<<} e\n";
    checkConversions({
        {.text = "a {++added *text*++} b {--gone--} c {~~old~>new~~} d {==marked==}{>>a comment<<} e\n",
         .expected = {"a <ins>added <em>text</em></ins> b", "b <del>gone</del> c", "c <del>old</del><ins>new</ins> d",
                      "d <mark>marked</mark><span class=\"critic comment\">a comment</span> e"}},
        {.text = changes,
         .expected = {"<p>a added b  c new d marked e</p>"},
         .extensions = test::systemExtensions | Extensions::criticAccept},
        {.text = changes,
         .expected = {"<p>a  b gone c old d marked e</p>"},
         .extensions = test::systemExtensions | Extensions::criticReject},
        // Unmatched or misnested marks stay as written, and the HTML well
        // formed.
        {.text = "{++open only", .expected = {"{++open only"}},
        {.text = "close only++}", .expected = {"close only++}"}},
        {.text = "{~~no split~~}", .expected = {"{~~no split~~}"}},
        {.text = "{++a {--b++} c--}", .expected = {"<ins>a {--b</ins> c--}"}},
        {.text = "\\{++escaped++}", .expected = {"{++escaped++}"}},
        {.text = "{++across\n\nparagraphs++}", .expected = {"<p>{++across</p>\n<p>paragraphs++}</p>"}},
        {.text = "*a {++b* c++}\n", .expected = {}},
    });
}

TEST(MultiMarkdownDialect, AppliesWithItsFlagsOutsideCodeAndRawHtml)
{
    checkConversions({
        // Without its flag nothing is recognised.
        {.text = "Note[^1] and [?(A) b].\n", .expected = {"Note[^1] and [?(A) b]."}, .extensions = Extensions::smart},
        {.text = "a {==b==} c\n", .expected = {"a {==b==} c"}, .extensions = Extensions::notes},
        // Nothing applies inside code; no reference was made, so no list
        // either.
        {.text = "Span `{++x++} [^1] \\[ [?(A) b]` here.\n\n"
                 "```{++info++}\n{++fenced++} [^1]\n[^1]: not a definition\n```\n\n"
                 "    {--indented--} [#c]\n\n"
                 "- item\n\n      {==in list code==} [^1]\n\n"
                 "[^1]: The real note.\n",
         .expected = {"<code>{++x++} [^1] \\[ [?(A) b]</code>",
                      "<pre><code class=\"{++info++}\">{++fenced++} [^1]\n[^1]: not a definition\n</code></pre>",
                      "<pre><code>{--indented--} [#c]\n</code></pre>",
                      "<pre><code>{==in list code==} [^1]\n</code></pre>"},
         .absent = {"footnotes"}},
        // Marks in raw HTML and link destinations are kept as written.
        {.text = "<div title=\"{++x++} [^1]\">{--y--}</div>\n\n"
                 "[a](https://example.com/{++a++} \"t {--b--}\") and <span>{++inline html++}</span>\n\n[^1]: N.\n",
         .expected = {"<div title=\"{++x++} [^1]\">{--y--}</div>",
                      "<a href=\"https://example.com/%7B++a++%7D\" title=\"t {--b--}\">a</a>",
                      "<span><ins>inline html</ins></span>"}},
        // Image descriptions get plain text.
        {.text = "![a {++b++} [^1]](pic.png)\n\n[^1]: N.\n", .expected = {"<img src=\"pic.png\" alt=\"a b 1\" />"}},
        // It works in tables, quotes and lists.
        {.text = "| a | b |\n|---|---|\n| {++x++} | y[^1] |\n\n> quoted {--z--}[^1]\n\n- item {==w==}\n\n[^1]: N.\n",
         .expected = {"<td><ins>x</ins></td>", "<td>y<a href=\"#fn:1\" id=\"fnref:1\"",
                      "quoted <del>z</del><a href=\"#fn:1\" id=\"fnref:1-2\"", "<li>item <mark>w</mark></li>"}},
    });
}

// A definition on the line right under a paragraph's last line, or right under
// another definition, is a definition: the editor's Link and Footnote commands
// put theirs there.
TEST(MultiMarkdownDefinitions, RightUnderAParagraphLineOrAnotherDefinition)
{
    checkConversions({
        {.text = "Text [x][1] here.\n[1]: http://u\n",
         .expected = {"<p>Text <a href=\"http://u\">x</a> here.</p>"},
         .absent = {"[1]"}},
        {.text = "Text[^1] here.\n[^1]: a note\n",
         .expected = {"Text<a href=\"#fn:1\" id=\"fnref:1\"", "<li id=\"fn:1\">\n<p>a note <a href=\"#fnref:1\""},
         .absent = {"[^1]"}},
        // Every kind, one under the other, under a paragraph of two lines.
        {.text = "A [link][1], a note[^n], a source [#doe],\na [?term] and the [>MMD] [two][2].\n"
                 "[1]: http://one\n[^n]: The note.\n[2]: http://two class=wide\n[#doe]: Doe, *Book*.\n"
                 "[?term]: A term.\n[>MMD]: MultiMarkdown\n",
         .expected = {"<a href=\"http://one\">link</a>", "<a href=\"http://two\" class=\"wide\">two</a>",
                      "<li id=\"fn:1\">\n<p>The note. <a", "class=\"citation\">[1]</a>", "Doe, <em>Book</em>.",
                      "class=\"glossary\">term</a>", "<abbr title=\"MultiMarkdown\">MMD</abbr>"},
         .absent = {"]:"}},
        // A link definition right under a note's definition ends the note.
        {.text = "Note[^1] and [x][1].\n\n[^1]: The note.\n[1]: http://u\n",
         .expected = {"<a href=\"http://u\">x</a>", "<p>The note. <a href=\"#fnref:1\""},
         .absent = {"http://u\n"}},
        // Under a heading and under a table's last row too; the paragraph
        // and the table keep what they had.
        {.text = "| a | b |\n|---|---|\n| c | [d][1] |\n[1]: http://d\n",
         .expected = {"<table>\n<colgroup>\n<col />\n<col />\n</colgroup>\n<thead>\n<tr>\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>c</td>\n"
                      "<td><a href=\"http://d\">d</a></td>\n</tr>\n</tbody>\n</table>"}},
        {.text = "One\ntwo [x][1]\n[1]: http://u\nthree\n",
         .expected = {"<p>One\ntwo <a href=\"http://u\">x</a></p>\n<p>three</p>"}},
    });
}

// Where a definition line is code or raw HTML, it stays what it was.
TEST(MultiMarkdownDefinitions, NeverInCodeOrHtml)
{
    const char* definitionTaken = "<p>n <a href=\"#fnref";
    checkConversions({
        {.text = "Text [x][1][^1]\n```\ncode\n[1]: http://u\n[^1]: n\n```\n",
         .expected = {"<pre><code>code\n[1]: http://u\n[^1]: n\n</code></pre>", "Text [x][1]<a href=\"#fn:1\""},
         .absent = {definitionTaken}},
        {.text = "Para\n\n    code [x][1]\n    [1]: http://u\n    [^1]: n\n",
         .expected = {"<pre><code>code [x][1]\n[1]: http://u\n[^1]: n\n</code></pre>"}},
        {.text = "<div>\nraw [x][1][^1]\n[1]: http://u\n[^1]: n\n</div>\n",
         .expected = {"<div>\nraw [x][1][^1]\n[1]: http://u\n[^1]: n\n</div>"}},
        {.text = "<div>raw</div>\n[1]: http://u\n\n[x][1]\n",
         .expected = {"<div>raw</div>\n[1]: http://u", "<p>[x][1]</p>"}},
        // Code in a list item goes on with the item's indented lines.
        {.text = "- ```\n  [^1]: n\n  [1]: http://u\n  ```\n", .expected = {"<code>[^1]: n\n[1]: http://u\n</code>"}},
        // After the list, a paragraph is the top level's again.
        {.text = "- item\n\nText [x][1]\n[1]: http://u\n", .expected = {"<p>Text <a href=\"http://u\">x</a></p>"}},
    });
}

// A definition at the start of the line right under a list item, a quote or
// a definition list's definition ends that block and is a definition, as it
// is under a paragraph: the editor's Link and Footnote commands put theirs
// there.
TEST(MultiMarkdownDefinitions, RightUnderAListItemAQuoteOrADefinition)
{
    const std::vector<const char*> notes = {
        "<a href=\"http://u\">x</a>", "<a href=\"#fn:1\" id=\"fnref:1\"", "class=\"citation\">[1]</a>",
        "class=\"glossary\">term</a>", "<abbr title=\"MultiMarkdown\">MMD</abbr>",
        "<li id=\"fn:1\">\n<p>The note. <a", "<p>Doe. <a", "Glossed. <a"};
    const char* definitions = "[1]: http://u\n[^1]: The note.\n[#doe]: Doe.\n[?term]: Glossed.\n[>MMD]: MultiMarkdown\n";
    const char* references = "[x][1][^1] [#doe] [?term] [>MMD]";
    const auto with = [&](const char* before, const char* after) {
        return std::string(before) + references + after + "\n" + definitions;
    };
    const std::string bullet = with("- a\n- b ", ""), numbered = with("1. a\n2. b ", ""), quote = with("> q ", ""),
                      nested = with("- a\n    > q ", ""), definition = with("Term\n:   Def ", ""),
                      continued = with("- a\n\n  more ", "");
    checkConversions({
        {.text = "- a\n- b\n[1]: http://u.example\n\nPara [x][1].\n",
         .expected = {"<ul>\n<li>a</li>\n<li>b</li>\n</ul>", "<p>Para <a href=\"http://u.example\">x</a>.</p>"}},
        {.text = "> quote [a][1]\n[1]: http://a\n",
         .expected = {"<blockquote>\n<p>quote <a href=\"http://a\">a</a></p>\n</blockquote>"}},
        {.text = "Term\n:   Def\n[1]: http://u\n\n[x][1]\n",
         .expected = {"<dt>Term</dt>\n<dd>Def</dd>\n</dl>", "<p><a href=\"http://u\">x</a></p>"}},
        {.text = bullet.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<li>b "}},
        {.text = numbered.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<li>b "}},
        {.text = quote.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<blockquote>\n<p>q "}},
        {.text = nested.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<blockquote>\n<p>q "}},
        {.text = definition.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<dd>Def "}},
        {.text = continued.c_str(), .expected = notes, .absent = {"]:", "[x]"}, .inOrder = {"<p>more "}},
        // The list, the quote or the definitions end there.
        {.text = "- a\n[^1]: The note.\n\nAfter[^1].\n", .expected = {"<li>a</li>\n</ul>\n<p>After<a"}},
        {.text = "1. a\n[1]: http://u\n3. c\n", .expected = {"<li>a</li>\n</ol>\n<ol>\n<li>c</li>"}},
        {.text = "Term\n: Def\n[1]: http://u\n: Not a definition\n", .expected = {}, .absent = {"<dd>Not"}},
    });
}

} // namespace
} // namespace lumora
