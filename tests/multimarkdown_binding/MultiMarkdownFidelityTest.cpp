// MultiMarkdown's own syntax beyond notes and CriticMarkup: a table of small
// documents per construct, each with the HTML MultiMarkdown documents for it.
#include "MultiMarkdownSupport.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using test::htmlOf;
using test::checkConversions;
using Extensions = MultiMarkdown::Extensions;

TEST(MultiMarkdownFidelity, ImagesAloneAreFigures)
{
    checkConversions({
        {"![A *caption*](pic.png)\n",
         {"<figure>\n<img src=\"pic.png\" alt=\"A caption\" />\n<figcaption>A <em>caption</em></figcaption>\n</figure>"},
         {"<p>"}},
        {"![](pic.png \"Only a title\")\n", {"<figcaption>Only a title</figcaption>"}},
        {"![](pic.png)\n", {"<figure>\n<img src=\"pic.png\" alt=\"\" />\n</figure>"}, {"figcaption"}},
        {"Text ![a](p.png) inline.\n", {"<p>Text <img src=\"p.png\" alt=\"a\" /> inline.</p>"}, {"figure"}},
    });
}

TEST(MultiMarkdownFidelity, LinkDefinitionsCarryAttributes)
{
    checkConversions({
        {"![Pic][id]\n\n[id]: p.png \"T\" width=40px height=400px class=wide\n",
         {"<img src=\"p.png\" alt=\"Pic\" title=\"T\" width=\"40\" height=\"400\" class=\"wide\" />"},
         {"width=40px"}},
        // A size in another unit joins the writer's own style.
        {"![Pic][id]\n\n[id]: p.png style=\"border:0\" width=50%\n",
         {"<img src=\"p.png\" alt=\"Pic\" style=\"border:0;width:50%;\" />"}},
        {"A [link][id].\n\n[id]: http://a.b/c id=x class=\"big one\"\n",
         {"A <a href=\"http://a.b/c\" id=\"x\" class=\"big one\">link</a>."}},
        {"[link][id]\n\n[id]: <http://a.b> 'T'\n    rel=nofollow\n",
         {"<a href=\"http://a.b\" title=\"T\" rel=\"nofollow\">link</a>"}, {"rel=nofollow"}},
        // Attributes go inside the parentheses: after them they are text.
        {"[a](http://a.b) width=4\n", {"<a href=\"http://a.b\">a</a> width=4"}},
        // A definition without attributes is as before.
        {"[a][b]\n\n[b]: http://a.b\n", {"<a href=\"http://a.b\">a</a>"}},
    });
}

TEST(MultiMarkdownFidelity, InlineLinksAndImagesCarryAttributes)
{
    checkConversions({
        // An image with attributes alone in its paragraph is a figure.
        // Sizes in pixels, or bare numbers, are the image's width and
        // height; other units its style.
        {"![Alt *text*](pic.png \"Title\" width=40px height=30px)\n",
         {"<figure>\n<img src=\"pic.png\" alt=\"Alt text\" title=\"Title\" width=\"40\" height=\"30\" />\n"
          "<figcaption>Alt <em>text</em></figcaption>\n</figure>"},
         {"<p>", "width=40px", "style"}},
        {"A ![a](p.png width=40 height=50%) and ![b](q.png width=3em height=12px).\n",
         {"<img src=\"p.png\" alt=\"a\" width=\"40\" style=\"height:50%;\" />",
          "<img src=\"q.png\" alt=\"b\" height=\"12\" style=\"width:3em;\" />"}},
        // The writer's own style and a size in another unit are one style.
        {"A ![x](p.png style=\"a\" height=50%) and ![y](q.png height=2em style=\"color: red;  \" width=10px).\n",
         {"<img src=\"p.png\" alt=\"x\" style=\"a;height:50%;\" />",
          "<img src=\"q.png\" alt=\"y\" style=\"color: red;  height:2em;\" width=\"10\" />"}},
        {"A ![x](p.png width=1em style='a&b<c\"') and ![y](q.png style=\"\" width=2em).\n",
         {"<img src=\"p.png\" alt=\"x\" style=\"a&amp;b&lt;c&quot;;width:1em;\" />",
          "<img src=\"q.png\" alt=\"y\" style=\"width:2em;\" />"}},
        {"A [link](http://example.com class=external) and ![i](p.png id=\"my pic\") in text.\n",
         {"A <a href=\"http://example.com\" class=\"external\">link</a> and <img src=\"p.png\" alt=\"i\" id=\"my pic\" /> "
          "in text."},
         {"figure"}},
        {"[*emphasis* inside](<a b.html> 'T' rel=nofollow)\n",
         {"<a href=\"a%20b.html\" title=\"T\" rel=\"nofollow\"><em>emphasis</em> inside</a>"}},
        {"[W](https://example.org/Foo_(bar) class=w) and [t](u (The title)\nid=x)\n",
         {"<a href=\"https://example.org/Foo_(bar)\" class=\"w\">W</a> and <a href=\"u\" title=\"The title\" id=\"x\">t</a>"}},
        // In code, escaped, inside another link, or not attributes: as
        // written.
        {"Code `[a](b c=d)`, \\[e](f g=h), [a](b c=d \"e\") and [a](b c)\n",
         {"Code <code>[a](b c=d)</code>, [e](f g=h), [a](b c=d \u201Ce\u201D) and [a](b c)"}},
        {"[a [b](u x=1)](v y=2)\n", {"[a <a href=\"u\" x=\"1\">b</a>](v y=2)"}},
    });
}

