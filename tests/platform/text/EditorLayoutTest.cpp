#include "LayoutTestSupport.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace lumora;
using namespace lumora::test;

namespace {

QString paragraphs(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("Paragraph %1 has words enough to wrap once or twice in a column of modest width.\n").arg(i);
    return text;
}

} // namespace

TEST(EditorLayoutTest, NewLooksLayOutWhatIsShownAtOnceAndTheRestLater)
{
    TextStorage storage(paragraphs(900), body());
    const auto live = measuredMirror(storage, 400);
    TextMirror& mirror = *live;
    EditorLayout* layout = layoutOf(mirror);
    // Only what is painted holds layouts of its own; the rest is measured.
    paint(mirror, 5000, 5600);
    const int shown = layout->realizedBlockCount();
    EXPECT_GT(shown, 3);
    EXPECT_LT(shown, 40);

    // A larger font everywhere: what is shown is laid out at once, the rest
    // keeps its old height until the background gets to it.
    storage.addAttribute(AttributeKey::Font, font(21), Range(0, storage.length()));
    EXPECT_LT(layout->laidOutBlockCount(), mirror.document()->blockCount());
    EXPECT_LE(layout->realizedBlockCount(), shown + 2);
    settle(mirror);
    EXPECT_EQ(layout->laidOutBlockCount(), mirror.document()->blockCount());

    // Everything ends where a fresh layout of the same text puts it.
    const auto fresh = mirrorOf(storage, 400);
    EXPECT_EQ(rects(mirror), rects(*fresh));
    EXPECT_EQ(layout->documentSize(), fresh->document()->documentLayout()->documentSize());
}

TEST(EditorLayoutTest, NewColoursMeasureNothingAgainAndNewSpacingEndsAsAFreshLayout)
{
    TextStorage storage(paragraphs(900), body());
    const auto live = measuredMirror(storage, 400);
    TextMirror& mirror = *live;
    EditorLayout* layout = layoutOf(mirror);
    paint(mirror, 5000, 5600);
    const std::vector<QRectF> before = rects(mirror);

    // A theme: colours alone. Every height stays exact, nothing is
    // measured again, and what is drawn next has the new colour.
    storage.addAttribute(AttributeKey::ForegroundColor, Color(0.8, 0.1, 0.1), Range(0, storage.length()));
    EXPECT_TRUE(layout->isLaidOut());
    paint(mirror, 5000, 5600);
    EXPECT_EQ(rects(mirror), before);
    const QTextBlock shown = mirror.document()->findBlock(mirror.document()->documentLayout()->hitTest(QPointF(100, 5300), Qt::FuzzyHit));
    ASSERT_FALSE(shown.layout()->formats().isEmpty());
    EXPECT_EQ(shown.layout()->formats().first().format.foreground().color(), Color(0.8, 0.1, 0.1).toQColor());

    // A new spacing after every paragraph, and new indents for some: the
    // lines of the others are kept, their margins found again; all of it
    // ends where a fresh layout of the same text puts it.
    storage.beginEditing();
    for (int i = 0; i < 900; ++i) {
        ParagraphStyle p = *body().paragraphStyle();
        p.paragraphSpacing = 13.37;
        if (i % 7 == 0) p.headIndent = p.firstLineHeadIndent = 90;
        const QTextBlock b = mirror.document()->findBlockByNumber(i);
        storage.addAttribute(AttributeKey::ParagraphStyle, p, Range(b.position(), b.length()));
    }
    storage.endEditing();
    EXPECT_FALSE(layout->isLaidOut());
    settle(mirror);
    const auto fresh = mirrorOf(storage, 400);
    EXPECT_EQ(rects(mirror), rects(*fresh));
    EXPECT_EQ(layout->documentSize(), fresh->document()->documentLayout()->documentSize());
}

