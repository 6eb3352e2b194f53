#include "numtext/number_reader.h"

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "numtext/conversion_error.h"
#include "numtext/number_format.h"

namespace skarnel {
namespace {

TEST(NumberReader, AcceptsTheGrammarWithCorrectRounding) {
    // 0.1L differs from 0.1 widened: this catches a conversion through double.
    EXPECT_EQ(ReadNumber("0.1"), 0.1L);
    EXPECT_EQ(ReadNumber("  -4.25  "), -4.25L);
    EXPECT_EQ(ReadNumber("+3"), 3.0L);
    EXPECT_EQ(ReadNumber(".5"), 0.5L);
    EXPECT_EQ(ReadNumber("5."), 5.0L);
    EXPECT_EQ(ReadNumber("1E+3"), 1000.0L);
    EXPECT_EQ(ReadNumber("2.5e-3"), 2.5e-3L);
    EXPECT_EQ(ReadNumber("123456789.123456789e-9"), 123456789.123456789e-9L);
    EXPECT_TRUE(std::signbit(ReadNumber("-0")));
}

TEST(NumberReader, RejectsEverythingOutsideTheGrammar) {
    for (const char* text :
         {"",    " ", "1.2.3", "1e",  "e5",  "--1",   "1 2", "0x10", "inf",   "nan",
          "1,5", ".", "-",     ".e1", "1e+", "1e2.5", "\t1", "1\n",  "1_000", "+-1"}) {
        EXPECT_THROW(ReadNumber(text), ConversionError) << '"' << text << '"';
        EXPECT_FALSE(TryReadNumber(text).has_value()) << '"' << text << '"';
    }
    // A terminating zero inside the text must not cut the text short.
    EXPECT_FALSE(TryReadNumber(std::string_view("1\0005", 3)).has_value());  // "1", NUL, "5"
}

TEST(NumberReader, OverflowFailsButUnderflowGivesTheTinyValue) {
    EXPECT_THROW(ReadNumber("1e5000"), ConversionError);
    EXPECT_FALSE(TryReadNumber("-1.2e4932").has_value());
    EXPECT_EQ(ReadNumber("1e4932"), 1e4932L);  // just below the largest long double
    EXPECT_EQ(ReadNumber("1e-5000"), 0.0L);
    EXPECT_EQ(ReadNumber("4e-4951"), std::numeric_limits<long double>::denorm_min());
}

TEST(NumberReader, ExceptionCarriesTheOriginalText) {
    try {
        ReadNumber(" 1,5");
        FAIL() << "no exception";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "' 1,5' is not a valid floating point value");
        EXPECT_EQ(e.text(), " 1,5");
    }
}

// Restores the process locale when the test ends, whatever happens.
class CommaLocale {
public:
    CommaLocale() : saved_(std::setlocale(LC_ALL, nullptr)) {
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name) != nullptr &&
                std::string(std::localeconv()->decimal_point) == ",") {
                active_ = true;
                return;
            }
        }
        std::setlocale(LC_ALL, saved_.c_str());
    }
    ~CommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

TEST(NumberReader, IgnoresTheProcessLocale) {
    CommaLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << "no locale with a comma decimal mark is installed";
    }
    EXPECT_EQ(ReadNumber("1.5"), 1.5L);
    EXPECT_THROW(ReadNumber("1,5"), ConversionError);
    EXPECT_EQ(FormatNumber(-2.5e-7L), "-2.5E-7");
    EXPECT_EQ(FormatNumber(12.34L), "12.34");
}

}  // namespace
}  // namespace skarnel
