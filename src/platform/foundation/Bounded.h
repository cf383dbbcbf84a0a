#pragma once

#include <concepts>
#include <type_traits>
#include <utility>

namespace lumora {

// A number that stays within [Minimum, Maximum]. Made from any number, it
// holds the nearest value in range: a value read from a hand-edited file or
// asked for by a command can never leave its bounds, and the bounds are
// stated once, in the type. Not a number becomes the minimum. A floating
// value made into an integral one inside the bounds is truncated.
template <typename T, T Minimum, T Maximum>
    requires std::is_arithmetic_v<T> && (!std::same_as<T, bool>) && (Minimum <= Maximum)
class Bounded {
public:
    using ValueType = T;
    static constexpr T minimum = Minimum;
    static constexpr T maximum = Maximum;

    constexpr Bounded() = default;
    template <typename U>
        requires std::is_arithmetic_v<U> && (!std::same_as<U, bool>)
    constexpr Bounded(U value) : m_value(clamped(value))
    {
    }

    constexpr T value() const { return m_value; }
    constexpr operator T() const { return m_value; }

    friend constexpr bool operator==(Bounded, Bounded) = default;

private:
    template <typename U>
    static constexpr T clamped(U value)
    {
        if constexpr (std::is_floating_point_v<U> || std::is_floating_point_v<T>) {
            // Compared in the widest floating type, so that neither side
            // overflows or rounds across a bound.
            const long double v = static_cast<long double>(value);
            if (!(v > static_cast<long double>(Minimum))) return Minimum; // also not a number
            if (v >= static_cast<long double>(Maximum)) return Maximum;
            return static_cast<T>(value);
        } else {
            // Integers of any width and sign compare by value.
            if (std::cmp_less_equal(value, Minimum)) return Minimum;
            if (std::cmp_greater_equal(value, Maximum)) return Maximum;
            return static_cast<T>(value);
        }
    }

    T m_value = Minimum;
};

} // namespace lumora
