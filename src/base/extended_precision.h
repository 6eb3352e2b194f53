#pragma once

#include <limits>

// The signal is defined in the x87 extended format: every intermediate is a
// long double with a 64-bit significand, rounded to nearest. The engine's
// results, the fast renderer's error bounds (fast_math.h) and the number
// texts (numtext/) are exact only there. A port to a machine whose long
// double is another format (64-bit double on ARM, 113-bit quad on AArch64
// Linux) must supply an extended type with a 64-bit significand and round-to-
// nearest arithmetic (a software float, or double-double with explicit
// rounding to 64 bits) and use it where long double stands now.
static_assert(std::numeric_limits<long double>::radix == 2 &&
                  std::numeric_limits<long double>::digits == 64,
              "Skarnel's signal is defined in x87 extended precision: long double must have a "
              "64-bit significand (see base/extended_precision.h for what a port must provide)");
static_assert(std::numeric_limits<long double>::round_style == std::round_to_nearest,
              "Skarnel's signal rounds to nearest, halves to even");
