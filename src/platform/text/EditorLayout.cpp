#include "platform/text/EditorLayout.h"

#include "platform/text/ShownBlockPainter.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace lumora {

namespace {

constexpr double kFar = 1e9;
// Texts up to this many characters are measured whole at once (a few ms).
constexpr int kShortText = 20000;
// Blocks keep laid-out text layouts of their own, with their shaped glyphs
// (so that a repaint does not shape them again), up to about this many; the
// least recently used give theirs back beyond twice as many.
constexpr int kHeldLayouts = 300;
// A change of at most this many blocks lays them all out at once; a larger
// one lays out at once only what is shown.
constexpr int kEagerBlocks = 200;

} // namespace

// The rest is measured in the background: in slices of a few milliseconds,
// at full pace for a moment after a change (a text of a few hundred
// kilobytes settles at once), then at a quarter of the thread, so that a
// key never waits for more than one slice (see BackgroundWork).
EditorLayout::EditorLayout(QTextDocument* document)
    : QAbstractTextDocumentLayout(document),
      m_work(BackgroundWork::Priority::measuring, [this](const QDeadlineTimer& deadline) { return measureSlice(deadline); })
{
}

EditorLayout::~EditorLayout() = default;

void EditorLayout::setFormatSource(const FormatSource* source)
{
    if (m_source == source) return;
    m_source = source;
    if (!m_blocks.empty()) invalidateAll();
}

// ---- Geometry ------------------------------------------------------------------------

void EditorLayout::readGeometry()
{
    m_page.read(document());
    m_scratch.setFont(document()->defaultFont());
}

QTextBlockFormat EditorLayout::formatOf(const QTextBlock& block) const
{
    return m_source ? m_source->blockFormat(block) : block.blockFormat();
}

std::uint32_t EditorLayout::lineKeyOf(const QTextBlock& block, const QTextBlockFormat& format) const
{
    return lineBreakingKey(format, m_source ? std::optional(m_source->lineBreakingDigest(block)) : std::nullopt);
}

// ---- Laying out -------------------------------------------------------------------------------

// Lays the block out in its own text layout, with its looks from the source.
void EditorLayout::realize(const QTextBlock& block, int index) const
{
    QTextLayout* tl = block.layout();
    const QTextBlockFormat bf = formatOf(block);
    if (m_source) {
        QList<QTextLayout::FormatRange> formats = m_source->charFormats(block);
        // While an input method composes, its text stands in the layout.
        mergePreeditFormats(formats, *tl);
        if (tl->formats() != formats) {
            // Setting a layout's formats marks its block changed for the
            // layout; that note is handed over (and ignored) at once, so that
            // it never joins a real change later.
            ++m_changingFormats;
            tl->setFormats(formats);
            document()->markContentsDirty(block.position(), block.length());
            --m_changingFormats;
        }
    }
    // The glyphs shaped for the lines are kept for painting.
    tl->setCacheEnabled(true);
    const double lines = layoutParagraphLines(tl, block, bf, document()->defaultTextOption(), m_page);
    LayoutBlock& b = m_blocks[index];
    const double margin = index > 0 ? bf.topMargin() : 0.0;
    b.topMargin = float(margin);
    b.lineKey = lineKeyOf(block, bf);
    b.linesKept = false;
    if (!b.held) ++m_heldCount;
    if (!b.measured) --m_unmeasured;
    b.held = b.current = b.measured = true;
    b.wanted = false;
    b.used = ++m_clock;
    m_blocks.setHeight(index, margin + lines);
}

