#include "markdown/MarkdownConverter.h"
#include "platform/text/RichText.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace lumora;

namespace {

struct Style {
    bool bold = false, italic = false, mono = false, underline = false, strike = false;
};

Attributes attributesOf(Style style)
{
    Attributes a;
    if (style.bold || style.italic || style.mono) {
        QFont font;
        font.setWeight(style.bold ? QFont::Bold : QFont::Normal);
        font.setItalic(style.italic);
        font.setFixedPitch(style.mono);
        a.set(AttributeKey::Font, font);
    }
    // Present whatever the value: an underline of 0 still counts.
    if (style.underline) a.set(AttributeKey::UnderlineStyle, 0);
    if (style.strike) a.set(AttributeKey::StrikethroughStyle, 1);
    return a;
}

// A styled text made of runs, as a pasted string holds them.
QString markdownOf(std::initializer_list<std::pair<QString, Style>> runs)
{
    TextStorage s;
    for (const auto& [text, style] : runs) s.replaceCharacters(Range(s.length(), 0), text, attributesOf(style));
    return MarkdownConverter::markdown(s);
}

constexpr Style plain{};
constexpr Style bold{true};
constexpr Style italic{false, true};
constexpr Style boldItalic{true, true};
constexpr Style mono{false, false, true};
constexpr Style monoBold{true, false, true};
constexpr Style underline{false, false, false, true};
constexpr Style strike{false, false, false, false, true};

} // namespace

TEST(MarkdownConverter, RunsBecomeMarkersOnlyWhereTheStylingWas)
{
    EXPECT_EQ(markdownOf({{"Plain text\nand a * star_\n", plain}}), "Plain text\nand a * star_\n");
    EXPECT_EQ(markdownOf({{"a ", plain}, {"word", bold}, {" b", plain}}), "a **word** b");
    EXPECT_EQ(markdownOf({{"word", boldItalic}}), "***word***");
    EXPECT_EQ(markdownOf({{"f()", monoBold}}), "**`f()`**");
    EXPECT_EQ(markdownOf({{"u", underline}, {" and ", plain}, {"gone", strike}}), "_u_ and ~~gone~~");
    // A marker neighbours share stays open; the later one closes first.
    EXPECT_EQ(markdownOf({{"bold ", bold}, {"both", boldItalic}}), "**bold *both***");
    EXPECT_EQ(markdownOf({{"both", boldItalic}, {" bold", bold}, {" plain", plain}}), "***both* bold** plain");
}

TEST(MarkdownConverter, WhiteSpaceAndLineEndsStayOutsideTheMarkers)
{
    EXPECT_EQ(markdownOf({{"bold ", bold}, {"plain", plain}}), "**bold** plain");
    EXPECT_EQ(markdownOf({{" lead", italic}}), " *lead*");
    EXPECT_EQ(markdownOf({{"bold", bold}, {"\n", plain}, {"next", plain}}), "**bold**\nnext");
    EXPECT_EQ(markdownOf({{"bold  \n", bold}, {"next", plain}}), "**bold**  \nnext");
    // A style running over several lines closes and opens again line by line.
    EXPECT_EQ(markdownOf({{"one\n", bold}, {"two\n", monoBold}}), "**one**\n**`two`**\n");
    // Line ends inside a run keep its markers across them.
    EXPECT_EQ(markdownOf({{"one\ntwo", bold}}), "**one\ntwo**");
    // White space alone never opens a marker.
    EXPECT_EQ(markdownOf({{"a", bold}, {" ", italic}, {"b", plain}}), "**a** b");
    EXPECT_EQ(markdownOf({{"", bold}}), "");
}

TEST(MarkdownConverter, ARunsOwnMarkerCharactersAreEscaped)
{
    EXPECT_EQ(markdownOf({{"2*3", bold}}), "**2\\*3**");
    EXPECT_EQ(markdownOf({{"2*3", boldItalic}}), "***2\\*3***");
    EXPECT_EQ(markdownOf({{"a_b`c", mono}}), "`a_b\\`c`");
    EXPECT_EQ(markdownOf({{"snake_case", underline}}), "_snake\\_case_");
    EXPECT_EQ(markdownOf({{"~x~", strike}}), "~~\\~x\\~~~");
    // Plain text is written as it stands.
    EXPECT_EQ(markdownOf({{"2*3_4", plain}}), "2*3_4");
}

