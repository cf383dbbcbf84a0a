#include "LayoutTestSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <random>

using namespace lumora;

namespace {

// Wider margins and more space after a paragraph than the layout tests'
// body, which the spacing test below adds up.
Attributes body() { return test::body(17, 60, 8); }

Attributes heading()
{
    ParagraphStyle p;
    p.headIndent = 60;
    p.firstLineHeadIndent = 40;
    p.paragraphSpacingBefore = 12;
    p.paragraphSpacing = 4;
    return Attributes{{AttributeKey::Font, test::font(26)},
                      {AttributeKey::ForegroundColor, Color(0.2, 0.2, 0.6)},
                      {AttributeKey::ParagraphStyle, p}};
}

// The text and each block's looks as the layout draws them: its paragraph
// format, height and character formats. A live mirror reads them from the
// blocks' own layouts (laying out, as painting would, only what is stale);
// a fresh one computes them.
QString snapshot(const TextMirror& mirror, bool live)
{
    const QTextDocument& doc = *mirror.document();
    auto* layout = doc.documentLayout();
    QString out = doc.toRawText();
    out += u'|';
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        const QTextBlockFormat bf = mirror.blockFormat(b);
        const QRectF r = layout->blockBoundingRect(b);
        out += QStringLiteral("[%1 %2 %3 %4 y%5 h%6]")
                   .arg(bf.leftMargin())
                   .arg(bf.textIndent())
                   .arg(bf.topMargin())
                   .arg(bf.lineHeight())
                   .arg(r.top())
                   .arg(r.height());
        const auto formats = live ? b.layout()->formats() : mirror.charFormats(b);
        for (const QTextLayout::FormatRange& f : formats) {
            out += QStringLiteral("%1+%2 %3 %4;")
                       .arg(f.start)
                       .arg(f.length)
                       .arg(f.format.font().pixelSize())
                       .arg(f.format.foreground().color().name(QColor::HexArgb));
        }
    }
    return out;
}

QColor foregroundAt(const TextMirror& mirror, int position)
{
    const QTextBlock block = mirror.document()->findBlock(position);
    for (const QTextLayout::FormatRange& f : mirror.charFormats(block))
        if (block.position() + f.start <= position && position < block.position() + f.start + f.length)
            return f.format.foreground().color();
    return QColor();
}

struct ChangeCounter {
    int count = 0;
    explicit ChangeCounter(QTextDocument* doc)
    {
        QObject::connect(doc, &QTextDocument::contentsChange, doc, [this](int, int, int) { ++count; });
    }
};

} // namespace