TEST(MultiMarkdownFidelity, SmartTypography)
{
    checkConversions({
        {"pages 1-6 and 1990-2000, but well-known\n", {"pages 1\u20136 and 1990\u20132000, but well-known"}},
        {"wait. . . and wait...\n", {"wait\u2026 and wait\u2026"}},
        {"``TeX quotes'' here\n", {"\u201CTeX quotes\u201D here"}},
        {"An unpaired '' stays, and it'' too.\n", {"An unpaired '' stays, and it'' too."}},
        {"no\\ break\n", {"no\u00A0break"}},
        {"[\"quoted\" text] and \"(aside)\"\n", {"[\u201Cquoted\u201D text] and \u201C(aside)\u201D"}},
        {"'single' and it's the '90s\n", {"\u2018single\u2019 and it\u2019s the \u201990s"}},
        {"a---b and a--b\n", {"a\u2014b and a\u2013b"}},
        {"\\\"straight\\\" and \\'this\\'\n", {"&quot;straight&quot; and 'this'"}},
        {"\"*emphasis*\" and *\"inside\"*\n", {"\u201C<em>emphasis</em>\u201D and <em>\u201Cinside\u201D</em>"}},
        {"Code `\"x\" -- ...` stays\n", {"<code>&quot;x&quot; -- ...</code>"}},
        // After a digit a double quote is an inch mark, unless one is open.
        {"A 24\" screen, a 12\" record and \"1984\" here\n",
         {"A 24&quot; screen, a 12&quot; record and \u201C1984\u201D here"}},
        // A quote before a word that nothing closes is an elision's
        // apostrophe.
        {"'Tis the '90s, 'em all, and 'quoted' words\n",
         {"\u2019Tis the \u201990s, \u2019em all, and \u2018quoted\u2019 words"}},
        {"# 'tis\n\n![a 'b](p.png)\n", {">\u2019tis</h1>", "alt=\"a \u2019b\"", "<figcaption>a \u2019b</figcaption>"}},
        // A double backtick nothing closes stays as written, code or not.
        {"A `span` and `` left open\n", {"A <code>span</code> and `` left open"}},
        {"Type `` and so on\n", {"Type `` and so on"}},
    });
}

TEST(MultiMarkdownFidelity, QuotesFollowTheQuotesLanguage)
{
    checkConversions({
        {"Quotes Language: english\n\n\"a\" 'b'\n", {"\u201Ca\u201D \u2018b\u2019"}},
        {"Quotes Language: dutch\n\n\"a\" 'b'\n", {"\u201Ea\u201D \u201Ab\u2019"}},
        {"Quotes Language: french\n\n\"a\" 'b'\n", {"\u00ABa\u00BB \u2039b\u203A"}},
        {"Quotes Language: german\n\n\"a\" 'b' it's\n", {"\u201Ea\u201C \u201Ab\u2018 it\u2019s"}},
        {"Quotes Language: germanguillemets\n\n\"a\" 'b'\n", {"\u00BBa\u00AB \u203Ab\u2039"}},
        {"Quotes Language: swedish\n\n\"a\" 'b'\n", {"\u201Da\u201D \u2019b\u2019"}},
        {"Language: de\n\n\"a\"\n", {"\u201Ea\u201C"}},
        {"Quotes Language: spanish\n\n\"a\" 'b'\n", {"\u00ABa\u00BB \u2018b\u2019"}},
    });
}

