// Hostile and broken input: every text converts to well-formed
// HTML without a marker of ours in it. (Large sizes belong to the benchmark
// and the fuzzer; these are kept small.)
#include "MultiMarkdownSupport.h"

#include "multimarkdown_binding/DialectSource.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using test::checkConversions;
using test::htmlOf;
using test::isWellFormed;
using Extensions = MultiMarkdown::Extensions;

QString repeated(const char* piece, int times)
{
    return QString::fromUtf8(piece).repeated(times);
}

void expectClean(const QString& html, const char* what)
{
    for (QChar c : html) {
        const char16_t u = c.unicode();
        ASSERT_FALSE(u < 0x20 && u != u'\n' && u != u'\t') << what << ": U+" << std::hex << unsigned(u);
    }
}

TEST(MultiMarkdownRobustness, DeepNestingConvertsToWellFormedHtml)
{
    struct Case {
        const char* name;
        QString text;
    };
    const Case cases[] = {
        {"brackets", repeated("[", 10000) + repeated("]", 10000)},
        {"note brackets", repeated("[^", 10000) + QStringLiteral("x") + repeated("]", 10000)},
        {"inline notes", repeated("[^a ", 2000) + QStringLiteral("x") + repeated("]", 2000)},
        {"emphasis", repeated("*", 10000) + QStringLiteral("x") + repeated("*", 10000)},
        {"underscores", repeated("_a ", 5000) + repeated("b_ ", 5000)},
        {"insertions", repeated("{++", 5000) + QStringLiteral("x") + repeated("++}", 5000)},
        {"substitutions", repeated("{~~a~>", 3000) + repeated("b~~}", 3000)},
        {"unclosed marks", repeated("{++ {-- {~~ ~> {== {>> [^ [# [? [> ", 2000)},
        {"closers only", repeated("++} --} ~~} ==} <<} ] ", 3000)},
        {"quotes", repeated("> ", 500) + QStringLiteral("deep[^1]\n\n[^1]: n")},
        {"lists", repeated("- ", 500) + QStringLiteral("deep {++x++}")},
        {"citations", repeated("[x][#c]", 5000) + QStringLiteral("\n\n[#c]: C.\n")},
        {"many notes", repeated("a[^n] ", 5000) + QStringLiteral("\n\n[^n]: N.\n")},
        {"many definitions", repeated("[^n]: N.\n", 5000) + QStringLiteral("x[^n]\n")},
        {"glossary terms", repeated("[?(t) d] ", 3000)},
        {"headings", repeated("# Same\n", 3000)},
        {"metadata", repeated("Key: value\n", 5000) + QStringLiteral("\nBody\n")},
        {"backticks", repeated("`", 10000) + repeated("``x", 3000)},
        {"fences", repeated("```\n", 3000)},
        {"html", repeated("<div>\n<!--\n", 3000)},
        {"marks in a definition used elsewhere", QStringLiteral("[a]: u (++} {--)\n\n[a] and [a][]\n")},
        {"attributes in a paragraph", QStringLiteral("[a]: p.png \"unclosed\n[b]: http://a.b\n    id=x\n\n[b]\n")},
        {"marks in inline attributes", QStringLiteral("[a](u c=x{~~y d={++z) [b](u e=\\[f\\] g={>>h)\n")},
        {"inline attributes", repeated("[a](b c=d ![e](f \"g\" h=i ", 2000) + repeated(")", 4000)},
        {"quotes waiting for their close", repeated("'a ``b \"c 1\" ", 3000) + QStringLiteral("\n\n# 'h\n\n![i 'j](k)\n")},
        {"locators", repeated("[Methods][", 3000) + QStringLiteral("\n\n# Methods [meth]\n")},
        {"scripts", repeated("x^a~b^^c~~d ", 3000)},
    };
    // Time linear in size is the benchmark's business; a hang here meets the test timeout.
    for (const Case& c : cases) {
        const QString html = htmlOf(c.text);
        expectClean(html, c.name);
        if (!c.text.contains(QLatin1String("<div>"))) {
            EXPECT_TRUE(isWellFormed(html)) << c.name;
        }
    }
}

