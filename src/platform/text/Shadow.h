#pragma once

#include "platform/text/Color.h"

#include <QPointF>

#include <optional>

namespace lumora {

// A text shadow: colour (none means the platform default, a third-opaque
// black), blur radius and offset, in points.
struct Shadow {
    std::optional<Color> color;
    double blurRadius = 0.0;
    QPointF offset;

    friend bool operator==(const Shadow&, const Shadow&) = default;
};

} // namespace lumora
