#include "document/OutlineViewController.h"

#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/ViewUtilities.h"

namespace lumora {

OutlineViewController::OutlineViewController(QWidget* parent) : QWidget(parent)
{
    views::sidePaneTitle(this, localized("outline.title"));
    applyTheme();
}

void OutlineViewController::updateTitleLabelPosition() {}

void OutlineViewController::reloadOutline() {}

void OutlineViewController::applyTheme()
{
    const Theme& theme = *Settings::shared().theme;
    views::applySidePaneColors(this, theme.backgroundColor.toQColor(), theme.foregroundColor.toQColor(), 0.45);
}

QSize OutlineViewController::sizeHint() const { return {220, 400}; }

} // namespace lumora
