#pragma once

#include <optional>
#include <string_view>

#include "base/extended_precision.h"

namespace skarnel {

// The plain number reader: text to an extended-precision number, "." being the
// only decimal mark, independent of the process locale.
//
// Accepted: optional blanks around, an optional sign, digits with at most one
// ".", an optional exponent (E or e, optional sign, digits). At least one digit
// must stand in the mantissa. A value beyond the range of long double is not a
// number. Throws ConversionError otherwise.
long double ReadNumber(std::string_view text);

// As ReadNumber, without the exception.
std::optional<long double> TryReadNumber(std::string_view text) noexcept;

}  // namespace skarnel
