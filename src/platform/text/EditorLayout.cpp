#include "platform/text/EditorLayout.h"

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumora {

namespace {

constexpr double kFar = 1e9;
// Texts up to this many characters are laid out whole at once (a few ms).
constexpr int kShortText = 20000;
// One background slice of layout, in milliseconds.
constexpr qint64 kSliceMs = 4;

Qt::Alignment visualAlignment(Qt::LayoutDirection direction, Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignHorizontal_Mask)) alignment |= Qt::AlignLeft;
    if (!(alignment & Qt::AlignAbsolute) && (alignment & (Qt::AlignLeft | Qt::AlignRight))) {
        if (direction == Qt::RightToLeft) alignment ^= (Qt::AlignLeft | Qt::AlignRight);
        alignment |= Qt::AlignAbsolute;
    }
    return alignment;
}

} // namespace

EditorLayout::EditorLayout(QTextDocument* document) : QAbstractTextDocumentLayout(document) {}

EditorLayout::~EditorLayout() = default;

// ---- Geometry ------------------------------------------------------------------------

void EditorLayout::readGeometry()
{
    const QTextDocument* doc = document();
    m_pageWidth = doc->pageSize().width();
    const QTextFrameFormat f = doc->rootFrame()->frameFormat();
    const double edge = f.border() + f.padding();
    m_left = f.leftMargin() + edge;
    m_top = f.topMargin() + edge;
    m_right = f.rightMargin() + edge;
    m_bottom = f.bottomMargin() + edge;
    const QFontMetricsF metrics(doc->defaultFont());
    m_estimatedLineHeight = std::max(1.0, metrics.lineSpacing());
    m_estimatedCharWidth = std::max(1.0, metrics.averageCharWidth());
}

bool EditorLayout::geometryChanged() const
{
    const QTextDocument* doc = document();
    const QTextFrameFormat f = doc->rootFrame()->frameFormat();
    const double edge = f.border() + f.padding();
    return doc->pageSize().width() != m_pageWidth || f.leftMargin() + edge != m_left
        || f.topMargin() + edge != m_top || f.rightMargin() + edge != m_right || f.bottomMargin() + edge != m_bottom;
}

double EditorLayout::estimate(const QTextBlock& block) const
{
    const QTextBlockFormat bf = block.blockFormat();
    const double lineHeight =
        bf.lineHeightType() == QTextBlockFormat::FixedHeight ? bf.lineHeight() : m_estimatedLineHeight;
    const double width = std::max(1.0, m_pageWidth - m_left - m_right - bf.leftMargin() - bf.rightMargin());
    const double perLine = std::max(1.0, std::floor(width / m_estimatedCharWidth));
    const double lines = std::max(1.0, std::ceil((block.length() - 1) / perLine));
    return (block.blockNumber() > 0 ? bf.topMargin() : 0.0) + lines * lineHeight;
}

// ---- Heights and positions -----------------------------------------------------------------

void EditorLayout::setHeight(int index, double height) const
{
    Block& b = m_blocks[size_t(index)];
    const int chunk = index / kChunk;
    m_chunkSums[size_t(chunk)] += height - b.height;
    b.height = height;
    m_topsValid = std::min(m_topsValid, chunk + 1);
}

void EditorLayout::rebuildChunks(int fromBlock) const
{
    const int count = int(m_blocks.size());
    const int chunks = (count + kChunk - 1) / kChunk;
    m_chunkSums.resize(size_t(std::max(chunks, 1)));
    m_chunkTops.resize(size_t(std::max(chunks, 1)) + 1);
    const int firstChunk = std::min(fromBlock / kChunk, std::max(chunks - 1, 0));
    for (int c = firstChunk; c < chunks; ++c) {
        double sum = 0.0;
        const int end = std::min(count, (c + 1) * kChunk);
        for (int i = c * kChunk; i < end; ++i) sum += m_blocks[size_t(i)].height;
        m_chunkSums[size_t(c)] = sum;
    }
    if (chunks == 0) m_chunkSums[0] = 0.0;
    m_chunkTops[0] = 0.0;
    m_topsValid = std::max(1, std::min(m_topsValid, firstChunk + 1));
}

