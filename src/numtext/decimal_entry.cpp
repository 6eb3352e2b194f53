#include "numtext/decimal_entry.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "numtext/conversion_error.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"

namespace skarnel {
namespace {

// Halfway between FLT_MAX and 2^128: from here on, rounding to float32 gives
// infinity (the tie goes up because FLT_MAX has an odd last bit).
constexpr long double kFloatOverflow = 0x1.ffffffp127L;

}  // namespace

float ParseDecimal(std::string_view text) {
    std::string normalised(text);
    // A comma makes every comma and every point a decimal mark; points already
    // are one, so only the commas change. Two marks then fail in the reader.
    if (normalised.find(',') != std::string::npos) {
        std::replace(normalised.begin(), normalised.end(), ',', '.');
    }
    const std::optional<long double> value = TryReadNumber(normalised);
    // Checked before narrowing: converting an out-of-range value is undefined.
    if (!value || std::fabs(*value) >= kFloatOverflow) {
        throw ConversionError(text);  // the user's text, not the normalised one
    }
    return static_cast<float>(*value);
}

std::string ClampAndRound(std::string_view text, float minimum, float maximum, int decimals,
                          float fallback) {
    double q = fallback;
    try {
        q = ParseDecimal(text);
    } catch (const ConversionError&) {
        // An unreadable entry silently becomes the fallback.
    }
    if (q > maximum) {
        q = maximum;
    }
    if (!(q >= minimum)) {
        q = minimum;
    }
    // Rounded in long double rather than through an integer type, so that
    // large values with many decimals (1E30 with 10 decimals) stay intact.
    // nearbyintl rounds halves to even in the default rounding mode.
    const long double scale = std::pow(10.0L, decimals);
    const long double n = std::nearbyint(static_cast<long double>(q) * scale);
    return FormatNumber(n / scale);
}

std::string ShownEntryText(std::string_view text, int decimals) {
    float value = 0.0f;
    try {
        value = ParseDecimal(text);
    } catch (const ConversionError&) {
        return std::string(text);
    }
    std::string shortest = FormatShortestFloat(value);
    // Rounded as a validation rounds, without its range; the shortest text
    // always reads, so the fallback never applies.
    if (ClampAndRound(shortest, kNoLowerLimit, kNoUpperLimit, decimals, value) != text) {
        return std::string(text);
    }
    return shortest;
}

}  // namespace skarnel
