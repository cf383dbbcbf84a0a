#include "shell/ApplicationStyle.h"

#include "widgets/ViewUtilities.h"

#include <QMenu>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

namespace lumora {

namespace {

constexpr int kMenuMargin = 5;      // around the rows, inside the frame
constexpr int kRowExtra = 6;        // added to each row's height
constexpr int kSeparatorHeight = 11;
constexpr int kSeparatorInset = 12;
constexpr int kShortcutInset = 10;
constexpr double kCheckBoxFrame = 0.35; // of the way from the window colour to the text's

} // namespace

ApplicationStyle::ApplicationStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

int ApplicationStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const
{
    switch (metric) {
    case PM_MenuVMargin: return kMenuMargin;
    case PM_MenuHMargin: return kMenuMargin;
    case PM_MenuPanelWidth: return 1;
    default: return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QSize ApplicationStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                         const QWidget* widget) const
{
    QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
    if (type == CT_MenuItem) {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (item && item->menuItemType == QStyleOptionMenuItem::Separator) result.setHeight(kSeparatorHeight);
        else result += QSize(12 + kShortcutInset, kRowExtra);
    }
    return result;
}

int ApplicationStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                QStyleHintReturn* returnData) const
{
    switch (hint) {
    case SH_Menu_Scrollable: return 1;
    case SH_UnderlineShortcut: return 1;
    default: return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
}

void ApplicationStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const
{
    // A check mark in a menu stands on its own, without a box around it.
    if (element == PE_IndicatorCheckBox && qobject_cast<const QMenu*>(widget)) {
        if (!(option->state & State_On)) return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPen pen(option->palette.color(option->state & State_Enabled ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText),
                 1.6);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter->setPen(pen);
        const QRectF r = QRectF(option->rect).adjusted(3, 3, -3, -3);
        painter->drawPolyline(QPolygonF{QPointF(r.left(), r.center().y() + 0.5),
                                        QPointF(r.left() + r.width() * 0.38, r.bottom() - 0.5),
                                        QPointF(r.right(), r.top() + 1)});
        painter->restore();
        return;
    }
    if (element == PE_IndicatorCheckBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        // Fusion frames the box in the window colour darkened, which a dark
        // window swallows: the frame takes a step towards the text colour
        // instead, as far in a dark theme as in a light one. A box with the
        // keyboard focus keeps Fusion's focus colour.
        if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(0.5, 0.5);
        painter->setPen(views::blend(option->palette.color(QPalette::Window),
                                     option->palette.color(QPalette::WindowText), kCheckBoxFrame));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    if (element == PE_FrameMenu || element == PE_PanelMenu) {
        painter->save();
        if (element == PE_PanelMenu) painter->fillRect(option->rect, option->palette.window());
        painter->setPen(option->palette.color(QPalette::Mid));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void ApplicationStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    painter->fillRect(option->rect, option->palette.window());
    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
        const int y = option->rect.center().y();
        painter->setPen(option->palette.color(QPalette::Midlight));
        painter->drawLine(option->rect.left() + kSeparatorInset, y, option->rect.right() - kSeparatorInset, y);
        painter->restore();
        return;
    }
    QStyleOptionMenuItem plain = *item;
    if ((item->state & State_Selected) && (item->state & State_Enabled)) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(option->palette.highlight());
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
    // The row's text on its own: Fusion would fill the whole row.
    plain.state &= ~State_Selected;
    // Shortcuts and submenu arrows keep clear of the rounded selection.
    plain.rect.adjust(0, 0, -kShortcutInset, 0);
    plain.palette.setBrush(QPalette::Window, Qt::transparent);
    painter->restore();
    QProxyStyle::drawControl(element, &plain, painter, widget);
}

} // namespace lumora
