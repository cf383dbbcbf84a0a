// A whole text restyled a part at a time: what it restyles at once, what it
// leaves to the background, the edits it follows, and that it ends as one
// restyle of the whole text leaves it.
#include "markdown/Markdown.h"
#include "markdown/MarkdownStyling.h"
#include "markdown/Outline.h"
#include "markdown/ParsedMarkdownStylesheet.h"
#include "markdown/ProgressiveRestyle.h"
#include "support/Patience.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <random>

using namespace lumora;

namespace {

// Headings, paragraphs with inline elements, lists, quotes and code.
QString markdownText(int sections)
{
    QString text;
    for (int i = 0; i < sections; ++i) {
        text += QString(1 + i % 3, u'#') + QStringLiteral(" Section %1\n\n").arg(i);
        text += QStringLiteral("Some *words* of a paragraph with **strong** ones, `code` and a [link](http://x.org) "
                               "long enough to wrap once or twice.\n\n");
        text += QStringLiteral("- an item\n    - a nested one\n1. a number\n\n> a quote\n\n    let x = 1;\n\n");
    }
    return text;
}

std::shared_ptr<const ParsedMarkdownStylesheet> stylesheet(double size, const Color& colour, double spacing)
{
    MarkdownStylesheet sheet = MarkdownStylesheet::defaultStylesheet();
    sheet.base.size = size;
    return std::make_shared<const ParsedMarkdownStylesheet>(sheet, colour, spacing);
}

// Markdown elements are boxed anew by each restyle: they are the same when
// they hold the same element. After edits only the kind and level of line
// elements count: an element keeps the offsets of its parts from when it was
// made, and text typed next to an inline element keeps its mark until it is
// scanned again (readers scan the text again where the marks are).
bool sameValue(AttributeKey key, const AttributeValue& a, const AttributeValue& b, bool exact)
{
    if (key != AttributeKey::FullLineMarkdown && key != AttributeKey::InlineMarkdown) return a == b;
    const std::optional<Markdown> x = Markdown::unboxed(a);
    const std::optional<Markdown> y = Markdown::unboxed(b);
    if (exact || !x || !y) return x == y;
    return x->kind() == y->kind() && x->level() == y->level();
}

// Every run of every key, the outline entries (two storages never share
// them) by title and level.
void expectSameLooks(const TextStorage& a, const TextStorage& b, bool exact = true)
{
    ASSERT_EQ(a.string(), b.string());
    for (int k = 0; k < kAttributeKeyCount; ++k) {
        const AttributeKey key = AttributeKey(k);
        if (key == AttributeKey::MarkdownOutline || (!exact && key == AttributeKey::InlineMarkdown)) continue;
        for (qsizetype i = 0; i < a.length();) {
            Range ra, rb;
            const AttributeValue& va = a.attribute(key, i, &ra);
            const AttributeValue& vb = b.attribute(key, i, &rb);
            ASSERT_TRUE(sameValue(key, va, vb, exact)) << "key " << k << " at " << i;
            ASSERT_EQ(ra, rb) << "key " << k << " at " << i;
            i = ra.end();
        }
    }
    const auto ea = outlinesIn(a, Range(0, a.length()));
    const auto eb = outlinesIn(b, Range(0, b.length()));
    ASSERT_EQ(ea.size(), eb.size());
    for (size_t i = 0; i < ea.size(); ++i) {
        EXPECT_EQ(ea[i]->title, eb[i]->title);
        EXPECT_EQ(ea[i]->level, eb[i]->level);
    }
}

bool settle(const ProgressiveRestyle& restyle)
{
    return QTest::qWaitFor([&] { return restyle.isFinished(); }, test::patience);
}

} // namespace

