#pragma once

#include <QList>
#include <QTextBlockFormat>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

class QTextBlock;
class QTextDocument;

namespace lumora {

// The page the editor's paragraphs are laid out on: its width and the root
// frame's margins (border and padding included), and the default font's
// line height and average character width, from which the height of a
// block not yet measured is estimated.
struct PageGeometry {
    double width = -1.0; // negative: lines do not wrap
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    double estimatedLineHeight = 20.0;
    double estimatedCharWidth = 8.0;

    void read(const QTextDocument* document);
    // Whether the document's page width or frame margins are no longer these.
    bool differsFrom(const QTextDocument* document) const;
    // The width lines are laid out in, before the paragraph's own indents.
    double contentWidth() const { return std::max(0.0, width - left - right); }
    // The height of block with format by its length, before it is measured.
    double estimate(const QTextBlock& block, const QTextBlockFormat& format) const;
};

// A line's box: its height with the paragraph's line spacing, and how far
// the box's top lies below the line's own top (the line is placed that much
// higher).
struct LineBox {
    double adjustment = 0.0;
    double height = 0.0;
};

// Line heights as QTextDocumentLayout computes them.
inline LineBox lineBox(const QTextBlockFormat& format, const QTextLine& line)
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

// Lays out the lines of layout (a block's own or a scratch one holding the
// block's text and formats) for the block's paragraph format on page, from
// the document's default text option; returns their height. No paragraph
// takes more than linear time: where no break opportunity lies within
// reach of a line's start, the line breaks anywhere.
double layoutParagraphLines(QTextLayout* layout, const QTextBlock& block, const QTextBlockFormat& format,
                            QTextOption option, const PageGeometry& page);

// What decides where a paragraph's lines break, besides its text, folded
// into 24 bits: its indents, line height, alignment and tab stops, and a
// digest of its character looks where its format source gives one. Two
// blocks with the same key break lines alike (a collision, one in sixteen
// million, leaves a height that laying the block out for painting corrects).
std::uint32_t lineBreakingKey(const QTextBlockFormat& format, std::optional<std::uint32_t> charactersDigest);

// While an input method composes, its text stands in layout: formats (of
// the block's own text) after it move along, and those inside it are the
// layout's own. Leaves formats alone when nothing is being composed.
void mergePreeditFormats(QList<QTextLayout::FormatRange>& formats, const QTextLayout& layout);

} // namespace lumora
