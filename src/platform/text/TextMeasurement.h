#pragma once

#include "platform/foundation/Range.h"

namespace lumora {

class TextStorage;

namespace text {

// The width, in points, of a stretch of styled text laid out on one line
// without wrapping: each run in its own font (with its kern as letter
// spacing), trailing spaces included, tabs advancing to the next multiple of
// tabInterval. A run without a font uses the application font. Results are
// cached by text and fonts, so measuring the same marker again is a look-up.
double typesetWidth(const TextStorage& storage, Range range, double tabInterval);

} // namespace text

} // namespace lumora
