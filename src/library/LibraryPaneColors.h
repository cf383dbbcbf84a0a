#pragma once

#include <QColor>

namespace lumora {

class Theme;

// The library pane's colours, worked out from a theme in one place: the pane
// stands on the chrome colour, a touch apart from the page, its text a little
// softer than the page's.
struct LibraryPaneColors {
    static LibraryPaneColors of(const Theme& theme);

    bool isDark = false;
    QColor background, foreground;
    QColor chrome;
    QColor text, secondary;
    // A selected row, the hairline under the header, the accent (the
    // caret's colour).
    QColor selection, hairline, accent;
};

} // namespace lumora
