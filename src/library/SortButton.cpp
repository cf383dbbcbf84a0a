#include "library/SortButton.h"

#include "library/LibraryIcons.h"

#include <QPainter>

namespace lumora {

SortButton::SortButton(QWidget* parent) : QToolButton(parent)
{
    setAutoRaise(true);
    setPopupMode(QToolButton::InstantPopup);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

QSize SortButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(title()) + kPadding * 2 + kChevron + 4, metrics.height() + 6);
}

void SortButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if ((underMouse() || isDown()) && isEnabled()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(hover);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
    QColor color = text;
    if (!isEnabled()) color.setAlphaF(color.alphaF() * 0.5f);
    painter.setPen(color);
    painter.setFont(font());
    const QRect area = rect().adjusted(kPadding, 0, -kPadding, 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, title());
    const int x = kPadding + QFontMetrics(font()).horizontalAdvance(title()) + 4;
    libraryIcons::chevron(color).paint(&painter, QRect(x, rect().center().y() - 4, kChevron, kChevron));
}

} // namespace lumora
