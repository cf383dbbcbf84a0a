#include "platform/text/Color.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace lumora {

namespace {
double clamped(double v)
{
    if (!std::isfinite(v)) return 0.0;
    return std::clamp(v, 0.0, 1.0);
}
} // namespace

QColor Color::toQColor() const
{
    return QColor::fromRgbF(float(clamped(r)), float(clamped(g)), float(clamped(b)), float(clamped(a)));
}

Color Color::fromQColor(const QColor& c)
{
    const QColor rgb = c.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

QByteArray Color::archived() const
{
    QJsonObject o{{"r", r}, {"g", g}, {"b", b}, {"a", a}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Color> Color::unarchived(const QByteArray& data)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    for (const char* k : {"r", "g", "b", "a"})
        if (!o.value(QLatin1String(k)).isDouble()) return std::nullopt;
    return Color(o.value("r").toDouble(), o.value("g").toDouble(), o.value("b").toDouble(),
                 o.value("a").toDouble());
}

} // namespace lumora