TEST(MultiMarkdownRobustness, EveryFlagCombinationConverts)
{
    const QString text = QStringLiteral(
        "Title: T\n\n# H\n\nText[^1] [#c] [?(g) d] [>(A) b] {++i++}{--d--}{~~a~>b~~}{==h==}{>>c<<}\n\n"
        "| a |\n|---|\n| b |\n\n[^1]: N.\n[#c]: C.\n");
    for (std::uint64_t bits = 0; bits < (1u << 17); bits += 0x1357) {
        const QString html = htmlOf(text, Extensions(bits));
        EXPECT_FALSE(html.isEmpty()) << bits;
        expectClean(html, "flags");
    }
}

TEST(MultiMarkdownRobustness, LeftOpenBlocksDoNotSwallowTheNotes)
{
    // A <pre> left open runs to the end: what follows it is raw HTML, kept
    // as written, and no definition (the reference is a note of its own
    // text).
    const QString html = htmlOf(QStringLiteral("Text[^1].\n\n<pre>\nnever closed\n\n[^1]: One\n"));
    expectClean(html, "open pre");
    EXPECT_TRUE(html.contains(QLatin1String("<pre>\nnever closed\n\n[^1]: One")));
    EXPECT_FALSE(html.contains(QLatin1String("<p>One")));

    // A definition before it is safe: notes are parsed apart from the body.
    const QString before = htmlOf(QStringLiteral("Text[^1].\n\n[^1]: One\n\n<pre>\nnever closed\n"));
    EXPECT_TRUE(before.contains(QLatin1String("<li id=\"fn:1\">\n<p>One")));
    EXPECT_TRUE(before.contains(QLatin1String("<pre>\nnever closed")));

    // A note that opens raw HTML (CDATA, in any case) and never closes it
    // swallows the next note; no separator of ours may show.
    const QString cdata = htmlOf(QStringLiteral("a[^1] b[^2]\n\n[^1]: One\n<![cdata[ open\n\n[^2]: Two\n"));
    expectClean(cdata, "open CDATA in a note");
    EXPECT_FALSE(cdata.contains(QLatin1String("<!---->")));
    EXPECT_TRUE(cdata.contains(QLatin1String("Two")));

    const QString fenced = htmlOf(QStringLiteral("a[^1] b[^2]\n\n[^1]: Code:\n\n    ```\n    open\n\n[^2]: Second.\n"));
    expectClean(fenced, "open fence in a note");
    EXPECT_TRUE(fenced.contains(QLatin1String("Second.")));
}

TEST(MultiMarkdownRobustness, AFenceLeftOpenInANotesListItemEndsWithTheItem)
{
    // The fence belongs to the list item; the next note is a note, not code,
    // and nothing of ours shows in either.
    const QString html = htmlOf(QStringLiteral("a[^1] b[^2]\n\n[^1]: - item\n\n      ```\n      code\n\n[^2]: Two\n"));
    expectClean(html, "open fence in a note's list item");
    EXPECT_TRUE(html.contains(QLatin1String("<li id=\"fn:2\">\n<p>Two")));
    EXPECT_TRUE(isWellFormed(html));
}