TEST(MultiMarkdownFidelity, TheLanguageGivesQuotesAndTheWordsOfNotes)
{
    const char* notes = "\"Q\" n[^1] [#c] [?g]\n\n[^1]: N.\n[#c]: C.\n[?g]: G.\n";
    struct Language {
        const char* metadata;
        const char* quoted;
        const char* footnote;
        const char* citation;
        const char* glossary;
        const char* back;
    };
    const Language languages[] = {
        {"Language: en", "\u201CQ\u201D", "see footnote", "see citation", "see glossary", "return to body"},
        {"Language: es", "\u00ABQ\u00BB", "ver nota al pie", "ver cita", "ver glosario", "volver al texto"},
        {"Language: de", "\u201EQ\u201C", "siehe Fu\u00DFnote", "siehe Zitat", "siehe Glossar", "zur\u00FCck zum Text"},
        {"Language: fr", "\u00ABQ\u00BB", "voir la note", "voir la citation", "voir le glossaire", "retour au texte"},
        {"Language: nl", "\u201EQ\u201D", "zie voetnoot", "zie citaat", "zie woordenlijst", "terug naar de tekst"},
        {"Language: sv-FI", "\u201DQ\u201D", "se fotnot", "se citat", "se ordlista", "tillbaka till texten"},
        // "quotes language" chooses the quotes only.
        {"Language: German\nQuotes Language: english", "\u201CQ\u201D", "siehe Fu\u00DFnote", "siehe Zitat",
         "siehe Glossar", "zur\u00FCck zum Text"},
        // A language without words of its own keeps English ones.
        {"Language: ja", "\u201CQ\u201D", "see footnote", "see citation", "see glossary", "return to body"},
    };
    for (const Language& language : languages) {
        const QString html = htmlOf(QString::fromUtf8(language.metadata) + QStringLiteral("\n\n") + QString::fromUtf8(notes));
        auto linkTo = [](const char* title, const char* kind) {
            return QStringLiteral("title=\"%1\" class=\"%2\"").arg(QString::fromUtf8(title), QLatin1String(kind));
        };
        EXPECT_TRUE(html.contains(QString::fromUtf8(language.quoted))) << language.metadata;
        EXPECT_TRUE(html.contains(linkTo(language.footnote, "footnote"))) << language.metadata;
        EXPECT_TRUE(html.contains(linkTo(language.citation, "citation"))) << language.metadata;
        EXPECT_TRUE(html.contains(linkTo(language.glossary, "glossary"))) << language.metadata;
        for (const char* kind : {"reversefootnote", "reversecitation", "reverseglossary"})
            EXPECT_TRUE(html.contains(linkTo(language.back, kind))) << language.metadata << " " << kind;
    }
    // The caller's language, when the metadata names none.
    const std::optional<QString> swedish =
        MultiMarkdown::convert(QString::fromUtf8(notes), test::systemExtensions, MultiMarkdown::OutputFormat::html,
                               MultiMarkdown::LocalizationLanguage::swedish);
    ASSERT_TRUE(swedish.has_value());
    EXPECT_TRUE(swedish->contains(QString::fromUtf8("\u201DQ\u201D")));
    EXPECT_TRUE(swedish->contains(QLatin1String("title=\"se fotnot\"")));
}

TEST(MultiMarkdownFidelity, WithBibTeXCitationsStayAsWritten)
{
    checkConversions({
        {"BibTeX: refs.bib\n\nAs [#doe] shows, see [p. 3][#doe] and [#Doe, A Book].\n\n[#doe]: Doe.\n",
         {"<p>As [#doe] shows, see [p. 3][#doe] and [#Doe, A Book].</p>"},
         {"class=\"citation", "<html"}},
        // Without it they are the document's own.
        {"As [#doe] shows.\n\n[#doe]: Doe.\n", {"class=\"citation\">[1]</a>", "<div class=\"citations\">"}},
    });
}

