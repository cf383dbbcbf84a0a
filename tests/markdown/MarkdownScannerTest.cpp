#include "markdown/MarkdownScanner.h"

#include <gtest/gtest.h>

#include "support/QtPrinters.h"

#include <QString>

#include <thread>

using namespace lumora;

namespace {

QString quoted(const QString& s, Range r)
{
    QString part = s.mid(r.location, r.length);
    part.replace(u'\n', QStringLiteral("\\n"));
    part.replace(u'\t', QStringLiteral("\\t"));
    return u'\'' + part + u'\'';
}

// "heading 2 text='Title\n'" and the like.
QString describe(const QString& s, const Markdown& m)
{
    QString out = QString::fromLatin1(m.name());
    if (m.kind() == Markdown::Kind::Heading || m.kind() == Markdown::Kind::OrderedList
        || m.kind() == Markdown::Kind::UnorderedList || m.kind() == Markdown::Kind::Blockquote)
        out += u' ' + QString::number(m.level());
    for (int i = 0; i < m.partCount(); ++i) {
        const Markdown::Part p = m.part(i);
        out += u' ' + QString::fromLatin1(p.label) + u'=' + quoted(s, p.range);
    }
    return out;
}

QString classify(const QString& s)
{
    const auto line = markdownLineElement(s, 0, s.size());
    if (!line) return QStringLiteral("nothing");
    return describe(s, line->element) + QStringLiteral(" cs=") + QString::number(line->contentStart);
}

QString scan(const QString& s, Range range = Range(0, -1))
{
    if (range.length < 0) range = Range(0, s.size());
    const auto found = nextInlineMarkdown(s, range.location, range.length);
    if (!found) return QStringLiteral("nothing");
    EXPECT_GE(found->range.length, 0);
    for (int i = 0; i < found->element.partCount(); ++i) EXPECT_GE(found->element.part(i).range.length, 0);
    return describe(s, found->element) + QStringLiteral(" over ") + quoted(s, found->range);
}

struct Row {
    const char16_t* input;
    const char* expected;
};

} // namespace

TEST(MarkdownElement, EqualityComparesKindPartsAndLevel)
{
    EXPECT_EQ(Markdown::heading(Range(10, 5), 2), Markdown::heading(Range(10, 5), 2));
    EXPECT_NE(Markdown::heading(Range(10, 5), 2), Markdown::heading(Range(10, 5), 3));
    EXPECT_NE(Markdown::heading(Range(10, 5), 2), Markdown::bold(Range(10, 5)));
    EXPECT_NE(Markdown::citationInline(std::nullopt, Range(1, 1)), Markdown::citationInline(Range(0, 0), Range(1, 1)));
    EXPECT_EQ(Markdown::codeblock(), Markdown::codeblock());

    // Boxed, an element is a program object: equal elements in two boxes are two values.
    const AttributeValue a = Markdown::italic(Range(1, 2)).boxed();
    const AttributeValue b = Markdown::italic(Range(1, 2)).boxed();
    EXPECT_FALSE(a == b);
    EXPECT_EQ(Markdown::unboxed(a), Markdown::italic(Range(1, 2)));
    EXPECT_FALSE(Markdown::unboxed(AttributeValue(3.0)).has_value());
}

TEST(MarkdownElement, CharacterSetsAreBuiltOnceFromAnyThread)
{
    std::thread background([] { Markdown::prepareCharacterSets(); });
    background.join();
    const CharacterSet* before = &Markdown::syntaxCharacters();
    Markdown::prepareCharacterSets();
    EXPECT_EQ(before, &Markdown::syntaxCharacters());
    for (QChar c : QStringView(u"0123456789.)*-+_#()[]:?>^")) EXPECT_TRUE(before->contains(c)) << c.toLatin1();
    EXPECT_FALSE(before->contains(u'\\') || before->contains(u' '));
    EXPECT_TRUE(Markdown::syntaxAndWhitespaceCharacters().contains(char16_t(0x2028)));
}

