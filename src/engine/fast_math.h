#pragma once

// Double-precision approximations for the fast block renderer, and the checks
// that make their use exact.
//
// Every value the signal is defined by is rounded at some point: to float32,
// or to an integer. An approximation `a` of the defined value `v` whose error
// is known, |a - v| <= e, gives the defined rounding whenever the whole
// interval [a - e, a + e] rounds to one result: rounding is monotonic, so v,
// which lies in the interval, rounds to the same. When the interval straddles
// a rounding boundary the renderer computes the value the defined way instead.
// The bounds used below are several hundred times the largest error the
// approximations can make, and include the error of the defined computation
// itself (its own extended-precision roundings).

#include <bit>
#include <cmath>
#include <cstdint>

#include "base/extended_precision.h"

namespace skarnel::fastmath {

// Rounds to the nearest integer, halves to even, for |v| < 2^62, without the
// library call (and its rounding-mode bookkeeping) of nearbyint.
inline long double RoundHalfEvenExtended(long double v) noexcept {
    constexpr long double kRoundingShift = 0x1.8p63L;
    return (v + kRoundingShift) - kRoundingShift;
}

// Relative error allowed for the power law: log2 and exp2 below together stay
// under 2^-44 on the exponents the crest tables use (|k log2 x| < 64), and the
// defined extended-precision power law is within 2^-58.
inline constexpr double kPowerLawTolerance = 0x1p-38;

// True when every value within `error` of `approx` rounds to the same float.
// The ends are moved outwards by the double rounding of their own sums.
inline bool SameFloatAround(double approx, double error, float& rounded) noexcept {
    const double widened = error + std::fabs(approx) * 0x1p-52;
    const float lo = static_cast<float>(approx - widened);
    const float hi = static_cast<float>(approx + widened);
    rounded = static_cast<float>(approx);
    return lo == hi && std::signbit(lo) == std::signbit(hi);
}

// log2(x) for finite x > 0 in double, within 2^-46 + 2^-51 |log2 x|.
// x = m * 2^e with m in [sqrt(1/2), sqrt(2)); ln m = 2 atanh(t) with
// t = (m - 1) / (m + 1), |t| <= 0.1716, summed to t^19 (next term < 2^-50).
// Written without branches or integer-to-double conversions, so that loops
// over it vectorize.
inline double Log2(double x) noexcept {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    // The biased exponent as a double: 2^52 + e read back exactly.
    double exponent =
        std::bit_cast<double>((bits >> 52) | 0x4330000000000000ull) - (4503599627370496.0 + 1023.0);
    double m = std::bit_cast<double>((bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
    const bool high = m > 1.4142135623730951;
    m = high ? m * 0.5 : m;
    exponent = high ? exponent + 1.0 : exponent;
    const double t = (m - 1.0) / (m + 1.0);
    const double t2 = t * t;
    double series = 1.0 / 19.0;
    series = series * t2 + 1.0 / 17.0;
    series = series * t2 + 1.0 / 15.0;
    series = series * t2 + 1.0 / 13.0;
    series = series * t2 + 1.0 / 11.0;
    series = series * t2 + 1.0 / 9.0;
    series = series * t2 + 1.0 / 7.0;
    series = series * t2 + 1.0 / 5.0;
    series = series * t2 + 1.0 / 3.0;
    series = series * t2 + 1.0;
    constexpr double kTwoOverLn2 = 2.8853900817779268;  // 2 / ln 2
    return exponent + (t * kTwoOverLn2) * series;
}

// 2^y for -1000 < y < 1000 in double, within 2^-47 relative (plus what an
// error in y itself costs). y = n + f with n an integer and |f| <= 1/2; 2^f as
// the Taylor series of e^(f ln 2) to the 12th power (next term < 2^-51).
inline double Exp2(double y) noexcept {
    constexpr double kRoundingShift = 0x1.8p52;
    // y + 1.5 * 2^52 holds the rounded y in its low mantissa bits.
    const double shifted = y + kRoundingShift;
    const double n = shifted - kRoundingShift;
    const double z = (y - n) * 0.69314718055994531;
    double p = 1.0 / 479001600.0;  // 1/12!
    p = p * z + 1.0 / 39916800.0;
    p = p * z + 1.0 / 3628800.0;
    p = p * z + 1.0 / 362880.0;
    p = p * z + 1.0 / 40320.0;
    p = p * z + 1.0 / 5040.0;
    p = p * z + 1.0 / 720.0;
    p = p * z + 1.0 / 120.0;
    p = p * z + 1.0 / 24.0;
    p = p * z + 1.0 / 6.0;
    p = p * z + 0.5;
    p = p * z + 1.0;
    p = p * z + 1.0;
    // (n + 1023) << 52 from those bits: 2^n for -1022 <= n <= 1023.
    const std::uint64_t scale = (std::bit_cast<std::uint64_t>(shifted) + 1023u) << 52;
    return p * std::bit_cast<double>(scale);
}

// sin(y) and cos(y) for |y| <= pi/4 (plus a little), within 2^-52 absolute:
// Taylor series to y^17 and y^18 (next terms below 2^-62).
inline double SinReduced(double y) noexcept {
    const double y2 = y * y;
    double p = 1.0 / 355687428096000.0;  // 1/17!
    p = p * y2 - 1.0 / 1307674368000.0;
    p = p * y2 + 1.0 / 6227020800.0;
    p = p * y2 - 1.0 / 39916800.0;
    p = p * y2 + 1.0 / 362880.0;
    p = p * y2 - 1.0 / 5040.0;
    p = p * y2 + 1.0 / 120.0;
    p = p * y2 - 1.0 / 6.0;
    return y + (y * y2) * p;
}

inline double CosReduced(double y) noexcept {
    const double y2 = y * y;
    double p = 1.0 / 6402373705728000.0;  // 1/18!
    p = p * y2 - 1.0 / 20922789888000.0;
    p = p * y2 + 1.0 / 87178291200.0;
    p = p * y2 - 1.0 / 479001600.0;
    p = p * y2 + 1.0 / 3628800.0;
    p = p * y2 - 1.0 / 40320.0;
    p = p * y2 + 1.0 / 720.0;
    p = p * y2 - 1.0 / 24.0;
    p = p * y2 + 0.5;
    return 1.0 - y2 * p;
}

// An angle in extended precision reduced by multiples of pi/2: the remainder
// in double (|y| <= pi/4 + 2^-50) and the quadrant (0..3). For |a| < 2^32 the
// remainder is within 2^-52 of the exact one: pi/2 is split in a 32-bit head,
// whose multiples by the (at most 32-bit) quadrant count are exact, and an
// extended tail.
struct ReducedAngle {
    double y;
    int quadrant;
};

inline ReducedAngle ReduceQuarterTurns(long double a) noexcept {
    constexpr long double kTwoOverPi = 0.63661977236758134308L;
    constexpr long double kHalfPiHead = 0xc90fdaa2p-31L;          // 32 significant bits
    constexpr long double kHalfPiTail = 0x85a308d313198a2ep-97L;  // pi/2 - head, 64 bits
    const long double k = RoundHalfEvenExtended(a * kTwoOverPi);
    const long double y = (a - k * kHalfPiHead) - k * kHalfPiTail;
    // k is already whole: converting in the current rounding mode (llrint)
    // avoids switching the x87 unit to truncation for a cast.
    const auto quadrant = static_cast<int>(std::llrint(k) & 3);
    return {static_cast<double>(y), quadrant};
}

// sin(a) from a reduced angle; add 1 to the quadrant for cos(a).
inline double SinOfReduced(ReducedAngle r) noexcept {
    switch (r.quadrant & 3) {
        case 0:
            return SinReduced(r.y);
        case 1:
            return CosReduced(r.y);
        case 2:
            return -SinReduced(r.y);
        default:
            return -CosReduced(r.y);
    }
}

// sin(a) from a reduced angle without branches (loops over it vectorize).
inline double SinOfQuadrant(double y, int quadrant) noexcept {
    const double sine = SinReduced(y);
    const double cosine = CosReduced(y);
    const double value = (quadrant & 1) != 0 ? cosine : sine;
    return (quadrant & 2) != 0 ? -value : value;
}

// arctan(u) in double, within 2^-50 absolute, for any u (infinities give
// +-pi/2). |u| > 1 uses pi/2 - arctan(1/|u|), and above tan(pi/8)
// pi/4 + arctan((x - 1) / (x + 1)), leaving |x| <= tan(pi/8); the series runs
// to x^39 (next term < 2^-54).
inline double Atan(double u) noexcept {
    const double a = std::fabs(u);
    const bool invert = a > 1.0;
    double x = invert ? 1.0 / a : a;
    const bool shift = x > 0.41421356237309503;
    x = shift ? (x - 1.0) / (x + 1.0) : x;
    const double x2 = x * x;
    double p = -1.0 / 39.0;
    p = p * x2 + 1.0 / 37.0;
    p = p * x2 - 1.0 / 35.0;
    p = p * x2 + 1.0 / 33.0;
    p = p * x2 - 1.0 / 31.0;
    p = p * x2 + 1.0 / 29.0;
    p = p * x2 - 1.0 / 27.0;
    p = p * x2 + 1.0 / 25.0;
    p = p * x2 - 1.0 / 23.0;
    p = p * x2 + 1.0 / 21.0;
    p = p * x2 - 1.0 / 19.0;
    p = p * x2 + 1.0 / 17.0;
    p = p * x2 - 1.0 / 15.0;
    p = p * x2 + 1.0 / 13.0;
    p = p * x2 - 1.0 / 11.0;
    p = p * x2 + 1.0 / 9.0;
    p = p * x2 - 1.0 / 7.0;
    p = p * x2 + 1.0 / 5.0;
    p = p * x2 - 1.0 / 3.0;
    double r = x + (x * x2) * p;
    r = shift ? r + 0.78539816339744831 : r;
    r = invert ? 1.5707963267948966 - r : r;
    return u < 0.0 ? -r : r;
}

// How far a biquad output formed in double can lie from the defined one.
// The defined output is b0/a0 x + b1/a0 x1 + b2/a0 x2 - a1/a0 y1 - a2/a0 y2
// with extended quotients, products and sums taken left to right. Let S be
// the sum of the five terms' magnitudes. Each quotient and product rounding
// moves only its own term, by 2^-64 of it, and each of the four sums by
// 2^-64 of a partial sum, at most S: the defined output lies within
// 6 * 2^-64 * S of the exact value (plus second-order terms). The double form
// rounds the quotients to double, then forms the products and four sums in
// any order: within 6 * 2^-53 * S likewise. Together less than 2^-50 S; the
// bound allows 2^-44 S, 64 times that, with S taken from the double terms
// (within 2^-51 of the exact one), plus the rounding of sum +- bound itself.
inline double FilterSumBound(double magnitudes, double sum) noexcept {
    return magnitudes * 0x1p-44 + std::fabs(sum) * 0x1p-52;
}

// Rounds to the nearest integer, halves to even, for |v| < 2^51.
inline double RoundHalfEven(double v) noexcept {
    constexpr double kRoundingShift = 0x1.8p52;
    return (v + kRoundingShift) - kRoundingShift;
}

}  // namespace skarnel::fastmath