TEST(MultiMarkdownRobustness, WideTablesKeepTheirFirstColumnsAndTheRestStaysText)
{
    auto row = [](const char* cell, int columns) {
        QString line;
        for (int i = 0; i < columns; ++i) line += QLatin1Char('|') + QLatin1String(cell) + QString::number(i);
        return line + QStringLiteral("|\n");
    };
    auto delimiter = [](int columns) { return QStringLiteral("|-").repeated(columns) + QStringLiteral("|\n"); };
    const int most = int(DialectSource::maxTableColumns);

    const QString fits = htmlOf(row("h", most) + delimiter(most) + row("c", most));
    EXPECT_EQ(fits.count(QLatin1String("<th>")), most);
    EXPECT_EQ(fits.count(QLatin1String("<td>")), most);
    EXPECT_FALSE(fits.contains(QLatin1Char('|')));

    // 50,000 columns: the first ones are the table's, the rest is the text
    // of its last cell.
    const QString wide = htmlOf(row("h", 50000) + delimiter(50000) + row("c", 50000));
    EXPECT_EQ(wide.count(QLatin1String("<th>")), most + 1);
    EXPECT_TRUE(wide.contains(QLatin1String("<th>h100|h101|h102|")));
    EXPECT_TRUE(wide.contains(QLatin1String("|c49999|</td>")));

    // A wide delimiter row under a paragraph and a wide line of text keep
    // all their text; a wide row under a narrow table converts (cmark-gfm
    // drops the cells a table has no column for).
    EXPECT_TRUE(htmlOf(QStringLiteral("text\n") + delimiter(50000)).contains(QLatin1String("|-|-|</p>")));
    EXPECT_TRUE(htmlOf(row("x", 50000)).contains(QLatin1String("|x49999|</p>")));
    EXPECT_TRUE(htmlOf(QStringLiteral("|a|\n|-|\n") + row("b", 50000)).contains(QLatin1String("<td>b0</td>")));

    // cmark-gfm fills short rows up to the table's width: a wide header
    // over many one-cell rows must not make the output hundreds of times
    // the text, in a quote or not.
    for (const QString& prefix : {QString(), QStringLiteral("> ")}) {
        const QString bomb = prefix + row("h", most) + prefix + delimiter(most) + (prefix + QStringLiteral("a|\n")).repeated(20000);
        const QString html = htmlOf(bomb);
        EXPECT_LT(html.size(), 60 * bomb.size()) << prefix.toStdString();
        EXPECT_GT(html.count(QLatin1String("<td>a</td>")), 10);
    }
    const QString ragged = htmlOf(QStringLiteral("| a | b | c |\n|---|---|---|\n") + QStringLiteral("| x |\n").repeated(50));
    EXPECT_EQ(ragged.count(QLatin1String("<td></td>")), 100);

    // Pipes in fenced code are left alone.
    const QString code = htmlOf(QStringLiteral("```\n") + QStringLiteral("|").repeated(300) + QStringLiteral("\n```\n"));
    EXPECT_TRUE(code.contains(QStringLiteral("|").repeated(300)));
    EXPECT_FALSE(code.contains(QLatin1Char('\\')));
}

// A line of item numbers, each a list in the item before, whose last item
// holds no paragraph first (a fence, a heading) stays as cmark read it, at
// every depth; the items after it, and inside its last item, still keep
// their leading numbers as text. (The deep chain is the shape of a text the
// fuzzer found; its time is the benchmark's.)
TEST(MultiMarkdownRobustness, ChainsOfItemNumbersOverOtherBlocksStayAsRead)
{
    checkConversions({
        {.text = "- 1. 1. ~~~\n        code\n        ~~~\n- 2. 3. x\n",
         .expected = {"<ul>\n<li>\n<ol>\n<li>\n<ol>\n<li>\n<pre><code>code\n</code></pre>\n</li>\n</ol>\n</li>\n</ol>\n</li>\n"
                      "<li>2. 3. x</li>\n</ul>"}},
        {.text = "- 1. 1. ~~~\n        ~~~\n        * 4. 5. y\n",
         .expected = {"<li>\n<pre><code></code></pre>\n<ul>\n<li>4. 5. y</li>\n</ul>\n</li>\n</ol>"}},
        {.text = "> 1. 2. # Heading\n>\n> * 3. 4. z\n",
         .expected = {"<ol>\n<li>\n<ol>\n<li>\n<h1 id=\"heading\">Heading</h1>\n</li>\n</ol>\n</li>\n</ol>\n"
                      "<ul>\n<li>3. 4. z</li>\n</ul>"}},
    });

    const int depth = 20000;
    const QString text = QStringLiteral("Inline $x$ and ") + repeated("1. ", 2000) + QStringLiteral("\n ")
        + repeated("1. ", depth) + QStringLiteral("~~~ 1. 1. x\n\nAfter 1. 2. x\n\n* 3. 4. y\n");
    const QString html = htmlOf(text);
    EXPECT_TRUE(isWellFormed(html));
    EXPECT_EQ(html.count(QLatin1String("<ol>\n<li>\n")), depth);
    EXPECT_EQ(html.count(QLatin1String("</li>\n</ol>\n")), depth);
    EXPECT_TRUE(html.contains(QStringLiteral("1. 1. 1. 1.</p>\n<ol>\n<li>\n<ol>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<li>\n<pre><code class=\"1.\">\n</code></pre>\n</li>")));
    EXPECT_TRUE(html.contains(QStringLiteral("</li>\n</ol>\n<p>After 1. 2. x</p>\n<ul>\n<li>3. 4. y</li>\n</ul>")));
}


