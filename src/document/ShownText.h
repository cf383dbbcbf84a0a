#pragma once

#include "platform/foundation/Range.h"

#include <functional>
#include <vector>

class QPainter;
class QRect;
class QTextBlock;

namespace lumora {

class TextStorage;
class TextView;

// The text an editor shows, for the marks its text services draw over it
// (find matches, misspelt words). Marks are drawn, never stored as
// attributes, and looked for only where the text is shown: a long text
// costs no more to mark than a short one.
namespace shown_text {

// A paragraph longer than this is searched and checked only where it is
// shown, never whole at every paint.
constexpr int kLongParagraph = 8000;

// Calls visit with each paragraph of view's text that meets exposed (in
// viewport coordinates), top to bottom.
void forEachBlock(const TextView& view, const QRect& exposed, const std::function<void(const QTextBlock&)>& visit);

// The part of block drawn in exposed: all of it, but for a paragraph so
// long that only its shown lines are worth a look (out to the spaces
// around them, so that no word is cut).
Range partOf(const TextView& view, const TextStorage& storage, const QTextBlock& block, const QRect& exposed);

enum class Mark {
    // A rounded box behind the characters (the painter's brush).
    highlight,
    // A small red wave under the characters.
    wave,
};
// Draws mark over the parts of ranges (absolute offsets) that lie in block,
// line by line.
void drawMarks(QPainter& painter, const TextView& view, const QTextBlock& block, const std::vector<Range>& ranges,
               Mark mark);

} // namespace shown_text

} // namespace lumora