// Finds the block's height with the scratch layout, leaving the block's own
// layout alone.
void EditorLayout::measure(const QTextBlock& block, int index) const
{
    if (!m_source) {
        // The document's own formats: only the block's layout knows them.
        realize(block, index);
        return;
    }
    const QTextBlockFormat bf = formatOf(block);
    LayoutBlock& b = m_blocks[index];
    const std::uint32_t key = lineKeyOf(block, bf);
    double lines = 0.0;
    if (b.linesKept && key == b.lineKey) {
        // Only its spacing may have changed: its lines are those it had.
        lines = double(b.height) - double(b.topMargin);
    } else {
        m_scratch.setText(block.text());
        m_scratch.setFormats(m_source->charFormats(block));
        lines = layoutParagraphLines(&m_scratch, block, bf, document()->defaultTextOption(), m_page);
    }
    const double margin = index > 0 ? bf.topMargin() : 0.0;
    b.topMargin = float(margin);
    b.lineKey = key;
    b.linesKept = false;
    if (!b.measured) --m_unmeasured;
    b.measured = true;
    b.wanted = false;
    m_blocks.setHeight(index, margin + lines);
}

// The block changed (its text, its looks or the width): its height becomes
// an estimate, and its own layout gives up its lines so that nothing reads
// them before it is laid out again.
void EditorLayout::markChanged(const QTextBlock& block, int index) const
{
    LayoutBlock& b = m_blocks[index];
    b.wanted = b.wanted || b.current;
    if (b.current && block.isValid()) block.layout()->clearLayout();
    b.current = false;
    if (b.measured) ++m_unmeasured;
    b.measured = false;
    b.linesKept = false;
    m_firstUnmeasured = std::min(m_firstUnmeasured, index);
}

void EditorLayout::addPending(int index, double oldTop, double oldBottom)
{
    m_blocks[index].pending = true;
    if (m_pendingFirst < 0) {
        m_pendingFirst = m_pendingLast = index;
        m_pendingTop = oldTop;
        m_pendingBottom = oldBottom;
        return;
    }
    m_pendingFirst = std::min(m_pendingFirst, index);
    m_pendingLast = std::max(m_pendingLast, index);
    m_pendingTop = std::min(m_pendingTop, oldTop);
    m_pendingBottom = std::max(m_pendingBottom, oldBottom);
}

// Lays out again what the changes since the last flush asked for, and
// repaints what changed (everything below when heights changed).
void EditorLayout::flushPending()
{
    if (m_batchDepth > 0) return;
    if (m_pendingFirst >= 0) {
        const double before = m_blocks.total();
        const int count = m_blocks.size();
        const int last = std::min(m_pendingLast, count - 1);
        QTextBlock block = document()->findBlockByNumber(m_pendingFirst);
        for (int i = m_pendingFirst; i <= last && block.isValid(); ++i, block = block.next()) {
            LayoutBlock& b = m_blocks[i];
            if (!b.pending) continue;
            b.pending = false;
            if (b.wanted) realize(block, i);
            else measure(block, i);
        }
        const double newBottom = m_blocks.top(last + 1);
        const double from = m_pendingTop;
        const double height = newBottom == m_pendingBottom ? newBottom - from : kFar;
        m_pendingFirst = m_pendingLast = -1;
        emit const_cast<EditorLayout*>(this)->update(QRectF(0, m_page.top + from, kFar, height));
        if (m_blocks.total() != before) reportSize();
    }
    scheduleBackgroundLayout();
    evictIfNeeded();
}

EditorLayout::Batch::Batch(EditorLayout* layout) : m_layout(layout)
{
    if (m_layout) ++m_layout->m_batchDepth;
}

EditorLayout::Batch::~Batch()
{
    if (!m_layout) return;
    --m_layout->m_batchDepth;
    m_layout->flushPending();
}

