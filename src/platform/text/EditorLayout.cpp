#include "platform/text/EditorLayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextFrame>

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
// Paragraphs longer than this have their break opportunities listed before
// their lines are laid out.
constexpr int kLongParagraph = 4096;

Qt::Alignment visualAlignment(Qt::LayoutDirection direction, Qt::Alignment alignment)
{
    if (!(alignment & Qt::AlignHorizontal_Mask)) alignment |= Qt::AlignLeft;
    if (!(alignment & Qt::AlignAbsolute) && (alignment & (Qt::AlignLeft | Qt::AlignRight))) {
        if (direction == Qt::RightToLeft) alignment ^= (Qt::AlignLeft | Qt::AlignRight);
        alignment |= Qt::AlignAbsolute;
    }
    return alignment;
}

// A line's box: its height with the paragraph's line spacing, and how far
// the box's top lies below the line's own top (the line is placed that much
// higher).
struct LineBox {
    double adjustment = 0.0;
    double height = 0.0;
};

// Line heights as QTextDocumentLayout computes them.
LineBox lineBox(const QTextBlockFormat& format, const QTextLine& line)
{
    const double raw = std::ceil(line.ascent() + line.descent() + line.leading());
    LineBox box{0.0, raw};
    switch (QTextBlockFormat::LineHeightTypes(format.lineHeightType())) {
    case QTextBlockFormat::FixedHeight:
        box.height = format.lineHeight();
        box.adjustment = line.ascent() + std::max(line.leading(), 0.0) - box.height * 0.8;
        break;
    case QTextBlockFormat::MinimumHeight:
        box.height = std::max(raw, format.lineHeight());
        box.adjustment = line.height() - box.height;
        break;
    case QTextBlockFormat::ProportionalHeight: box.height = raw * format.lineHeight() / 100.0; break;
    case QTextBlockFormat::LineDistanceHeight: box.height = raw + format.lineHeight(); break;
    default: break;
    }
    return box;
}

// A selection's fill is drawn under the text when it is opaque (the text
// stays readable on it) and over the text when it is translucent (it then
// shows on text backgrounds too, and tints the text without hiding it).
bool drawsOverText(const QBrush& brush)
{
    return brush.style() != Qt::NoBrush && brush.color().alpha() < 255;
}

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
    m_scratch.setFont(doc->defaultFont());
}

bool EditorLayout::geometryChanged() const
{
    const QTextDocument* doc = document();
    const QTextFrameFormat f = doc->rootFrame()->frameFormat();
    const double edge = f.border() + f.padding();
    return doc->pageSize().width() != m_pageWidth || f.leftMargin() + edge != m_left
        || f.topMargin() + edge != m_top || f.rightMargin() + edge != m_right || f.bottomMargin() + edge != m_bottom;
}

QTextBlockFormat EditorLayout::formatOf(const QTextBlock& block) const
{
    return m_source ? m_source->blockFormat(block) : block.blockFormat();
}

double EditorLayout::estimate(const QTextBlock& block) const
{
    const QTextBlockFormat bf = formatOf(block);
    const double lineHeight =
        bf.lineHeightType() == QTextBlockFormat::FixedHeight ? bf.lineHeight() : m_estimatedLineHeight;
    const double width = std::max(1.0, m_pageWidth - m_left - m_right - bf.leftMargin() - bf.rightMargin());
    const double perLine = std::max(1.0, std::floor(width / m_estimatedCharWidth));
    const double lines = std::max(1.0, std::ceil((block.length() - 1) / perLine));
    return (block.blockNumber() > 0 ? bf.topMargin() : 0.0) + lines * lineHeight;
}

// What decides where a paragraph's lines break, besides its text, folded
// into 24 bits: its indents, line height, alignment and tab stops, and the
// source's digest of its character looks. Two blocks with the same key
// break lines alike (a collision, one in sixteen million, leaves a height
// that laying the block out for painting corrects).
std::uint32_t EditorLayout::lineKeyOf(const QTextBlock& block, const QTextBlockFormat& f) const
{
    size_t h = qHashMulti(0, f.leftMargin(), f.rightMargin(), f.textIndent(), f.lineHeight(), f.lineHeightType(),
                          int(f.alignment()), f.nonBreakableLines(), f.indent());
    for (const QTextOption::Tab& tab : f.tabPositions()) h = qHashMulti(h, tab.position, int(tab.type), tab.delimiter);
    if (m_source) h = qHashMulti(h, m_source->lineBreakingDigest(block));
    const std::uint64_t x = std::uint64_t(h);
    return std::uint32_t((x ^ (x >> 24) ^ (x >> 48)) & 0xFFFFFFu);
}

