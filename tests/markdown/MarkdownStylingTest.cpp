#include "markdown/MarkdownStylesheet.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "platform/text/Fonts.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>

#include <map>

using namespace lumora;

namespace {

const Color kText(0.1, 0.2, 0.3, 0.3);

QFont baseFont(double size = 16) { return fonts::withSize(QGuiApplication::font(), size); }

// A stylesheet whose styles are easy to see in a dump: each whole-element
// style sets the underline style to its number, each part style the
// strikethrough style to its number.
ParsedMarkdownStylesheet tagged(const std::map<QString, int>& wholes, const std::map<QString, int>& parts = {},
                                double spacing = 0)
{
    ParsedMarkdownStylesheet p;
    p.paragraphSpacing = spacing;
    p.foregroundColor = kText;
    const QFont font = baseFont();
    p.base = Attributes{{AttributeKey::Font, font}, {AttributeKey::ForegroundColor, kText},
                        {AttributeKey::ParagraphStyle, p.paragraphStyle(font)}};
    for (const auto& [name, tag] : wholes) p.styles.insert(name, Attributes{{AttributeKey::UnderlineStyle, tag}});
    for (const auto& [name, tag] : parts) p.styles.insert(name, Attributes{{AttributeKey::StrikethroughStyle, tag}});
    return p;
}

// One digit per character: the tag of key there, '.' when absent.
QString tags(const TextStorage& s, AttributeKey key)
{
    QString out;
    for (qsizetype i = 0; i < s.length(); ++i) {
        const std::int64_t* v = s.attribute(key, i).integer();
        out += v ? QString::number(*v % 10) : QStringLiteral(".");
    }
    return out;
}

// One letter per character: the kind of the element under key, '.' when none.
QString kinds(const TextStorage& s, AttributeKey key)
{
    QString out;
    for (qsizetype i = 0; i < s.length(); ++i) {
        const auto m = Markdown::unboxed(s.attribute(key, i));
        out += m ? QChar(char16_t(u'a' + int(m->kind()))) : QChar(u'.');
    }
    return out;
}

TextStorage styled(const QString& text, const ParsedMarkdownStylesheet& p)
{
    TextStorage s(text);
    restyleParagraphs(s, p, Range(0, s.length()));
    return s;
}

const ParagraphStyle& paragraphStyleAt(const TextStorage& s, qsizetype i)
{
    static const ParagraphStyle none;
    const ParagraphStyle* style = s.attribute(AttributeKey::ParagraphStyle, i).paragraphStyle();
    return style ? *style : none;
}

} // namespace

