#include "library/LibraryIcons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace lumora::libraryIcons {

namespace {

// A small drawing of size points in color: draw gets the painter, with a
// round pen of width 1.4 in the colour.
QPixmap drawing(int size, const QColor& color, const std::function<void(QPainter&, QPen&)>& draw)
{
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, 1.4);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    draw(painter, pen);
    return pixmap;
}

} // namespace

QIcon chevron(const QColor& color)
{
    return QIcon(drawing(10, color, [](QPainter& painter, QPen&) {
        painter.drawPolyline(QPolygonF{QPointF(2, 3.5), QPointF(5, 6.5), QPointF(8, 3.5)});
    }));
}

QIcon search(const QColor& color)
{
    return QIcon(drawing(16, color, [](QPainter& painter, QPen&) {
        painter.drawEllipse(QRectF(3, 3, 7, 7));
        painter.drawLine(QPointF(9, 9), QPointF(12.5, 12.5));
    }));
}

QPixmap caution(const QColor& color, int size)
{
    return drawing(size, color, [size](QPainter& painter, QPen& pen) {
        const double s = size;
        QPainterPath triangle;
        triangle.moveTo(s / 2, s * 0.12);
        triangle.lineTo(s * 0.92, s * 0.86);
        triangle.lineTo(s * 0.08, s * 0.86);
        triangle.closeSubpath();
        pen.setWidthF(s * 0.06);
        painter.setPen(pen);
        painter.drawPath(triangle);
        pen.setWidthF(s * 0.07);
        painter.setPen(pen);
        painter.drawLine(QPointF(s / 2, s * 0.38), QPointF(s / 2, s * 0.6));
        painter.drawPoint(QPointF(s / 2, s * 0.73));
    });
}

} // namespace lumora::libraryIcons