// Blocks that have not been used for the longest time give their layouts
// back (the lines and the formats; Qt keeps the layout object itself).
void EditorLayout::evictIfNeeded() const
{
    if (m_heldCount <= 2 * kHeldLayouts) return;
    std::vector<std::uint32_t> uses;
    uses.reserve(size_t(m_heldCount));
    for (const LayoutBlock& b : m_blocks)
        if (b.held) uses.push_back(b.used);
    if (int(uses.size()) <= kHeldLayouts) {
        m_heldCount = int(uses.size());
        return;
    }
    std::nth_element(uses.begin(), uses.end() - kHeldLayouts, uses.end());
    const std::uint32_t keepFrom = *(uses.end() - kHeldLayouts);
    int held = 0;
    QTextBlock block = document()->begin();
    for (int i = 0; i < m_blocks.size() && block.isValid(); ++i, block = block.next()) {
        LayoutBlock& b = m_blocks[i];
        if (!b.held) continue;
        QTextLayout* tl = block.layout();
        if (b.used >= keepFrom || !tl->preeditAreaText().isEmpty()) {
            ++held;
            continue;
        }
        tl->clearLayout();
        tl->setCacheEnabled(false);
        // Drops the shaped glyphs (a block's layout takes its text from the
        // block, not from here).
        tl->setText(QString());
        if (m_source) {
            ++m_changingFormats;
            tl->clearFormats();
            document()->markContentsDirty(block.position(), block.length());
            --m_changingFormats;
        }
        b.held = b.current = false;
    }
    m_heldCount = held;
}

void EditorLayout::layoutEverything() const
{
    const int count = m_blocks.size();
    QTextBlock block = document()->findBlockByNumber(m_firstUnmeasured);
    for (int i = m_firstUnmeasured; i < count && block.isValid(); ++i, block = block.next())
        if (!m_blocks[i].measured) measure(block, i);
    m_firstUnmeasured = count;
    m_work.stop();
    reportSize();
}

QTextBlock EditorLayout::blockAt(double y) const
{
    if (m_blocks.empty()) return document()->begin();
    return document()->findBlockByNumber(std::clamp(m_blocks.indexAt(y - m_page.top), 0, m_blocks.size() - 1));
}

int EditorLayout::laidOutBlockCount() const
{
    const int count = m_blocks.size();
    while (m_firstUnmeasured < count && m_blocks[m_firstUnmeasured].measured) ++m_firstUnmeasured;
    return m_firstUnmeasured;
}

void EditorLayout::placeBlock(const QTextBlock& block, int index) const
{
    const double margin = m_blocks[index].topMargin;
    block.layout()->setPosition(QPointF(m_page.left, m_page.top + m_blocks.top(index) + margin));
}

void EditorLayout::scheduleBackgroundLayout() const
{
    if ((m_unmeasured > 0 || m_corrections.waiting()) && !m_work.isAwake())
        m_work.wake(BackgroundWork::Burst::ifIdle);
}

bool EditorLayout::measureSlice(const QDeadlineTimer& deadline)
{
    const int count = m_blocks.size();
    int index = laidOutBlockCount();
    if (index < count) {
        QTextBlock block = document()->findBlockByNumber(index);
        double y = m_blocks.top(index);
        for (; index < count && block.isValid() && !deadline.hasExpired(); ++index, block = block.next()) {
            const double old = m_blocks[index].height;
            if (!m_blocks[index].measured) {
                measure(block, index);
                m_corrections.note(m_page.top, y, old, m_blocks[index].height);
            }
            y += m_blocks[index].height;
        }
    }
    // The view's range follows the new size first; where that clamps its
    // scroll, the clamp is no scroll of the writer's and the anchor holds
    // until the view has followed it.
    const bool shifted = m_corrections.shifted();
    m_corrections.hold(shifted);
    reportSize();
    m_corrections.hold(false);
    if (shifted) emit anchorMoved(m_corrections.takeShift());
    const double from = m_corrections.takeDirtyTop();
    if (from >= 0.0) emit update(QRectF(0, m_page.top + from, kFar, kFar));
    return m_unmeasured > 0;
}

void EditorLayout::reportSize() const
{
    const QSizeF size = documentSize();
    if (size == m_reportedSize) return;
    m_reportedSize = size;
    emit const_cast<EditorLayout*>(this)->documentSizeChanged(size);
}

// ---- Changes ---------------------------------------------------------------------------------

