// MultiMarkdown's block shapes where cmark-gfm reads the lines otherwise:
// tables beyond cmark's (header rows, sections, no header, separator marks,
// captions) and the block rules a writer notices. A table of small documents
// per concern, each with the HTML MultiMarkdown documents for it.
#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using test::checkConversions;
using test::htmlOf;

TEST(MultiMarkdownTables, HeaderRowsAboveTheSeparatorAllGoIntoTheHead)
{
    checkConversions({
        // A grouping row over the column names.
        {.text = "| | Grouping ||\nFirst | Second | Third |\n--- | :---: | ---: |\na | b | c |\n",
         .expected = {"<table>\n<colgroup>\n<col />\n<col style=\"text-align:center;\"/>\n<col style=\"text-align:right;\"/>\n"
                      "</colgroup>\n<thead>\n<tr>\n<th></th>\n<th style=\"text-align:center;\" colspan=\"2\">Grouping</th>\n</tr>\n"
                      "<tr>\n<th>First</th>\n<th style=\"text-align:center;\">Second</th>\n<th style=\"text-align:right;\">Third</th>\n"
                      "</tr>\n</thead>\n<tbody>\n<tr>\n<td>a</td>\n<td style=\"text-align:center;\">b</td>\n"
                      "<td style=\"text-align:right;\">c</td>\n</tr>\n</tbody>\n</table>"},
         .absent = {"<p>", "|"}},
        // Three rows, each once and in the order written.
        {.text = "| one | 1 |\n| two | 2 |\n| three | 3 |\n|---|---|\n| x | y |\n",
         .expected = {"<thead>\n<tr>\n<th>one</th>\n<th>1</th>\n</tr>\n<tr>\n<th>two</th>\n<th>2</th>\n</tr>\n"
                      "<tr>\n<th>three</th>\n<th>3</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>x</td>"},
         .absent = {"<td>one", "<td>two"}},
        // Under a paragraph line the table is cmark's: the line above stays
        // the paragraph's.
        {.text = "Some text\n| a | b |\n|---|---|\n| c | d |\n",
         .expected = {"<p>Some text</p>\n<table>\n<colgroup>\n<col />\n<col />\n</colgroup>\n<thead>\n<tr>\n<th>a</th>"}},
        // A header row may have fewer cells than the separator, not more.
        {.text = "| a |\n|---|--:|\n| b | c |\n",
         .expected = {"<thead>\n<tr>\n<th>a</th>\n<th style=\"text-align:right;\"></th>\n</tr>\n</thead>"}},
        {.text = "| a | b | c |\n|---|---|\n", .expected = {}, .absent = {"<table"}},
        // Header rows but no separator: no table.
        {.text = "| a | b |\n| c | d |\n", .expected = {"<p>| a | b |\n| c | d |</p>"}, .absent = {"<table"}},
    });
}

TEST(MultiMarkdownTables, SeparatorsOfEqualSignsAndPlusMarks)
{
    checkConversions({
        {.text = "| a | b |\n|===|:==:|\n| c | d |\n",
         .expected = {"<th>a</th>\n<th style=\"text-align:center;\">b</th>", "<td style=\"text-align:center;\">d</td>"}},
        // "+" marks a column whose long cells wrap.
        {.text = "| a | b | c |\n|---|--+|:-+:|\n| d | e | f |\n",
         .expected = {"<table>\n<colgroup>\n<col />\n<col class=\"extended\"/>\n"
                      "<col style=\"text-align:center;\" class=\"extended\"/>\n</colgroup>\n<thead>\n<tr>\n<th>a</th>\n"
                      "<th>b</th>\n<th style=\"text-align:center;\">c</th>"}},
        {.text = "| a |\n|---|\n| b |\n", .expected = {"<table>\n<colgroup>\n<col />\n</colgroup>\n<thead>"},
         .absent = {"extended"}},
        // A line of "=" with a pipe under a line of text without one is no
        // separator, and one without a pipe underlines a heading.
        {.text = "Title\n|===|\n", .expected = {}, .absent = {"<table"}},
        {.text = "Title\n=====\n", .expected = {"<h1 id=\"title\">Title</h1>"}, .absent = {"<table", "<hr"}},
    });
}