// Dollars and carets that open nothing, many in a row, stay as written (the
// last caret of a run may still open a superscript), however deep in quotes
// their paragraph lies. (The deep shape is that of texts the fuzzer found;
// their time is the benchmark's.)
TEST(MultiMarkdownRobustness, RunsOfDollarsAndCaretsThatOpenNothingStayAsWritten)
{
    checkConversions({
        {.text = "Cost 1$$$$ and US$$5, x^^^2^ and y^^^z and $$$a$ then $$a$$$$.\n",
         .expected = {"<p>Cost 1$$$$ and US$$5, x^^<sup>2</sup> and y^^<sup>z</sup> and $$$a$ then "
                      "<span class=\"math\">\\[a$$\\]</span>.</p>"}},
        // After a bracket, carets are the notes' to read.
        {.text = "Note[^^x] and [^^^] and [$$$]\n",
         .expected = {"<li id=\"fn:1\">\n<p><sup>x</sup> ", "<li id=\"fn:2\">\n<p>^^ ", " and [$$$]</p>"}},
    });

    const int depth = 2000;
    const QString text = repeated(">", depth) + QStringLiteral(" 1") + repeated("$", 20000) + QStringLiteral("\n")
        + repeated("^", 20000) + QStringLiteral("x^ and $y$\n");
    const QString html = htmlOf(text);
    EXPECT_TRUE(isWellFormed(html));
    EXPECT_EQ(html.count(QLatin1String("<blockquote>")), depth);
    EXPECT_TRUE(html.contains(QStringLiteral("<p>1") + repeated("$", 20000) + QStringLiteral("\n")
                              + repeated("^", 19999) + QStringLiteral("<sup>x</sup> and <span class=\"math\">\\(y\\)</span></p>")));
}

// Text after a dollar or caret that opens nothing, or a CriticMarkup opener
// without a closer, with more of them that cannot open, reads as before: each thing that may start there still does
// (a dollar after a space opens math, a caret after a letter a
// superscript, a "www." a link, spaces before a line's end a hard break).
TEST(MultiMarkdownRobustness, TextAfterDollarsAndCaretsThatOpenNothingReadsAsBefore)
{
    checkConversions({
        {.text = "x$a$b1$c $d$, and ^ a ^ ^^ b^c^ d www.example.com\n",
         .expected = {"<p>x$a$b1$c <span class=\"math\">\\(d\\)</span>, and ^ a ^ ^^ b<sup>c</sup> d "
                      "<a href=\"http://www.example.com\">www.example.com</a></p>"}},
        {.text = "a$b$c  \nnext ^ x ^   \nlast $x$\n",
         .expected = {"<p>a$b$c<br />\nnext ^ x ^<br />\nlast <span class=\"math\">\\(x\\)</span></p>"}},
        // Tabs and spaces before a line's end are dropped, and CriticMarkup
        // openers without a closer stay as written.
        {.text = "a$b \t\nc ^ d^ \t\ne {++ f {== g \t\nh {++ i ++} j {>> k\n",
         .expected = {"<p>a$b\nc ^ d^\ne {++ f {== g\nh <ins> i </ins> j {&gt;&gt; k</p>"}},
    });

    const int depth = 2000;
    const QString text = repeated(">", depth) + QStringLiteral(" ") + repeated("$a", 10000) + QStringLiteral("\n")
        + repeated("^ ", 10000) + QStringLiteral("x^2\n") + repeated("{++ a {== b {>> ", 2000) + QStringLiteral("c\n");
    const QString html = htmlOf(text);
    EXPECT_TRUE(isWellFormed(html));
    EXPECT_EQ(html.count(QLatin1String("<blockquote>")), depth);
    EXPECT_TRUE(html.contains(QStringLiteral("<p>") + repeated("$a", 10000) + QStringLiteral("\n")
                              + repeated("^ ", 10000) + QStringLiteral("x<sup>2</sup>\n")
                              + repeated("{++ a {== b {&gt;&gt; ", 2000) + QStringLiteral("c</p>")));
}

} // namespace
} // namespace lumora