TEST(EditorLayoutTest, CorrectionsAboveTheAnchorMoveTheViewWithThem)
{
    // A view scrolled into the middle keeps showing the same text while the
    // heights above it are corrected in the background.
    TextStorage storage(paragraphs(900), body());
    const auto live = measuredMirror(storage, 400);
    TextMirror& mirror = *live;
    EditorLayout* layout = layoutOf(mirror);
    const QTextBlock watched = mirror.document()->findBlockByNumber(600);
    const double before = layout->blockBoundingRect(watched).top();
    layout->setAnchor(before);
    double moved = 0;
    QObject::connect(layout, &EditorLayout::anchorMoved, [&](double delta) { moved += delta; });

    storage.addAttribute(AttributeKey::Font, font(24), Range(0, storage.length()));
    settle(mirror);
    const double after = layout->blockBoundingRect(watched).top();
    EXPECT_GT(after, before + 1000);
    EXPECT_NEAR(moved, after - before, 1.0);
}

TEST(EditorLayoutTest, AKeyRepaintsItsOwnParagraphWhateverTheSpacing)
{
    // The space after a paragraph is carried by the next one's top margin;
    // one a float cannot hold exactly (3.57 px) must not count as changed
    // on every key, which repainted everything below the paragraph typed in.
    Attributes looks = body();
    ParagraphStyle spaced = *looks.paragraphStyle();
    spaced.paragraphSpacing = 3.57;
    looks.set(AttributeKey::ParagraphStyle, spaced);
    TextStorage storage(paragraphs(40), looks);
    const auto live = measuredMirror(storage, 400);
    TextMirror& mirror = *live;
    paint(mirror, 0, 600);
    QCoreApplication::processEvents();
    const double firstBottom = rects(mirror)[0].bottom();

    std::vector<QRectF> repainted;
    QObject watching;
    QObject::connect(mirror.layout(), &QAbstractTextDocumentLayout::update, &watching,
                     [&](const QRectF& r) { repainted.push_back(r); });
    for (int i = 0; i < 4; ++i) {
        storage.replaceCharacters(Range(5, 0), QStringLiteral("x"));
        paint(mirror, 0, 600);
        QCoreApplication::processEvents();
        storage.replaceCharacters(Range(5, 1), QString());
        paint(mirror, 0, 600);
        QCoreApplication::processEvents();
    }
    ASSERT_FALSE(repainted.empty());
    for (const QRectF& r : repainted) EXPECT_LE(r.bottom(), firstBottom + 10) << r.top() << " " << r.height();
}