TEST(MultiMarkdownTables, RowsAfterABlankLineAreAnotherSection)
{
    checkConversions({
        {.text = "| a | b |\n|---|---|\n| 1 | 2 |\n| 3 | 4 |\n\n| 5 | 6 |\n\nAfter.\n",
         .expected = {"<tbody>\n<tr>\n<td>1</td>\n<td>2</td>\n</tr>\n<tr>\n<td>3</td>\n<td>4</td>\n</tr>\n</tbody>\n"
                      "<tbody>\n<tr>\n<td>5</td>\n<td>6</td>\n</tr>\n</tbody>\n</table>\n<p>After.</p>"},
         .absent = {"<p>|"}},
        // Several sections, the caption under the last one.
        {.text = "| a |\n|---|\n| 1 |\n\n| 2 |\n\n| 3 |\n[Caption]\n",
         .expected = {"</tbody>\n<tbody>\n<tr>\n<td>2</td>\n</tr>\n</tbody>\n<tbody>\n<tr>\n<td>3</td>\n</tr>\n"
                      "</tbody>\n</table>",
                      "<caption style=\"caption-side: bottom;\">Caption</caption>"}},
        // Two blank lines end the table.
        {.text = "| a |\n|---|\n| 1 |\n\n\n| 2 |\n", .expected = {"</table>\n<p>| 2 |</p>"}},
        // Rows with a separator of their own after the blank line are a
        // table of their own.
        {.text = "| a |\n|---|\n| 1 |\n\n| b |\n|---|\n| 2 |\n",
         .expected = {},
         .inOrder = {"<table>", "<td>1</td>", "</table>", "<table>", "<th>b</th>", "<td>2</td>", "</table>"}},
        // A line without a pipe ends the table, its caption aside.
        {.text = "| a |\n|---|\n| 1 |\nText after\n", .expected = {"</table>\n<p>Text after</p>"},
         .absent = {"<td>Text"}},
        {.text = "| a |\n|---|\n| 1 |\n[Caption]\nText after\n",
         .expected = {"<caption style=\"caption-side: bottom;\">Caption</caption>", "</table>\n<p>Text after</p>"}},
        // Text after the blank line is no row.
        {.text = "| a |\n|---|\n| 1 |\n\nText | with a pipe\n: a definition\n",
         .expected = {"</table>\n"}, .absent = {"<td>Text"}},
    });
}

TEST(MultiMarkdownTables, ASeparatorFirstMakesATableWithoutAHeader)
{
    checkConversions({
        {.text = "|---|--:|\n| a | b |\n| c | d |\n",
         .expected = {"<table>\n<colgroup>\n<col />\n<col style=\"text-align:right;\"/>\n</colgroup>\n<tbody>\n<tr>\n"
                      "<td>a</td>\n<td style=\"text-align:right;\">b</td>\n</tr>\n<tr>\n<td>c</td>"},
         .absent = {"<thead>", "<th"}},
        {.text = "Text before.\n\n--- | ---\nx | y\n", .expected = {"<p>Text before.</p>\n<table>\n<colgroup>\n<col />\n<col />\n</colgroup>\n<tbody>\n<tr>\n<td>x</td>"}},
        // A separator alone, or over another one, makes no table.
        {.text = "|---|\n\nText\n", .expected = {}, .absent = {"<table"}},
        {.text = "|---|---|\n|---|---|\n", .expected = {}, .absent = {"<tbody"}},
    });
}