// A text laid out afresh: every block starts with the height of an average
// one; measuring corrects it soon enough (in the background).
void EditorLayout::reset()
{
    readGeometry();
    const QTextDocument* doc = document();
    const int count = doc->blockCount();
    const QTextBlockFormat first = formatOf(doc->begin());
    const double lineHeight =
        first.lineHeightType() == QTextBlockFormat::FixedHeight ? first.lineHeight() : m_page.estimatedLineHeight;
    const double columns = std::max(1.0, m_page.width - m_page.left - m_page.right);
    const double perLine = std::max(1.0, std::floor(columns / m_page.estimatedCharWidth));
    const double average = std::max(1.0, double(doc->characterCount()) / std::max(count, 1));
    m_blocks.assign(count, float(std::ceil(average / perLine) * lineHeight));
    m_firstUnmeasured = 0;
    m_unmeasured = count;
    m_heldCount = 0;
    m_pendingFirst = m_pendingLast = -1;
    // A short text is measured at once: its size is exact from the start
    // and no scroll bar comes and goes while the estimate is corrected.
    if (doc->characterCount() <= kShortText) layoutEverything();
    scheduleBackgroundLayout();
    reportSize();
    emit update(QRectF(0, 0, kFar, kFar));
}

// The looks or the width of every block changed: each keeps its height as
// an estimate; what is shown is laid out again at once.
void EditorLayout::invalidateAll()
{
    readGeometry();
    const int count = m_blocks.size();
    double y = 0.0;
    QTextBlock block = document()->begin();
    for (int i = 0; i < count && block.isValid(); ++i, block = block.next()) {
        const bool shown = m_blocks[i].current && y + m_page.top <= m_drawnBottom
            && y + m_page.top + m_blocks[i].height >= m_drawnTop;
        const double height = m_blocks[i].height;
        markChanged(block, i);
        if (shown || count <= kEagerBlocks) addPending(i, y, y + height);
        y += height;
    }
    m_firstUnmeasured = 0;
    flushPending();
    reportSize();
    emit update(QRectF(0, 0, kFar, kFar));
}

void EditorLayout::invalidate(int from, int to, LooksChange change)
{
    if (m_blocks.empty()) return;
    const QTextDocument* doc = document();
    const int length = doc->characterCount();
    QTextBlock block = doc->findBlock(std::clamp(from, 0, length - 1));
    const int first = block.blockNumber();
    const int last = std::min(doc->findBlock(std::clamp(to, 0, length - 1)).blockNumber(), m_blocks.size() - 1);
    if (first < 0 || last < first) return;
    if (change == LooksChange::colours) {
        // Nothing moves: the blocks keep their heights and lines, and take
        // their new formats when they are next drawn or asked for.
        for (int i = first; i <= last; ++i) m_blocks[i].current = false;
        emit update(QRectF(0, m_page.top + m_blocks.top(first), kFar, m_blocks.top(last + 1) - m_blocks.top(first)));
        return;
    }
    const bool few = last - first + 1 <= kEagerBlocks && !m_deferring;
    double y = m_blocks.top(first);
    for (int i = first; i <= last && block.isValid(); ++i, block = block.next()) {
        LayoutBlock& b = m_blocks[i];
        const double height = b.height;
        const bool shown = b.current && y + m_page.top <= m_drawnBottom && y + m_page.top + height >= m_drawnTop;
        const bool again = few ? (b.measured || b.current) : shown;
        const bool measured = b.measured;
        markChanged(block, i);
        b.linesKept = measured;
        if (again) addPending(i, y, y + height);
        y += height;
    }
    // What is not laid out again at once is repainted when it is.
    if (!few) emit update(QRectF(0, m_page.top + m_blocks.top(first), kFar, y - m_blocks.top(first)));
    flushPending();
}

void EditorLayout::setDeferringChanges(bool deferring)
{
    m_deferring = deferring;
    if (!deferring) scheduleBackgroundLayout();
}

