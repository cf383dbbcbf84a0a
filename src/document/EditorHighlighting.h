#pragma once

#include "platform/foundation/Range.h"

namespace lumora {

class TextView;
class Theme;

// Focus highlighting and the colours of one editor. The focus (the
// sentence, line or paragraph of the selection) follows the selection; the
// text outside it is not restyled but veiled when the view is painted, so
// moving the caret touches no formats. Also the theme's colours for the
// background, the caret and the selection, and the repaint of the lines a
// selection covers.
class EditorHighlighting {
public:
    explicit EditorHighlighting(TextView& view) : m_view(view) {}

    // What stays at full strength while focus highlighting is on.
    Range focusRange() const { return m_focusRange; }
    // A new text: all of it is in focus until the selection says otherwise.
    void setFocusRange(Range range) { m_focusRange = range; }
    // Moves the focus to the selection.
    void update();
    // After a theme or highlighting change, a read or a whole-text restyle.
    void updateAttributes();
    void applyTheme(const Theme& theme);
    // The selection moved from before to after.
    void repaintSelectionBlocks(Range before, Range after);
    // Veils what lies outside the focus (after Qt painted the text).
    void paintFocusDimming();

private:
    TextView& m_view;
    Range m_focusRange;
};

} // namespace lumora