TEST(LineClassifier, RecognisesEachLineElement)
{
    const Row rows[] = {
        // Headings
        {u"## Title\n", "heading 2 text='Title\\n' cs=3"},
        {u"###### six\n", "heading 6 text='six\\n' cs=7"},
        {u"####### x\n", "nothing"},
        {u"#x\n", "nothing"},
        {u"#\tx\n", "nothing"},
        {u"#\n", "nothing"},
        {u"# \n", "heading 1 text='\\n' cs=2"},
        // Definitions
        {u"[id]: http\n", "linkDefinition reference='id' url=' http\\n' cs=5"},
        {u"[^1]: note\n", "footnoteDefinition reference='1' text=' note\\n' cs=5"},
        {u"[#k]:\n", "citationDefinition reference='k' text='\\n' cs=5"},
        {u"[?k]: a\n", "glossaryDefinition reference='k' definition=' a\\n' cs=5"},
        {u"[>k]: a\n", "acronymDefinition reference='k' definition=' a\\n' cs=5"},
        {u"[]: x\n", "linkDefinition reference='' url=' x\\n' cs=3"},
        {u"[a] b\n", "nothing"},
        {u"[a\n", "nothing"},
        // Ordered lists
        {u"1. x\n", "orderedList 0 text='x\\n' cs=3"},
        {u"3) x\n", "orderedList 0 text='x\\n' cs=3"},
        {u"12. x\n", "orderedList 0 text='x\\n' cs=4"},
        {u"1.\tx\n", "orderedList 0 text='x\\n' cs=3"},
        {u"12 x\n", "nothing"},
        {u"1.x\n", "nothing"},
        {u"1.\n", "nothing"},
        {u"\u0663. x\n", "orderedList 0 text='x\\n' cs=3"},
        // Unordered lists
        {u"- x\n", "unorderedList 0 text='x\\n' cs=2"},
        {u"* x\n", "unorderedList 0 text='x\\n' cs=2"},
        {u"+ x\n", "unorderedList 0 text='x\\n' cs=2"},
        {u"-\u00A0x\n", "unorderedList 0 text='x\\n' cs=2"},
        {u"-x\n", "nothing"},
        {u"-\n", "nothing"},
        {u"* * *\n", "unorderedList 0 text='* *\\n' cs=2"},
        {u"    - x\n", "unorderedList 1 text='x\\n' cs=6"},
        {u"\t\t- x\n", "unorderedList 2 text='x\\n' cs=4"},
        {u"  - x\n", "nothing"},
        {u"    \t- x\n", "codeblock cs=4"},
        // Block quotes
        {u"> > x\n", "blockquote 0 text='x\\n' cs=4"},
        {u">>x\n", "blockquote 0 text='x\\n' cs=2"},
        {u"\t> x\n", "blockquote 1 text='x\\n' cs=3"},
        // Code blocks
        {u"    code\n", "codeblock cs=4"},
        {u"\t# x\n", "codeblock cs=1"},
        {u"        \n", "codeblock cs=8"},
        {u"    [a]: b\n", "codeblock cs=4"},
        // Plain
        {u"plain\n", "nothing"},
        {u"\n", "nothing"},
    };
    for (const Row& row : rows) EXPECT_EQ(classify(QString::fromUtf16(row.input)), QString::fromUtf8(row.expected)) << QString::fromUtf16(row.input).toStdString();
}

TEST(LineClassifier, WorksOnAParagraphInsideTheText)
{
    const QString s = QStringLiteral("intro\n## Two\nrest");
    const auto line = markdownLineElement(s, 6, 7);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->element, Markdown::heading(Range(9, 4), 2)) << "ranges are absolute";
    EXPECT_FALSE(markdownLineElement(s, s.size(), 0)) << "the end of the text";
    // The scan is bounded by the paragraph: "##" then the next paragraph's " x" is no heading.
    const QString t = QStringLiteral("## x");
    EXPECT_FALSE(markdownLineElement(t, 0, 2));
    EXPECT_FALSE(markdownLineElement(QStringLiteral("1.x"), 0, 2));
}