void EditorLayout::refreshSpacing(int position)
{
    if (m_blocks.empty()) return;
    const QTextDocument* doc = document();
    const QTextBlock block = doc->findBlock(std::clamp(position, 0, doc->characterCount() - 1));
    const int index = block.blockNumber();
    if (index <= 0 || index >= m_blocks.size()) return;
    LayoutBlock& b = m_blocks[index];
    if (!b.measured) return; // laid out with the right spacing when it is
    // Compared as stored: a margin of a fraction of a pixel that a float
    // cannot hold exactly would otherwise count as changed on every key,
    // and repaint everything below the paragraph each time.
    const float margin = float(formatOf(block).topMargin());
    if (margin == b.topMargin) return;
    const double y = m_blocks.top(index);
    const double height = b.height;
    m_blocks.setHeight(index, height - b.topMargin + margin);
    b.topMargin = margin;
    // Unmeasured blocks in the same batch are laid out with their margin.
    if (b.pending) return;
    emit update(QRectF(0, m_page.top + y, kFar, kFar));
    reportSize();
}

void EditorLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    if (m_changingFormats > 0) return;
    const QTextDocument* doc = document();
    // Nothing is laid out while the page has no size.
    if (doc->pageSize().isNull()) {
        m_blocks.clear();
        m_unmeasured = 0;
        m_heldCount = 0;
        m_work.stop();
        return;
    }
    const int length = doc->characterCount();
    const int count = doc->blockCount();
    if (m_blocks.empty()) {
        reset();
        return;
    }
    const bool whole = from == 0 && charsAdded >= length;
    if (m_page.differsFrom(document()) || whole) {
        // A new width, or the whole text replaced: with as many blocks as
        // before, the old heights are the best estimates.
        if (count == m_blocks.size()) invalidateAll();
        else reset();
        return;
    }

    const QTextBlock firstBlock = doc->findBlock(std::clamp(from, 0, length - 1));
    const int first = firstBlock.blockNumber();
    const int lastNew = doc->findBlock(std::clamp(from + charsAdded, 0, length - 1)).blockNumber();
    const int delta = count - m_blocks.size();
    const int lastOld = lastNew - delta;
    if (first < 0 || lastNew < first || lastOld < first - 1 || lastOld >= m_blocks.size()) {
        reset();
        return;
    }
    (void)charsRemoved;

    const double oldTop = m_blocks.top(first);
    const double oldBottom = m_blocks.top(lastOld + 1);
    bool current = false;
    bool measured = m_blocks[first].measured;
    for (int i = first; i <= lastOld; ++i) {
        current = current || m_blocks[i].current || m_blocks[i].wanted;
        measured = measured && m_blocks[i].measured;
    }
    // The layouts of removed blocks went with them.
    for (int i = first + 1; i <= lastOld; ++i) {
        if (i <= lastNew) continue;
        if (m_blocks[i].held) --m_heldCount;
        if (!m_blocks[i].measured) --m_unmeasured;
    }
    const int oldSpan = lastOld - first + 1;
    const int newSpan = lastNew - first + 1;
    if (newSpan > oldSpan) {
        m_blocks.insert(first + 1, newSpan - oldSpan);
        m_unmeasured += newSpan - oldSpan;
    }
    else if (newSpan < oldSpan) m_blocks.erase(first + newSpan, oldSpan - newSpan);
    if (m_pendingFirst >= 0 && m_pendingLast > first) m_pendingLast = std::max(first, m_pendingLast + delta);
    if (delta != 0) m_blocks.rebuild(first);

    const bool eager = newSpan <= kEagerBlocks && (measured || current) && !m_deferring;
    // Deferring, only what is shown is laid out at once.
    const bool shown = oldTop + m_page.top <= m_drawnBottom && oldBottom + m_page.top >= m_drawnTop;
    QTextBlock block = firstBlock;
    for (int i = first; i <= lastNew && block.isValid(); ++i, block = block.next()) {
        LayoutBlock& b = m_blocks[i];
        if (i > first && !b.measured && !b.current && b.height == 0.0)
            m_blocks.setHeight(i, m_page.estimate(block, formatOf(block)));
        markChanged(block, i);
        if (current && newSpan <= kEagerBlocks) b.wanted = true;
        if (eager || (b.wanted && (!m_deferring || shown))) addPending(i, oldTop, oldBottom);
    }
    flushPending();
}

