#include "engine/noise_sources.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/crest_modulation.h"

namespace skarnel {
namespace {

TEST(UniformRandom, FirstValuesOfAProcess) {
    UniformRandom random;
    EXPECT_EQ(random.Next(), std::ldexp(1.0L, -32));
    EXPECT_NEAR(static_cast<double>(random.Next()), 0.0313799395, 1e-10);
    EXPECT_NEAR(static_cast<double>(random.Next()), 0.8610484672, 1e-10);
    EXPECT_EQ(&ProcessRandom(), &ProcessRandom());
}

// The seed s with s * 134775813 + 1 == 0 (mod 2^32): the one draw that gives 0.
std::uint32_t SeedBeforeZero() {
    std::uint32_t inverse = UniformRandom::kMultiplier;  // Newton: x := x (2 - a x)
    for (int i = 0; i < 5; ++i) {
        inverse *= 2u - UniformRandom::kMultiplier * inverse;
    }
    return (0u - 1u) * inverse;
}

TEST(WhiteSource, MapsDrawsToMinusOneToOne) {
    ChannelEngineState channel;
    channel.crestExponent = 1.0f;  // "1.42:1" on white noise: unshaped
    UniformRandom zero(SeedBeforeZero());
    EXPECT_EQ(WhiteSource(zero, channel), -1.0f);
    EXPECT_EQ(zero.seed(), 0u);

    // The first draw of a process (2^-32) rounds to exactly -1 in float32,
    // the second passes unshaped.
    UniformRandom fresh;
    EXPECT_EQ(WhiteSource(fresh, channel), -1.0f);
    EXPECT_FLOAT_EQ(WhiteSource(fresh, channel), static_cast<float>(0.0313799395L * 2 - 1));
}

TEST(CrestShape, PowerLawKeepsTheSign) {
    EXPECT_EQ(CrestShape(0.5f, 1.0f), 0.5f);
    EXPECT_EQ(CrestShape(-0.5f, 2.0f), -0.25f);
    EXPECT_EQ(CrestShape(-0.5f, 17.0f), -std::ldexp(1.0f, -17));
    EXPECT_FLOAT_EQ(CrestShape(0.25f, 0.5f), 0.5f);
    EXPECT_FLOAT_EQ(CrestShape(-0.3f, 0.955f), -std::pow(0.3f, 0.955f));
    EXPECT_EQ(CrestShape(0.0f, 1.31f), 0.0f);
    EXPECT_EQ(CrestShape(1.0f, 49.0f), 1.0f);
}

TEST(CrestShape, ExponentZeroTurnsEveryValueIntoPlusOrMinusOne) {
    // A channel whose crest selection has not run yet has exponent 0.
    EXPECT_EQ(CrestShape(0.001f, 0.0f), 1.0f);
    EXPECT_EQ(CrestShape(-0.7f, 0.0f), -1.0f);
    EXPECT_EQ(CrestShape(0.0f, 0.0f), 1.0f);  // 0^0 = 1, sign of 0 is +
}

TEST(PinkSource, FirstValueIsRowZeroAlone) {
    UniformRandom random;
    UniformRandom reference;
    std::array<float, kPinkRowCount> rows{};
    ChannelEngineState channel;
    channel.crestExponent = 1.0f;
    const float v = PinkSource(random, rows, channel, 0);
    const float row0 = static_cast<float>(reference.Next());
    EXPECT_EQ(v, static_cast<float>(static_cast<long double>(row0) / 6.5L - 1.0L));
    EXPECT_EQ(random.seed(), reference.seed());  // n = 0 redraws no other row
    EXPECT_LT(v, -0.846f);
}

TEST(PinkSource, RowScheduleFollowsTheFrameNumber) {
    UniformRandom random;
    std::array<float, kPinkRowCount> rows{};
    ChannelEngineState channel;
    channel.crestExponent = 1.0f;
    int firstDraw[kPinkRowCount];
    std::fill(std::begin(firstDraw), std::end(firstDraw), -1);
    int redraws8 = 0, redraws9 = 0;
    for (std::int32_t n = 0; n < 4096; ++n) {
        const auto before = rows;
        const std::uint32_t seedBefore = random.seed();
        PinkSource(random, rows, channel, n);
        int draws = 0;
        for (std::uint32_t s = seedBefore; s != random.seed();
             s = s * UniformRandom::kMultiplier + 1) {
            ++draws;
        }
        int changed = 0;
        for (int r = 1; r < kPinkRowCount; ++r) {
            if (rows[r] != before[r]) {
                ++changed;
                if (firstDraw[r] < 0) {
                    firstDraw[r] = n;
                }
            }
        }
        EXPECT_EQ(draws, 1 + changed) << "n=" << n;
        redraws8 += rows[8] != before[8];
        redraws9 += rows[9] != before[9];
    }
    EXPECT_EQ(firstDraw[1], 1);
    EXPECT_EQ(firstDraw[4], 0xE);
    EXPECT_EQ(firstDraw[8], 0x81);
    EXPECT_EQ(firstDraw[9], 0xEE);  // mask FF, not 1FF
    EXPECT_EQ(firstDraw[12], 1875);
    EXPECT_EQ(redraws8, 16);
    EXPECT_EQ(redraws9, 16);
}

TEST(PinkSource, StaysWithinMinusOneToOne) {
    UniformRandom random;
    std::array<float, kPinkRowCount> rows{};
    ChannelEngineState channel;
    channel.crestExponent = kCrestExponentsPink[6];
    for (std::int32_t n = 0; n < 20000; ++n) {
        const float v = PinkSource(random, rows, channel, n);
        ASSERT_GE(v, -1.0f);
        ASSERT_LE(v, 1.0f);
    }
}

}  // namespace
}  // namespace skarnel