TEST(MultiMarkdownTables, CaptionsKeepTheirFormattingAndNameTheTable)
{
    checkConversions({
        // Under the table: at its foot, the table taking the id.
        {.text = "| a |\n|---|\n| b |\n[A *very* fine table]\n",
         .expected = {"<table id=\"averyfinetable\">\n<caption style=\"caption-side: bottom;\">A <em>very</em> fine "
                      "table</caption>\n<colgroup>"},
         .absent = {"[A", "<td>A"}},
        // Over it, with a label and inline code.
        {.text = "[Sizes of `int`][sizes]\n| a |\n|---|\n| b |\n\nSee [sizes].\n",
         .expected = {"<table id=\"sizes\">\n<caption>Sizes of <code>int</code></caption>\n<colgroup>",
                      "See <a href=\"#sizes\">sizes</a>."}},
        // Smart typography and notes apply in captions.
        {.text = "| a |\n|---|\n| b |\n[\"Quoted\" caption[^n]]\n\n[^n]: The note.\n",
         .expected = {"<caption style=\"caption-side: bottom;\">\xE2\x80\x9CQuoted\xE2\x80\x9D caption<a href=\"#fn:1\""}},
        // A caption with the table's other features.
        {.text = "| | Both ||\n| a | b | c |\n|---|---|--+|\n| 1 || 2 |\n\n| 3 | 4 | 5 |\n[Prototype][proto]\n",
         .expected = {"<table id=\"proto\">\n<caption style=\"caption-side: bottom;\">Prototype</caption>\n"
                      "<colgroup>\n<col />\n<col />\n<col class=\"extended\"/>\n</colgroup>\n<thead>\n<tr>\n<th></th>\n"
                      "<th colspan=\"2\">Both</th>",
                      "<tr>\n<td colspan=\"2\">1</td>\n<td>2</td>\n</tr>\n</tbody>\n<tbody>\n<tr>\n<td>3</td>"}},
        // A caption stands right over or under the table.
        {.text = "[Not a caption]\n\n| a |\n|---|\n| b |\n", .expected = {"<p>[Not a caption]</p>\n<table>"},
         .absent = {"<caption"}},
        // Brackets that are no caption's stay a row.
        {.text = "| a |\n|---|\n| b |\n[one] [two]\n", .expected = {"<td>[one] [two]</td>"}, .absent = {"caption"}},
    });
}

TEST(MultiMarkdownBlockRules, WhereMultiMarkdownReadsLinesOtherwise)
{
    checkConversions({
        // An ordered list is numbered from 1, whatever its first number.
        {.text = "3. three\n4. four\n", .expected = {"<ol>\n<li>three</li>\n<li>four</li>\n</ol>"}, .absent = {"start="}},
        // A tab after a quote marker starts code in the quote.
        {.text = ">\tcode line\n>\tand another\n",
         .expected = {"<blockquote>\n<pre><code>code line\nand another\n</code></pre>\n</blockquote>"}},
        {.text = "> \tcode\n", .expected = {"<pre><code>code\n</code></pre>"}},
        {.text = "> text\n>\tgoes on\n", .expected = {"<blockquote>\n<p>text\ngoes on</p>\n</blockquote>"}},
        // A bullet followed by two tabs is an item's text, as one tab is.
        {.text = "-\t\tfirst\n-\t\tsecond\n", .expected = {"<ul>\n<li>first</li>\n<li>second</li>\n</ul>"},
         .absent = {"<pre>"}},
        {.text = "1.\t\tone\n", .expected = {"<ol>\n<li>one</li>\n</ol>"}, .absent = {"<pre>"}},
        {.text = "-\tone tab\n", .expected = {"<li>one tab</li>"}},
        // A lone line of "=" is a rule; under text it underlines a heading.
        {.text = "Before.\n\n====\n\nAfter.\n", .expected = {"<p>Before.</p>\n<hr />\n<p>After.</p>"}},
        {.text = "# Heading\n===\n", .expected = {"<h1 id=\"heading\">Heading</h1>\n<hr />"}},
        {.text = "- item\n====\n", .expected = {"<li>item\n====</li>"}, .absent = {"<hr"}},
        {.text = "- item\n\n  ====\n", .expected = {"<li>\n<p>item</p>\n<hr />\n</li>\n</ul>"}},
        {.text = "```\n====\n>\tx\n-\t\ty\n```\n", .expected = {"<pre><code>====\n&gt;\tx\n-\t\ty\n</code></pre>"}},
        // Four spaces after a quote marker start code in the quote, as a
        // tab does; a paragraph line goes on.
        {.text = ">    return \"x\";\n>        indented\n",
         .expected = {"<blockquote>\n<pre><code>return &quot;x&quot;;\n    indented\n</code></pre>\n</blockquote>"}},
        {.text = "> text\n>    goes on\n", .expected = {"<blockquote>\n<p>text\ngoes on</p>\n</blockquote>"}},
    });
}