TEST(InlineScanner, FindsTheFirstElement)
{
    const Row rows[] = {
        // Emphasis
        {u"a *b* c", "italic text='b' over '*b*'"},
        {u"**b**", "bold text='b' over '**b**'"},
        {u"***b***", "italicAndBold text='b' over '***b***'"},
        {u"__b__", "bold text='b' over '__b__'"},
        {u"*a**", "italic text='a' over '*a*'"},
        {u"snake_case_name", "italic text='case' over '_case_'"},
        {u"\\*b*", "nothing"},
        {u"\\\\*b*", "nothing"},
        {u"*b\\* c*", "italic text='b\\* c' over '*b\\* c*'"},
        {u"**", "nothing"},
        {u"*no closer", "nothing"},
        {u"*x _y_", "italic text='y' over '_y_'"},
        // Links
        {u"[t](u)", "linkInline text='t' url='u' over '[t](u)'"},
        {u"[t][r]", "linkReference text='t' reference='r' over '[t][r]'"},
        {u"[](u)", "linkInline text='' url='u' over '[](u)'"},
        {u"[t](u", "nothing"},
        {u"[t](u *b*", "nothing"},
        {u"[t] *b*", "nothing"},
        {u"[t *b*", "italic text='b' over '*b*'"},
        {u"\\[t](u)", "nothing"},
        // Footnotes, citations, glossary and acronyms
        {u"[^n]", "footnoteInline text='n' over '[^n]'"},
        {u"[#k]", "citationInline text='k' over '[#k]'"},
        {u"[p. 2][#k]", "citationInline locator='p. 2' text='k' over '[p. 2][#k]'"},
        {u"[?(t) d]", "glossaryInline term='t' definition=' d' over '[?(t) d]'"},
        {u"[>(t)d]", "acronymInline term='t' definition='d' over '[>(t)d]'"},
        {u"[?g]", "glossaryReference reference='g' over '[?g]'"},
        {u"[>x]", "acronymReference reference='x' over '[>x]'"},
        {u"[?(t d]", "nothing"},
        // A ")" after the "]" makes no entry: the scan goes on after the "[".
        {u"[?(t] d)", "nothing"},
        {u"[?(*t*] d)", "italic text='t' over '*t*'"},
    };
    for (const Row& row : rows) EXPECT_EQ(scan(QString::fromUtf16(row.input)), QString::fromUtf8(row.expected)) << QString::fromUtf16(row.input).toStdString();
}

TEST(InlineScanner, StaysInsideTheStretch)
{
    struct Case {
        const char16_t* text;
        Range range;
        const char* expected;
    };
    const Case cases[] = {
        // The escape test looks before the stretch.
        {u"\\*b* c", Range(1, 5), "nothing"},
        // A stretch ending in "]" with "(" or "[" after it: no link, and never a negative range.
        {u"[t](u)", Range(0, 3), "nothing"},
        {u"[*t*](u)", Range(0, 5), "italic text='t' over '*t*'"},
        {u"[t][r]", Range(0, 3), "nothing"},
        {u"[t](u)", Range(0, 4), "nothing"},
        {u"x *a* y", Range(2, 2), "nothing"},
        {u"x *a* y", Range(2, 3), "italic text='a' over '*a*'"},
        {u"x *a", Range(2, 100), "nothing"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scan(QString::fromUtf16(c.text), c.range), QString::fromUtf8(c.expected)) << QString::fromUtf16(c.text).toStdString();
}

TEST(ScannerHelpers, CountAndSkipAndTrim)
{
    const QString s = QStringLiteral("###  #");
    EXPECT_EQ(countMarkerRepeats(s, u"#", 0), 3);
    EXPECT_EQ(countMarkerRepeats(s, u"##", 0), 2);
    EXPECT_EQ(countMarkerRepeats(s, u"#", 0, 2), 2);
    EXPECT_EQ(skipCharacters(s, Markdown::spaceCharacters(), 3), 2);
    EXPECT_EQ(skipCharacters(s, Markdown::spaceCharacters(), 99), 0);

    const auto parts = whitespaceTrimmedParts(u" \tword\n x\u00A0");
    EXPECT_EQ(QStringList({parts.leading, parts.core, parts.trailing}), QStringList({" \t", "word\n x", "\u00A0"}))
        << "line breaks belong to the core";
    const auto blank = whitespaceTrimmedParts(u"  ");
    EXPECT_EQ(QStringList({blank.leading, blank.core, blank.trailing}), QStringList({"  ", "", ""}));
}

TEST(Scanners, SurviveUnusualText)
{
    // CRLF, U+2028, NBSP, characters outside the BMP, lone surrogates: no crash, sane ranges.
    QString s = QStringLiteral("- a\r\n* \U0001F600*x\u2028[\U0001F600](\u00A0)\r\n_X_\n##\t\n");
    s[s.indexOf(u'X')] = QChar(0xD800); // a lone surrogate
    for (qsizetype from = 0; from <= s.size(); ++from) {
        for (qsizetype len = 0; from + len <= s.size(); ++len) {
            if (auto line = markdownLineElement(s, from, len)) {
                EXPECT_LE(line->contentStart, len);
                for (int i = 0; i < line->element.partCount(); ++i) {
                    const Range r = line->element.part(i).range;
                    EXPECT_GE(r.length, 0);
                    EXPECT_LE(r.end(), from + len);
                }
            }
            if (auto found = nextInlineMarkdown(s, from, len)) {
                EXPECT_GE(found->range.location, from);
                EXPECT_LE(found->range.end(), from + len);
                for (int i = 0; i < found->element.partCount(); ++i) EXPECT_GE(found->element.part(i).range.length, 0);
            }
        }
    }
}
