#include "library/LibraryPaneColors.h"

#include "settings/Theme.h"
#include "widgets/ViewUtilities.h"

namespace lumora {

namespace {

// How far the text of the pane stands from its background.
constexpr double kTextAlpha = 0.88;
constexpr double kSecondaryTextAlpha = 0.5;

} // namespace

LibraryPaneColors LibraryPaneColors::of(const Theme& theme)
{
    LibraryPaneColors c;
    c.isDark = theme.isDark;
    c.background = theme.backgroundColor.toQColor();
    c.foreground = theme.foregroundColor.toQColor();
    c.chrome = views::chromeColor(c.background, c.foreground);
    c.text = views::blend(c.chrome, c.foreground, kTextAlpha);
    c.secondary = views::blend(c.chrome, c.foreground, kSecondaryTextAlpha);
    c.selection = views::blend(c.chrome, c.foreground, theme.isDark ? 0.17 : 0.11);
    c.hairline = views::blend(c.background, c.foreground, 0.12);
    c.accent = theme.cursorColor.toQColor();
    return c;
}

} // namespace lumora