// ---- Queries -----------------------------------------------------------------------------------

QSizeF EditorLayout::documentSize() const
{
    return QSizeF(std::max(0.0, m_page.width), m_page.top + m_blocks.total() + m_page.bottom);
}

QRectF EditorLayout::frameBoundingRect(QTextFrame*) const
{
    return QRectF(QPointF(0, 0), documentSize());
}

QRectF EditorLayout::blockBoundingRect(const QTextBlock& block) const
{
    if (!block.isValid() || document()->pageSize().isNull() || m_blocks.empty()) return QRectF();
    const int index = block.blockNumber();
    if (index < 0 || index >= m_blocks.size()) return QRectF();
    LayoutBlock& b = m_blocks[index];
    if (!b.current) {
        const double y = m_blocks.top(index);
        const double old = b.height;
        realize(block, index);
        m_corrections.note(m_page.top, y, old, b.height);
        scheduleBackgroundLayout();
    } else {
        b.used = ++m_clock;
    }
    placeBlock(block, index);
    const QTextLayout* tl = block.layout();
    return QRectF(tl->position(), QSizeF(m_page.contentWidth(), b.height - b.topMargin));
}

int EditorLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    if (m_blocks.empty()) return accuracy == Qt::ExactHit ? -1 : 0;
    // The block under the point, laid out: laying it out may change its
    // height and so which block is under the point.
    int index = std::clamp(m_blocks.indexAt(point.y() - m_page.top), 0, m_blocks.size() - 1);
    QTextBlock block = document()->findBlockByNumber(index);
    for (int tries = 0; tries < 8 && block.isValid() && !m_blocks[index].current; ++tries) {
        blockBoundingRect(block);
        index = std::clamp(m_blocks.indexAt(point.y() - m_page.top), 0, m_blocks.size() - 1);
        block = document()->findBlockByNumber(index);
    }
    if (!block.isValid()) return accuracy == Qt::ExactHit ? -1 : 0;
    blockBoundingRect(block);
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
    const int count = m_blocks.size();
    const int firstIndex = std::clamp(m_blocks.indexAt(clip.top() - m_page.top), 0, count - 1);
    const QTextBlock firstBlock = document()->findBlockByNumber(firstIndex);

    // Lay out what is shown first: a corrected height moves what follows.
    {
        QTextBlock block = firstBlock;
        double y = m_page.top + m_blocks.top(firstIndex);
        for (int i = firstIndex; i < count && block.isValid() && y <= clip.bottom(); ++i, block = block.next()) {
            LayoutBlock& b = m_blocks[i];
            if (!b.current) {
                const double old = b.height;
                realize(block, i);
                m_corrections.note(m_page.top, y - m_page.top, old, b.height);
            } else {
                b.used = ++m_clock;
            }
            y += b.height;
        }
    }
    m_drawnTop = clip.top();
    m_drawnBottom = clip.bottom();

    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    const ShownBlockPainter shown(painter, context, m_page, m_source, m_cursorWidth);
    QTextBlock block = firstBlock;
    double slotTop = m_page.top + m_blocks.top(firstIndex);
    for (int index = firstIndex; block.isValid() && index < count && slotTop <= clip.bottom();
         block = block.next(), ++index) {
        const LayoutBlock& b = m_blocks[index];
        block.layout()->setPosition(QPointF(m_page.left, slotTop + b.topMargin));
        slotTop += b.height;
        shown.paint(block, index + 1 < count ? m_blocks[index + 1].topMargin : 0.0);
    }
    painter->restore();
    // Heights corrected while painting: what lies below, and the size, are
    // brought up to date on the next turn.
    scheduleBackgroundLayout();
    evictIfNeeded();
}

} // namespace lumora