// ---- Heights and positions -----------------------------------------------------------------

void EditorLayout::setHeight(int index, double height) const
{
    Block& b = m_blocks[size_t(index)];
    const int chunk = index / kChunk;
    const float stored = float(height);
    m_chunkSums[size_t(chunk)] += double(stored) - double(b.height);
    b.height = stored;
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

// Lays out the lines of layout (the block's own or the scratch one) for the
// block's paragraph format; returns their height.
double EditorLayout::layoutLines(QTextLayout* tl, const QTextBlock& block, const QTextBlockFormat& bf) const
{
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

    // Qt looks for the end of a word before it breaks one that does not fit
    // a line, and does so again for each line of it: a word as long as the
    // paragraph costs quadratic time. Where the next break opportunity lies
    // beyond what any line can hold, the line breaks anywhere instead, as Qt
    // would end up doing.
    const QTextOption::WrapMode wrap = option.wrapMode();
    std::vector<int> breaks;
    qsizetype textLength = 0;
    // Further than four lines of average characters: no line holds that much.
    const double reach = std::max(256.0, 4.0 * contentWidth / m_estimatedCharWidth);
    if (wrap == QTextOption::WrapAtWordBoundaryOrAnywhere && block.length() > kLongParagraph) {
        const QString text = block.text();
        textLength = text.size();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
        for (qsizetype p = finder.toNextBoundary(); p > 0; p = finder.toNextBoundary()) breaks.push_back(int(p));
    }
    bool anywhere = false;
    int lineStart = 0;

    double y = 0.0;
    bool first = true;
    tl->beginLayout();
    for (;;) {
        if (textLength > 0) {
            const auto next = std::upper_bound(breaks.begin(), breaks.end(), lineStart);
            const qsizetype to = next == breaks.end() ? textLength : *next;
            const bool far = double(to - lineStart) > reach;
            if (far != anywhere) {
                option.setWrapMode(far ? QTextOption::WrapAnywhere : wrap);
                tl->setTextOption(option);
                anywhere = far;
            }
        }
        QTextLine line = tl->createLine();
        if (!line.isValid()) break;
        line.setLeadingIncluded(true);
        double left = bf.leftMargin();
        double right = bf.rightMargin();
        if (first) (direction == Qt::RightToLeft ? right : left) += indent;
        line.setLineWidth(std::max(0.0, contentWidth - left - right));
        const LineBox box = lineBox(bf, line);
        line.setPosition(QPointF(left, y - box.adjustment));
        y += box.height;
        first = false;
        lineStart = line.textStart() + line.textLength();
    }
    tl->endLayout();
    return y;
}

// Lays the block out in its own text layout, with its looks from the source.
void EditorLayout::realize(const QTextBlock& block, int index) const
{
    QTextLayout* tl = block.layout();
    const QTextBlockFormat bf = formatOf(block);
    if (m_source) {
        QList<QTextLayout::FormatRange> formats = m_source->charFormats(block);
        // While an input method composes, its text stands in the layout: the
        // formats after it move along, and those inside it are its own.
        const QString preedit = tl->preeditAreaText();
        if (!preedit.isEmpty()) {
            const int at = tl->preeditAreaPosition();
            const int n = int(preedit.size());
            QList<QTextLayout::FormatRange> merged;
            for (const QTextLayout::FormatRange& own : tl->formats())
                if (own.start >= at && own.start < at + n) merged.append(own);
            for (QTextLayout::FormatRange range : std::as_const(formats)) {
                if (range.start + range.length <= at) {
                    merged.append(range);
                } else if (range.start >= at) {
                    range.start += n;
                    merged.append(range);
                } else {
                    QTextLayout::FormatRange after = range;
                    range.length = at - range.start;
                    after.start = at + n;
                    after.length -= range.length;
                    merged.append(range);
                    merged.append(after);
                }
            }
            std::sort(merged.begin(), merged.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
            formats = merged;
        }
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
    const double lines = layoutLines(tl, block, bf);
    Block& b = m_blocks[size_t(index)];
    const double margin = index > 0 ? bf.topMargin() : 0.0;
    b.topMargin = float(margin);
    b.lineKey = lineKeyOf(block, bf);
    b.linesKept = false;
    if (!b.held) ++m_heldCount;
    if (!b.measured) --m_unmeasured;
    b.held = b.current = b.measured = true;
    b.wanted = false;
    b.used = ++m_clock;
    setHeight(index, margin + lines);
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
    Block& b = m_blocks[size_t(index)];
    const std::uint32_t key = lineKeyOf(block, bf);
    double lines = 0.0;
    if (b.linesKept && key == b.lineKey) {
        // Only its spacing may have changed: its lines are those it had.
        lines = double(b.height) - double(b.topMargin);
    } else {
        m_scratch.setText(block.text());
        m_scratch.setFormats(m_source->charFormats(block));
        lines = layoutLines(&m_scratch, block, bf);
    }
    const double margin = index > 0 ? bf.topMargin() : 0.0;
    b.topMargin = float(margin);
    b.lineKey = key;
    b.linesKept = false;
    if (!b.measured) --m_unmeasured;
    b.measured = true;
    b.wanted = false;
    setHeight(index, margin + lines);
}

// The block changed (its text, its looks or the width): its height becomes
// an estimate, and its own layout gives up its lines so that nothing reads
// them before it is laid out again.
void EditorLayout::markChanged(const QTextBlock& block, int index) const
{
    Block& b = m_blocks[size_t(index)];
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
    m_blocks[size_t(index)].pending = true;
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
        const double before = totalHeight();
        const int count = int(m_blocks.size());
        const int last = std::min(m_pendingLast, count - 1);
        QTextBlock block = document()->findBlockByNumber(m_pendingFirst);
        for (int i = m_pendingFirst; i <= last && block.isValid(); ++i, block = block.next()) {
            Block& b = m_blocks[size_t(i)];
            if (!b.pending) continue;
            b.pending = false;
            if (b.wanted) realize(block, i);
            else measure(block, i);
        }
        const double newBottom = top(last + 1);
        const double from = m_pendingTop;
        const double height = newBottom == m_pendingBottom ? newBottom - from : kFar;
        m_pendingFirst = m_pendingLast = -1;
        emit const_cast<EditorLayout*>(this)->update(QRectF(0, m_top + from, kFar, height));
        if (totalHeight() != before) reportSize();
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
    for (const Block& b : m_blocks)
        if (b.held) uses.push_back(b.used);
    if (int(uses.size()) <= kHeldLayouts) {
        m_heldCount = int(uses.size());
        return;
    }
    std::nth_element(uses.begin(), uses.end() - kHeldLayouts, uses.end());
    const std::uint32_t keepFrom = *(uses.end() - kHeldLayouts);
    int held = 0;
    QTextBlock block = document()->begin();
    for (size_t i = 0; i < m_blocks.size() && block.isValid(); ++i, block = block.next()) {
        Block& b = m_blocks[i];
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
    const int count = int(m_blocks.size());
    QTextBlock block = document()->findBlockByNumber(m_firstUnmeasured);
    for (int i = m_firstUnmeasured; i < count && block.isValid(); ++i, block = block.next())
        if (!m_blocks[size_t(i)].measured) measure(block, i);
    m_firstUnmeasured = count;
    m_work.stop();
    reportSize();
}

QTextBlock EditorLayout::blockAt(double y) const
{
    if (m_blocks.empty()) return document()->begin();
    return document()->findBlockByNumber(std::clamp(blockIndexAt(y - m_top), 0, int(m_blocks.size()) - 1));
}

int EditorLayout::laidOutBlockCount() const
{
    const int count = int(m_blocks.size());
    while (m_firstUnmeasured < count && m_blocks[size_t(m_firstUnmeasured)].measured) ++m_firstUnmeasured;
    return m_firstUnmeasured;
}

void EditorLayout::placeBlock(const QTextBlock& block, int index) const
{
    const double margin = m_blocks[size_t(index)].topMargin;
    block.layout()->setPosition(QPointF(m_left, m_top + top(index) + margin));
}

void EditorLayout::setAnchor(double y)
{
    if (m_holdingAnchor) return;
    if (std::lround(m_anchor) == std::lround(y) && std::abs(m_anchor - y) < 1.0) return;
    m_anchor = y;
    m_anchorShift = 0.0;
}

void EditorLayout::scheduleBackgroundLayout() const
{
    if ((m_unmeasured > 0 || m_dirtyTop >= 0.0 || m_anchorShift != 0.0) && !m_work.isAwake())
        m_work.wake(BackgroundWork::Burst::ifIdle);
}

// A block's height changed from oldHeight outside an edit (an estimate was
// corrected): what lies below it must be repainted, and when it lies wholly
// above the anchor, the view must move with it.
void EditorLayout::noteMoved(double oldTop, double oldHeight, double newHeight) const
{
    if (newHeight == oldHeight) return;
    if (m_top + oldTop + oldHeight <= m_anchor) {
        // The anchor moves at once: the blocks after this one are judged
        // against where the view's text now is.
        m_anchorShift += newHeight - oldHeight;
        m_anchor += newHeight - oldHeight;
    }
    m_dirtyTop = m_dirtyTop < 0.0 ? oldTop : std::min(m_dirtyTop, oldTop);
}

bool EditorLayout::measureSlice(const QDeadlineTimer& deadline)
{
    const int count = int(m_blocks.size());
    int index = laidOutBlockCount();
    if (index < count) {
        QTextBlock block = document()->findBlockByNumber(index);
        double y = top(index);
        for (; index < count && block.isValid() && !deadline.hasExpired(); ++index, block = block.next()) {
            const double old = m_blocks[size_t(index)].height;
            if (!m_blocks[size_t(index)].measured) {
                measure(block, index);
                noteMoved(y, old, m_blocks[size_t(index)].height);
            }
            y += m_blocks[size_t(index)].height;
        }
    }
    // The view's range follows the new size first; where that clamps its
    // scroll, the clamp is no scroll of the writer's and the anchor holds
    // until the view has followed it.
    const bool shifted = m_anchorShift != 0.0;
    m_holdingAnchor = shifted;
    reportSize();
    m_holdingAnchor = false;
    if (shifted) emit anchorMoved(std::exchange(m_anchorShift, 0.0));
    if (m_dirtyTop >= 0.0) {
        const double from = std::exchange(m_dirtyTop, -1.0);
        emit update(QRectF(0, m_top + from, kFar, kFar));
    }
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
        first.lineHeightType() == QTextBlockFormat::FixedHeight ? first.lineHeight() : m_estimatedLineHeight;
    const double perLine = std::max(1.0, std::floor(std::max(1.0, m_pageWidth - m_left - m_right) / m_estimatedCharWidth));
    const double average = std::max(1.0, double(doc->characterCount()) / std::max(count, 1));
    m_blocks.assign(size_t(count), Block{float(std::ceil(average / perLine) * lineHeight)});
    m_firstUnmeasured = 0;
    m_unmeasured = count;
    m_heldCount = 0;
    m_pendingFirst = m_pendingLast = -1;
    m_topsValid = 1;
    rebuildChunks(0);
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
    const int count = int(m_blocks.size());
    double y = 0.0;
    QTextBlock block = document()->begin();
    for (int i = 0; i < count && block.isValid(); ++i, block = block.next()) {
        const bool shown = m_blocks[size_t(i)].current && y + m_top <= m_drawnBottom
            && y + m_top + m_blocks[size_t(i)].height >= m_drawnTop;
        const double height = m_blocks[size_t(i)].height;
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
    const int last = std::min(doc->findBlock(std::clamp(to, 0, length - 1)).blockNumber(), int(m_blocks.size()) - 1);
    if (first < 0 || last < first) return;
    if (change == LooksChange::colours) {
        // Nothing moves: the blocks keep their heights and lines, and take
        // their new formats when they are next drawn or asked for.
        for (int i = first; i <= last; ++i) m_blocks[size_t(i)].current = false;
        emit update(QRectF(0, m_top + top(first), kFar, top(last + 1) - top(first)));
        return;
    }
    const bool few = last - first + 1 <= kEagerBlocks && !m_deferring;
    double y = top(first);
    for (int i = first; i <= last && block.isValid(); ++i, block = block.next()) {
        Block& b = m_blocks[size_t(i)];
        const double height = b.height;
        const bool shown = b.current && y + m_top <= m_drawnBottom && y + m_top + height >= m_drawnTop;
        const bool again = few ? (b.measured || b.current) : shown;
        const bool measured = b.measured;
        markChanged(block, i);
        b.linesKept = measured;
        if (again) addPending(i, y, y + height);
        y += height;
    }
    // What is not laid out again at once is repainted when it is.
    if (!few) emit update(QRectF(0, m_top + top(first), kFar, y - top(first)));
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
    if (index <= 0 || index >= int(m_blocks.size())) return;
    Block& b = m_blocks[size_t(index)];
    if (!b.measured) return; // laid out with the right spacing when it is
    // Compared as stored: a margin of a fraction of a pixel that a float
    // cannot hold exactly would otherwise count as changed on every key,
    // and repaint everything below the paragraph each time.
    const float margin = float(formatOf(block).topMargin());
    if (margin == b.topMargin) return;
    const double y = top(index);
    const double height = b.height;
    setHeight(index, height - b.topMargin + margin);
    b.topMargin = margin;
    // Unmeasured blocks in the same batch are laid out with their margin.
    if (b.pending) return;
    emit update(QRectF(0, m_top + y, kFar, kFar));
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
    if (geometryChanged() || whole) {
        // A new width, or the whole text replaced: with as many blocks as
        // before, the old heights are the best estimates.
        if (count == int(m_blocks.size())) invalidateAll();
        else reset();
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
    (void)charsRemoved;

    const double oldTop = top(first);
    const double oldBottom = top(lastOld + 1);
    bool current = false;
    bool measured = m_blocks[size_t(first)].measured;
    for (int i = first; i <= lastOld; ++i) {
        current = current || m_blocks[size_t(i)].current || m_blocks[size_t(i)].wanted;
        measured = measured && m_blocks[size_t(i)].measured;
    }
    // The layouts of removed blocks went with them.
    for (int i = first + 1; i <= lastOld; ++i) {
        if (i <= lastNew) continue;
        if (m_blocks[size_t(i)].held) --m_heldCount;
        if (!m_blocks[size_t(i)].measured) --m_unmeasured;
    }
    const int oldSpan = lastOld - first + 1;
    const int newSpan = lastNew - first + 1;
    if (newSpan > oldSpan) {
        m_blocks.insert(m_blocks.begin() + first + 1, size_t(newSpan - oldSpan), Block{});
        m_unmeasured += newSpan - oldSpan;
    }
    else if (newSpan < oldSpan) m_blocks.erase(m_blocks.begin() + first + newSpan, m_blocks.begin() + first + oldSpan);
    if (m_pendingFirst >= 0 && m_pendingLast > first) m_pendingLast = std::max(first, m_pendingLast + delta);
    if (delta != 0) rebuildChunks(first);

    const bool eager = newSpan <= kEagerBlocks && (measured || current) && !m_deferring;
    // Deferring, only what is shown is laid out at once.
    const bool shown = oldTop + m_top <= m_drawnBottom && oldBottom + m_top >= m_drawnTop;
    QTextBlock block = firstBlock;
    for (int i = first; i <= lastNew && block.isValid(); ++i, block = block.next()) {
        Block& b = m_blocks[size_t(i)];
        if (i > first && !b.measured && !b.current && b.height == 0.0) setHeight(i, estimate(block));
        markChanged(block, i);
        if (current && newSpan <= kEagerBlocks) b.wanted = true;
        if (eager || (b.wanted && (!m_deferring || shown))) addPending(i, oldTop, oldBottom);
    }
    flushPending();
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
    Block& b = m_blocks[size_t(index)];
    if (!b.current) {
        const double y = top(index);
        const double old = b.height;
        realize(block, index);
        noteMoved(y, old, b.height);
        scheduleBackgroundLayout();
    } else {
        b.used = ++m_clock;
    }
    placeBlock(block, index);
    const QTextLayout* tl = block.layout();
    return QRectF(tl->position(), QSizeF(std::max(0.0, m_pageWidth - m_left - m_right), b.height - b.topMargin));
}

int EditorLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    if (m_blocks.empty()) return accuracy == Qt::ExactHit ? -1 : 0;
    // The block under the point, laid out: laying it out may change its
    // height and so which block is under the point.
    int index = std::clamp(blockIndexAt(point.y() - m_top), 0, int(m_blocks.size()) - 1);
    QTextBlock block = document()->findBlockByNumber(index);
    for (int tries = 0; tries < 8 && block.isValid() && !m_blocks[size_t(index)].current; ++tries) {
        blockBoundingRect(block);
        index = std::clamp(blockIndexAt(point.y() - m_top), 0, int(m_blocks.size()) - 1);
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
    const int count = int(m_blocks.size());
    const int firstIndex = std::clamp(blockIndexAt(clip.top() - m_top), 0, count - 1);
    const QTextBlock firstBlock = document()->findBlockByNumber(firstIndex);

    // Lay out what is shown first: a corrected height moves what follows.
    {
        QTextBlock block = firstBlock;
        double y = m_top + top(firstIndex);
        for (int i = firstIndex; i < count && block.isValid() && y <= clip.bottom(); ++i, block = block.next()) {
            Block& b = m_blocks[size_t(i)];
            if (!b.current) {
                const double old = b.height;
                realize(block, i);
                noteMoved(y - m_top, old, b.height);
            } else {
                b.used = ++m_clock;
            }
            y += b.height;
        }
    }
    m_drawnTop = clip.top();
    m_drawnBottom = clip.bottom();

    // The writer's selection is the one in the palette's highlight colours:
    // it keeps the text's own colours. Other selections are drawn as Qt
    // would, apart from their fill.
    const QBrush highlightedText = context.palette.brush(QPalette::HighlightedText);
    const QBrush highlight = context.palette.brush(QPalette::Highlight);
    auto isWritersSelection = [&](const Selection& s) {
        return s.format.background() == highlight && s.format.foreground() == highlightedText;
    };

    painter->save();
    painter->setPen(context.palette.color(QPalette::Text));
    QTextBlock block = firstBlock;
    double slotTop = m_top + top(firstIndex);
    for (int index = firstIndex; block.isValid() && index < count && slotTop <= clip.bottom();
         block = block.next(), ++index) {
        const Block& b = m_blocks[size_t(index)];
        QTextLayout* tl = block.layout();
        tl->setPosition(QPointF(m_left, slotTop + b.topMargin));
        const double slotBottom = slotTop + b.height;
        slotTop = slotBottom;

        const int position = block.position();
        const int length = block.length();
        QList<QTextLayout::FormatRange> overlays;
        struct Fill {
            int from;
            int to;
            QBrush brush;
        };
        std::vector<Fill> under;
        std::vector<Fill> over;
        for (const Selection& s : context.selections) {
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

        // A selection covers whole line boxes, the spacing between lines
        // included, and past a line's end the rest of the column; past the
        // paragraph's end also the space before the next one.
        auto drawFills = [&](const std::vector<Fill>& fills) {
            if (fills.empty()) return;
            const QTextBlockFormat bf = formatOf(block);
            const double right = m_pageWidth - m_right - bf.rightMargin();
            const double nextMargin = index + 1 < count ? m_blocks[size_t(index) + 1].topMargin : 0.0;
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
                    double x2 = origin.x() + line.cursorToX(z - position);
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
                    if (r.width() > 0 && r.height() > 0) painter->fillRect(r, f.brush);
                }
            }
        };

        drawFills(under);
        // Without a clip of its own Qt draws every line (a far one would
        // overflow its fixed-point coordinates).
        tl->draw(painter, QPointF(0, 0), overlays, context.clip.isValid() ? context.clip : QRectF());
        drawFills(over);

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
    // Heights corrected while painting: what lies below, and the size, are
    // brought up to date on the next turn.
    scheduleBackgroundLayout();
    evictIfNeeded();
}

} // namespace lumora
