#include "document/ShownText.h"

#include "document/TextView.h"
#include "platform/text/TextStorage.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>

namespace lumora::shown_text {

namespace {

const QColor kMisspellingColour(224, 58, 58);
constexpr qreal kWaveWidth = 4;
constexpr qreal kWaveHeight = 3;

// One period of the misspelling wave, drawn once: tiling it under a word is
// far cheaper than stroking a path at every paint.
const QPixmap& waveTile(qreal ratio)
{
    static QPixmap tile;
    if (tile.isNull() || tile.devicePixelRatio() != ratio) {
        tile = QPixmap(QSize(int(kWaveWidth * ratio), int(kWaveHeight * ratio)));
        tile.setDevicePixelRatio(ratio);
        tile.fill(Qt::transparent);
        QPainter p(&tile);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kMisspellingColour, 1.1));
        QPainterPath path(QPointF(0, kWaveHeight - 0.8));
        path.quadTo(QPointF(kWaveWidth / 4, 0.2), QPointF(kWaveWidth / 2, 0.8));
        path.quadTo(QPointF(kWaveWidth * 3 / 4, kWaveHeight), QPointF(kWaveWidth, kWaveHeight - 0.8));
        p.drawPath(path);
    }
    return tile;
}

QPointF scrollOffset(const TextView& view)
{
    return QPointF(-view.horizontalScrollBar()->value(), -view.verticalScrollBar()->value());
}

} // namespace

void forEachBlock(const TextView& view, const QRect& exposed, const std::function<void(const QTextBlock&)>& visit)
{
    QTextDocument* document = view.document();
    QAbstractTextDocumentLayout* layout = document->documentLayout();
    const QPointF offset = scrollOffset(view);
    const int first = view.cursorForPosition(exposed.topLeft()).position();
    for (QTextBlock block = document->findBlock(first); block.isValid(); block = block.next()) {
        const QRectF rect = layout->blockBoundingRect(block).translated(offset);
        if (rect.top() > exposed.bottom()) break;
        if (rect.bottom() < exposed.top()) continue;
        visit(block);
    }
}

Range partOf(const TextView& view, const TextStorage& text, const QTextBlock& block, const QRect& exposed)
{
    const Range whole(block.position(), std::max(0, block.length() - 1));
    const QTextLayout* layout = block.layout();
    if (whole.length <= kLongParagraph || !layout || layout->lineCount() == 0) return whole;
    const qreal top = layout->position().y() - view.verticalScrollBar()->value();
    qsizetype from = -1, to = -1;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (top + line.y() + line.height() < exposed.top() || top + line.y() > exposed.bottom()) continue;
        if (from < 0) from = line.textStart();
        to = line.textStart() + line.textLength();
    }
    if (from < 0) return Range(whole.location, 0);
    qsizetype a = whole.location + from, b = whole.location + to;
    for (int n = 0; a > whole.location && n < 64 && !text.characterAt(a - 1).isSpace(); ++n) --a;
    for (int n = 0; b < whole.end() && n < 64 && !text.characterAt(b).isSpace(); ++n) ++b;
    return Range(a, b - a);
}

void drawMarks(QPainter& painter, const TextView& view, const QTextBlock& block, const std::vector<Range>& ranges,
               Mark mark)
{
    const QTextLayout* layout = block.layout();
    if (!layout || ranges.empty()) return;
    const QPointF position = layout->position() + scrollOffset(view);
    const qsizetype start = block.position();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const qsizetype lineStart = start + line.textStart();
        const qsizetype lineEnd = lineStart + line.textLength();
        for (const Range& r : ranges) {
            const qsizetype from = std::max(r.location, lineStart);
            const qsizetype to = std::min(r.end(), lineEnd);
            if (from >= to) continue;
            const qreal x1 = position.x() + line.cursorToX(int(from - start));
            const qreal x2 = position.x() + line.cursorToX(int(to - start));
            const qreal left = std::min(x1, x2), right = std::max(x1, x2);
            const qreal top = position.y() + line.y();
            if (mark == Mark::wave) {
                // Just below the baseline.
                const qreal y = top + line.ascent() + std::max<qreal>(1.0, line.descent() * 0.35);
                const QPixmap& wave = waveTile(painter.device()->devicePixelRatioF());
                painter.drawTiledPixmap(QRectF(left, y, right - left, kWaveHeight), wave, QPointF(left, 0));
            } else {
                painter.drawRoundedRect(QRectF(left - 1, top, right - left + 2, line.ascent() + line.descent()), 2, 2);
            }
        }
    }
}

} // namespace lumora::shown_text
