#include "numtext/number_format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace skarnel {
namespace {

constexpr int kSignificantDigits = 15;

// A finite non-zero value rounded to 15 significant digits: the digits without
// trailing zeros and the decimal exponent of the first digit.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// The digits and exponent of a text in scientific notation ("-1.25e+20",
// "1.2345679E-5"): the characters before the exponent give the digits, the
// rest gives the exponent. Trailing zeros are dropped.
Decimal FromScientific(const char* text) {
    Decimal result;
    const char* p = text;
    if (*p == '-') {
        result.negative = true;
        ++p;
    }
    for (; *p != 'e' && *p != 'E'; ++p) {
        if (*p >= '0' && *p <= '9') {
            result.digits += *p;
        }
    }
    result.exponent = std::atoi(p + 1);
    result.digits.erase(result.digits.find_last_not_of('0') + 1);
    return result;
}

// printf rounds exactly with ties to even, and its exponent already belongs to
// the rounded value (9.9999999999999999E14 comes back as 1.0E15). Only the
// digits and the exponent are taken from its text, so the decimal mark of the
// process locale never matters.
Decimal RoundToSignificant(long double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*Le", kSignificantDigits - 1, value);
    return FromScientific(text);
}

std::string Fixed(const Decimal& d) {
    if (d.exponent < 0) {
        return "0." + std::string(-d.exponent - 1, '0') + d.digits;
    }
    const auto integer_digits = static_cast<std::size_t>(d.exponent) + 1;
    if (d.digits.size() <= integer_digits) {
        return d.digits + std::string(integer_digits - d.digits.size(), '0');
    }
    return d.digits.substr(0, integer_digits) + "." + d.digits.substr(integer_digits);
}

std::string Scientific(const Decimal& d) {
    std::string text = d.digits.substr(0, 1);
    if (d.digits.size() > 1) {
        text += "." + d.digits.substr(1);
    }
    return text + "E" + std::to_string(d.exponent);
}

// The general format of a finite non-zero value's digits.
std::string General(const Decimal& d) {
    const bool fixed = d.exponent >= -4 && d.exponent < kSignificantDigits;
    return (d.negative ? "-" : "") + (fixed ? Fixed(d) : Scientific(d));
}

// The texts both formats give for values without digits.
const char* Special(long double value) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    if (value == 0) {
        return "0";  // also for negative zero
    }
    return nullptr;
}

}  // namespace

std::string FormatNumber(long double value) {
    if (const char* special = Special(value)) {
        return special;
    }
    return General(RoundToSignificant(value));
}

std::string FormatShortestFloat(float value) {
    if (const char* special = Special(value)) {
        return special;
    }
    // Without a precision, to_chars gives the fewest digits that read back
    // as the same float; scientific notation hands them over with their
    // exponent whatever the magnitude.
    char text[32];
    const std::to_chars_result written =
        std::to_chars(text, text + sizeof text - 1, value, std::chars_format::scientific);
    *written.ptr = '\0';
    return General(FromScientific(text));
}

}  // namespace skarnel
