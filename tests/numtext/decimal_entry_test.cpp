#include "numtext/decimal_entry.h"

#include <limits>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "numtext/conversion_error.h"
#include "numtext/entry_rules.h"

namespace skarnel {
namespace {

TEST(ParseDecimal, AcceptsCommaOrPointAndNarrowsToFloat) {
    EXPECT_EQ(ParseDecimal("1,5"), 1.5f);
    EXPECT_EQ(ParseDecimal("1.5"), 1.5f);
    EXPECT_EQ(ParseDecimal(" -3,5e1 "), -35.0f);
    EXPECT_EQ(ParseDecimal("0.1"), 0.1f);
    EXPECT_EQ(ParseDecimal("1e-50"), 0.0f);  // underflow is no failure
    EXPECT_THROW(ParseDecimal("1,000.5"), ConversionError);
    EXPECT_THROW(ParseDecimal("abc"), ConversionError);
}

TEST(ParseDecimal, FailsExactlyWhereFloatWouldBecomeInfinite) {
    EXPECT_THROW(ParseDecimal("1e39"), ConversionError);
    EXPECT_THROW(ParseDecimal("-1e39"), ConversionError);
    EXPECT_THROW(ParseDecimal("1e5000"), ConversionError);
    // Above FLT_MAX (3.40282347E38) but below the halfway point to 2^128
    // (3.40282357E38): rounds down to FLT_MAX.
    EXPECT_EQ(ParseDecimal("-3.4028235e38"), -std::numeric_limits<float>::max());
    EXPECT_THROW(ParseDecimal("3.4028236e38"), ConversionError);
}

TEST(ParseDecimal, ReportsTheTextAsTyped) {
    try {
        ParseDecimal("1,000.5");
        FAIL() << "no exception";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'1,000.5' is not a valid floating point value");
    }
}

struct ClampCase {
    const char* text;
    float minimum;
    float maximum;
    int decimals;
    float fallback;
    const char* expected;
};

void PrintTo(const ClampCase& c, std::ostream* os) {
    *os << '"' << c.text << "\" in " << c.minimum << ".." << c.maximum << ", " << c.decimals
        << " decimals";
}

class ClampAndRoundTest : public testing::TestWithParam<ClampCase> {};

TEST_P(ClampAndRoundTest, GivesTheValidatedText) {
    const ClampCase& c = GetParam();
    EXPECT_EQ(ClampAndRound(c.text, c.minimum, c.maximum, c.decimals, c.fallback), c.expected);
}

constexpr float kNone = kNoUpperLimit;
constexpr float kNoMin = kNoLowerLimit;

INSTANTIATE_TEST_SUITE_P(
    EntryRanges, ClampAndRoundTest,
    testing::Values(
        // Amplitude: -100..0 dBFS, 2 decimals.
        ClampCase{"-3.456", -100, 0, 2, 0, "-3.46"}, ClampCase{"5", -100, 0, 2, 0, "0"},
        ClampCase{"-150", -100, 0, 2, 0, "-100"}, ClampCase{"xyz", -100, 0, 2, 0, "0"},
        ClampCase{"-3,5", -100, 0, 2, 0, "-3.5"},
        // Period: the float32 value shows through with 10 decimals.
        ClampCase{"0.05", 0.1f, kNone, 10, 1, "0.1000000015"},
        ClampCase{"0.1", 0.1f, kNone, 10, 1, "0.1000000015"},
        ClampCase{"0.3", 0.1f, kNone, 10, 1, "0.3000000119"},
        ClampCase{"abc", 0.1f, kNone, 10, 1, "1"}, ClampCase{"2.5", 0.1f, kNone, 10, 1, "2.5"},
        // Depth, phase, frequency at 44100 Hz, Q.
        ClampCase{"150", 0, 100, 10, 100, "100"}, ClampCase{"-5", 0, 100, 10, 100, "0"},
        ClampCase{"-90", 0, kNone, 10, 0, "0"}, ClampCase{"450", 0, kNone, 10, 0, "450"},
        ClampCase{"30000", 1, 22050, 5, 1000, "22050"}, ClampCase{"0", 1, 22050, 5, 1000, "1"},
        ClampCase{"0", 0.01f, 100000, 5, 1, "0.01"},
        ClampCase{"200000", 0.01f, 100000, 5, 1, "100000"},
        // Halves go to the even neighbour (these are exact in float32).
        ClampCase{"0.125", kNoMin, kNone, 2, 0, "0.12"},
        ClampCase{"0.375", kNoMin, kNone, 2, 0, "0.38"},
        // Large values with many decimals must not pass through a 64-bit integer.
        ClampCase{"1e30", kNoMin, kNone, 10, 0, "1.00000001504747E30"},
        // The maximum is applied before the minimum, so the minimum wins.
        ClampCase{"7", 10, 5, 2, 0, "10"},
        // An overflowing float is unreadable and takes the fallback.
        ClampCase{"1e39", kNoMin, kNone, 2, 3, "3"}));

// What an entry shows for its value's text: a validated text shows as the
// shortest text of its float32 value, every other text as it is.
TEST(ShownEntryText, ShortensOnlyTheValidationOfAShorterText) {
    EXPECT_EQ(kPeriodRule.Shown("0.3000000119"), "0.3");
    EXPECT_EQ(kPeriodRule.Shown("2.5"), "2.5");
    EXPECT_EQ(kFilterGainRule.Shown("-1.00000001504747E30"), "-1E30");
    // Typed texts (a comma, a trailing zero, more digits than the rule
    // keeps), an unreadable and an empty one.
    for (const char* typed : {"0,3", "2.50", "0.1000000015000", "abc", ""}) {
        EXPECT_EQ(kPeriodRule.Shown(typed), typed);
    }
    // Validated with other decimals than the rule's.
    EXPECT_EQ(kFilterGainRule.Shown("33.2999992371"), "33.2999992371");
    // The range plays no part: a frequency validated at a higher sampling
    // frequency shows the same at a lower one.
    EXPECT_EQ(FilterFrequencyRule(1000).Shown("1000.29999"), "1000.3");
}

}  // namespace
}  // namespace skarnel