TEST(MarkdownConverter, HtmlFromABrowserBecomesCleanMarkdown)
{
    const QString html = QStringLiteral(
        "<html><body><!--StartFragment--><meta charset='utf-8'>"
        "<p style=\"color: rgb(32, 33, 36); font-family: Arial, sans-serif;\">Intro with <b>bold <i>and italic</i></b> "
        "text,&nbsp;&nbsp;<code>code()</code> and a <a href=\"https://example.com\">link</a>.</p>"
        "<p>Second 2*3 para with <s>gone</s>, <del>deleted</del> and <u>under</u>"
        "<span style=\"font-weight: 700\"> weighty</span><span style=\"font-family: monospace\"> mono</span>.</p>"
        "<table><tr><th>Name</th><th>Value</th></tr><tr><td>a</td><td><em>1</em></td></tr></table>"
        "<p>Last&nbsp;line<br>broken <img src=\"x.png\"> end</p>"
        "<!--EndFragment--></body></html>");
    EXPECT_EQ(MarkdownConverter::markdown(attributedStringFromHTML(html)),
              "Intro with **bold *and italic*** text,  `code()` and a link.\n"
              "Second 2*3 para with ~~gone~~, ~~deleted~~ and _under_ **weighty** `mono`.\n"
              "**Name**\n**Value**\na\n*1*\n"
              "Last line\nbroken  end");
}

// What office programs and browsers copy: lists keep their bullets and
// numbers, nested ones four spaces in, with a blank line between a list and
// the paragraphs around it; <strike> is struck through like <s> and <del>.
TEST(MarkdownConverter, ListsAndStruckTextFromOtherProgramsKeepTheirShape)
{
    EXPECT_EQ(MarkdownConverter::markdown(attributedStringFromHTML(
                  QStringLiteral("<p>Before</p><ul><li>one</li><li><b>two</b> and"
                                 "<ul><li>sub</li><li>sub two</li></ul></li><li>three</li></ul>"
                                 "<ol><li>first</li><li>second<br>more</li></ol><p>After</p>"))),
              "Before\n\n- one\n- **two** and\n    - sub\n    - sub two\n- three\n\n1. first\n2. second\n    more\n\nAfter");
    EXPECT_EQ(MarkdownConverter::markdown(attributedStringFromHTML(QStringLiteral("<ol><li>only</li></ol>"))),
              "1. only");
    // A numbered list keeps its first number, nested ones too.
    EXPECT_EQ(MarkdownConverter::markdown(
                  attributedStringFromHTML(QStringLiteral("<ol start=\"3\"><li>three</li><li>four</li></ol>"))),
              "3. three\n4. four");
    EXPECT_EQ(MarkdownConverter::markdown(attributedStringFromHTML(QStringLiteral(
                  "<OL class=\"steps\" START=12 type=\"1\"><li>twelve<ol start='0'><li>zero</li></ol></li>"
                  "<li>thirteen</li></OL><ol data-start=\"5\" start=\"x\"><li>one</li></ol>"))),
              "12. twelve\n    0. zero\n13. thirteen\n\n<!-- -->\n\n1. one");
    EXPECT_EQ(MarkdownConverter::markdown(attributedStringFromHTML(
                  QStringLiteral("<p><strike>gone</strike>, <STRIKE>also</STRIKE> and <s>this</s></p>"))),
              "~~gone~~, ~~also~~ and ~~this~~");
}

// Two lists one after the other stay two lists: a blank line between them,
// and between two of the same kind (which Markdown would read as one) an
// empty comment; nested ones apart on their own level, without a blank line
// that would spread the item around them.
TEST(MarkdownConverter, ListsOneAfterAnotherStayApart)
{
    const auto pasted = [](const char* html) {
        return MarkdownConverter::markdown(attributedStringFromHTML(QString::fromUtf8(html)));
    };
    EXPECT_EQ(pasted("<ol><li>a</li></ol><ol><li>b</li></ol>"), "1. a\n\n<!-- -->\n\n1. b");
    EXPECT_EQ(pasted("<ul><li>a</li></ul><p></p><ul><li>b</li></ul>"), "- a\n\n<!-- -->\n\n- b");
    EXPECT_EQ(pasted("<ol><li>a</li></ol><ul><li>b</li></ul>"), "1. a\n\n- b");
    EXPECT_EQ(pasted("<ol><li>a</li><li>b<br>c</li></ol><ol start=\"2\"><li>d</li></ol>"),
              "1. a\n2. b\n    c\n\n<!-- -->\n\n2. d");
    EXPECT_EQ(pasted("<ul><li>a<ol><li>x</li></ol><ol><li>y</li></ol><ul><li>z</li></ul></li><li>b</li></ul>"),
              "- a\n    1. x\n    <!-- -->\n    1. y\n    - z\n- b");
    EXPECT_EQ(pasted("<ul><li>a<ul><li>x</li></ul></li></ul><ul><li>b</li></ul><p>After</p>"),
              "- a\n    - x\n\n<!-- -->\n\n- b\n\nAfter");
}
