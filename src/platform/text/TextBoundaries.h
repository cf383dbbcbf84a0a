#pragma once

#include "platform/foundation/Range.h"

#include <QStringView>

#include <functional>

// Words, sentences and paragraphs of a text. Sentences and words follow ICU's
// rules (with the abbreviation list of the language, so "Mr. Smith" is one
// sentence); paragraphs end at a line break: U+000A to U+000D, U+0085,
// U+2028 or U+2029, with "\r\n" as one break.
namespace lumora::text {

enum class Unit { Words, Sentences, Paragraphs };
enum class Direction { Forward, Reverse };

// Calls block for each unit inside range, treating range as if it were the
// whole text, forwards or from the end backwards; block returns false to
// stop. substring is the unit itself: a sentence with the spaces after it, a
// paragraph without its line break, a word without spaces or punctuation
// (only segments holding letters, digits or ideographs are reported).
// enclosing is the same, except that for a paragraph it holds the line break.
// Only what is reported is looked at, so stopping early keeps the cost local.
void enumerateSubstrings(QStringView text, Range range, Unit unit, Direction direction,
                         const std::function<bool(Range substring, Range enclosing)>& block);

// The paragraphs that range touches: where the first starts, where the last
// ends before its line break, and where it ends after it.
struct ParagraphBounds {
    qsizetype start = 0;
    qsizetype contentsEnd = 0;
    qsizetype end = 0;
};
ParagraphBounds paragraphBounds(QStringView text, Range range);

// The length of the line break starting at index: 2 for "\r\n", 1 for any
// other line break character, 0 when there is none.
qsizetype lineBreakLength(QStringView text, qsizetype index);

} // namespace lumora::text