TEST(TextMirrorTest, LineEndingsAndSpecialCharactersKeepOffsets)
{
    const QString text = QStringLiteral("a\r\nb\rc\nd") + QChar(0x2028) + u'e' + QChar(0x85) + u'f' + QChar(0xFDD0)
        + QChar(0x00A0) + u'\t' + QChar(0xD83D) + QChar(0xDE00) + QStringLiteral("\r\n");
    TextStorage storage(text, body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    const QTextDocument* doc = mirror.document();
    ASSERT_EQ(doc->characterCount(), text.size() + 1);
    const QString raw = doc->toRawText();
    ASSERT_EQ(raw.size(), text.size());
    EXPECT_EQ(raw[1], QChar(0x200B)); // the \r of \r\n: zero width, end of its line
    EXPECT_EQ(raw[4], QChar(0x2029)); // a lone \r is a line break
    EXPECT_EQ(raw[10], QChar(0x2029)); // NEL
    EXPECT_EQ(raw[12], QChar(0xFFFD)); // no frame marker reaches Qt
    EXPECT_EQ(raw[13], QChar(0x00A0)); // kept as it is
    EXPECT_EQ(doc->blockCount(), 7);   // \r\n, \r, \n, U+2028, NEL, final \r\n
    // Positions match offsets: the block of "f" starts at its storage offset.
    EXPECT_EQ(doc->findBlock(11).position(), 11);
}

TEST(TextMirrorTest, IncrementalEditsMatchAFreshBuild)
{
    // Random replacements and restyles; after each, the mirror kept up to
    // date must equal one built from scratch.
    std::mt19937 random(7);
    const QStringList pieces{QStringLiteral("word "), QStringLiteral("\n"), QStringLiteral("\r\n"),
                             QStringLiteral("\r"), QStringLiteral("x"), QString(),
                             QStringLiteral("# Title\n"), QStringLiteral("\n\n")};
    TextStorage storage(QStringLiteral("# Heading\nSome text\r\nmore\n\nend"), body());
    storage.addAttributes(heading(), Range(0, 10));
    TextMirror live;
    live.setStorage(&storage);
    live.document()->setTextWidth(300);
    for (int step = 0; step < 300; ++step) {
        const qsizetype len = storage.length();
        const qsizetype at = std::uniform_int_distribution<qsizetype>(0, len)(random);
        const qsizetype n = std::uniform_int_distribution<qsizetype>(0, std::min<qsizetype>(4, len - at))(random);
        const QString piece = pieces[std::uniform_int_distribution<int>(0, int(pieces.size()) - 1)(random)];
        storage.beginEditing();
        storage.replaceCharacters(Range(at, n), piece);
        if (step % 3 == 0) {
            const qsizetype from = std::uniform_int_distribution<qsizetype>(0, storage.length())(random);
            const qsizetype to = std::min<qsizetype>(storage.length(), from + 12);
            storage.addAttributes(step % 2 ? heading() : body(), Range(from, to - from));
        } else if (step % 3 == 1) {
            // Looks that move nothing (a colour), or only paragraph spacing.
            const qsizetype from = std::uniform_int_distribution<qsizetype>(0, storage.length())(random);
            const Range range(from, std::min<qsizetype>(storage.length(), from + 30) - from);
            if (step % 2) {
                storage.addAttribute(AttributeKey::ForegroundColor, Color(0.1 * (step % 10), 0.3, 0.5), range);
            } else {
                ParagraphStyle spaced = *body().paragraphStyle();
                spaced.paragraphSpacing = 2.5 + step % 7;
                storage.addAttribute(AttributeKey::ParagraphStyle, spaced, range);
            }
        }
        storage.endEditing();
        // As a view would: some blocks laid out in their own layouts (shown),
        // the rest only measured, before the next edit.
        if (step % 4 == 0) {
            const QTextBlock shown = live.document()->findBlock(int(std::min(at, storage.length())));
            live.document()->documentLayout()->blockBoundingRect(shown);
            live.document()->documentLayout()->blockBoundingRect(shown.next());
        }
        if (step % 5 == 0) live.layout()->layoutEverything();
        if (step % 10 != 9) continue;
        const auto fresh = test::mirrorOf(storage, 300);
        ASSERT_EQ(snapshot(live, true), snapshot(*fresh, false)) << "step " << step;
    }
    EXPECT_EQ(live.unexpectedChangeCount(), 0);
}

TEST(TextMirrorTest, ReadyForTheFirstKeyWithoutChangingWhatItShows)
{
    // Made ready while nothing waits, a long text's document and storage
    // hold and show what they did, and the first edit then moves only what
    // lies around the caret.
    QString text;
    while (text.size() < 300'000) text += QStringLiteral("A paragraph of some words, long enough to matter.\n");
    TextStorage storage(text, body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    mirror.document()->setTextWidth(400);
    const QString before = snapshot(mirror, true);
    const int updates = mirror.updateCount();

    storage.prepareForEditing(1000);
    mirror.prepareForEditing();
    mirror.prepareForEditing(); // once is enough
    EXPECT_EQ(snapshot(mirror, true), before);
    EXPECT_EQ(mirror.updateCount(), updates);
    EXPECT_EQ(storage.string(), text);

    storage.prepareForEditing(1000);
    const std::uint64_t moved = storage.charactersMoved();
    storage.replaceCharacters(Range(1000, 0), QStringLiteral("x"));
    EXPECT_LT(storage.charactersMoved() - moved, 100u);
    EXPECT_EQ(mirror.document()->toRawText(), TextMirror::mirroredText(storage.string()));
    EXPECT_EQ(mirror.unexpectedChangeCount(), 0);
    // The string the storage was made from is left as it was.
    EXPECT_EQ(text.at(1000), u'A');
}

TEST(TextMirrorTest, ChangesThatDrawNothingNewLeaveTheDocumentAlone)
{
    struct Mark : AttributeObject {};
    TextStorage storage(QStringLiteral("One sentence. Another one.\nNext"), body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    mirror.document()->setTextWidth(400);
    mirror.layout()->layoutEverything();
    ChangeCounter changes(mirror.document());
    int repaints = 0;
    QObject::connect(mirror.layout(), &QAbstractTextDocumentLayout::update, [&](const QRectF&) { ++repaints; });

    // The engine's own keys.
    storage.addAttribute(AttributeKey::InlineMarkdown, AttributeValue::Object(std::make_shared<Mark>()), Range(0, 3));
    storage.addAttribute(AttributeKey::HighlightColor, Color(0, 0, 0), Range(0, 13));
    // The alpha of the text colour while focus highlighting moves.
    {
        TextMirror::ColourAlphaPass pass;
        storage.addAttribute(AttributeKey::ForegroundColor, Color(0.1, 0.1, 0.1, 0.3), Range(0, 27));
    }
    EXPECT_EQ(repaints, 0);
    EXPECT_EQ(mirror.updateCount(), 1);

    // A real colour change is drawn, and the document's text is not touched.
    storage.addAttribute(AttributeKey::ForegroundColor, Color(1, 0, 0), Range(0, 3));
    EXPECT_GE(repaints, 1);
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(foregroundAt(mirror, 1), QColor(255, 0, 0));
    const QTextBlock first = mirror.document()->begin();
    mirror.document()->documentLayout()->blockBoundingRect(first);
    ASSERT_FALSE(first.layout()->formats().isEmpty());
    EXPECT_EQ(first.layout()->formats().front().format.foreground().color(), QColor(255, 0, 0));
}

TEST(TextMirrorTest, TextColoursKeepTheirAlpha)
{
    // The stylesheet's translucent colours are drawn as given; while focus
    // highlighting is on, the editor asks for them opaque (it dims the text
    // itself).
    TextStorage storage(QStringLiteral("plain [link](url)"), body());
    storage.addAttribute(AttributeKey::ForegroundColor, Color(0.2, 0.4, 0.8, 0.75), Range(6, 11));
    storage.addAttribute(AttributeKey::BackgroundColor, Color(1, 1, 0, 0.25), Range(0, 5));
    TextMirror mirror;
    mirror.setStorage(&storage);
    EXPECT_EQ(foregroundAt(mirror, 8).alpha(), 191);
    EXPECT_EQ(foregroundAt(mirror, 8).blue(), 204);
    EXPECT_EQ(foregroundAt(mirror, 1).alpha(), 255);
    const QTextBlock block = mirror.document()->begin();
    EXPECT_EQ(mirror.charFormats(block).front().format.background().color().alpha(), 64);

    bool highlighting = true;
    mirror.setDrawsTextAlpha([&] { return !highlighting; });
    EXPECT_EQ(foregroundAt(mirror, 8).alpha(), 255);
    highlighting = false;
    EXPECT_EQ(foregroundAt(mirror, 8).alpha(), 191);
}

TEST(TextMirrorTest, ParagraphSpacingAddsLikeTheTextSystem)
{
    TextStorage storage(QStringLiteral("Body\n# Head\nBody"), body());
    storage.addAttributes(heading(), Range(5, 7));
    TextMirror mirror;
    mirror.setStorage(&storage);
    const QTextBlock head = mirror.document()->findBlock(5);
    // 8 after the body paragraph plus 12 before the heading.
    EXPECT_DOUBLE_EQ(mirror.blockFormat(head).topMargin(), 20.0);
    EXPECT_DOUBLE_EQ(mirror.blockFormat(head).bottomMargin(), 0.0);
    EXPECT_DOUBLE_EQ(mirror.blockFormat(head).textIndent(), -20.0);
    EXPECT_DOUBLE_EQ(mirror.blockFormat(head.next()).topMargin(), 4.0);

    mirror.document()->setTextWidth(600);
    auto* layout = mirror.document()->documentLayout();
    const QRectF first = layout->blockBoundingRect(mirror.document()->begin());
    const QRectF second = layout->blockBoundingRect(head);
    EXPECT_NEAR(second.top() - first.bottom(), 20.0, 0.5);
}

TEST(TextMirrorTest, ChangesBehindItsBackAreUndone)
{
    TextMirror::setAssertsOnUnexpectedChange(false);
    TextStorage storage(QStringLiteral("Keep this text"), body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    QTextCursor rogue(mirror.document());
    rogue.setPosition(4);
    rogue.insertText(QStringLiteral(" NOT"));
    EXPECT_EQ(mirror.unexpectedChangeCount(), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(mirror.document()->toRawText(), QStringLiteral("Keep this text"));
    TextMirror::setAssertsOnUnexpectedChange(true);
}

TEST(TextMirrorTest, LayoutAfterEditsMatchesAFreshLayout)
{
    // The layout keeps heights, not positions: after edits anywhere, every
    // block must sit where a fresh layout of the same text puts it.
    QString text;
    for (int i = 0; i < 300; ++i)
        text += (i % 7 == 0 ? QStringLiteral("# Heading %1\n") : QStringLiteral("Words of paragraph %1, long enough to wrap once or twice in a narrow column of text.\n")).arg(i);
    TextStorage storage(text, body());
    for (qsizetype at = 0; at >= 0 && at < storage.length(); at = storage.string().indexOf(u'#', at + 1))
        storage.addAttributes(heading(), Range(at, storage.string().indexOf(u'\n', at) - at + 1));
    TextMirror live;
    live.setStorage(&storage);
    live.document()->setTextWidth(400);
    auto* layout = qobject_cast<EditorLayout*>(live.document()->documentLayout());
    ASSERT_TRUE(layout);
    layout->layoutEverything();

    std::mt19937 random(3);
    for (int step = 0; step < 40; ++step) {
        const qsizetype at = std::uniform_int_distribution<qsizetype>(0, storage.length() - 1)(random);
        storage.replaceCharacters(Range(at, step % 3), step % 2 ? QStringLiteral("\nnew words here ") : QString());
    }
    EXPECT_EQ(layout->laidOutBlockCount(), live.document()->blockCount());

    const auto fresh = test::measuredMirror(storage, 400);
    for (QTextBlock a = live.document()->begin(), b = fresh->document()->begin(); a.isValid(); a = a.next(), b = b.next()) {
        ASSERT_TRUE(b.isValid());
        ASSERT_EQ(layout->blockBoundingRect(a), fresh->document()->documentLayout()->blockBoundingRect(b))
            << "block " << a.blockNumber();
    }
    EXPECT_EQ(layout->documentSize(), fresh->document()->documentLayout()->documentSize());
    // A click finds the character under it.
    const QTextBlock probe = live.document()->findBlockByNumber(120);
    const QRectF r = layout->blockBoundingRect(probe);
    EXPECT_EQ(layout->hitTest(r.topLeft() + QPointF(probe.layout()->lineAt(0).x() + 1, 5), Qt::FuzzyHit),
              probe.position());
}

TEST(TextMirrorTest, ABatchOfReplacementsIsFollowedPieceByPiece)
{
    // Replace all: many replacements at once, some touching line breaks
    // ("\r\n" split or made), some next to each other. The mirror follows
    // them one by one and ends equal to a fresh build; its layout, deferred
    // for the changed paragraphs, ends equal to a fresh layout.
    std::mt19937 random(5);
    const QStringList pieces{QStringLiteral("\n"), QStringLiteral("ab"), QString(), QStringLiteral("\r"),
                             QStringLiteral("long replacement text ")};
    QString text;
    for (int i = 0; i < 200; ++i) text += QStringLiteral("Line %1 with\r\nsome words\n").arg(i);
    TextStorage storage(text, body());
    TextMirror live;
    live.setStorage(&storage);
    live.document()->setTextWidth(400);
    auto* layout = qobject_cast<EditorLayout*>(live.document()->documentLayout());
    layout->layoutEverything();
    for (int round = 0; round < 5; ++round) {
        std::vector<Range> ranges;
        QStringList texts;
        qsizetype at = std::uniform_int_distribution<qsizetype>(0, 20)(random);
        while (at < storage.length()) {
            const qsizetype length = std::min<qsizetype>(storage.length() - at, qsizetype(random() % 3));
            ranges.emplace_back(at, length);
            texts << pieces[int(random() % pieces.size())];
            at += length + qsizetype(random() % 120);
        }
        {
            const TextMirror::DeferredLayout deferred(live);
            storage.replaceCharacters(ranges, texts);
        }
        const auto fresh = test::measuredMirror(storage, 400);
        ASSERT_EQ(snapshot(live, true), snapshot(*fresh, false)) << "round " << round;
        // Shown or measured, a block that went stale is laid out again.
        for (QTextBlock a = live.document()->begin(), b = fresh->document()->begin(); a.isValid();
             a = a.next(), b = b.next())
            ASSERT_EQ(layout->blockBoundingRect(a), fresh->document()->documentLayout()->blockBoundingRect(b))
                << "round " << round << " block " << a.blockNumber();
    }
    EXPECT_EQ(live.unexpectedChangeCount(), 0);
    EXPECT_LT(live.updateCount(), 10); // one update per batch, no rebuild
}

TEST(TextMirrorTest, TheCaretIsDrawnInItsOwnColour)
{
    // Qt's own caret inverts the background; ours takes the caret colour
    // of the palette, whatever the text around it is drawn in.
    TextStorage storage(QStringLiteral("Some words"), body());
    TextMirror mirror;
    mirror.setStorage(&storage);
    mirror.document()->setTextWidth(400);
    QImage image(400, 80, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QAbstractTextDocumentLayout::PaintContext context;
    context.cursorPosition = 4;
    context.palette.setColor(QPalette::Text, QColor(51, 153, 217));
    mirror.document()->documentLayout()->draw(&painter, context);
    painter.end();
    int caretPixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) caretPixels += image.pixelColor(x, y) == QColor(51, 153, 217);
    EXPECT_GT(caretPixels, 10);
}