TEST(MultiMarkdownFidelity, CrossReferencesAndHeadingLabels)
{
    checkConversions({
        {"# Heading One\n\nSee [Heading One] and [the part][Heading One] and [heading one][].\n",
         {"See <a href=\"#headingone\">Heading One</a> and <a href=\"#headingone\">the part</a> and "
          "<a href=\"#headingone\">heading one</a>."}},
        {"## A Long Heading [short]\n\nSee [short] or [A Long Heading].\n",
         {"<h2 id=\"short\">A Long Heading</h2>", "See <a href=\"#short\">short</a> or "
                                                   "<a href=\"#short\">A Long Heading</a>."}},
        // References before the heading, an unknown name, a defined link.
        {"[Later] first.\n\n# Later\n", {"<a href=\"#later\">Later</a> first."}},
        {"# One\n\n[Nothing] here.\n", {"[Nothing] here."}},
        {"# One\n\n[One]\n\n[One]: http://a.b\n", {"<a href=\"http://a.b\">One</a>"}},
        // The heading's text with its label is one link, the text shown.
        {"# Methods [meth]\n\nSee [Methods][meth], [our methods][meth] and [Methods].\n",
         {"See <a href=\"#meth\">Methods</a>, <a href=\"#meth\">our methods</a> and <a href=\"#meth\">Methods</a>."},
         {"meth</a>"}},
        // A heading's name before a citation is the citation's locator.
        {"# Methods\n\nAs [Methods][#doe] says.\n\n[#doe]: Doe.\n",
         {"As <a href=\"#cn:1\" id=\"cnref:1\" title=\"see citation\" class=\"citation\">[1, Methods]</a> says."}},
        // A footnote at a heading's end is no label.
        {"# Title[^1]\n\n[^1]: N.\n", {"<h1 id=\"title\">Title<a href=\"#fn:1\""}},
    });
}

TEST(MultiMarkdownFidelity, TablesOfContents)
{
    checkConversions({
        {"{{TOC}}\n\n# One\n\n## Two\n\n# Three\n",
         {"<div class=\"TOC\">\n\n<ul>\n<li><a href=\"#one\">One</a>\n<ul>\n<li><a href=\"#two\">Two</a></li>\n</ul>\n"
          "</li>\n<li><a href=\"#three\">Three</a></li>\n</ul>\n</div>"},
         {"{{TOC}}"}},
        {"{{TOC:1}}\n\n# One\n\n## Two\n", {"<li><a href=\"#one\">One</a></li>"}, {"href=\"#two\""}},
        {"{{TOC:2-3}}\n\n# One\n\n## Two\n\n### Three\n",
         {"<li><a href=\"#two\">Two</a>\n<ul>\n<li><a href=\"#three\">Three</a></li>"}, {"href=\"#one\""}},
        {"Text {{TOC}} inline.\n\n# One\n", {"Text {{TOC}} inline."}},
    });
}

TEST(MultiMarkdownFidelity, Metadata)
{
    checkConversions({
        // A wrapped line continues the value; the block is not thrown away.
        {"Title: A Long\nTitle Wrapped\nAuthor: Kim\n\nBody [%author].\n",
         {"<title>A Long\nTitle Wrapped</title>", "<p>Body Kim.</p>"}, {"Author:"}},
        {"---\nTitle: Fenced\n---\n\nBody\n", {"<title>Fenced</title>", "<p>Body</p>"}, {"<hr />"}},
        {"---\nTitle: Dots\n...\nBody\n", {"<title>Dots</title>", "<p>Body</p>"}},
        {"---\n\nNot metadata\n", {"<hr />", "<p>Not metadata</p>"}, {"<html"}},
        {"Title: T\n\n# [%title] and [%unknown]\n", {">T and [%unknown]</h1>"}},
        // A value is text as it stands, even when it names its own variable.
        {"Title: [^[%title]] *x*\n\n[^[%title]]\n", {"[^[%title]] *x*"}},
        {"HTML Header: <script src=\"m.js\"></script>\nHTML Footer: <p>end</p>\nLaTeX Input: x\n\nBody\n",
         {"<script src=\"m.js\"></script>\n</head>", "<p>Body</p>\n\n<p>end</p>\n\n</body>"},
         {"latexinput", "htmlheader", "htmlfooter"}},
        // Keys for other formats alone make no complete document.
        {"LaTeX Config: article\nODF Header: x\n\nBody\n", {"<p>Body</p>"}, {"<html"}},
    });
}

