#include "engine/preparation.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "numtext/conversion_error.h"

namespace skarnel {
namespace {

using testing::Prepare;
using testing::PrepareArgs;

TEST(Preparation, PeriodInFrames) {
    UniformRandom random;
    SignalEngine e(random);
    e.state.sampleRate = 44100;
    Prepare(e, {.duration = "5"});
    EXPECT_EQ(e.state.periodSamples, 220500);
    e.state.sampleRate = 8000;
    Prepare(e, {.duration = "0.1"});
    EXPECT_EQ(e.state.periodSamples, 800);
    EXPECT_EQ(PeriodFrames(0.00005L, 10000), 0);  // 0.5 frames: half to even
    EXPECT_EQ(PeriodFrames(0.00015L, 10000), 2);
}

TEST(Preparation, LongPeriodsKeepTheirLengthAndOnlyTheUnholdableSaturate) {
    // A day at 48 kHz and 100000 s at 192 kHz: far beyond 2^31 frames.
    EXPECT_EQ(PeriodFrames(86400.0L, 48000), 4147200000LL);
    EXPECT_EQ(PeriodFrames(100000.0L, 192000), 19200000000LL);
    EXPECT_EQ(PeriodFrames(11184.8106L, 192000), 2147483635);
    EXPECT_EQ(PeriodFrames(11184.811L, 192000), 2147483712LL);  // just past 2^31
    // The float period text reaches 3.4e38 s: cut, never wrapped.
    EXPECT_EQ(PeriodFrames(3.4e38L, 192000), INT64_MAX);
    EXPECT_EQ(PeriodFrames(std::numeric_limits<long double>::infinity(), 8000), INT64_MAX);
}

TEST(Preparation, RestartsThePeriodAndPutsEverythingAtRest) {
    UniformRandom random;
    SignalEngine e(random);
    e.state.busy = true;
    e.state.sampleCounter = 777;
    e.state.pinkRows.fill(0.5f);
    for (auto& c : e.state.channels) {
        c.modGain = 0.25f;
        c.x = 11;
        c.x1 = c.x2 = c.y = c.y1 = c.y2 = 99;
        c.crestExponent = 7.5f;
        c.modDepth = 0.3f;
    }
    e.live.modulationOn = {true, true};
    Prepare(e);
    EXPECT_FALSE(e.state.busy);
    EXPECT_EQ(e.state.sampleCounter, 0);
    for (float row : e.state.pinkRows) {
        EXPECT_EQ(row, 0.0f);
    }
    for (const auto& c : e.state.channels) {
        EXPECT_EQ(c.modGain, 1.0f);
        EXPECT_EQ(c.x, 11);  // overwritten before its next use
        EXPECT_EQ(c.x1 | c.x2 | c.y | c.y1 | c.y2, 0);
        EXPECT_EQ(c.crestExponent, 7.5f);  // not preparation's business
        EXPECT_EQ(c.modDepth, 0.3f);
    }
    EXPECT_EQ(random.seed(), 0u);  // the generator is never reset or drawn
}

TEST(Preparation, RunsTheAmplitudeValidationsBeforeReadingTheFilters) {
    SignalEngine e;
    e.state.sampleCounter = 5;
    e.state.left().filterFrequency = 123.0;
    int calls = 0;
    PrepareEngine(e.state, e.live,
                  {"10", {FilterTexts{"1000", "1", "0"}, FilterTexts{"1000", "1", "0"}}}, [&] {
                      ++calls;
                      EXPECT_EQ(e.state.sampleCounter, 0);               // after the reset
                      EXPECT_EQ(e.state.left().filterFrequency, 123.0);  // before the filters
                  });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(e.state.left().filterFrequency, 1000.0);
}

TEST(Preparation, FailureKeepsTheStepsAlreadyDone) {
    SignalEngine e;
    e.state.sampleRate = 44100;
    e.live.filterType = {kFilterPeaking, kFilterNotch};
    Prepare(e, {.duration = "2", .left = {"500", "2", "3"}, .right = {"700", "4", "5"}});
    const double rightB0 = e.state.right().b0;
    const double leftB0 = e.state.left().b0;

    e.state.sampleCounter = 300;
    PrepareArgs bad{.duration = "3", .left = {"800", "abc", "6"}, .right = {"900", "8", "9"}};
    try {
        Prepare(e, bad);
        FAIL() << "expected a conversion error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'abc' is not a valid floating point value");
    }
    EXPECT_EQ(e.state.periodSamples, 132300);          // step 1 done
    EXPECT_EQ(e.state.sampleCounter, 0);               // running state reset
    EXPECT_EQ(e.state.left().filterFrequency, 800.0);  // read before the failing Q
    EXPECT_EQ(e.state.left().filterQ, 2.0);
    EXPECT_EQ(e.state.left().filterGain, 3.0);
    EXPECT_EQ(e.state.right().filterFrequency, 700.0);  // never reached
    EXPECT_EQ(e.state.left().b0, leftB0);               // no design ran
    EXPECT_EQ(e.state.right().b0, rightB0);
}

TEST(Preparation, SecondRunOfAHighPassDesignsWithQOne) {
    SignalEngine e;
    e.live.filterType = {kFilterHighPass, kFilterPeaking};
    PrepareArgs args{.left = {"1000", "3", "0"}, .right = {"1000", "3", "0"}};
    PreparationOutcome first = Prepare(e, args);
    EXPECT_TRUE(first.filter[kLeft].setQTextToOne);
    EXPECT_FALSE(first.filter[kRight].setQTextToOne);
    const double alphaQ3 = e.state.left().alpha;
    args.left.q = "1";  // what the window's Q entry now reads
    Prepare(e, args);
    EXPECT_NEAR(e.state.left().alpha, alphaQ3 * 3.0, 1e-15);
}

}  // namespace
}  // namespace skarnel