TEST(MarkdownStyling, ElementsAndPartsTakeTheirStyles)
{
    struct Case {
        const char16_t* text;
        std::map<QString, int> wholes;
        std::map<QString, int> parts;
        const char* underline;
        const char* strike;
    };
    const Case cases[] = {
        // The most specific name wins: a level-2 heading takes heading.2 only, level 1 falls back to heading.
        {u"# A\n## B\n", {{"heading.2", 2}, {"heading", 1}}, {{"heading.2.text", 5}, {"heading.text", 4}},
         "111122222", "..44...55"},
        {u"# A\n###### B", {{"heading", 1}}, {}, "111111111111", "............"},
        // Parts over the whole element; a part style wins where both set the same key.
        {u"a *b* c", {{"italic", 1}}, {{"italic.text", 2}}, "..111..", "...2..."},
        {u"**b**", {{"bold", 3}}, {{"bold.text", 4}}, "33333", "..4.."},
        {u"***b***", {{"italicAndBold", 5}}, {{"italicAndBold.text", 6}}, "5555555", "...6..."},
        {u"[t](u)", {{"linkInline", 1}}, {{"linkInline.text", 2}, {"linkInline.url", 3}}, "111111", ".2..3."},
        {u"[t][r]", {{"linkReference", 1}}, {{"linkReference.text", 2}, {"linkReference.reference", 3}}, "111111", ".2..3."},
        {u"[p][#k]", {{"citationInline", 1}}, {{"citationInline.locator", 2}, {"citationInline.text", 3}}, "1111111", ".2...3."},
        {u"[#k]", {{"citationInline", 1}}, {{"citationInline.locator", 2}, {"citationInline.text", 3}}, "1111", "..3."},
        {u"x[^n]", {{"footnoteInline", 1}}, {{"footnoteInline.text", 2}}, ".1111", "...2."},
        {u"[?(t)d]", {{"glossaryInline", 1}}, {{"glossaryInline.term", 2}, {"glossaryInline.definition", 3}}, "1111111", "...2.3."},
        {u"[>r]", {{"acronymReference", 1}}, {{"acronymReference.reference", 2}}, "1111", "..2."},
        // Line elements over the paragraph, line break included.
        {u"[#k]: t\n", {{"citation", 1}, {"citationDefinition", 9}}, {{"citationDefinition.reference", 2}, {"citationDefinition.text", 3}}, "11111111", "..2..333"},
        {u"[id]: u\n", {{"linkDefinition", 1}}, {{"linkDefinition.reference", 2}, {"linkDefinition.url", 3}}, "11111111", ".22..333"},
        {u"> q\n", {{"blockquote.0", 7}, {"blockquote", 1}}, {{"blockquote.text", 2}}, "7777", "..22"},
        {u"\t- x\n", {{"unorderedList.1", 8}, {"unorderedList", 1}}, {{"unorderedList.text", 2}}, "88888", "...22"},
        {u"1. x\n", {{"orderedList", 1}}, {{"orderedList.0.text", 3}, {"orderedList.text", 2}}, "11111", "...33"},
        // Inline elements are styled in code blocks and definitions too.
        {u"    *x*\n", {{"codeblock", 1}, {"italic", 2}}, {}, "11112221", "........"},
        {u"[id]: a_b_c\n", {{"linkDefinition", 1}, {"italic", 2}}, {}, "111111122211", "............"},
        // No style defined: no visual change, but still marked.
        {u"*x*", {}, {}, "...", "..."},
    };
    for (const Case& c : cases) {
        const TextStorage s = styled(QString::fromUtf16(c.text), tagged(c.wholes, c.parts));
        EXPECT_EQ(tags(s, AttributeKey::UnderlineStyle), QString::fromUtf8(c.underline)) << QString::fromUtf16(c.text).toStdString();
        EXPECT_EQ(tags(s, AttributeKey::StrikethroughStyle), QString::fromUtf8(c.strike)) << QString::fromUtf16(c.text).toStdString();
    }
    const TextStorage plain = styled(QStringLiteral("*x*"), tagged({}));
    EXPECT_EQ(kinds(plain, AttributeKey::InlineMarkdown), QStringLiteral("bbb")) << "italic is still marked";
}

TEST(MarkdownStyling, MarksParagraphsWithTheirLineElement)
{
    TextStorage s = styled(QStringLiteral("# H\n- l\n*p* x\n    c"), tagged({}));
    EXPECT_EQ(kinds(s, AttributeKey::FullLineMarkdown), QStringLiteral("aaaa" "ffff" "......" "uuuuu"));
    EXPECT_EQ(kinds(s, AttributeKey::InlineMarkdown), QStringLiteral("........" "bbb..." "....."));

    // A paragraph that stops being a list item loses its mark; emphasis is found from its first character.
    s.replaceCharacters(Range(4, 2), QStringLiteral("*i"));
    s.replaceCharacters(Range(6, 0), QStringLiteral("*"));
    EXPECT_EQ(s.string(), QStringLiteral("# H\n*i*l\n*p* x\n    c"));
    restyleParagraphs(s, tagged({}), Range(5, 0));
    EXPECT_EQ(kinds(s, AttributeKey::FullLineMarkdown).mid(4, 5), QStringLiteral("....."));
    EXPECT_EQ(kinds(s, AttributeKey::InlineMarkdown).mid(4, 3), QStringLiteral("bbb"));
}