TEST(ProgressiveRestyle, RestylesWhatIsShownAtOnceAndEndsAsAWholeRestyle)
{
    const QString text = markdownText(400);
    const auto before = stylesheet(17, Color(0.1, 0.1, 0.1), 0.5);
    const auto after = stylesheet(21, Color(0.8, 0.2, 0.1), 1.0);
    TextStorage whole(text);
    TextStorage parts(text);
    restyleParagraphs(whole, *before, Range(0, whole.length()));
    restyleParagraphs(parts, *before, Range(0, parts.length()));
    restyleParagraphs(whole, *after, Range(0, whole.length()));

    ProgressiveRestyle restyle(parts, after, true);
    bool finished = false;
    restyle.finished = [&] { finished = true; };
    const qsizetype middle = text.indexOf(QStringLiteral("## Section 200"));
    restyle.focus = [&] { return middle; };
    const Range shown(middle, 3000);
    restyle.start({shown});
    // What was asked for is restyled now; the rest waits.
    EXPECT_FALSE(restyle.isFinished());
    const auto looks = [](const TextStorage& s, qsizetype at) {
        return std::pair(s.attribute(AttributeKey::Font, at), s.attribute(AttributeKey::ForegroundColor, at));
    };
    EXPECT_EQ(looks(parts, middle + 10), looks(whole, middle + 10));
    EXPECT_EQ(looks(parts, shown.end() - 10), looks(whole, shown.end() - 10));
    EXPECT_NE(looks(parts, 10), looks(whole, 10));
    ASSERT_EQ(restyle.waiting().size(), 2u);
    EXPECT_EQ(restyle.waiting().front().location, 0);
    EXPECT_EQ(restyle.waiting().back().end(), parts.length());

    ASSERT_TRUE(settle(restyle));
    EXPECT_TRUE(finished);
    expectSameLooks(parts, whole);
}

TEST(ProgressiveRestyle, EditsWhileItWaitsEndAsAWholeRestyleOfTheEditedText)
{
    // Edits anywhere, restyled where they touch Markdown as the editor
    // restyles them, while the rest waits: the end is one restyle of the
    // text as it is then.
    const QString text = markdownText(300);
    const auto before = stylesheet(17, Color(0.1, 0.1, 0.1), 0.5);
    const auto after = stylesheet(14, Color(0.2, 0.5, 0.1), 0.0);
    TextStorage parts(text);
    restyleParagraphs(parts, *before, Range(0, parts.length()));
    ProgressiveRestyle restyle(parts, after, true);
    restyle.start({Range(text.size() / 3, 2000)});

    std::mt19937 random(11);
    const QStringList inserts{QStringLiteral("# A heading\n"), QStringLiteral("\n"), QStringLiteral("word "),
                              QStringLiteral("*em* "), QStringLiteral("- item\n"), QStringLiteral("")};
    ASSERT_FALSE(restyle.isFinished());
    for (int i = 0; i < 60 && !restyle.isFinished(); ++i) {
        const qsizetype at = qsizetype(random() % quint32(parts.length()));
        const qsizetype removed = std::min<qsizetype>(qsizetype(random() % 4), parts.length() - at);
        const QString& insert = inserts[qsizetype(random() % quint32(inserts.size()))];
        parts.beginEditing();
        parts.replaceCharacters(Range(at, removed), insert);
        // As the editor restyles an edit: the paragraphs of its new text
        // (and the one after a line break it ends with), and here the one
        // before too, whose looks may hang on the character after it: then
        // every paragraph has the looks a restyle of the final text gives it.
        qsizetype n = insert.size();
        if (at + n < parts.length() && n > 0 && insert.endsWith(u'\n')) ++n;
        const qsizetype start = parts.paragraphBounds(Range(at, 0)).start;
        const qsizetype from = start > 0 ? parts.paragraphBounds(Range(start - 1, 0)).start : 0;
        restyleParagraphs(parts, *after, Range(from, at + n - from));
        parts.endEditing();
        // The background goes on between the later edits.
        if (i >= 40) QTest::qWait(1);
    }
    ASSERT_TRUE(settle(restyle));
    TextStorage whole(parts.string());
    restyleParagraphs(whole, *after, Range(0, whole.length()));
    expectSameLooks(parts, whole, false);
}

