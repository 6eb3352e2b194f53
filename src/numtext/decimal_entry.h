#pragma once

#include <limits>
#include <string>
#include <string_view>

namespace skarnel {

// Range end meaning "no limit on this side" for ClampAndRound.
inline constexpr float kNoUpperLimit = std::numeric_limits<float>::infinity();
inline constexpr float kNoLowerLimit = -std::numeric_limits<float>::infinity();

// Reads an entry's text accepting either a comma or a point as decimal mark and
// narrows the value to float32. When the text holds a comma, every comma and
// every point becomes ".", so "1,5" reads 1.5 while "1,000.5" fails. A value
// outside the float32 range fails as well. Throws ConversionError.
float ParseDecimal(std::string_view text);

// The validation an entry runs when the user leaves it: read with ParseDecimal
// (fallback on failure), clamp (maximum first, then minimum), round to
// `decimals` places with halves to even, and return the text of the result.
// Because the value is narrowed to float32 first, "0.1" with 10 decimals gives
// "0.1000000015".
std::string ClampAndRound(std::string_view text, float minimum, float maximum, int decimals,
                          float fallback);

// What an entry shows for `text`, the text its model holds. A text that is the
// shortest text of its own float32 value (FormatShortestFloat) rounded to
// `decimals` places, as a validation gives it, is shown as that shorter text:
// "0.1000000015", "0.1" validated with 10 decimals, shows "0.1". Any other
// text (typed, unreadable, more digits than the validation keeps) is shown
// as it is. The range plays no part, so a text validated within one range
// (the filter frequency's, which follows the sampling frequency) shows the
// same within another.
std::string ShownEntryText(std::string_view text, int decimals);

}  // namespace skarnel