// Where block index starts, below the root frame's top margin.
double EditorLayout::top(int index) const
{
    const int chunk = index / kChunk;
    const int chunks = int(m_chunkSums.size());
    const int needed = std::min(chunk, chunks);
    while (m_topsValid <= needed) {
        m_chunkTops[size_t(m_topsValid)] = m_chunkTops[size_t(m_topsValid - 1)] + m_chunkSums[size_t(m_topsValid - 1)];
        ++m_topsValid;
    }
    double y = m_chunkTops[size_t(needed)];
    const int end = std::min(index, int(m_blocks.size()));
    for (int i = needed * kChunk; i < end; ++i) y += m_blocks[size_t(i)].height;
    return y;
}

double EditorLayout::totalHeight() const
{
    return top(int(m_blocks.size()));
}

int EditorLayout::blockIndexAt(double y) const
{
    const int count = int(m_blocks.size());
    if (count == 0) return -1;
    top(count); // all chunk tops current
    const int chunks = int(m_chunkSums.size());
    // The last chunk that starts at or above y.
    int lo = 0;
    int hi = chunks - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (m_chunkTops[size_t(mid)] <= y) lo = mid;
        else hi = mid - 1;
    }
    double at = m_chunkTops[size_t(lo)];
    const int end = std::min(count, (lo + 1) * kChunk);
    for (int i = lo * kChunk; i < end; ++i) {
        at += m_blocks[size_t(i)].height;
        if (y < at) return i;
    }
    return end - 1;
}

// ---- Laying out -------------------------------------------------------------------------------

double EditorLayout::layoutBlock(const QTextBlock& block, int index) const
{
    QTextLayout* tl = block.layout();
    const QTextBlockFormat bf = block.blockFormat();
    const Qt::LayoutDirection direction = block.textDirection();
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(direction);
    option.setTabs(bf.tabPositions());
    Qt::Alignment alignment = option.alignment();
    if (bf.hasProperty(QTextFormat::BlockAlignment)) alignment = bf.alignment();
    option.setAlignment(visualAlignment(direction, alignment));
    if (bf.nonBreakableLines() || m_pageWidth < 0) option.setWrapMode(QTextOption::ManualWrap);
    tl->setTextOption(option);

    const double contentWidth = std::max(0.0, m_pageWidth - m_left - m_right);
    const double indent = bf.textIndent();
    const auto heightType = QTextBlockFormat::LineHeightTypes(bf.lineHeightType());
    double y = 0.0;
    bool first = true;
    tl->beginLayout();
    for (;;) {
        QTextLine line = tl->createLine();
        if (!line.isValid()) break;
        line.setLeadingIncluded(true);
        double left = bf.leftMargin();
        double right = bf.rightMargin();
        if (first) (direction == Qt::RightToLeft ? right : left) += indent;
        line.setLineWidth(std::max(0.0, contentWidth - left - right));

        // Line heights as QTextDocumentLayout computes them.
        const double raw = std::ceil(line.ascent() + line.descent() + line.leading());
        double height = raw;
        double adjustment = 0.0;
        switch (heightType) {
        case QTextBlockFormat::FixedHeight:
            height = bf.lineHeight();
            adjustment = line.ascent() + std::max(line.leading(), 0.0) - height * 0.8;
            break;
        case QTextBlockFormat::MinimumHeight:
            height = std::max(raw, bf.lineHeight());
            adjustment = line.height() - height;
            break;
        case QTextBlockFormat::ProportionalHeight: height = raw * bf.lineHeight() / 100.0; break;
        case QTextBlockFormat::LineDistanceHeight: height = raw + bf.lineHeight(); break;
        default: break;
        }
        line.setPosition(QPointF(left, y - adjustment));
        y += height;
        first = false;
    }
    tl->endLayout();

    const double total = (index > 0 ? bf.topMargin() : 0.0) + y;
    setHeight(index, total);
    m_blocks[size_t(index)].laidOut = true;
    return total;
}

void EditorLayout::refresh(const QTextBlock& block, int index) const
{
    if (index < m_frontier && !m_blocks[size_t(index)].laidOut) layoutBlock(block, index);
}

void EditorLayout::setDeferringChanges(bool deferring)
{
    m_deferring = deferring;
    if (!deferring) scheduleBackgroundLayout();
}