TEST(MultiMarkdownFidelity, Citations)
{
    checkConversions({
        {"Said [#Doe, *A Book*, 2005].\n",
         {"Said <a href=\"#cn:1\" id=\"cnref:1\" title=\"see citation\" class=\"citation\">[1]</a>.",
          "<li id=\"cn:1\">\n<p>Doe, <em>A Book</em>, 2005 <a href=\"#cnref:1\""}},
        {"As [#doe;] shows.\n\n[#doe]: Doe.\n", {"As <a href=\"#cn:1\" id=\"cnref:1\"", ">[1]</a> shows."}},
        {"Cited [#a].[Not cited][#b]\n\n[#a]: A.\n[#b]: B.\n",
         {"Cited <a href=\"#cn:1\"", ">[1]</a>.</p>", "<li id=\"cn:2\">\n<p>B."}, {"cnref:2", "Not cited"}},
    });
}

TEST(MultiMarkdownFidelity, AbbreviationsAndGlossaryTermsWhereverUsed)
{
    checkConversions({
        {"MMD is fun. MMD again, not MMDX.\n\n[>MMD]: MultiMarkdown\n",
         {"MultiMarkdown (<abbr title=\"MultiMarkdown\">MMD</abbr>) is fun. <abbr title=\"MultiMarkdown\">MMD</abbr> "
          "again, not MMDX."}},
        {"`MMD` and [MMD](http://a.b)\n\n[>MMD]: MultiMarkdown\n",
         {"<code>MMD</code> and <a href=\"http://a.b\">MMD</a>"}, {"abbr"}},
        {"An API here.\n\n[?API]: Application programming interface.\n",
         {"An <a href=\"#gn:1\" id=\"gnref:1\" title=\"see glossary\" class=\"glossary\">API</a> here."}},
        // Terms of several words, the longest first; a word alone or part
        // of a longer word is no use.
        {"The World Wide Web grew; the World Wide Web. A Web page, a Worldwide Web.\n\n[>World Wide Web]: W3\n",
         {"The W3 (<abbr title=\"W3\">World Wide Web</abbr>) grew; the <abbr title=\"W3\">World Wide Web</abbr>. "
          "A Web page, a Worldwide Web."}},
        {"The World Wide\nWeb, wrapped.\n\n[>World Wide Web]: W3\n",
         {"The W3 (<abbr title=\"W3\">World Wide\nWeb</abbr>), wrapped."}},
        {"NASA Ames and NASA.\n\n[>NASA]: Space Administration\n[>NASA Ames]: Research Center\n",
         {"Research Center (<abbr title=\"Research Center\">NASA Ames</abbr>) and Space Administration "
          "(<abbr title=\"Space Administration\">NASA</abbr>)."}},
        {"Use Markdown syntax, or *Markdown syntax*; Markdown alone is not.\n\n"
         "[?Markdown syntax]: The plain text format.\n",
         {"Use <a href=\"#gn:1\" id=\"gnref:1\" title=\"see glossary\" class=\"glossary\">Markdown syntax</a>, or "
          "<em><a href=\"#gn:1\" id=\"gnref:1-2\" title=\"see glossary\" class=\"glossary\">Markdown syntax</a></em>; "
          "Markdown alone is not.",
          "<div class=\"glossary\">\n<hr />\n<ol>\n<li id=\"gn:1\">\n<p><span class=\"glossary name\">Markdown syntax</span>: "
          "The plain text format. <a href=\"#gnref:1\""}},
    });
}

