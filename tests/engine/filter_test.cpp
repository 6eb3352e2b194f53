#include "engine/filter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/live_settings.h"
#include "engine/preparation.h"

namespace skarnel {
namespace {

ChannelEngineState Designed(int type, const char* freq, const char* q, const char* gain,
                            std::int32_t rate = 44100, FilterDesignOutcome* outcome = nullptr) {
    ChannelEngineState c;
    ReadFilterTexts(c, rate, {freq, q, gain});
    const FilterDesignOutcome o = DesignFilter(c, type);
    if (outcome != nullptr) {
        *outcome = o;
    }
    return c;
}

TEST(FilterDesign, PeakingMatchesTheReferenceCoefficients) {
    const ChannelEngineState c = Designed(kFilterPeaking, "1000", "3", "-10");
    EXPECT_NEAR(c.w0, 0.1424758573, 5e-11);
    EXPECT_NEAR(c.peakA, 0.5623413252, 5e-11);
    EXPECT_NEAR(c.alpha, 0.0236657197, 5e-11);
    EXPECT_NEAR(c.b0 / c.a0, 0.9723860623, 5e-11);
    EXPECT_NEAR(c.b1 / c.a0, -1.8997839405, 5e-11);
    EXPECT_NEAR(c.a1 / c.a0, -1.8997839405, 5e-11);
    EXPECT_NEAR(c.b2 / c.a0, 0.9468445344, 5e-11);
    EXPECT_NEAR(c.a2 / c.a0, 0.9192305967, 5e-11);
}

TEST(FilterDesign, HighPassMatchesTheReferenceCoefficients) {
    const ChannelEngineState c = Designed(kFilterHighPass, "1000", "1", "0");
    EXPECT_NEAR(c.b0 / c.a0, 0.9289788755, 5e-11);
    EXPECT_NEAR(c.b2 / c.a0, 0.9289788755, 5e-11);
    EXPECT_NEAR(c.b1 / c.a0, -1.8579577510, 5e-11);
    EXPECT_NEAR(c.a1 / c.a0, -1.8484969161, 5e-11);
    EXPECT_NEAR(c.a2 / c.a0, 0.8674185858, 5e-11);
}

TEST(FilterDesign, PeakingWithZeroGainIsATinyPeakNotAnIdentity) {
    const ChannelEngineState c = Designed(kFilterPeaking, "1000", "1", "0");
    EXPECT_EQ(c.filterGain, 0.02);
    EXPECT_NEAR(c.peakA, 1.0011520, 1e-7);
    EXPECT_NE(c.b0, c.a0);
}

TEST(FilterDesign, EnabledEntriesAndQResetPerType) {
    struct Case {
        int type;
        FilterFieldsEnabled enabled;
        bool qToOne;
    };
    const Case cases[] = {
        {kFilterNone, {false, false, false}, false},   {kFilterPeaking, {true, true, true}, false},
        {kFilterHighPass, {true, false, false}, true}, {kFilterLowPass, {true, false, false}, true},
        {kFilterBandPass, {true, false, true}, false}, {kFilterNotch, {true, false, true}, false},
    };
    for (const Case& k : cases) {
        FilterDesignOutcome o;
        Designed(k.type, "500", "3", "6", 48000, &o);
        EXPECT_EQ(o.enabled, k.enabled) << "type " << k.type;
        EXPECT_EQ(o.setQTextToOne, k.qToOne) << "type " << k.type;
    }
}

TEST(FilterDesign, HighPassDesignsWithTheQItWasGiven) {
    // The Q entry is reset to "1" by the window, but this design uses Q 3.
    const ChannelEngineState q3 = Designed(kFilterHighPass, "1000", "3", "0");
    const ChannelEngineState q1 = Designed(kFilterHighPass, "1000", "1", "0");
    EXPECT_NEAR(q3.alpha * 3.0, q1.alpha, 1e-15);
}

TEST(FilterDesign, NoneKeepsThePreviousCoefficients) {
    ChannelEngineState c = Designed(kFilterNotch, "1000", "2", "0");
    const double b1 = c.b1, a0 = c.a0;
    ReadFilterTexts(c, 44100, {"5000", "7", "0"});
    DesignFilter(c, kFilterNone);
    EXPECT_EQ(c.b1, b1);
    EXPECT_EQ(c.a0, a0);
}

TEST(FilterDesign, QAtOrBelowZeroIsDesignedWithTheSmallestQ) {
    for (const char* q : {"0", "-4", "1e-5000"}) {
        for (int type : {kFilterPeaking, kFilterLowPass, kFilterBandPass, kFilterNotch}) {
            const ChannelEngineState c = Designed(type, "1000", q, "6");
            const ChannelEngineState ref = Designed(type, "1000", "0.01", "6");
            EXPECT_TRUE(std::isfinite(c.alpha) && std::isfinite(c.b0) && std::isfinite(c.a2))
                << "Q " << q << " type " << type;
            EXPECT_EQ(c.alpha, ref.alpha);
            EXPECT_EQ(c.b0, ref.b0);
        }
    }
}

TEST(FilterDesign, NyquistFrequencyStaysFinite) {
    const ChannelEngineState c = Designed(kFilterPeaking, "22050", "1", "6");
    EXPECT_TRUE(std::isfinite(c.b0 / c.a0) && std::isfinite(c.a2 / c.a0));
}

TEST(ApplyFilter, RecursesOnItsOwnRoundedOutputs) {
    ChannelEngineState c;
    // y = 0.5 x + 0.25 x1 - 0.5 y1, with a0 = 2 to check the quotients.
    c.b0 = 1.0;
    c.b1 = 0.5;
    c.b2 = 0.0;
    c.a0 = 2.0;
    c.a1 = 1.0;
    c.a2 = 0.0;
    EXPECT_EQ(ApplyFilter(c, 3), 2);    // 1.5 -> 2 (half to even)
    EXPECT_EQ(ApplyFilter(c, 0), 0);    // 0.75 - 1 = -0.25 -> 0
    EXPECT_EQ(ApplyFilter(c, 5), 2);    // 2.5 -> 2
    EXPECT_EQ(ApplyFilter(c, -7), -3);  // -3.5 + 1.25 - 1 = -3.25
    EXPECT_EQ(c.x1, -7);
    EXPECT_EQ(c.x2, 5);
    EXPECT_EQ(c.y1, c.y);
}

TEST(ApplyFilter, UndesignedCoefficientsGiveSilenceNotACrash) {
    ChannelEngineState c;  // all coefficients 0: every quotient is NaN
    EXPECT_EQ(ApplyFilter(c, 1000), 0);
    EXPECT_EQ(ApplyFilter(c, -1000), 0);
}

}  // namespace
}  // namespace skarnel