TEST(MarkdownStyling, FencedBlocksAreCodeToTheirRealClosingFence)
{
    const ParsedMarkdownStylesheet p = tagged({{"codeblock", 1}, {"heading", 2}});
    const auto codeOf = [&](const TextStorage& s) { return tags(s, AttributeKey::UnderlineStyle); };
    // Every line of a block is code, fences included, and nothing else.
    TextStorage s = styled(QStringLiteral("a\n```py\n# x\n```\nb"), p);
    EXPECT_EQ(codeOf(s), QStringLiteral(".." "111111" "1111" "1111" "."));
    EXPECT_EQ(kinds(s, AttributeKey::FullLineMarkdown), QStringLiteral(".." "uuuuuu" "uuuu" "uuuu" "."));
    EXPECT_TRUE(outlinesIn(s, Range(0, s.length())).empty()) << "a heading in code is code";

    // A fence four columns in closes nothing: what follows stays code, to
    // the end or to the next real closing fence, as every output has it.
    const QString typed = QStringLiteral("```python\ndef walk(miles):\n    return miles * 2\n    ```\nA *walk*.\n");
    s = styled(typed, p);
    EXPECT_EQ(codeOf(s), QString(typed.size(), u'1'));
    s = styled(typed + QStringLiteral("```\nAfter."), p);
    EXPECT_EQ(codeOf(s), QString(typed.size() + 4, u'1') + QStringLiteral("......"));
    // Other fences that close nothing: shorter, of the other character,
    // with text after the marker.
    for (const char16_t* closer : {u"``", u"~~~", u"``` x", u"\t```"}) {
        const QString text = QStringLiteral("```\ncode\n") + QString::fromUtf16(closer) + QStringLiteral("\nmore");
        EXPECT_EQ(codeOf(styled(text, p)), QString(text.size(), u'1')) << text.toStdString();
    }

    // Edits follow: the paragraphs after a fence that changed are restyled
    // up to the first that ends as it was styled before.
    const QString closed = QStringLiteral("```\ncode\n```\nprose\n\nmore prose\n~~~\nx\n~~~\nend");
    s = styled(closed, p);
    const QString closedLooks = codeOf(s);
    s.replaceCharacters(Range(9, 0), QStringLiteral("    "));
    EXPECT_EQ(restyleParagraphs(s, p, Range(9, 4)), Range(9, s.length() - 9));
    EXPECT_EQ(codeOf(s), QString(s.length(), u'1'));
    s.replaceCharacters(Range(9, 4), QString());
    restyleParagraphs(s, p, Range(9, 0));
    EXPECT_EQ(codeOf(s), closedLooks);
    EXPECT_EQ(restyleParagraphs(s, p, Range(15, 1)), Range(13, 6)) << "the rest is as it was styled";
}