TEST(EditorLayoutTest, AnOverlongWordBreaksWhereQtWouldBreakIt)
{
    // Guarding against quadratic time changes nothing but the time: the
    // lines of a paragraph with a word far longer than a line are Qt's.
    const QString text = QStringLiteral("Some words first, then ") + QString(30000, u'x') + QStringLiteral(" and words after it.");
    TextStorage storage(text, body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    mirror.document()->setTextWidth(400);
    const QTextBlock block = mirror.document()->begin();
    mirror.document()->documentLayout()->blockBoundingRect(block);
    const QTextLayout* ours = block.layout();

    QTextLayout plain(text, font(17));
    plain.setFormats(mirror.charFormats(block));
    QTextOption option = mirror.document()->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    plain.setTextOption(option);
    const QTextBlockFormat format = mirror.blockFormat(block);
    const double width = 400 - format.leftMargin() - format.rightMargin();
    plain.beginLayout();
    for (QTextLine line = plain.createLine(); line.isValid(); line = plain.createLine())
        line.setLineWidth(plain.lineCount() == 1 ? width - format.textIndent() : width);
    plain.endLayout();

    ASSERT_GT(ours->lineCount(), 20);
    ASSERT_EQ(ours->lineCount(), plain.lineCount());
    for (int i = 0; i < ours->lineCount(); ++i) {
        ASSERT_EQ(ours->lineAt(i).textStart(), plain.lineAt(i).textStart()) << "line " << i;
        ASSERT_EQ(ours->lineAt(i).textLength(), plain.lineAt(i).textLength()) << "line " << i;
    }
}

TEST(EditorLayoutTest, ALongParagraphOfCodeSpansIsLaidOut)
{
    // Two million characters in one paragraph, with 2,000 code spans of a
    // thousand characters without a break opportunity, and one unbroken run:
    // each is laid out (a quadratic layout would not finish here).
    for (const bool unbroken : {false, true}) {
        QString text;
        text.reserve(2'010'000);
        if (unbroken) {
            text = QString(2'000'000, u'y');
        } else {
            const QString span = u'`' + QString(998, u'c') + u'`';
            while (text.size() < 2'000'000) text += QStringLiteral("words and more words here ") + span + u' ';
        }
        TextStorage storage(text, body());
        const auto mirror = measuredMirror(storage, 600);
        EXPECT_EQ(mirror->layout()->laidOutBlockCount(), 1);
        // About a hundred characters a line.
        EXPECT_GT(mirror->layout()->documentSize().height(), 2'000'000 / 120 * 17);
    }
}

TEST(EditorLayoutTest, BlocksShownLongAgoGiveTheirLayoutsBack)
{
    TextStorage storage(paragraphs(3000), body());
    const auto live = measuredMirror(storage, 400);
    TextMirror& mirror = *live;
    EditorLayout* layout = layoutOf(mirror);
    const double height = layout->documentSize().height();
    for (double top = 0; top < height; top += 500) paint(mirror, top, top + 500);
    EXPECT_LE(layout->realizedBlockCount(), 600);
    // What was shown last still is laid out and answers at once.
    const QTextBlock last = mirror.document()->lastBlock();
    EXPECT_GT(last.layout()->lineCount(), 0);
}

TEST(EditorLayoutTest, ASelectionCoversWholeLinesAndKeepsTheTextsColours)
{
    // Two lines with wide line spacing: the band between them is selected
    // too, and red text stays red under the selection.
    ParagraphStyle spaced;
    spaced.minimumLineHeight = spaced.maximumLineHeight = 40;
    Attributes attributes = body();
    attributes.set(AttributeKey::ParagraphStyle, spaced);
    attributes.set(AttributeKey::ForegroundColor, Color(0.9, 0.1, 0.1));
    TextStorage storage(QStringLiteral("Red words on the first line and more red words on the second line"), attributes);
    TextMirror mirror;
    mirror.setStorage(&storage);
    mirror.document()->setTextWidth(300);
    const QTextBlock block = mirror.document()->begin();
    const QRectF rect = mirror.document()->documentLayout()->blockBoundingRect(block);
    ASSERT_GE(block.layout()->lineCount(), 2);

    QImage image(300, int(rect.bottom()) + 10, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Highlight, QColor(0, 0, 0, 77));
    context.palette.setColor(QPalette::HighlightedText, QColor(0, 0, 0));
    QAbstractTextDocumentLayout::Selection selection;
    selection.cursor = QTextCursor(mirror.document());
    selection.cursor.setPosition(0);
    selection.cursor.setPosition(storage.length(), QTextCursor::KeepAnchor);
    selection.format.setBackground(context.palette.brush(QPalette::Highlight));
    selection.format.setForeground(context.palette.brush(QPalette::HighlightedText));
    context.selections.append(selection);
    mirror.document()->documentLayout()->draw(&painter, context);
    painter.end();

    // Every row from the first line's top to the last line's bottom is
    // tinted at the column's left, where the text starts.
    const QTextLine first = block.layout()->lineAt(0);
    const QTextLine last = block.layout()->lineAt(block.layout()->lineCount() - 1);
    const int x = int(rect.left() + first.x()) + 2;
    int white = 0;
    for (int y = int(rect.top() + first.y()) + 1; y < int(rect.top() + last.y() + last.height()) - 1; ++y)
        white += image.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_EQ(white, 0);
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int xx = 0; xx < image.width(); ++xx) {
            const QColor c = image.pixelColor(xx, y);
            red += c.red() > c.green() + 80 && c.red() > c.blue() + 80;
        }
    EXPECT_GT(red, 50);
}
