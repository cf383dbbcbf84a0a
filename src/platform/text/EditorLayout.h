#pragma once

#include "platform/text/BackgroundWork.h"
#include "platform/text/BlockHeights.h"
#include "platform/text/HeightCorrections.h"
#include "platform/text/ParagraphLines.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlockFormat>
#include <QTextLayout>

#include <cstdint>
#include <vector>

namespace lumora {

// The layout of an editor's document: one flow of paragraphs in the root
// frame (no tables, floats or nested frames, which the editor never makes).
//
// Qt's own layout keeps an absolute position per block and moves every block
// after an edit: a keystroke near the top of a long text costs time in
// proportion to everything below it. Here a block keeps only its height;
// heights are summed per chunk of blocks, so positions come from a few
// hundred additions, and an edit lays out only the blocks it changed.
//
// A block's height is exact once it is measured, an estimate before. Only
// what something asks for (painting, hit tests, a block's rectangle) is laid
// out in the block's own text layout ("realized"); every other block is
// measured in the background, in short slices and in text order, with one
// scratch layout, so that a long text costs no layout objects beyond those
// of the blocks shown. Changes of looks mark blocks unmeasured and keep
// their old heights as estimates: the blocks shown are laid out again at
// once, the rest in the background. When a corrected estimate above the
// anchor (the top of what the view shows) changes the height of the text
// there, anchorMoved() tells the view how far to scroll to keep its text
// where it was.
//
// Where a block's looks come from: its document's formats, or a
// FormatSource that hands over each block's paragraph format and character
// formats (the mirror keeps its document's text plain and the looks in the
// text storage).
//
// Line heights, indents, tab stops and spacing follow the block formats the
// way QTextDocumentLayout does: a fixed line height puts the baseline at 80%
// of it; a block's top margin is added before it (the first block's is not),
// its bottom margin is not used (the mirror puts all spacing in top margins).
// No paragraph takes more than linear time: where no break opportunity lies
// within reach of a line's start, the line breaks anywhere, which is where
// Qt's search for the end of an overlong word would end up anyway.
//
// Selections are drawn over whole line heights, line spacing included, in
// their background colour over the text, which keeps its own colours.
class EditorLayout : public QAbstractTextDocumentLayout {
    Q_OBJECT
    Q_PROPERTY(int cursorWidth READ cursorWidth WRITE setCursorWidth)

public:
    class FormatSource {
    public:
        virtual ~FormatSource() = default;
        // Margins, indents, line height, alignment and tab stops of block.
        virtual QTextBlockFormat blockFormat(const QTextBlock& block) const = 0;
        // The character formats of block's text, positions counted from
        // the block's start, in order and without overlaps.
        virtual QList<QTextLayout::FormatRange> charFormats(const QTextBlock& block) const = 0;
        // A digest of what in block's character looks moves glyphs (fonts,
        // letter spacing, where they change): equal digests break the
        // same text into the same lines. 0 where the source cannot tell.
        virtual std::uint32_t lineBreakingDigest(const QTextBlock& block) const
        {
            (void)block;
            return 0;
        }
    };

    explicit EditorLayout(QTextDocument* document);
    ~EditorLayout() override;

    // The source of the blocks' looks (not owned); nullptr for the
    // document's own formats. Everything is laid out again.
    void setFormatSource(const FormatSource* source);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

    int cursorWidth() const { return m_cursorWidth; }
    void setCursorWidth(int width) { m_cursorWidth = width; }

    // What a change of looks may have changed, beyond colours.
    enum class LooksChange {
        colours,    // nothing that moves a glyph: every height stays
        anything,   // whatever else: a block whose lines break as before
                    // (lineBreakingDigest, paragraph indents) is measured
                    // again without being laid out
    };
    // The looks of the blocks holding document positions from to to
    // changed (their text did not).
    void invalidate(int from, int to, LooksChange change = LooksChange::anything);
    // Only the space above the block holding position may have changed (its
    // top margin carries the spacing after the paragraph before it): its
    // lines stay as they are.
    void refreshSpacing(int position);