TEST(MarkdownStyling, AFenceFarUpLeavesTheRestForLater)
{
    const ParsedMarkdownStylesheet p = tagged({{"codeblock", 1}});
    QString text = QStringLiteral("``\n");
    while (text.size() < 200'000) text += QStringLiteral("A line of prose.\n");
    TextStorage s = styled(text, p);
    s.replaceCharacters(Range(2, 0), QStringLiteral("`"));
    qsizetype followFrom = -1;
    const Range done = restyleParagraphs(s, p, Range(2, 1), true, &followFrom);
    EXPECT_LT(done.length, 64 * 1024);
    EXPECT_EQ(followFrom, done.end());
    EXPECT_EQ(tags(s, AttributeKey::UnderlineStyle).left(done.end()), QString(done.end(), u'1'));
    EXPECT_EQ(s.attribute(AttributeKey::UnderlineStyle, followFrom).integer(), nullptr);
    // Taken up from there, it goes on to the end.
    restyleParagraphs(s, p, Range(followFrom, 0));
    EXPECT_EQ(tags(s, AttributeKey::UnderlineStyle), QString(s.length(), u'1'));
}

TEST(MarkdownStyling, ALineBreakTouchesTheParagraphAfterIt)
{
    const ParsedMarkdownStylesheet p = tagged({{"unorderedList", 1}});
    TextStorage s = styled(QStringLiteral("- item\nnext"), p);
    s.replaceCharacters(Range(4, 0), QStringLiteral("\n")); // "- it\nem\nnext"
    EXPECT_EQ(restyleParagraphs(s, p, Range(4, 1)), Range(0, 8));
    EXPECT_EQ(kinds(s, AttributeKey::FullLineMarkdown), QStringLiteral("fffff" "..." "...."));
    EXPECT_EQ(tags(s, AttributeKey::UnderlineStyle), QStringLiteral("11111" "..." "...."));
}

TEST(MarkdownStyling, BaseAttributesReplaceOldLooks)
{
    const ParsedMarkdownStylesheet p = tagged({{"bold", 1}});
    TextStorage s(QStringLiteral("**b** c"));
    s.addAttribute(AttributeKey::Kern, 3.0, Range(0, 7));
    s.addAttribute(AttributeKey::BackgroundColor, Color(1, 0, 0), Range(0, 7));
    restyleParagraphs(s, p, Range(0, 0));
    EXPECT_TRUE(s.runs(AttributeKey::Kern).isEmpty());
    EXPECT_TRUE(s.runs(AttributeKey::BackgroundColor).isEmpty());
    EXPECT_EQ(*s.attribute(AttributeKey::ForegroundColor, 6).color(), kText);
    EXPECT_EQ(*s.attribute(AttributeKey::Font, 6).font(), baseFont());
    // The reset leaves the engine's own keys alone.
    resetMarkdownAttributes(s, p, Range(0, 7));
    EXPECT_FALSE(s.attribute(AttributeKey::InlineMarkdown, 0).isNull());
    // Nothing for Markdown while it is off: only the reset.
    TextStorage off(QStringLiteral("# x"));
    restyleParagraphs(off, p, Range(0, 3), false);
    EXPECT_TRUE(off.runs(AttributeKey::FullLineMarkdown).isEmpty());
    EXPECT_FALSE(off.runs(AttributeKey::Font).isEmpty());
}

TEST(MarkdownStyling, HeadingSpacingFollowsFontSizeAndSpacingFactor)
{
    for (const auto& [factor, before, after] : {std::tuple{0.0, 5.44, 2.72}, std::tuple{1.0, 13.6, 29.92}}) {
        const TextStorage s = styled(QStringLiteral("## Title\nbody"), tagged({}, {}, factor));
        const ParagraphStyle& style = paragraphStyleAt(s, 0);
        EXPECT_NEAR(style.paragraphSpacingBefore, before, 1e-9) << factor;
        EXPECT_NEAR(style.paragraphSpacing, after, 1e-9) << factor;
        // The marker hangs into the margin.
        const double marker = QFontMetricsF(baseFont()).horizontalAdvance(QStringLiteral("## "));
        EXPECT_NEAR(style.firstLineHeadIndent, 60.0 - marker, 0.01);
        EXPECT_EQ(style.headIndent, 60.0);
        EXPECT_EQ(paragraphStyleAt(s, 10).paragraphSpacingBefore, 0.0) << "body keeps the base layout";
    }
}

TEST(MarkdownStyling, ListItemsAndQuotesHangFromTheirMarker)
{
    const ParsedMarkdownStylesheet p = tagged({});
    const QFontMetricsF metrics(baseFont());
    const double tab = p.paragraphStyle(baseFont()).defaultTabInterval;
    struct Case {
        const char16_t* text;
        double firstLine;
        double head;
    };
    const Case cases[] = {
        {u"- item", 60.0 - metrics.horizontalAdvance(QStringLiteral("- ")), 60.0},
        {u"12. item", 60.0 - metrics.horizontalAdvance(QStringLiteral("12. ")), 60.0},
        {u"    - item", 60.0, 60.0 + metrics.horizontalAdvance(QStringLiteral("    - "))},
        {u"\t- item", 60.0, 60.0 + tab + metrics.horizontalAdvance(QStringLiteral("- "))},
        {u"> > quote", 60.0, 60.0 + metrics.horizontalAdvance(QStringLiteral("> > "))},
        {u"    code", 60.0, 60.0},
    };
    for (const Case& c : cases) {
        const TextStorage s = styled(QString::fromUtf16(c.text), p);
        const ParagraphStyle& style = paragraphStyleAt(s, 0);
        EXPECT_NEAR(style.firstLineHeadIndent, c.firstLine, 0.5) << QString::fromUtf16(c.text).toStdString();
        EXPECT_NEAR(style.headIndent, c.head, 0.5) << QString::fromUtf16(c.text).toStdString();
    }
    // The marker is measured in the font it is styled with.
    ParsedMarkdownStylesheet big = p;
    big.styles.insert(QStringLiteral("unorderedList"), Attributes{{AttributeKey::Font, baseFont(30)}});
    const TextStorage s = styled(QStringLiteral("- item"), big);
    EXPECT_NEAR(paragraphStyleAt(s, 0).firstLineHeadIndent,
                60.0 - QFontMetricsF(baseFont(30)).horizontalAdvance(QStringLiteral("- ")), 0.5);
}

TEST(MarkdownStyling, HeadingKeepsItsOutlineEntryWhileEdited)
{
    const ParsedMarkdownStylesheet p = tagged({});
    TextStorage s = styled(QStringLiteral("## Plan\nbody\n"), p);
    const auto entry = outlineAt(s, Range(0, 0));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->title, QStringLiteral("## Plan"));
    entry->isExpanded = false;

    s.replaceCharacters(Range(7, 0), QStringLiteral("s")); // "## Plans"
    restyleParagraphs(s, p, Range(7, 1));
    s.replaceCharacters(Range(0, 0), QStringLiteral("#")); // "### Plans"
    restyleParagraphs(s, p, Range(0, 1));
    const auto after = outlineAt(s, Range(3, 0));
    EXPECT_EQ(after, entry);
    EXPECT_EQ(after->title, QStringLiteral("### Plans"));
    EXPECT_EQ(after->level, 3);
    EXPECT_FALSE(after->isExpanded);

    // No longer a heading: the entry goes.
    s.replaceCharacters(Range(0, 4), QString());
    restyleParagraphs(s, p, Range(0, 0));
    EXPECT_FALSE(outlineAt(s, Range(0, 0)));
}