TEST(MultiMarkdownFidelity, MathPassesThroughForARenderer)
{
    checkConversions({
        {"Inline $x_1 + y_2$ here.\n", {"Inline <span class=\"math\">\\(x_1 + y_2\\)</span> here."}},
        {"$$\\frac{a}{b}$$\n", {"<span class=\"math\">\\[\\frac{a}{b}\\]</span>"}},
        {"Also \\\\(e^{i\\pi}\\\\) and \\\\[a<b\\\\].\n",
         {"Also <span class=\"math\">\\(e^{i\\pi}\\)</span> and <span class=\"math\">\\[a&lt;b\\]</span>."}},
        {"It costs $5 and $6, not $ x $.\n", {"It costs $5 and $6, not $ x $."}, {"math"}},
        // White space or punctuation outside the dollars: a letter there
        // leaves them as written, and a dollar after a space closes nothing.
        {"A$x$b and US$5 or 6$.\n", {"A$x$b and US$5 or 6$."}, {"math"}},
        {"It costs $5 and $10. Pay $5, then $6.\n", {"It costs $5 and $10. Pay $5, then $6."}, {"math"}},
        {"A $x$, then ($y$) and $z$.\n",
         {"A <span class=\"math\">\\(x\\)</span>, then (<span class=\"math\">\\(y\\)</span>) and "
          "<span class=\"math\">\\(z\\)</span>."}},
        {"Energy $$E=mc^2$$.\n", {"Energy <span class=\"math\">\\[E=mc^2\\]</span>."}, {"<sup>"}},
        {"so \"$x$\" y\n", {"so \u201C<span class=\"math\">\\(x\\)</span>\u201D y"}},
        {"$x$ and\n$y$\n", {"<span class=\"math\">\\(x\\)</span> and\n<span class=\"math\">\\(y\\)</span>"}},
        {"Unclosed \\\\( here\n", {"Unclosed \\( here"}},
    });
}

// A closing dollar pairs with the nearest dollar before it that may open:
// a price earlier in the sentence stays text beside a formula.
TEST(MultiMarkdownFidelity, APriceBesideAFormulaStaysText)
{
    checkConversions({
        {"The kit costs $5 and gives $x^2$.\n",
         {"<p>The kit costs $5 and gives <span class=\"math\">\\(x^2\\)</span>.</p>"}},
        {"$5 or $x$.\n", {"<p>$5 or <span class=\"math\">\\(x\\)</span>.</p>"}},
        {"Prices rose from $2.00 to $2.50. Then $\\Delta Q = -0.25$ and $E_d = -1$.\n",
         {"<p>Prices rose from $2.00 to $2.50. Then <span class=\"math\">\\(\\Delta Q = -0.25\\)</span> and "
          "<span class=\"math\">\\(E_d = -1\\)</span>.</p>"}},
        {"Pay $$5 and $$x$$.\n", {"<p>Pay $$5 and <span class=\"math\">\\[x\\]</span>.</p>"}},
        // An escaped dollar opens nothing.
        {"A \\$5 fee and $y$.\n", {"A $5 fee and <span class=\"math\">\\(y\\)</span>."}},
        // A dollar beside another neither opens nor closes single-dollar
        // math.
        {"$$E = mc^2 $$\n", {"<p>$$E = mc<sup>2</sup> $$</p>"}, {"math"}},
        {"x$$a$$\n", {"<p>x$$a$$</p>"}, {"math"}},
    });
}

TEST(MultiMarkdownFidelity, SuperscriptsAndSubscripts)
{
    checkConversions({
        {"x^2^ and H~2~O\n", {"x<sup>2</sup> and H<sub>2</sub>O"}},
        // The short forms run to the first character that is no letter or
        // digit.
        {"E = mc^2, m^2. and H~2 or 10^th and x^\u00E9.\n",
         {"mc<sup>2</sup>, m<sup>2</sup>. and H<sub>2</sub> or 10<sup>th</sup> and x<sup>\u00E9</sup>."}},
        {"a~b c~d and 2^10^ then 2^3\n", {"a<sub>b</sub> c<sub>d</sub> and 2<sup>10</sup> then 2<sup>3</sup>"}},
        // Only right after a character, and neither strikethrough nor
        // CriticMarkup loses its tildes.
        {"~~struck~~ and a ^ b ^ c, ~5 minutes, ^x, 10^-3 and ~/notes\n",
         {"<del>struck</del> and a ^ b ^ c, ~5 minutes, ^x, 10^-3 and ~/notes"}},
        {"x{~~a~>b~~}y and w~~z~~\n", {"x<del>a</del><ins>b</ins>y and w<del>z</del>"}},
        {"`x^2`, [x^2](http://a.b/x^2) and [a^b^](u)\n",
         {"<code>x^2</code>, <a href=\"http://a.b/x%5E2\">x<sup>2</sup></a> and <a href=\"u\">a<sup>b</sup></a>"}},
        // A caret may also begin a paragraph.
        {"^word begins, ^not after a space\n", {"<p><sup>word</sup> begins, ^not after a space</p>"}},
        {"Note[^1] and x[^2]y, \\[^3]\n\n[^1]: A.\n[^2]: B.\n",
         {"Note<a href=\"#fn:1\"", "x<a href=\"#fn:2\"", ", [^3]"}}, 
    });
}