    // While one of these lives, changes are only recorded; the blocks to
    // lay out again are laid out once, when the last one ends.
    class Batch {
    public:
        explicit Batch(EditorLayout* layout);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        EditorLayout* m_layout;
    };

    // The top of what the view shows, in document coordinates. The view
    // tells each scroll; a scroll to where anchor() stands (the nearest
    // whole pixel) is the view following the layout and keeps its fraction,
    // any other starts afresh: corrections noted but not yet reported
    // belonged to the old place.
    void setAnchor(double y) { m_corrections.setAnchor(y); }
    // Where the text that stood at the top of the view stands now: moved
    // by the corrections above it, to the fraction of a pixel, so that
    // whole-pixel scrolls never add up to a drift.
    double anchor() const { return m_corrections.anchor(); }

    // While deferring, a changed block is laid out again at once only when
    // it is shown; the others keep their heights until they are next drawn,
    // asked for or reached by the background layout: many changes spread
    // through a long text (replace all) then cost nothing for the blocks
    // nobody looks at.
    void setDeferringChanges(bool deferring);

    // Measures every block now (tests, printing a whole view).
    void layoutEverything() const;
    // How many leading blocks are measured; for tests and benchmarks.
    int laidOutBlockCount() const;
    // Whether every block is measured.
    bool isLaidOut() const { return m_unmeasured <= 0; }
    // How many blocks hold a laid-out text layout of their own.
    int realizedBlockCount() const { return m_heldCount; }
    // The block at document height y by the heights known now, measured or
    // estimated: nothing is laid out to find it.
    QTextBlock blockAt(double y) const;
    // Tells the view the document's size as it is known now: queries that
    // measured more of the text (a block's rectangle) do not, so a scroll
    // to a place found that way first brings the view's range up to date.
    void updateDocumentSize() const { reportSize(); }

signals:
    // Heights above the anchor were corrected: the text shown moved down by
    // delta (up when negative); anchor() is where it stands now.
    void anchorMoved(double delta);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    void reset();
    void invalidateAll();
    void readGeometry();
    QTextBlockFormat formatOf(const QTextBlock& block) const;
    void realize(const QTextBlock& block, int index) const;
    void measure(const QTextBlock& block, int index) const;
    void markChanged(const QTextBlock& block, int index) const;
    void addPending(int index, double oldTop, double oldBottom);
    void flushPending();
    void evictIfNeeded() const;
    void placeBlock(const QTextBlock& block, int index) const;
    void scheduleBackgroundLayout() const;
    bool measureSlice(const QDeadlineTimer& deadline);
    std::uint32_t lineKeyOf(const QTextBlock& block, const QTextBlockFormat& format) const;
    void reportSize() const;

    // Mutable: painting and queries lay out on demand.
    mutable BlockHeights m_blocks;
    mutable int m_firstUnmeasured = 0; // no block before it is unmeasured
    mutable int m_unmeasured = 0;      // blocks whose heights are estimates
    mutable int m_heldCount = 0;
    mutable std::uint32_t m_clock = 0;
    // Measuring in the background, at the pace of the thread's other
    // background work.
    mutable BackgroundWork::Task m_work;
    mutable QSizeF m_reportedSize;
    mutable QTextLayout m_scratch;
    mutable int m_changingFormats = 0;
    // Estimates corrected outside edits, not yet reported to the view.
    mutable HeightCorrections m_corrections;
    int m_batchDepth = 0;
    bool m_deferring = false;
    int m_pendingFirst = -1;
    int m_pendingLast = -1;
    double m_pendingTop = 0.0;
    double m_pendingBottom = 0.0;
    double m_drawnTop = 0.0;
    double m_drawnBottom = -1.0;

    const FormatSource* m_source = nullptr;
    PageGeometry m_page;
    int m_cursorWidth = 1;
};

} // namespace lumora