// An item's text may begin with a number ("* 14. Dezember"): it stays the
// item's text, as written, where cmark reads a list in the item.
TEST(MultiMarkdownBlockRules, AnItemBeginningWithANumberKeepsIt)
{
    checkConversions({
        {.text = "* 14. Dezember: Feier\n* 11. Januar: Versammlung\n",
         .expected = {"<ul>\n<li>14. Dezember: Feier</li>\n<li>11. Januar: Versammlung</li>\n</ul>"},
         .absent = {"<ol>"}},
        {.text = "- 01. *Januar*\n- 2)\n\n> 1. 2. 3. drei\n",
         .expected = {"<li>01. <em>Januar</em></li>\n<li>2)</li>",
                      "<blockquote>\n<ol>\n<li>2. 3. drei</li>\n</ol>\n</blockquote>"}},
        // On a line of its own, a numbered list in an item is one.
        {.text = "- a\n  1. b\n", .expected = {"<li>a\n<ol>\n<li>b</li>\n</ol>\n</li>"}},
    });
}

// Code in a list item is indented by four columns for the item, whatever
// its marker, and four more for the code.
TEST(MultiMarkdownBlockRules, CodeInAListItemKeepsNoSpaceOfTheItemsIndent)
{
    checkConversions({
        {.text = "1. Request:\n\n        curl x\n         -v\n",
         .expected = {"<pre><code>curl x\n -v\n</code></pre>"}},
        {.text = "- a\n\n        eight\n\n- b\n    - c\n\n            twelve\n",
         .expected = {"<pre><code>eight\n</code></pre>", "<pre><code>twelve\n</code></pre>"}},
        // Fenced code keeps its spaces.
        {.text = "1. a\n\n   ```\n     five\n   ```\n", .expected = {"<pre><code>  five\n</code></pre>"}},
    });
}

// In a list item, a numbered line indented under the item's text starts a
// list in the item, whatever its first number (cmark lets only 1 interrupt
// the item's paragraph); numbers in code in the item stay as written.
TEST(MultiMarkdownBlockRules, NumberedSubListsNestWhateverTheirFirstNumber)
{
    checkConversions({
        {.text = "1. first\n2. second\n\t3. nested a\n\t4. nested b\n",
         .expected = {"<ol>\n<li>first</li>\n<li>second\n<ol>\n<li>nested a</li>\n<li>nested b</li>\n</ol>\n</li>\n</ol>"},
         .absent = {"start=", "3.", "4."}},
        {.text = "- three\n    7. seven\n", .expected = {"<ul>\n<li>three\n<ol>\n<li>seven</li>\n</ol>\n</li>\n</ul>"}},
        {.text = "3. three\n    7. seven\n4. four",
         .expected = {"<ol>\n<li>three\n<ol>\n<li>seven</li>\n</ol>\n</li>\n<li>four</li>\n</ol>"}},
        // Deeper down, and under text that goes on over several lines.
        {.text = "- a\n    - b\n      more of b\n        12. c\n",
         .expected = {"<li>b\nmore of b\n<ol>\n<li>c</li>\n</ol>\n</li>"}, .absent = {"12."}},
        // In a quote, a definition and a note too.
        {.text = "> 1. a\n> 2. b\n>     3. c\n>     4. d\n",
         .expected = {"<blockquote>\n<ol>\n<li>a</li>\n<li>b\n<ol>\n<li>c</li>\n<li>d</li>\n</ol>\n</li>\n</ol>\n</blockquote>"}},
        {.text = "> - a\n>\t3. c\n", .expected = {"<li>a\n<ol>\n<li>c</li>\n</ol>"}},
        {.text = "Term\n:   - a\n        3. c\n", .expected = {"<dd>\n<ul>\n<li>a\n<ol>\n<li>c</li>\n</ol>"}},
        {.text = "x[^n]\n\n[^n]: Note.\n\n    - a\n    \t3. c\n", .expected = {"<li>a\n<ol>\n<li>c</li>\n</ol>"}},
        // Code in an item keeps its numbers.
        {.text = "- ```\n  3. x\n  4. y\n  ```\n", .expected = {"<pre><code>3. x\n4. y\n</code></pre>"}},
        {.text = "- a\n\n    ```\n    x\n    3. y\n    4. z\n    ```\n",
         .expected = {"<pre><code>x\n3. y\n4. z\n</code></pre>"}},
        {.text = "- a\n\n        3. code\n        4. code\n", .expected = {"<pre><code>3. code\n4. code\n</code></pre>"}},
        {.text = "- a\n\n  <div>\n  text\n  3. raw\n  </div>\n", .expected = {"3. raw"}},
        // Outside a list an indented number goes on with the paragraph.
        {.text = "Text\n    3. more\n", .expected = {"<p>Text\n3. more</p>"}, .absent = {"<ol>"}},
        {.text = "> Quoted\n>     3. more\n", .expected = {"<p>Quoted\n3. more</p>"}, .absent = {"<ol>"}},
    });
}