TEST(MultiMarkdownFidelity, RawSourceAndCodeLanguages)
{
    checkConversions({
        {"foo `*bar*`{=html} and `\\x`{=latex} end\n", {"foo *bar* and  end"}, {"{=", "\\x"}},
        {"```{=html}\n<b>raw</b>\n```\n\n```{=latex}\n\\LaTeX\n```\n", {"<b>raw</b>"}, {"<pre>", "LaTeX"}},
        {"```perl\nprint 1;\n```\n", {"<pre><code class=\"perl\">print 1;\n</code></pre>"}},
        {"```\nplain\n```\n", {"<pre><code>plain\n</code></pre>"}},
    });
}

TEST(MultiMarkdownFidelity, DefinitionLists)
{
    checkConversions({
        {"Apple\n:   Pomaceous fruit\n    of the Rosaceae.\n:   A company.\n\nOrange\nLemon\n\n:   Citrus.\n\n    More.\n",
         {"<dl>\n<dt>Apple</dt>\n<dd>Pomaceous fruit\nof the Rosaceae.</dd>\n<dd>A company.</dd>\n<dt>Orange</dt>\n"
          "<dt>Lemon</dt>\n<dd>\n<p>Citrus.</p>\n<p>More.</p>\n</dd>\n</dl>"}},
        {"Term\n: *emphasis* in a definition\n\nAfter.\n",
         {"<dt>Term</dt>\n<dd><em>emphasis</em> in a definition</dd>\n</dl>\n<p>After.</p>"}},
        {"A paragraph\nwrapped.\n\n- a list\n", {"<p>A paragraph\nwrapped.</p>"}, {"<dl>"}},
        {"```\nTerm\n: in code\n```\n", {"Term\n: in code"}, {"<dl>"}},
    });
}

TEST(MultiMarkdownFidelity, TableCaptionsAndColumnSpans)
{
    checkConversions({
        {"[Prototype table]\n| a || b |\n|:---|---|--:|\n| c | d | e |\n",
         {"<table id=\"prototypetable\">\n<caption>Prototype table</caption>\n<colgroup>\n<col style=\"text-align:left;\"/>\n"
          "<col />\n<col style=\"text-align:right;\"/>\n</colgroup>\n<thead>",
          "<th style=\"text-align:left;\" colspan=\"2\">a</th>\n<th style=\"text-align:right;\">b</th>", "<td style=\"text-align:right;\">e</td>"},
         {"[Prototype"}},
        {"| x | y |\n|---|---|\n| 1 | 2 |\n[Second][tab2]\n\nSee [tab2].\n",
         {"<table id=\"tab2\">\n<caption style=\"caption-side: bottom;\">Second</caption>", "</tr>\n</tbody>\n</table>",
          "See <a href=\"#tab2\">tab2</a>."}},
        {"| a | | b |\n|---|---|---|\n", {"<th>a</th>\n<th></th>\n<th>b</th>"}, {"colspan", "tbody"}},
        // Spanning cells keep what the pass puts in them.
        {"| a [^1] || b |\n|---|---|---|\n| `x`{=html} || z |\n\n[^1]: N\n",
         {"<th colspan=\"2\">a <a href=\"#fn:1\"", "<td colspan=\"2\">x</td>"}},
    });
}