TEST(MarkdownStyling, TwoHeadingsNeverShareAnEntry)
{
    const ParsedMarkdownStylesheet p = tagged({});
    // A heading split in two: both halves carry the entry.
    TextStorage s = styled(QStringLiteral("# One Two\n"), p);
    const auto entry = outlineAt(s, Range(0, 0));
    s.replaceCharacters(Range(5, 1), QStringLiteral("\n# ")); // "# One\n# Two\n"
    restyleParagraphs(s, p, Range(5, 3));
    const auto first = outlineAt(s, Range(0, 0));
    const auto second = outlineAt(s, Range(6, 0));
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first == entry || second == entry) << "one half keeps the entry";
    EXPECT_EQ(first->title, QStringLiteral("# One"));
    EXPECT_EQ(second->title, QStringLiteral("# Two"));
    EXPECT_EQ(outlineTree(s)->contents.size(), 2u);

    // A heading line moved up above another: the moved copy takes on the
    // attributes of the line it lands before.
    TextStorage t = styled(QStringLiteral("# A\ntext\n# B\n"), p);
    const auto a = outlineAt(t, Range(0, 0));
    a->isExpanded = false;
    t.replaceCharacters(Range(0, 0), QStringLiteral("# B\n"));
    restyleParagraphs(t, p, Range(0, 4)); // only the moved line
    t.replaceCharacters(Range(13, 4), QString());
    restyleParagraphs(t, p, Range(13, 0));
    EXPECT_EQ(t.string(), QStringLiteral("# B\n# A\ntext\n"));
    ASSERT_TRUE(outlineAt(t, Range(0, 0)) && outlineAt(t, Range(4, 0)));
    EXPECT_NE(outlineAt(t, Range(0, 0)), outlineAt(t, Range(4, 0)));
    EXPECT_EQ(outlineAt(t, Range(4, 0)), a) << "# A keeps its entry and its state";
    EXPECT_EQ(a->title, QStringLiteral("# A"));

    // Both headings in one restyle that find the same entry.
    TextStorage u = styled(QStringLiteral("# A\n"), p);
    u.replaceCharacters(Range(4, 0), QStringLiteral("# A\n"), u.attributes(0));
    EXPECT_EQ(outlineAt(u, Range(0, 0)), outlineAt(u, Range(4, 0)));
    restyleParagraphs(u, p, Range(0, u.length()));
    EXPECT_NE(outlineAt(u, Range(0, 0)), outlineAt(u, Range(4, 0)));
    EXPECT_EQ(outlineTree(u)->contents.size(), 2u);
}

TEST(MarkdownStyling, LastParagraphs)
{
    const ParsedMarkdownStylesheet p = tagged({{"unorderedList", 1}});
    TextStorage s = styled(QStringLiteral("x\n- last"), p);
    EXPECT_EQ(tags(s, AttributeKey::UnderlineStyle), QStringLiteral("..111111"));
    // An empty last paragraph: keys removed over an empty range, nothing else.
    TextStorage t = styled(QStringLiteral("- a\n"), p);
    applyMarkdown(t, Range(t.length(), 0), p);
    EXPECT_EQ(kinds(t, AttributeKey::FullLineMarkdown), QStringLiteral("ffff"));
}

TEST(MarkdownStyling, UnusualTextIsStyledWithoutChangingACharacter)
{
    const QString text = QStringLiteral(
        "# T\u00EDtle \U0001F600\r\n- item\u2028* other\r\n> q\u00A0*x*\r\n\t1. \U0001F4A9 [a](b)\r\n"
        "[^1]: n\u2029`x` _y_\r\n\r\n[?(t] d) [t]");
    const ParsedMarkdownStylesheet parsed(MarkdownStylesheet::defaultStylesheet(), kText, 0.5);
    TextStorage s(text);
    restyleParagraphs(s, parsed, Range(0, s.length()));
    EXPECT_EQ(s.string(), text);
    EXPECT_EQ(kinds(s, AttributeKey::FullLineMarkdown).left(6), QStringLiteral("aaaaaa"));
    for (qsizetype i = 0; i < s.length(); ++i) ASSERT_TRUE(s.attribute(AttributeKey::Font, i).font()) << i;
    // Styling every stretch on its own never fails either.
    for (qsizetype from = 0; from < s.length(); from += 3) applyMarkdown(s, Range(from, 5), parsed);
    EXPECT_EQ(s.string(), text);
}
