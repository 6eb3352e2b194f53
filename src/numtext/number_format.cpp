#include "numtext/number_format.h"

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

// printf rounds exactly with ties to even, and its exponent already belongs to
// the rounded value (9.9999999999999999E14 comes back as 1.0E15). Only the
// digits and the exponent are taken from its text, so the decimal mark of the
// process locale never matters.
Decimal RoundToSignificant(long double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*Le", kSignificantDigits - 1, value);

    Decimal result;
    const char* p = text;
    if (*p == '-') {
        result.negative = true;
        ++p;
    }
    for (; *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') {
            result.digits += *p;
        }
    }
    result.exponent = std::atoi(p + 1);
    result.digits.erase(result.digits.find_last_not_of('0') + 1);
    return result;
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

}  // namespace

std::string FormatNumber(long double value) {
    if (std::isnan(value)) {
        return "NAN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    if (value == 0) {
        return "0";  // also for negative zero
    }
    const Decimal d = RoundToSignificant(value);
    const bool fixed = d.exponent >= -4 && d.exponent < kSignificantDigits;
    return (d.negative ? "-" : "") + (fixed ? Fixed(d) : Scientific(d));
}

}  // namespace skarnel
