#include "numtext/number_reader.h"

#include <locale.h>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "numtext/conversion_error.h"

namespace skarnel {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Skips the digits starting at `pos` and returns how many there were.
std::size_t SkipDigits(std::string_view s, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < s.size() && IsDigit(s[pos])) {
        ++pos;
    }
    return pos - start;
}

// Checks the grammar ourselves rather than trusting strtold, which would also
// take hex, "inf", "nan", leading tabs and a trailing rest of the text.
// Returns the number without the surrounding spaces, or an empty view.
std::string_view NumberPart(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::string_view s = text.substr(first, text.find_last_not_of(' ') - first + 1);

    std::size_t pos = 0;
    if (s[pos] == '+' || s[pos] == '-') {
        ++pos;
    }
    std::size_t mantissa_digits = SkipDigits(s, pos);
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        mantissa_digits += SkipDigits(s, pos);
    }
    if (mantissa_digits == 0) {
        return {};
    }
    if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
        ++pos;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
            ++pos;
        }
        if (SkipDigits(s, pos) == 0) {
            return {};
        }
    }
    return pos == s.size() ? s : std::string_view{};
}

// The GUI sets the process locale, which would change strtold's decimal mark;
// converting in a private "C" locale keeps "." the only mark.
locale_t CLocale() {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c_locale;
}

}  // namespace

std::optional<long double> TryReadNumber(std::string_view text) noexcept {
    const std::string_view number = NumberPart(text);
    const locale_t c_locale = CLocale();
    if (number.empty() || c_locale == locale_t{}) {
        return std::nullopt;
    }
    const std::string terminated(number);  // strtold_l needs a terminated string
    errno = 0;
    const long double value = strtold_l(terminated.c_str(), nullptr, c_locale);
    // ERANGE with a finite result is underflow, which keeps the tiny or zero
    // value; an infinite result is overflow, which is not a number for us.
    if (errno == ERANGE && std::isinf(value)) {
        return std::nullopt;
    }
    return value;
}

long double ReadNumber(std::string_view text) {
    if (const std::optional<long double> value = TryReadNumber(text)) {
        return *value;
    }
    throw ConversionError(text);
}

}  // namespace skarnel