void EditorLayout::ensureLaidOut(int index) const
{
    const int count = int(m_blocks.size());
    if (m_frontier > index && index >= 0) {
        if (m_staleFrom >= 0 && index >= m_staleFrom && !m_blocks[size_t(index)].laidOut)
            layoutBlock(document()->findBlockByNumber(index), index);
        return;
    }
    if (m_frontier >= count) return;
    QTextBlock block = document()->findBlockByNumber(m_frontier);
    while (m_frontier <= index && m_frontier < count && block.isValid()) {
        if (!m_blocks[size_t(m_frontier)].laidOut) layoutBlock(block, m_frontier);
        ++m_frontier;
        block = block.next();
    }
    scheduleBackgroundLayout();
}

void EditorLayout::ensureLaidOutTo(double y) const
{
    const int count = int(m_blocks.size());
    if (m_frontier >= count) return;
    double at = m_top + top(m_frontier);
    QTextBlock block = document()->findBlockByNumber(m_frontier);
    while (m_frontier < count && at <= y && block.isValid()) {
        at += m_blocks[size_t(m_frontier)].laidOut ? m_blocks[size_t(m_frontier)].height
                                                    : layoutBlock(block, m_frontier);
        ++m_frontier;
        block = block.next();
    }
    scheduleBackgroundLayout();
}

void EditorLayout::layoutEverything() const
{
    ensureLaidOut(int(m_blocks.size()) - 1);
    reportSize();
}

void EditorLayout::placeBlock(const QTextBlock& block, int index) const
{
    const double margin = index > 0 ? block.blockFormat().topMargin() : 0.0;
    block.layout()->setPosition(QPointF(m_left, m_top + top(index) + margin));
}

void EditorLayout::scheduleBackgroundLayout() const
{
    if ((m_frontier < int(m_blocks.size()) || m_staleFrom >= 0) && !m_timer.isActive())
        m_timer.start(0, const_cast<EditorLayout*>(this));
}

void EditorLayout::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QAbstractTextDocumentLayout::timerEvent(event);
        return;
    }
    const int count = int(m_blocks.size());
    QElapsedTimer slice;
    slice.start();
    // Stale blocks first, from the first of them up to the frontier.
    if (m_staleFrom >= 0) {
        QTextBlock stale = document()->findBlockByNumber(m_staleFrom);
        while (m_staleFrom < m_frontier && stale.isValid() && slice.elapsed() < kSliceMs) {
            if (!m_blocks[size_t(m_staleFrom)].laidOut) layoutBlock(stale, m_staleFrom);
            ++m_staleFrom;
            stale = stale.next();
        }
        if (m_staleFrom >= m_frontier || !stale.isValid()) m_staleFrom = -1;
    }
    QTextBlock block = document()->findBlockByNumber(m_frontier);
    while (m_frontier < count && block.isValid() && slice.elapsed() < kSliceMs) {
        if (!m_blocks[size_t(m_frontier)].laidOut) layoutBlock(block, m_frontier);
        ++m_frontier;
        block = block.next();
    }
    if (m_frontier >= count && m_staleFrom < 0) m_timer.stop();
    reportSize();
}

void EditorLayout::reportSize() const
{
    const QSizeF size = documentSize();
    if (size == m_reportedSize) return;
    m_reportedSize = size;
    emit const_cast<EditorLayout*>(this)->documentSizeChanged(size);
}

// ---- Changes ---------------------------------------------------------------------------------

void EditorLayout::reset()
{
    readGeometry();
    const QTextDocument* doc = document();
    // Every block starts with the height of an average one; laying out
    // corrects it soon enough (the text is laid out in the background).
    const int count = doc->blockCount();
    const QTextBlockFormat first = doc->begin().blockFormat();
    const double lineHeight =
        first.lineHeightType() == QTextBlockFormat::FixedHeight ? first.lineHeight() : m_estimatedLineHeight;
    const double perLine = std::max(1.0, std::floor(std::max(1.0, m_pageWidth - m_left - m_right) / m_estimatedCharWidth));
    const double average = std::max(1.0, double(doc->characterCount()) / std::max(count, 1));
    m_blocks.assign(size_t(count), Block{std::ceil(average / perLine) * lineHeight, false});
    m_frontier = 0;
    m_staleFrom = -1;
    m_topsValid = 1;
    rebuildChunks(0);
    // A short text is laid out at once: its size is exact from the start
    // and no scroll bar comes and goes while the estimate is corrected.
    if (doc->characterCount() <= kShortText) ensureLaidOut(count - 1);
    scheduleBackgroundLayout();
    reportSize();
    emit update(QRectF(0, 0, kFar, kFar));
}

void EditorLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    const QTextDocument* doc = document();
    // Nothing is laid out while the page has no size (the mirror uses that to
    // make several changes and lay out once, lazily, afterwards).
    if (doc->pageSize().isNull()) {
        m_blocks.clear();
        m_frontier = 0;
        m_timer.stop();
        return;
    }
    const int length = doc->characterCount();
    const int count = doc->blockCount();
    if (m_blocks.empty() || geometryChanged() || (from == 0 && charsRemoved == 0 && charsAdded >= length)) {
        reset();
        return;
    }

    const QTextBlock firstBlock = doc->findBlock(std::clamp(from, 0, length - 1));
    const int first = firstBlock.blockNumber();
    const int lastNew = doc->findBlock(std::clamp(from + charsAdded, 0, length - 1)).blockNumber();
    const int delta = count - int(m_blocks.size());
    const int lastOld = lastNew - delta;
    if (first < 0 || lastNew < first || lastOld < first - 1 || lastOld >= int(m_blocks.size())) {
        reset();
        return;
    }

    const double before = totalHeight();
    const double oldTop = top(first);
    const double oldBottom = top(lastOld + 1);
    const int oldFrontier = m_frontier;
    const int oldSpan = lastOld - first + 1;
    const int newSpan = lastNew - first + 1;
    if (newSpan > oldSpan) m_blocks.insert(m_blocks.begin() + first, size_t(newSpan - oldSpan), Block{});
    else if (newSpan < oldSpan) m_blocks.erase(m_blocks.begin() + first, m_blocks.begin() + first + (oldSpan - newSpan));
    if (delta != 0) rebuildChunks(first);

    QTextBlock block = firstBlock;
    for (int i = first; i <= lastNew && block.isValid(); ++i, block = block.next()) {
        m_blocks[size_t(i)].laidOut = false;
        if (first >= oldFrontier) {
            setHeight(i, estimate(block));
        } else if (m_deferring) {
            // Kept at its height (a new block at an estimate) until needed.
            if (newSpan != oldSpan) setHeight(i, estimate(block));
            m_staleFrom = m_staleFrom < 0 ? i : std::min(m_staleFrom, i);
        } else {
            layoutBlock(block, i);
        }
    }
    if (m_staleFrom >= 0 && delta != 0 && m_staleFrom > first) m_staleFrom = first;
    if (first < oldFrontier) m_frontier = std::max(oldFrontier + delta, lastNew + 1);
    else m_frontier = std::min(m_frontier, first);

    // Repaint what changed; everything below only when it moved.
    const double newBottom = top(lastNew + 1);
    const double height = newBottom == oldBottom ? newBottom - oldTop : kFar;
    emit update(QRectF(0, m_top + oldTop, kFar, height));
    if (totalHeight() != before) reportSize();
    scheduleBackgroundLayout();
}

// ---- Queries -----------------------------------------------------------------------------------

QSizeF EditorLayout::documentSize() const
{
    return QSizeF(std::max(0.0, m_pageWidth), m_top + totalHeight() + m_bottom);
}

QRectF EditorLayout::frameBoundingRect(QTextFrame*) const
{
    return QRectF(QPointF(0, 0), documentSize());
}

QRectF EditorLayout::blockBoundingRect(const QTextBlock& block) const
{
    if (!block.isValid() || document()->pageSize().isNull() || m_blocks.empty()) return QRectF();
    const int index = block.blockNumber();
    if (index < 0 || index >= int(m_blocks.size())) return QRectF();
    ensureLaidOut(index);
    placeBlock(block, index);
    const double margin = index > 0 ? block.blockFormat().topMargin() : 0.0;
    const QTextLayout* tl = block.layout();
    return QRectF(tl->position(), QSizeF(std::max(0.0, m_pageWidth - m_left - m_right),
                                         m_blocks[size_t(index)].height - margin));
}

int EditorLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    if (m_blocks.empty()) return accuracy == Qt::ExactHit ? -1 : 0;
    ensureLaidOutTo(point.y());
    int index = blockIndexAt(point.y() - m_top);
    index = std::clamp(index, 0, std::max(0, m_frontier - 1));
    const QTextBlock block = document()->findBlockByNumber(index);
    if (!block.isValid()) return accuracy == Qt::ExactHit ? -1 : 0;
    refresh(block, index);
    placeBlock(block, index);
    const QTextLayout* tl = block.layout();
    const QPointF local = point - tl->position();
    const int lines = tl->lineCount();
    if (lines == 0) return block.position();
    int i = 0;
    while (i < lines - 1 && local.y() >= tl->lineAt(i).y() + tl->lineAt(i).height()) ++i;
    const QTextLine line = tl->lineAt(i);
    if (accuracy == Qt::ExactHit) {
        const QRectF r = line.naturalTextRect();
        if (!r.contains(local)) return -1;
    }
    const int position = line.xToCursor(local.x(), QTextLine::CursorBetweenCharacters);
    return block.position() + std::clamp(position, 0, std::max(0, block.length() - 1));
}

// ---- Drawing --------------------------------------------------------------------------------------

void EditorLayout::draw(QPainter* painter, const PaintContext& context)
{
    if (m_blocks.empty()) return;
    const QRectF clip = context.clip.isValid() ? context.clip : QRectF(0, 0, kFar, kFar);
    ensureLaidOutTo(clip.bottom());
    int index = std::clamp(blockIndexAt(clip.top() - m_top), 0, int(m_blocks.size()) - 1);
    QTextBlock block = document()->findBlockByNumber(index);
    double slotTop = m_top + top(index);
    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    for (; block.isValid() && index < m_frontier && slotTop <= clip.bottom(); block = block.next(), ++index) {
        refresh(block, index);
        const double height = m_blocks[size_t(index)].height;
        const double margin = index > 0 ? block.blockFormat().topMargin() : 0.0;
        QTextLayout* tl = block.layout();
        tl->setPosition(QPointF(m_left, slotTop + margin));
        slotTop += height;

        const int position = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> selections;
        for (const Selection& s : context.selections) {
            const int from = std::max(s.cursor.selectionStart() - position, 0);
            // The line break itself is shown by filling the rest of the line.
            const int to = std::min(s.cursor.selectionEnd() - position, length - 1);
            if (to <= from) continue;
            QTextLayout::FormatRange range;
            range.start = from;
            range.length = to - from;
            range.format = s.format;
            selections.append(range);
        }
        tl->draw(painter, QPointF(0, 0), selections, clip);
        // A selection that goes on past the line break fills the rest of the
        // last line, so that selected lines read as one stretch.
        for (const Selection& s : context.selections) {
            if (s.cursor.selectionStart() > position + length - 1 || s.cursor.selectionEnd() <= position + length - 1)
                continue;
            if (tl->lineCount() == 0) continue;
            const QTextLine last = tl->lineAt(tl->lineCount() - 1);
            // Qt's selection of the line ends where its end cursor stands,
            // rounded out to whole pixels.
            const double from = std::ceil(tl->position().x() + last.cursorToX(last.textStart() + last.textLength()));
            const double to = m_pageWidth - m_right - block.blockFormat().rightMargin();
            const double top = std::floor(tl->position().y() + last.y());
            const double bottom = std::ceil(tl->position().y() + last.y() + last.height());
            if (to > from) painter->fillRect(QRectF(from, top, to - from, bottom - top), s.format.background());
        }

        const int cursor = context.cursorPosition;
        if ((cursor >= position && cursor < position + length)
            || (cursor < -1 && !tl->preeditAreaText().isEmpty())) {
            const int at = cursor < -1 ? tl->preeditAreaPosition() - (cursor + 2) : cursor - position;
            // Drawn here rather than with QTextLayout::drawCursor, which
            // inverts the background instead of using the caret's colour.
            const QTextLine line = tl->lineForTextPosition(at);
            if (line.isValid()) {
                const double x = tl->position().x() + line.cursorToX(at);
                const double y = tl->position().y() + line.y();
                painter->fillRect(QRectF(std::round(x), std::floor(y), m_cursorWidth, std::ceil(line.height())),
                                  context.palette.color(QPalette::Text));
            }
        }
    }
    painter->restore();
}

} // namespace lumora
