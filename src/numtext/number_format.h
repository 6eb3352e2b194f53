#pragma once

#include <string>

#include "base/extended_precision.h"

namespace skarnel {

// Number to text in the general format: at most 15 significant digits,
// trailing zeros dropped, "." as decimal mark; fixed notation for magnitudes
// from 0.0001 up to but excluding 1E15, scientific otherwise ("1E-5",
// "1.5E20", "-2.5E-7"). Zero (either sign) is "0". Infinities and NaN give
// "INF", "-INF" and "NAN".
std::string FormatNumber(long double value);

// The fewest significant digits that read back as the same float32 value (at
// most 9), in the same general format as FormatNumber: 0.1f gives "0.1"
// where FormatNumber gives "0.100000001490116".
std::string FormatShortestFloat(float value);

}  // namespace skarnel
