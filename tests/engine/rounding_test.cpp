#include "engine/rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace skarnel {
namespace {

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(Round(0.5L), 0);
    EXPECT_EQ(Round(1.5L), 2);
    EXPECT_EQ(Round(2.5L), 2);
    EXPECT_EQ(Round(-0.5L), 0);
    EXPECT_EQ(Round(-2.5L), -2);
    EXPECT_EQ(Round(-3.5L), -4);
    EXPECT_EQ(Round(2.4999999L), 2);
    EXPECT_EQ(Round(-32766.6L), -32767);
}

TEST(Rounding, KeepsTheLow32BitsOfTheSixtyFourBitResult) {
    EXPECT_EQ(Round(4294967296.0L + 5.0L), 5);
    EXPECT_EQ(Round(2147483648.0L), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(Round(-2147483649.0L), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(RoundToInt64(-9223372036854774784.0L), -9223372036854774784LL);
    EXPECT_EQ(RoundToInt64(9223372036854774784.0L), 9223372036854774784LL);
}

TEST(Rounding, OutOfRangeAndNaNGiveTheIntegerIndefinite) {
    const long double inf = std::numeric_limits<long double>::infinity();
    EXPECT_EQ(RoundToInt64(9223372036854775808.0L), kIntegerIndefinite);
    EXPECT_EQ(RoundToInt64(1e30L), kIntegerIndefinite);
    EXPECT_EQ(RoundToInt64(-inf), kIntegerIndefinite);
    EXPECT_EQ(RoundToInt64(std::nanl("")), kIntegerIndefinite);
    // The indefinite's low 32 bits are 0.
    EXPECT_EQ(Round(inf), 0);
    EXPECT_EQ(Round(std::nanl("")), 0);
}

// The wrapped samples this asserted before (32768 -> -32768, -32769 -> 32767,
// 70000 -> 4464) are now clipped to the nearest end of the range.
TEST(Rounding, Saturate16ClipsToTheNearestEndAndCountsIt) {
    std::uint64_t clipped = 0;
    EXPECT_EQ(Saturate16(32767, clipped), 32767);
    EXPECT_EQ(Saturate16(-32768, clipped), -32768);
    EXPECT_EQ(Saturate16(-1, clipped), -1);
    EXPECT_EQ(clipped, 0U);
    EXPECT_EQ(Saturate16(32768, clipped), 32767);
    EXPECT_EQ(Saturate16(-32769, clipped), -32768);
    EXPECT_EQ(Saturate16(70000, clipped), 32767);
    EXPECT_EQ(Saturate16(std::numeric_limits<std::int64_t>::min(), clipped), -32768);
    EXPECT_EQ(Saturate16(std::numeric_limits<std::int64_t>::max(), clipped), 32767);
    EXPECT_EQ(clipped, 5U);
}

}  // namespace
}  // namespace skarnel
