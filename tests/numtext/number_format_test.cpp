#include "numtext/number_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "numtext/number_reader.h"

namespace skarnel {
namespace {

struct FormatCase {
    long double value;
    const char* text;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << "expecting " << c.text;
}

class FormatNumberTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatNumberTest, GivesTheGeneralFormat) {
    EXPECT_EQ(FormatNumber(GetParam().value), GetParam().text);
}

constexpr long double kInf = std::numeric_limits<long double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, FormatNumberTest,
    testing::Values(
        // Zero of either sign, the specials.
        FormatCase{0.0L, "0"}, FormatCase{-0.0L, "0"}, FormatCase{kInf, "INF"},
        FormatCase{-kInf, "-INF"}, FormatCase{std::numeric_limits<long double>::quiet_NaN(), "NAN"},
        // Fifteen significant digits, trailing zeros dropped, integer zeros kept.
        FormatCase{0.1000000015L, "0.1000000015"}, FormatCase{1.0L / 3, "0.333333333333333"},
        FormatCase{2.0L / 3, "0.666666666666667"}, FormatCase{-12.34L, "-12.34"},
        FormatCase{0.1f, "0.100000001490116"}, FormatCase{100.0L, "100"},
        FormatCase{-1e14L, "-100000000000000"},
        // Notation boundaries.
        FormatCase{0.0001L, "0.0001"}, FormatCase{0.00001L, "1E-5"},
        FormatCase{123456789012345.0L, "123456789012345"}, FormatCase{1e15L, "1E15"},
        FormatCase{1.5e20L, "1.5E20"}, FormatCase{-2.5e-7L, "-2.5E-7"},
        // The notation follows the rounded value.
        FormatCase{999999999999999.5L, "1E15"}, FormatCase{0.000099999999999999995L, "0.0001"},
        // Exact ties go to the even digit.
        FormatCase{1000000000000025.0L, "1.00000000000002E15"},
        FormatCase{1000000000000035.0L, "1.00000000000004E15"},
        // Four-digit exponents at the ends of the long double range.
        FormatCase{std::numeric_limits<long double>::max(), "1.18973149535723E4932"},
        FormatCase{-std::numeric_limits<long double>::denorm_min(), "-3.64519953188247E-4951"}));

// The value rounded to 15 significant digits, found independently of
// FormatNumber through printf and strtold (the test runs in the "C" locale).
long double RoundTo15Digits(long double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.14Le", value);
    return std::strtold(text, nullptr);
}

TEST(FormatNumber, ReadsBackAsTheValueRoundedTo15Digits) {
    for (int exponent = -4940; exponent <= 4930; exponent += 7) {
        for (const long double mantissa : {1.0L / 7, -2.0L / 3, 9.87654321012345678L}) {
            const long double value = mantissa * std::pow(10.0L, exponent);
            const std::string text = FormatNumber(value);
            EXPECT_EQ(ReadNumber(text), RoundTo15Digits(value)) << text;
        }
    }
}

TEST(FormatShortestFloat, GivesTheFewestDigitsInTheGeneralFormat) {
    EXPECT_EQ(FormatShortestFloat(0.1f), "0.1");
    EXPECT_EQ(FormatShortestFloat(1000.3f), "1000.3");
    EXPECT_EQ(FormatShortestFloat(-0.0f), "0");
    // Fixed notation from 0.0001 up to 1E15, whole numbers without a mark.
    EXPECT_EQ(FormatShortestFloat(0.0001f), "0.0001");
    EXPECT_EQ(FormatShortestFloat(123456789012.0f), "123456790000");
    EXPECT_EQ(FormatShortestFloat(1e15f), "1E15");
    EXPECT_EQ(FormatShortestFloat(-2.5e-7f), "-2.5E-7");
    EXPECT_EQ(FormatShortestFloat(std::numeric_limits<float>::denorm_min()), "1E-45");
}

// Floats scattered over the whole range read back from their text, and the
// nearest text with one digit fewer would not.
TEST(FormatShortestFloat, ReadsBackAsTheSameFloatWithNoDigitToSpare) {
    std::uint32_t bits = 1;
    for (int i = 0; i < 200000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        const float value = std::bit_cast<float>(bits);
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string text = FormatShortestFloat(value);
        ASSERT_EQ(static_cast<float>(ReadNumber(text)), value) << text;
        // The digits from the first to the last non-zero one, mark excluded.
        const std::string mantissa = text.substr(0, text.find('E'));
        const std::size_t first = mantissa.find_first_of("123456789");
        const std::size_t last = mantissa.find_last_of("123456789");
        const auto significant = std::count_if(
            mantissa.begin() + first, mantissa.begin() + last + 1, [](char c) { return c != '.'; });
        if (significant > 1) {
            char fewer[64];
            std::snprintf(fewer, sizeof fewer, "%.*e", static_cast<int>(significant) - 2,
                          static_cast<double>(value));
            EXPECT_NE(std::strtof(fewer, nullptr), value) << text << " could be " << fewer;
        }
    }
}

}  // namespace
}  // namespace skarnel