TEST(ProgressiveRestyle, FinishRestylesWhatWaitsAndEndsOnce)
{
    const QString text = markdownText(100);
    const auto after = stylesheet(19, Color(0.3, 0.3, 0.6), 0.5);
    TextStorage parts(text);
    TextStorage whole(text);
    restyleParagraphs(whole, *after, Range(0, whole.length()));
    ProgressiveRestyle restyle(parts, after, true);
    int ends = 0;
    restyle.finished = [&] { ++ends; };
    restyle.start({Range(0, 100)});
    ASSERT_FALSE(restyle.isFinished());
    restyle.finish();
    EXPECT_TRUE(restyle.isFinished());
    EXPECT_EQ(ends, 1);
    expectSameLooks(parts, whole);
    // Nothing is left for the background.
    QTest::qWait(30);
    EXPECT_EQ(ends, 1);
}


TEST(ProgressiveRestyle, FencedBlocksEndAsAWholeRestyleHasThem)
{
    // A text styled for the first time from the middle: the part shown is
    // styled before the fence that opens far above it is seen, and comes
    // right once the background gets there.
    QString text = markdownText(60) + QStringLiteral("~~~~ opened\n") + markdownText(200)
        + QStringLiteral("```\n# not a heading\n````\n") + markdownText(40) + QStringLiteral("~~~~\nafter\n")
        + markdownText(40);
    const auto sheet = stylesheet(17, Color(0.1, 0.1, 0.1), 0.5);
    TextStorage whole(text);
    restyleParagraphs(whole, *sheet, Range(0, whole.length()));
    TextStorage parts(text);
    ProgressiveRestyle restyle(parts, sheet, true);
    const qsizetype middle = text.indexOf(QStringLiteral("## Section 150"), text.indexOf(QStringLiteral("opened")));
    restyle.focus = [&] { return middle; };
    restyle.start({Range(middle, 3000)});
    ASSERT_TRUE(settle(restyle));
    expectSameLooks(parts, whole);

    // Another fence far up, then gone again: the restyle follows it through
    // the text, also when it is left to the background.
    const qsizetype fence = text.indexOf(QStringLiteral("~~~~ opened"));
    for (const QString& insert : {QStringLiteral("```\n"), QString()}) {
        const Range replaced = insert.isEmpty() ? Range(fence, 4) : Range(fence, 0);
        parts.replaceCharacters(replaced, insert);
        whole.replaceCharacters(replaced, insert);
        qsizetype followFrom = -1;
        restyleParagraphs(parts, *sheet, Range(fence, insert.size()), true, &followFrom);
        ASSERT_GE(followFrom, 0);
        ProgressiveRestyle later(parts, sheet, true);
        later.startFrom(followFrom);
        ASSERT_TRUE(settle(later));
        restyleParagraphs(whole, *sheet, Range(0, whole.length()));
        expectSameLooks(parts, whole);
    }
}

TEST(ProgressiveRestyle, EndsUnfinishedWhenNoLongerWanted)
{
    const QString text = markdownText(100);
    const auto before = stylesheet(17, Color(0.1, 0.1, 0.1), 0.5);
    const auto after = stylesheet(21, Color(0.8, 0.2, 0.1), 1.0);
    TextStorage parts(text);
    restyleParagraphs(parts, *before, Range(0, parts.length()));
    const AttributeValue oldFont = parts.attribute(AttributeKey::Font, parts.length() - 2);
    ProgressiveRestyle restyle(parts, after, true);
    bool finished = false;
    restyle.finished = [&] { finished = true; };
    restyle.wanted = [] { return false; };
    restyle.startFrom(10);
    ASSERT_TRUE(settle(restyle));
    EXPECT_FALSE(finished);
    EXPECT_EQ(parts.attribute(AttributeKey::Font, parts.length() - 2), oldFont);
}
