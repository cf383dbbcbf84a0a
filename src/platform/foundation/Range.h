#pragma once

#include <QtGlobal>

#include <algorithm>
#include <optional>

namespace lumora {

// A stretch of text in UTF-16 code units, as offsets into a QString.
struct Range {
    qsizetype location = 0;
    qsizetype length = 0;

    constexpr Range() = default;
    constexpr Range(qsizetype loc, qsizetype len) : location(loc), length(len) {}

    constexpr qsizetype end() const { return location + length; }
    constexpr bool isEmpty() const { return length == 0; }

    // True when index lies inside [location, end).
    constexpr bool contains(qsizetype index) const { return index >= location && index < end(); }
    constexpr bool contains(Range other) const
    {
        return other.location >= location && other.end() <= end();
    }

    // The overlap of two ranges; empty (at the later start) when they do not meet.
    constexpr Range intersection(Range other) const
    {
        const qsizetype start = std::max(location, other.location);
        const qsizetype stop = std::min(end(), other.end());
        return stop > start ? Range(start, stop - start) : Range(start, 0);
    }
    constexpr bool intersects(Range other) const
    {
        return std::max(location, other.location) < std::min(end(), other.end());
    }
    constexpr Range united(Range other) const
    {
        const qsizetype start = std::min(location, other.location);
        return Range(start, std::max(end(), other.end()) - start);
    }

    friend constexpr bool operator==(Range, Range) = default;
};

// Parts of the engine keep "not found" as a distinct value rather than a sentinel.
using OptionalRange = std::optional<Range>;

} // namespace lumora
