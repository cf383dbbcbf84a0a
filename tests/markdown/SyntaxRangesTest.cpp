#include "markdown/SyntaxRanges.h"

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

using namespace lumora;

namespace {

// The syntax of a one-paragraph text, as the strings it covers.
QStringList syntaxOf(const QString& text)
{
    QStringList parts;
    for (const Range& r : syntaxRanges(text, Range(0, text.size()))) parts << text.mid(r.location, r.length);
    return parts;
}

} // namespace

TEST(SyntaxRanges, FindsCodeAddressesLabelsAndHtml)
{
    EXPECT_EQ(syntaxOf(QStringLiteral("Use `teh code` and ``a ` b`` here")),
              (QStringList{"`teh code`", "``a ` b``"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("See [the notes](http://exmple.org/pth \"Title\") and [text][refrence].")),
              (QStringList{"(http://exmple.org/pth \"Title\")", "[refrence]"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("A note[^lbl] and [^An inline note.] and [#Citekey].")),
              (QStringList{"[^lbl]", "[#Citekey]"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("<span class=\"x\">Hi</span> &amp; &#8212; <!-- a comment -->")),
              (QStringList{"<span class=\"x\">", "</span>", "&amp;", "&#8212;", "<!-- a comment -->"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("Mail me@exmple.org or visit https://exmple.org/a_b, www.exmple.org.")),
              (QStringList{"me@exmple.org", "https://exmple.org/a_b", "www.exmple.org"}));
    // Escaped markers are prose.
    EXPECT_TRUE(syntaxOf(QStringLiteral("\\`not code\\` and 5 < 6")).isEmpty());
    // Whole lines: a code block line, a link definition; a note's label.
    EXPECT_EQ(syntaxOf(QStringLiteral("    int mian();")), (QStringList{"    int mian();"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("[refrence]: http://exmple.org")), (QStringList{"[refrence]: http://exmple.org"}));
    EXPECT_EQ(syntaxOf(QStringLiteral("[^lbl]: The note's texxt.")), (QStringList{"[^lbl]:"}));
}

TEST(SyntaxRanges, TypingInsideSomethingOpenIsNotProse)
{
    const auto inside = [](const QString& text) { return isInsideSyntax(text, text.size() - 1); };
    EXPECT_TRUE(inside(QStringLiteral("some `code \"")));
    EXPECT_FALSE(inside(QStringLiteral("some `code` \"")));
    EXPECT_TRUE(inside(QStringLiteral("a [link](http://x.org/\"")));
    EXPECT_FALSE(inside(QStringLiteral("a [link](http://x.org/) \"")));
    EXPECT_TRUE(inside(QStringLiteral("<a href=\"")));
    EXPECT_FALSE(inside(QStringLiteral("5 < 6 and \"")));
    EXPECT_TRUE(isInsideSyntax(QStringLiteral("x `a \"b\" c` y"), 5));
    EXPECT_FALSE(isInsideSyntax(QStringLiteral("one\n`two\nthree \""), 14)); // a new paragraph
}

TEST(SyntaxRanges, CodeFencesFollowEdits)
{
    QString text = QStringLiteral("Intro\n```js\nlet teh = 1;\n```\nAfter\n~~~\nopen to the end");
    CodeFences fences;
    fences.reset(text);
    ASSERT_EQ(fences.blocks().size(), 2u);
    EXPECT_TRUE(fences.contains(text.indexOf(QStringLiteral("teh"))));
    EXPECT_FALSE(fences.contains(text.indexOf(QStringLiteral("After"))));
    EXPECT_TRUE(fences.contains(text.size() - 1)); // unclosed: to the end

    // Edits move, remove and add fences without a full rescan.
    const auto edit = [&](qsizetype at, qsizetype length, const QString& with) {
        text.replace(at, length, with);
        fences.update(text, Range(at, with.size()), with.size() - length);
        CodeFences fresh;
        fresh.reset(text);
        EXPECT_EQ(fences.blocks(), fresh.blocks()) << text.toStdString();
    };
    edit(0, 0, QStringLiteral("More words.\n\n"));
    edit(text.indexOf(QStringLiteral("~~~")), 3, QStringLiteral("~~"));     // no longer a fence
    EXPECT_FALSE(fences.contains(text.size() - 1));
    edit(text.indexOf(QStringLiteral("```\nAfter")), 0, QStringLiteral("x")); // "x```" closes nothing
    EXPECT_TRUE(fences.contains(text.indexOf(QStringLiteral("After"))));
    edit(text.indexOf(QStringLiteral("x```")), 1, QString());
    edit(text.size(), 0, QStringLiteral("\n````\n"));
    EXPECT_EQ(fences.blocks().size(), 2u);
}

TEST(SyntaxRanges, FencesCloseAsCommonMarkClosesThem)
{
    // Whether the block opened by the first line is still open after the
    // second: up to three spaces before a closing fence, at least the
    // opener's length of the same character, only spaces and tabs after.
    const auto closes = [](const QString& opener, const QString& closer) {
        const QString text = opener + QStringLiteral("\ncode\n") + closer + QStringLiteral("\nafter");
        CodeFences fences;
        fences.reset(text);
        return !fences.contains(text.size() - 1);
    };
    EXPECT_TRUE(closes(QStringLiteral("```"), QStringLiteral("```")));
    EXPECT_TRUE(closes(QStringLiteral("```python"), QStringLiteral("   `````  \t")));
    EXPECT_TRUE(closes(QStringLiteral("  ~~~ a ` b"), QStringLiteral("~~~")));
    EXPECT_FALSE(closes(QStringLiteral("```"), QStringLiteral("    ```"))); // four columns in: code
    EXPECT_FALSE(closes(QStringLiteral("```"), QStringLiteral("\t```")));
    EXPECT_FALSE(closes(QStringLiteral("```"), QStringLiteral("  \t```")));
    EXPECT_FALSE(closes(QStringLiteral("````"), QStringLiteral("```")));
    EXPECT_FALSE(closes(QStringLiteral("```"), QStringLiteral("~~~")));
    EXPECT_FALSE(closes(QStringLiteral("```"), QStringLiteral("``` x")));
    EXPECT_FALSE(closes(QStringLiteral("```"), QString::fromUtf16(u"```\u00A0")));

    // The block still open where a line begins, with its opener.
    const QString text = QStringLiteral("a\n  ~~~~\nb\n    ~~~~\nc\n~~~~\nd");
    CodeFences fences;
    fences.reset(text);
    const auto opening = fences.openingBefore(text.indexOf(u'c'));
    ASSERT_TRUE(opening);
    EXPECT_EQ(opening->lineStart, 2);
    EXPECT_EQ(opening->line.indent, 2);
    EXPECT_EQ(opening->line.count, 4);
    EXPECT_FALSE(fences.openingBefore(text.indexOf(u'd')));
    EXPECT_FALSE(fences.openingBefore(0));
}