TEST(MultiMarkdownFidelity, ListRules)
{
    checkConversions({
        // An ordered list starting at any number may interrupt a paragraph
        // (and is numbered from 1).
        {"A paragraph\n3. starts a list\n4. here\n", {"<p>A paragraph</p>\n<ol>\n<li>starts a list</li>\n<li>here</li>\n</ol>"}},
        // ...but items of a list go on as they are.
        {"1. One\n2. Two\n", {"<ol>\n<li>One</li>\n<li>Two</li>\n</ol>"}, {"<p>"}},
        {"- a\n\n  text\n3. b\n", {"<p>text</p>\n</li>\n</ul>\n<ol>\n<li>b</li>"}},
        // Any number of spaces may follow a list marker.
        {"-     five spaces\n      more\n", {"<ul>\n<li>five spaces\nmore</li>\n</ul>"}, {"<pre>"}},
        {"```\ntext\n3. in code\n-     too\n```\n", {"text\n3. in code\n-     too"}},
    });
}

TEST(MultiMarkdownFidelity, TransclusionStaysOffAndCompatibilityModeIsPlain)
{
    checkConversions({
        {.text = "{{other.md}}\n", .expected = {"{{other.md}}"}},
        {.text = "# One\n\n[One] x^2^ $a$ {{TOC}}\n",
         .expected = {"[One] x^2^ $a$ {{TOC}}"},
         .extensions = Extensions::compatibility},
    });
}

TEST(MultiMarkdownFidelity, PathologicalInputsConvert)
{
    // Completion is what is checked here; time is the benchmark's.
    QString headings;
    for (int i = 0; i < 50000; ++i) headings += QStringLiteral("# H%1\n").arg(i);
    const QString manyHeadings = htmlOf(QStringLiteral("{{TOC}}\n\n") + headings + QStringLiteral("{{TOC}}\n\n"
                                                                                                  "[H1] [H49999]\n"));
    EXPECT_EQ(manyHeadings.count(QLatin1String("<li>")), 100000);
    EXPECT_TRUE(manyHeadings.contains(QLatin1String("<a href=\"#h49999\">H49999</a>")));

    const QString metadata = QStringLiteral("Title: ") + QStringLiteral("word ").repeated(2 * 1024 * 1024)
        + QStringLiteral("\nKey: v\n\nBody\n");
    EXPECT_TRUE(htmlOf(metadata).contains(QLatin1String("<p>Body</p>")));

    QString keys;
    for (int i = 0; i < 50000; ++i) keys += QStringLiteral("Key%1: v%1\n").arg(i);
    const QString variables = htmlOf(keys + QStringLiteral("\n") + QStringLiteral("[%key49999] ").repeated(50000));
    EXPECT_EQ(variables.count(QLatin1String("v49999")), 50000 + 1);

    // A long value used many times: the output stays within a few times the
    // text.
    const QString longValue = QStringLiteral("Long: ") + QStringLiteral("x").repeated(1 << 20) + QStringLiteral("\n\n")
        + QStringLiteral("[%long]").repeated(20000);
    EXPECT_LT(htmlOf(longValue).size(), 16 * longValue.size());
    const QString longTitle = QStringLiteral("A ").repeated(50000) + QStringLiteral("\n\n[>A]: ")
        + QStringLiteral("x").repeated(1 << 20) + QStringLiteral("\n");
    EXPECT_LT(htmlOf(longTitle).size(), 16 * longTitle.size());

    const QString brackets = QStringLiteral("# A\n\n") + QStringLiteral("[").repeated(10000) + QStringLiteral("A")
        + QStringLiteral("]").repeated(10000);
    EXPECT_TRUE(htmlOf(brackets).contains(QLatin1String("<a href=\"#a\">A</a>")));

    for (const char* piece : {"^", "~", "$", "^a", "~a", "$a", "\\\\(", "[%", "x^2^", "x^", "a~", "\"", "'", "``",
                              "](", "[a](b c=d ", "[a](b \"c=d "}) {
        const QString html = htmlOf(QStringLiteral("Title: T\n\n") + QString::fromUtf8(piece).repeated(100000));
        EXPECT_FALSE(html.isEmpty()) << piece;
    }
}

} // namespace
} // namespace lumora
