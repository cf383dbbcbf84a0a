#pragma once

#include <QByteArray>
#include <QColor>

#include <optional>

namespace lumora {

// An RGBA colour as stored: four doubles, kept unclamped. Converted to QColor
// (clamped to 0...1) only when drawn.
struct Color {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double a = 1.0;

    constexpr Color() = default;
    constexpr Color(double red, double green, double blue, double alpha = 1.0)
        : r(red), g(green), b(blue), a(alpha) {}

    // A grey level, as "white 0.16" in a colour table.
    static constexpr Color white(double level, double alpha = 1.0) { return {level, level, level, alpha}; }

    constexpr Color withAlpha(double alpha) const { return {r, g, b, alpha}; }

    QColor toQColor() const;
    static Color fromQColor(const QColor& c);

    // Compact archived form used where a colour is stored as data (theme records).
    QByteArray archived() const;
    static std::optional<Color> unarchived(const QByteArray& data);

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

} // namespace lumora
