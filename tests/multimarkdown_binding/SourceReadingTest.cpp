#include "multimarkdown_binding/SourceReading.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace lumora {
namespace {

// The literal stretches of a text, each shown as the text it covers.
QStringList literal(const QString& text)
{
    QStringList pieces;
    const SourceReading reading(text);
    for (const TextStretch& stretch : reading.literalStretches()) pieces << text.mid(stretch.start, stretch.length);
    return pieces;
}

QStringList notes(const QString& text)
{
    QStringList pieces;
    const SourceReading reading(text);
    for (const TextStretch& stretch : reading.noteDefinitions()) pieces << text.mid(stretch.start, stretch.length);
    return pieces;
}

TEST(SourceReading, CodeAndRawHtmlAreLiteralWhereverTheyStand)
{
    EXPECT_EQ(literal("[x](u) and `[y][1]` ok\n"), QStringList({"`[y][1]`"}));
    // A span over two lines, and spans beside each other.
    EXPECT_EQ(literal("a `b\n[y][1]` c ``d`e`` f\n"), QStringList({"`b\n[y][1]`", "``d`e``"}));
    EXPECT_EQ(literal("- item\n\n        [y][1] code\n\nafter\n"), QStringList({"        [y][1] code\n"}));
    EXPECT_EQ(literal("- item\n\n  ```\n  [y][1]\n  ```\n"), QStringList({"  ```\n  [y][1]\n  ```\n"}));
    EXPECT_EQ(literal(">     [y][1]\n\n> quoted `q` too\n"), QStringList({">     [y][1]\n", "`q`"}));
    EXPECT_EQ(literal("- a\n  more `c\n  d` e\n"), QStringList({"`c\n  d`"}));
    EXPECT_EQ(literal("> lazy\nlazy `k` x\n"), QStringList({"`k`"}));
    EXPECT_EQ(literal("| a | `b` |\n|---|---|\n| `c` x | d `e` |\n"), QStringList({"`b`", "`c`", "`e`"}));
    EXPECT_EQ(literal("## h `x` y\n\n<div>\n[y][1]\n</div>\n\nz\n"), QStringList({"`x`", "<div>\n[y][1]\n</div>\n"}));
    // Definitions the paragraph starts with are no part of its text.
    EXPECT_EQ(literal("[1]: u\n[2]: v\nfoo `x`\nbar `y`\n"), QStringList({"`x`", "`y`"}));
    EXPECT_EQ(literal("Title: `a`\n\nb `c`\n"), QStringList({"Title: `a`\n\n", "`c`"}));
    EXPECT_TRUE(literal("Plain [x][1] text.\n\n[1]: u\n").isEmpty());
}

// A note's later paragraphs are indented as code would be; they are the
// note's text. So are a definition's in a definition list.
TEST(SourceReading, NotesAndDefinitionsTakeTheirIndentedParagraphs)
{
    EXPECT_TRUE(literal("A note[^n].\n\n[^n]: The note.\n\n    Its second paragraph cites [the paper][1].\n").isEmpty());
    EXPECT_EQ(literal("A note[^n].\n\n[^n]: The note.\n\n        code in it\n\n    And `this`.\n"),
              QStringList({"    code in it\n", "`this`"}));
    EXPECT_TRUE(literal("Term\n:   Definition.\n\n    More, see [z][1].\n").isEmpty());
    EXPECT_EQ(notes("A[^n] b[#c].\n\n[^n]: The note.\ngoes on\n\n    and on.\n\n[#c]: Cited.\n\nText.\n"),
              QStringList({"[^n]: The note.\ngoes on\n\n    and on.", "[#c]: Cited."}));
}

// Offsets are the editor's: UTF-16 units, with CR LF line breaks, a
// byte-order mark, characters beyond the BMP and lines the conversion
// rewrites before it reads them.
TEST(SourceReading, StretchesAreInTheTextsOwnUnits)
{
    EXPECT_EQ(literal(u"\uFEFFé 😀 `a`\r\nb `c`\r\n"_qs), QStringList({"`a`", "`c`"}));
    EXPECT_EQ(literal(u"x {++added++} `a` and `b`\n"_qs), QStringList({"`a`", "`b`"}));
    EXPECT_EQ(literal("Term\n: def `a` x\n"), QStringList({"`a`"}));
    EXPECT_EQ(literal("1) one `a`\n2) two `b`\n"), QStringList({"`a`", "`b`"}));
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

// Over every text the conversion is tried on, the fuzzer's own included:
// each stretch lies in the text, after the one before it.
TEST(SourceReading, StretchesStayInTheTextInOrderOnAnyInput)
{
    const QDir corpus(QStringLiteral(LUMORA_CONVERSION_CORPUS));
    const QFileInfoList files = corpus.entryInfoList({QStringLiteral("*.md")}, QDir::Files, QDir::Name);
    ASSERT_GT(files.size(), 10);
    for (const QFileInfo& file : files) {
        QFile in(file.filePath());
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        const QByteArray bytes = in.readAll();
        // The fuzzer's first byte says how the rest is read (as UTF-16 when
        // its lowest bit is set); both ways are tried here.
        for (const QString& text : {QString::fromUtf8(bytes.sliced(2)),
                                    QString(reinterpret_cast<const QChar*>(bytes.constData() + 2), (bytes.size() - 2) / 2)}) {
            const SourceReading reading(text);
            for (const std::vector<TextStretch>* stretches : {&reading.literalStretches(), &reading.noteDefinitions()}) {
                qsizetype end = 0;
                for (const TextStretch& stretch : *stretches) {
                    EXPECT_GE(stretch.start, stretches == &reading.literalStretches() ? end : 0) << file.fileName().toStdString();
                    EXPECT_GT(stretch.length, 0);
                    EXPECT_LE(stretch.end(), text.size()) << file.fileName().toStdString();
                    end = stretch.end();
                }
            }
        }
    }
}

} // namespace
} // namespace lumora
