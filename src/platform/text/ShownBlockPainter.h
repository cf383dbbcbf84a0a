#pragma once

#include "platform/text/EditorLayout.h"
#include "platform/text/ParagraphLines.h"

#include <QBrush>

class QPainter;

namespace lumora {

// Paints the blocks an editor shows, one at a time, each laid out in its
// own text layout and placed: the selections' fills, the text with the
// other selections' looks over it, and the caret.
//
// The writer's selection is the one in the palette's highlight colours: it
// keeps the text's own colours. Other selections are drawn as Qt would,
// apart from their fill. A selection covers whole line boxes, the spacing
// between lines included, and past a line's end the rest of the column;
// past the paragraph's end also the space before the next one. Its fill is
// drawn under the text when it is opaque (the text stays readable on it)
// and over the text when it is translucent (it then shows on text
// backgrounds too, and tints the text without hiding it).
class ShownBlockPainter {
public:
    using PaintContext = QAbstractTextDocumentLayout::PaintContext;

    // source gives the blocks' paragraph formats (nullptr: the document's).
    ShownBlockPainter(QPainter* painter, const PaintContext& context, const PageGeometry& page,
                      const EditorLayout::FormatSource* source, int cursorWidth);

    // Paints block; nextMargin is the top margin of the block after it.
    void paint(const QTextBlock& block, double nextMargin) const;

private:
    struct Fill {
        int from;
        int to;
        QBrush brush;
    };

    void drawFills(const std::vector<Fill>& fills, const QTextBlock& block, double nextMargin) const;
    bool isWritersSelection(const QAbstractTextDocumentLayout::Selection& selection) const;

    QPainter* m_painter;
    const PaintContext& m_context;
    const PageGeometry& m_page;
    const EditorLayout::FormatSource* m_source;
    int m_cursorWidth;
    QBrush m_highlightedText;
    QBrush m_highlight;
};

} // namespace lumora
