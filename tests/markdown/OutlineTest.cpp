#include "markdown/AttributeSequence.h"
#include "markdown/Outline.h"

#include "MarkdownTestSupport.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPalette>

using namespace lumora;

namespace {

// Gives each heading paragraph a new entry, as styling does the first time.
TextStorage headings(const QString& text)
{
    TextStorage s(text);
    test::markParagraphs(s);
    rebuildOutlineAttributes(s);
    return s;
}

// "(## B (### C))" style picture of a tree.
QString shape(const Outline& node)
{
    QString out;
    for (const auto& child : node.contents) {
        out += u'(' + child->title;
        const QString inner = shape(*child);
        out += inner;
        out += u')';
    }
    return out;
}

} // namespace

TEST(Outline, RebuildGivesEachHeadingAFreshEntry)
{
    TextStorage s = headings(QStringLiteral("intro\n## Notes\r\nbody\n# Top"));
    const auto notes = outlineAt(s, Range(8, 0));
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->title, QStringLiteral("## Notes"));
    EXPECT_EQ(notes->level, 2);
    Range run;
    s.attribute(AttributeKey::MarkdownOutline, 8, &run);
    EXPECT_EQ(run, Range(6, 10)) << "the whole paragraph with its line break";
    EXPECT_FALSE(outlineAt(s, Range(1, 0))) << "not a heading";

    notes->isExpanded = false;
    rebuildOutlineAttributes(s);
    EXPECT_NE(outlineAt(s, Range(8, 0)), notes);
    EXPECT_TRUE(outlineAt(s, Range(8, 0))->isExpanded) << "new entries show expanded";
}

TEST(Outline, FindsTheEntryAtOrWithinARange)
{
    TextStorage s = headings(QStringLiteral("text\n# Title"));
    EXPECT_EQ(outlineAt(s, Range(s.length(), 0)), outlineAt(s, Range(6, 0))) << "caret at the end of a last heading";
    EXPECT_TRUE(outlineAt(s, Range(0, 7)));
    EXPECT_FALSE(outlineAt(s, Range(0, 4)));

    TextStorage t = headings(QStringLiteral("# Title\n"));
    EXPECT_FALSE(outlineAt(t, Range(t.length(), 0))) << "caret on the empty line after the heading";
    EXPECT_FALSE(outlineAt(TextStorage(), Range(0, 0)));
}

TEST(Outline, TreeNestsByLevel)
{
    struct Case {
        const char16_t* text;
        const char* shape;
    };
    const Case cases[] = {
        {u"no headings here\n", ""},
        {u"# A\n## B\n## C\n# D\n### E\n", "(# A(## B)(## C))(# D(### E))"},
        {u"## A\n# B\n", "(## A)(# B)"},
        {u"### A\n## B\n### C\n", "(### A)(## B(### C))"},
    };
    for (const Case& c : cases) {
        TextStorage s = headings(QString::fromUtf16(c.text));
        const auto root = outlineTree(s);
        EXPECT_EQ(root->level, 0);
        EXPECT_TRUE(root->title.isEmpty());
        EXPECT_EQ(shape(*root), QString::fromUtf8(c.shape)) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(Outline, BuildingTwiceKeepsTheSameEntries)
{
    TextStorage s = headings(QStringLiteral("# A\n## B\n# C\n"));
    const auto first = outlineTree(s);
    first->contents[0]->isExpanded = false;
    const auto second = outlineTree(s);
    ASSERT_EQ(second->contents.size(), 2u);
    EXPECT_EQ(second->contents[0], first->contents[0]);
    EXPECT_FALSE(second->contents[0]->isExpanded);
    EXPECT_EQ(shape(*second), shape(*first));
    EXPECT_EQ(second->contents[0]->contents.size(), 1u) << "children are not added twice";
}

TEST(Outline, AttributedTitleDimsTheMarker)
{
    const auto entry = Outline::make(QStringLiteral("### Plan"), 3);
    const TextStorage title = entry->attributedTitle();
    EXPECT_EQ(title.string(), QStringLiteral("### Plan"));
    const QPalette palette = QGuiApplication::palette();
    EXPECT_EQ(*title.attribute(AttributeKey::ForegroundColor, 3).color(),
              Color::fromQColor(palette.color(QPalette::PlaceholderText)));
    EXPECT_EQ(*title.attribute(AttributeKey::ForegroundColor, 4).color(), Color::fromQColor(palette.color(QPalette::Text)));
    Range marker;
    title.attribute(AttributeKey::ForegroundColor, 0, &marker);
    EXPECT_EQ(marker, Range(0, 4));
    EXPECT_FALSE(Outline::unavailableText().isEmpty());
}

TEST(AttributeSequence, WalksRunsWithValues)
{
    TextStorage s(QStringLiteral("aabbccdd"));
    s.addAttribute(AttributeKey::Kern, 1.0, Range(2, 2));
    s.addAttribute(AttributeKey::Kern, 2.0, Range(4, 2));
    s.addAttribute(AttributeKey::Kern, 1.0, Range(7, 1));
    std::vector<Range> ranges;
    for (const auto& [value, range] : AttributeSequence(s, AttributeKey::Kern, Range(3, 5))) ranges.push_back(range);
    EXPECT_EQ(ranges, (std::vector<Range>{Range(3, 1), Range(4, 2), Range(7, 1)}));
    EXPECT_TRUE(AttributeSequence(s, AttributeKey::Font, Range(0, 8)).elements().empty());

    auto it = AttributeSequence(s, AttributeKey::Kern, Range(0, 8)).makeIterator();
    ASSERT_TRUE(it.next());
    s.removeAttribute(AttributeKey::Kern, Range(4, 2)); // changes between steps are fine
    const auto next = it.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->range, Range(7, 1));
    EXPECT_FALSE(it.next());
    EXPECT_EQ(it.location(), 8);
}
