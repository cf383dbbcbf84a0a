#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace lumora::libraryIcons {

// The library pane's small drawings, in a colour of the theme, sharp on the
// screen (drawn at its pixel ratio with a round pen).

// A small chevron pointing down, for the sort button and the popup.
QIcon chevron(const QColor& color);
// A magnifying glass, for the search field.
QIcon search(const QColor& color);
// A calm sign for a folder that cannot be found: a rounded triangle with an
// exclamation mark, size points square.
QPixmap caution(const QColor& color, int size);

} // namespace lumora::libraryIcons