// A fence indented by a tab in an item: its code keeps no space of the tab.
TEST(MultiMarkdownBlockRules, FencedCodeIndentedByATabInAnItem)
{
    checkConversions({
        {.text = "* foo\n\n\t```\n\t*foo*\n\t```\n", .expected = {"<pre><code>*foo*\n</code></pre>"}},
        {.text = "> - foo\n>\n>\t```\n>\t*foo*\n>\t```\n", .expected = {"<pre><code>*foo*\n</code></pre>"}},
        {.text = "- foo\n\n\t~~~ perl\n\tsay 1;\n\t  more\n\t~~~\n",
         .expected = {"<pre><code class=\"perl\">say 1;\n  more\n</code></pre>"}},
    });
}

TEST(MultiMarkdownTables, LongAndPathologicalTablesConvert)
{
    // Completion and shape are checked here; time is the benchmark's.
    const QString rows = QStringLiteral("| a | b |\n").repeated(20000);
    const QString header = htmlOf(rows + QStringLiteral("|---|---|\n| c | d |\n"));
    EXPECT_EQ(header.count(QLatin1String("<th>a</th>")), 20000);
    EXPECT_EQ(header.count(QLatin1String("<thead>")), 1);

    const QString sections = htmlOf(QStringLiteral("| a |\n|---|\n") + QStringLiteral("| b |\n\n").repeated(20000));
    EXPECT_EQ(sections.count(QLatin1String("<tbody>")), 20000);
    EXPECT_EQ(sections.count(QLatin1String("<table>")), 1);

    // Sections do not lift the bound on the cells cmark-gfm fills in under a
    // wide header.
    const QString wide = QStringLiteral("|h").repeated(100) + QStringLiteral("|\n") + QStringLiteral("|-").repeated(100)
        + QStringLiteral("|\n") + QStringLiteral("| a |\n\n").repeated(20000);
    EXPECT_LT(htmlOf(wide).size(), 8 * wide.size());

    const QString headerless = htmlOf(QStringLiteral("|---|\n| x |\n\n").repeated(5000));
    EXPECT_EQ(headerless.count(QLatin1String("<td>x</td>")), 5000);
    EXPECT_EQ(headerless.count(QLatin1String("<th")), 0);

    for (const char* piece : {"|", "|\n", "| |\n", "|-|\n", "|=\n", "[x]\n|", "\n|-|\n|-|\n"}) {
        const QString html = htmlOf(QString::fromUtf8(piece).repeated(100000));
        EXPECT_FALSE(html.isEmpty()) << piece;
        EXPECT_TRUE(test::isWellFormed(html)) << piece;
    }
}

} // namespace
} // namespace lumora
