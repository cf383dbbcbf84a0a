#include "platform/foundation/Bounded.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using namespace lumora;

namespace {
using Size = Bounded<double, 10.0, 30.0>;
using Lines = Bounded<int, 0, 3>;
} // namespace

// The bounds hold at compile time too: a constant out of range is brought in.
static_assert(Size(5.0).value() == 10.0 && Size(31).value() == 30.0 && Lines(-1).value() == 0);
static_assert(Lines().value() == 0 && Lines(2) == Lines(2));

TEST(Bounded, FloatingValuesStayWithinTheirBounds)
{
    EXPECT_EQ(Size(16.5).value(), 16.5);
    EXPECT_EQ(Size(10.0).value(), 10.0);
    EXPECT_EQ(Size(30.0).value(), 30.0);
    EXPECT_EQ(Size(9.999).value(), 10.0);
    EXPECT_EQ(Size(-4.0).value(), 10.0);
    EXPECT_EQ(Size(30.5).value(), 30.0);
    EXPECT_EQ(Size(HUGE_VAL).value(), 30.0);
    EXPECT_EQ(Size(-HUGE_VAL).value(), 10.0);
    EXPECT_EQ(Size(std::nan("")).value(), 10.0) << "not a number is the minimum, never NaN";
    EXPECT_EQ(Size(12).value(), 12.0); // an integer in floating bounds
    EXPECT_EQ(Size(std::numeric_limits<std::int64_t>::max()).value(), 30.0);
    const double plain = Size(45.0); // reads as the number it holds
    EXPECT_EQ(plain, 30.0);
}

TEST(Bounded, IntegersOfAnyWidthAndSignCompareByValue)
{
    EXPECT_EQ(Lines(2).value(), 2);
    EXPECT_EQ(Lines(-1).value(), 0);
    EXPECT_EQ(Lines(4).value(), 3);
    // A stored 64-bit number must not wrap into range on the way to int.
    EXPECT_EQ(Lines(std::int64_t(1) << 32).value(), 3);
    EXPECT_EQ(Lines(std::numeric_limits<std::int64_t>::min()).value(), 0);
    // Unsigned values larger than any int stay large.
    EXPECT_EQ(Lines(std::numeric_limits<std::uint64_t>::max()).value(), 3);
    EXPECT_EQ(Lines(2u).value(), 2);
    // Floating values into integral bounds: truncated inside, held outside.
    EXPECT_EQ(Lines(2.9).value(), 2);
    EXPECT_EQ(Lines(1e300).value(), 3);
    EXPECT_EQ(Lines(-0.5).value(), 0);
    EXPECT_EQ(Lines(std::nan("")).value(), 0);
}
