#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/TextStorage.h"

#include <QStringView>

#include <array>

// Focus highlighting keeps the sentence or paragraph at the caret at full
// strength and dims the rest. Styling already gives every character the
// dimmed colour while highlighting is on; a pass lifts the focused runs to
// full alpha and marks them with "LMHighlightColor", so that the next pass
// finds and dims just those again.
namespace lumora {

// What stays at full strength while the writer types: nothing in particular
// (highlighting off), the sentence or the paragraph at the caret. The
// preferences store the raw values "off", "sentence", "paragraph".
enum class Highlighting { off, sentence, paragraph };
inline constexpr std::array<Highlighting, 3> allHighlightings{Highlighting::off, Highlighting::sentence,
                                                              Highlighting::paragraph};

// The alpha of the dimmed text while highlighting is on, and of the text in
// focus (and of all text while it is off).
inline constexpr double unhighlightedTextAlpha = 0.3;
inline constexpr double highlightedTextAlpha = 1.0;

// What to keep at full strength for a selection: with an empty selection and
// the mode "sentence" or "paragraph", the sentence or paragraph around the
// caret; otherwise (a selection, or highlighting off) the whole text.
Range focusRange(QStringView text, Range selection, Highlighting mode);
// The same on a text storage, reading only the paragraph around the caret
// (neither a sentence nor a paragraph reaches past a line break).
Range focusRange(const TextStorage& storage, Range selection, Highlighting mode);

// One highlight pass, in one editing bracket. First dims: the previously
// lifted runs, or with dimAll every run with a colour (when the stored
// colours may be stale); then lifts every coloured run inside focus to full
// alpha. Only runs whose colour really changes are touched.
void highlightFocus(TextStorage& storage, Range focus, bool dimAll);

// Where the lifted runs are: from the first of them, as long as all of them
// together; (0, 0) when there are none.
Range highlightedRange(const TextStorage& storage);

} // namespace lumora
