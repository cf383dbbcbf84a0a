#pragma once

#include <QAbstractTextDocumentLayout>
#include <QBasicTimer>

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
// Blocks are laid out in order, as far as something asks for (painting,
// hit tests, a block's rectangle), and the rest in the background in short
// slices. Blocks not yet laid out count with an estimated height, so the
// document's size is close to its final size from the start.
//
// Line heights, indents, tab stops and spacing follow the block formats the
// way QTextDocumentLayout does: a fixed line height puts the baseline at 80%
// of it; a block's top margin is added before it (the first block's is not),
// its bottom margin is not used (the mirror puts all spacing in top margins).
class EditorLayout : public QAbstractTextDocumentLayout {
    Q_OBJECT
    Q_PROPERTY(int cursorWidth READ cursorWidth WRITE setCursorWidth)

public:
    explicit EditorLayout(QTextDocument* document);
    ~EditorLayout() override;

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

    int cursorWidth() const { return m_cursorWidth; }
    void setCursorWidth(int width) { m_cursorWidth = width; }

    // Lays out every block now (tests, printing a whole view).
    void layoutEverything() const;

    // While deferring, a changed block that is already laid out keeps its
    // height and is laid out again only when it is next drawn, measured or
    // reached by the background layout: many changes spread through a long
    // text (replace all) then cost nothing for the blocks nobody looks at.
    void setDeferringChanges(bool deferring);
    // How many leading blocks are laid out; for tests and benchmarks.
    int laidOutBlockCount() const { return m_frontier; }
    // Tells the view the document's size as it is known now: queries that
    // laid out more of the text (a block's rectangle) do not, so a scroll
    // to a place found that way first brings the view's range up to date.
    void updateDocumentSize() const { reportSize(); }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;
    void timerEvent(QTimerEvent* event) override;

private:
    struct Block {
        double height = 0.0; // top margin plus lines
        bool laidOut = false;
    };
    static constexpr int kChunk = 256;

    void reset();
    bool geometryChanged() const;
    void readGeometry();
    double estimate(const QTextBlock& block) const;
    double layoutBlock(const QTextBlock& block, int index) const;
    void setHeight(int index, double height) const;
    void rebuildChunks(int fromBlock) const;
    double top(int index) const;
    double totalHeight() const;
    int blockIndexAt(double y) const;
    void ensureLaidOut(int index) const;
    void ensureLaidOutTo(double y) const;
    void placeBlock(const QTextBlock& block, int index) const;
    // Lays out block index again when a deferred change left it stale.
    void refresh(const QTextBlock& block, int index) const;
    void scheduleBackgroundLayout() const;
    void reportSize() const;

    // Mutable: painting and queries lay out on demand.
    mutable std::vector<Block> m_blocks;
    mutable std::vector<double> m_chunkSums;
    mutable std::vector<double> m_chunkTops;
    mutable int m_topsValid = 0; // chunks whose tops are current
    mutable int m_frontier = 0;  // blocks [0, m_frontier) are laid out, but for stale ones
    mutable int m_staleFrom = -1; // the first block a deferred change left stale, or -1
    bool m_deferring = false;
    mutable QBasicTimer m_timer;
    mutable QSizeF m_reportedSize;

    double m_pageWidth = -1.0;
    double m_left = 0.0, m_top = 0.0, m_right = 0.0, m_bottom = 0.0;
    double m_estimatedLineHeight = 20.0;
    double m_estimatedCharWidth = 8.0;
    int m_cursorWidth = 1;
};

} // namespace lumora
