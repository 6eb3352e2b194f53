#include "engine/crest_modulation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/live_settings.h"

namespace skarnel {
namespace {

TEST(CrestSelection, TableFollowsTheNoiseFunction) {
    EXPECT_EQ(SelectCrestExponent(kWhiteNoise, 0, 0.0f), 1.0f);
    EXPECT_EQ(SelectCrestExponent(kWhiteNoise, 4, 0.0f), 17.0f);
    EXPECT_EQ(SelectCrestExponent(kPinkNoise, 6, 0.0f), 1.31f);
    EXPECT_EQ(SelectCrestExponent(kPinkNoise, 0, 0.0f), 0.15f);
    // Any other noise function uses the pink table.
    EXPECT_EQ(SelectCrestExponent(-1, 1, 0.0f), 0.3166f);
    // No crest item selected keeps what the channel has.
    EXPECT_EQ(SelectCrestExponent(kWhiteNoise, -1, 7.5f), 7.5f);
    EXPECT_EQ(SelectCrestExponent(kWhiteNoise, 7, 7.5f), 7.5f);
}

TEST(TriangleOf, IsTheScaledArcsineOfTheSine) {
    EXPECT_EQ(TriangleOf(0.0f), 0.0f);
    EXPECT_EQ(TriangleOf(static_cast<float>(kPi / 2)), 1.0f);
    EXPECT_EQ(TriangleOf(static_cast<float>(-kPi / 2)), -1.0f);
    EXPECT_NEAR(TriangleOf(static_cast<float>(kPi / 6)), 1.0f / 3.0f, 1e-6f);
    // Linear between the peaks: a quarter of the way up is 0.5.
    EXPECT_NEAR(TriangleOf(static_cast<float>(kPi / 4)), 0.5f, 1e-6f);
    EXPECT_NEAR(TriangleOf(static_cast<float>(kPi * 3 / 4)), 0.5f, 1e-6f);
}

float GainAt(int function, float depth, std::int32_t n, float period = 1.0f, float phase = 0.0f,
             std::int32_t rate = 44100) {
    ChannelEngineState c;
    c.modDepth = depth;
    c.modPeriod = period;
    c.modPhase = phase;
    c.modGain = 123.0f;
    UpdateModGain(c, function, n, rate);
    return c.modGain;
}

TEST(UpdateModGain, GainsAtTheStartOfThePeriod) {
    EXPECT_EQ(GainAt(kModSine, 0.6f, 0), 1.0f - 0.3f);
    EXPECT_EQ(GainAt(kModCosine, 0.6f, 0), 1.0f - 0.6f);
    EXPECT_EQ(GainAt(kModSquare, 0.6f, 0), 1.0f - 0.6f);  // sin 0 = 0 counts as positive
    EXPECT_EQ(GainAt(kModTriangular, 0.6f, 0), 1.0f - 0.3f);
    EXPECT_EQ(GainAt(kModCosine, 0.0f, 0), 1.0f);
    EXPECT_EQ(GainAt(kModSine, 0.0f, 12345), 1.0f);
}

TEST(UpdateModGain, SquareAtFullDepthSwitchesBetweenSilenceAndFullLevel) {
    for (std::int32_t n : {0, 1, 11024, 22049}) {
        EXPECT_EQ(GainAt(kModSquare, 1.0f, n), 0.0f) << n;
    }
    for (std::int32_t n : {22051, 33075, 44099}) {
        EXPECT_EQ(GainAt(kModSquare, 1.0f, n), 1.0f) << n;
    }
}

TEST(UpdateModGain, PeriodAndPhaseSetTheTimeBase) {
    // A period of 1 s at 44100 Hz repeats every 44100 frames.
    for (std::int32_t n : {1, 1000, 30000}) {
        EXPECT_NEAR(GainAt(kModSine, 1.0f, n), GainAt(kModSine, 1.0f, n + 44100), 1e-6f);
    }
    // A phase of 90 degrees turns the sine into the cosine.
    EXPECT_NEAR(GainAt(kModSine, 1.0f, 5000, 1.0f, static_cast<float>(kPi / 2)),
                GainAt(kModCosine, 1.0f, 5000), 1e-6f);
    // Half a period of 2 s at 8000 Hz is frame 8000: the cosine is at -1.
    EXPECT_EQ(GainAt(kModCosine, 1.0f, 8000, 2.0f, 0.0f, 8000), 1.0f);
}

TEST(UpdateModGain, LeavesTheGainAloneWhenThePhaseCannotBeFormed) {
    EXPECT_EQ(GainAt(kModSine, 1.0f, 100, 0.0f), 123.0f);
    EXPECT_EQ(GainAt(kModSine, 1.0f, 0, 0.0f), 123.0f);
    EXPECT_EQ(GainAt(kModSine, 1.0f, 100, 1.0f, std::numeric_limits<float>::infinity()), 123.0f);
    EXPECT_EQ(GainAt(kModSine, 1.0f, 100, 1.0f, 0.0f, 0), 123.0f);
    EXPECT_EQ(GainAt(-1, 1.0f, 100), 123.0f);  // no function selected
}

}  // namespace
}  // namespace skarnel
