#include "platform/text/ShownBlockPainter.h"

#include <QPainter>
#include <QTextBlock>

#include <algorithm>
#include <cmath>
#include <vector>

namespace lumora {

namespace {

bool drawsOverText(const QBrush& brush)
{
    return brush.style() != Qt::NoBrush && brush.color().alpha() < 255;
}

} // namespace

ShownBlockPainter::ShownBlockPainter(QPainter* painter, const PaintContext& context, const PageGeometry& page,
                                     const EditorLayout::FormatSource* source, int cursorWidth)
    : m_painter(painter),
      m_context(context),
      m_page(page),
      m_source(source),
      m_cursorWidth(cursorWidth),
      m_highlightedText(context.palette.brush(QPalette::HighlightedText)),
      m_highlight(context.palette.brush(QPalette::Highlight))
{
}

bool ShownBlockPainter::isWritersSelection(const QAbstractTextDocumentLayout::Selection& s) const
{
    return s.format.background() == m_highlight && s.format.foreground() == m_highlightedText;
}

void ShownBlockPainter::paint(const QTextBlock& block, double nextMargin) const
{
    QTextLayout* tl = block.layout();
    const int position = block.position();
    const int length = block.length();
    QList<QTextLayout::FormatRange> overlays;
    std::vector<Fill> under;
    std::vector<Fill> over;
    for (const QAbstractTextDocumentLayout::Selection& s : m_context.selections) {
        const int from = s.cursor.selectionStart();
        const int to = s.cursor.selectionEnd();
        if (to <= position || from >= position + length) continue;
        const QBrush fill = s.format.background();
        if (fill.style() != Qt::NoBrush) (drawsOverText(fill) ? over : under).push_back({from, to, fill});
        if (isWritersSelection(s)) continue;
        QTextCharFormat rest = s.format;
        rest.clearBackground();
        const int a = std::max(from - position, 0);
        const int z = std::min(to - position, length - 1);
        if (z > a && !rest.properties().isEmpty()) overlays.append({a, z - a, rest});
    }

    drawFills(under, block, nextMargin);
    // Without a clip of its own Qt draws every line (a far one would
    // overflow its fixed-point coordinates).
    tl->draw(m_painter, QPointF(0, 0), overlays, m_context.clip.isValid() ? m_context.clip : QRectF());
    drawFills(over, block, nextMargin);

    const int cursor = m_context.cursorPosition;
    if ((cursor >= position && cursor < position + length) || (cursor < -1 && !tl->preeditAreaText().isEmpty())) {
        const int at = cursor < -1 ? tl->preeditAreaPosition() - (cursor + 2) : cursor - position;
        // Drawn here rather than with QTextLayout::drawCursor, which
        // inverts the background instead of using the caret's colour.
        const QTextLine line = tl->lineForTextPosition(at);
        if (line.isValid()) {
            const double x = tl->position().x() + line.cursorToX(at);
            const double y = tl->position().y() + line.y();
            m_painter->fillRect(QRectF(std::round(x), std::floor(y), m_cursorWidth, std::ceil(line.height())),
                                m_context.palette.color(QPalette::Text));
        }
    }
}

void ShownBlockPainter::drawFills(const std::vector<Fill>& fills, const QTextBlock& block, double nextMargin) const
{
    if (fills.empty()) return;
    const QTextLayout* tl = block.layout();
    const int position = block.position();
    const int length = block.length();
    const QTextBlockFormat bf = m_source ? m_source->blockFormat(block) : block.blockFormat();
    const double right = m_page.width - m_page.right - bf.rightMargin();
    const QPointF origin = tl->position();
    for (const Fill& f : fills) {
        for (int i = 0; i < tl->lineCount(); ++i) {
            const QTextLine line = tl->lineAt(i);
            const int lineStart = position + line.textStart();
            const int lineEnd = lineStart + line.textLength();
            const bool lastLine = i + 1 == tl->lineCount();
            // The line's own characters, and for the last line its line break.
            const int reach = lastLine ? lineEnd + 1 : lineEnd;
            if (f.to <= lineStart || f.from >= reach) continue;
            const int a = std::max(f.from, lineStart);
            const int z = std::min(f.to, lineEnd);
            const double x1 = origin.x() + line.cursorToX(a - position);
            const double x2 = origin.x() + line.cursorToX(z - position);
            double left = std::min(x1, x2);
            double rightEdge = std::max(x1, x2);
            const bool onward = f.to > lineEnd;
            if (onward) rightEdge = std::max(rightEdge, right);
            if (f.from < lineStart) left = std::min(left, origin.x() + line.x());
            const LineBox box = lineBox(bf, line);
            const double boxTop = origin.y() + line.y() + box.adjustment;
            double boxBottom = boxTop + box.height;
            if (lastLine && f.to > position + length - 1) boxBottom += nextMargin;
            const QRectF r(QPointF(std::round(left), std::round(boxTop)),
                           QPointF(std::round(rightEdge), std::round(boxBottom)));
            if (r.width() > 0 && r.height() > 0) m_painter->fillRect(r, f.brush);
        }
    }
}

} // namespace lumora
