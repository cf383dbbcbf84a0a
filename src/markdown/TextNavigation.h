#pragma once

#include "platform/foundation/Range.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

// Sentences, paragraphs and lines around the caret: what focus highlighting
// keeps at full strength, what the sentence commands select, how lines move,
// and the title of an unsaved document.
namespace lumora {

// The caret index as the focus sees it: a caret right after whitespace or a
// line break (not at either end of the text) belongs to what starts there.
qsizetype focusIndex(QStringView text, qsizetype index);

// The sentence around index as focus highlighting shows it: from the start
// of the last sentence before the adjusted index to the end of the sentence
// that starts there, trailing spaces included.
Range sentenceFocusRange(QStringView text, qsizetype index);

// The sentence at or after index for the sentence commands: when the caret
// stands at the end of a sentence, the next one; one trailing space or line
// break left out; never a negative length.
Range sentenceRange(QStringView text, qsizetype index);

// The paragraph holding index, without its line break.
Range paragraphRange(QStringView text, qsizetype index);

// Moving the selected lines up or down past their neighbour: insert text at
// insertion, then remove removal (stated in the text after the insertion),
// then move the selection by selectionShift. A "\r\n" stays one line break.
struct LineMove {
    Range removal;
    QString text;
    Range insertion;
    qsizetype selectionShift = 0;
    friend bool operator==(const LineMove&, const LineMove&) = default;
};
std::optional<LineMove> lineMovedUp(QStringView text, Range selection);
std::optional<LineMove> lineMovedDown(QStringView text, Range selection);

// Where the sentence and paragraph commands take the caret, in a text of
// length L, from the selection's start c or end e:
// - the previous sentence: just after the text of the sentence before the
//   one holding c (before the one white-space character between them), or 0;
// - the next sentence: the end of the sentence at e, or of the next one when
//   e already stands there;
// - the previous paragraph: the start of c's paragraph, or of the one before
//   when c is there already;
// - the next paragraph: the end of e's paragraph (before its line break), or
//   of the next one when e is there already; L at the end.
qsizetype previousSentenceTarget(QStringView text, qsizetype c);
qsizetype nextSentenceTarget(QStringView text, qsizetype e);
qsizetype previousParagraphTarget(QStringView text, qsizetype c);
qsizetype nextParagraphTarget(QStringView text, qsizetype e);

// A name for an unsaved document: its first sentence, without its line prefix
// (heading marks, list marker, quote marks, indentation) when strip is true,
// and without trailing spaces and line breaks; nothing unless that leaves 1
// to 99 characters.
std::optional<QString> titleFromFirstSentence(QStringView text, bool strip);

// An enumeration block that counts what it is given (words, for statistics).
inline std::function<bool(Range, Range)> substringCounter(qsizetype& counter)
{
    return [&counter](Range, Range) {
        ++counter;
        return true;
    };
}

} // namespace lumora
