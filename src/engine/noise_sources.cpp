#include "engine/noise_sources.h"

#include <cmath>

namespace skarnel {

namespace {

// Integral exponents up to this size are raised by squaring; the crest tables
// stay far below it.
constexpr long double kMaxIntegralExponent = 1u << 30;

}  // namespace

long double PowerLaw(long double x, long double k) noexcept {
    if (k == 0.0L) {
        return 1.0L;
    }
    if (x == 0.0L) {
        return k > 0.0L ? 0.0L : HUGE_VALL;
    }
    const long double magnitude = std::fabs(k);
    if (magnitude <= kMaxIntegralExponent && std::trunc(magnitude) == magnitude) {
        const long double p = IntegralPower(x, static_cast<std::uint32_t>(magnitude));
        return k > 0.0L ? p : 1.0L / p;
    }
    return std::exp2(k * std::log2(x));
}

float CrestShape(float v, float k) noexcept {
    const long double magnitude = std::fabs(static_cast<long double>(v));
    return static_cast<float>(static_cast<long double>(SignOf(v)) *
                              PowerLaw(magnitude, static_cast<long double>(k)));
}

float WhiteSource(UniformRandom& random, const ChannelEngineState& channel) noexcept {
    const float v = static_cast<float>(random.Next() * 2.0L - 1.0L);
    return CrestShape(v, channel.crestExponent);
}

float PinkSource(UniformRandom& random, std::array<float, kPinkRowCount>& pinkRows,
                 const ChannelEngineState& channel, std::int64_t n) noexcept {
    pinkRows[0] = static_cast<float>(random.Next());
    const auto frame = static_cast<std::uint64_t>(n);
    for (int row = 1; row < kPinkRowCount; ++row) {
        if ((frame & kPinkRowSchedule[row].mask) == kPinkRowSchedule[row].match) {
            pinkRows[row] = static_cast<float>(random.Next());
        }
    }
    float sum = 0.0f;
    for (const float row : pinkRows) {
        sum = sum + row;  // float32 after every addition
    }
    const float v = static_cast<float>(static_cast<long double>(sum) / 6.5L - 1.0L);
    return CrestShape(v, channel.crestExponent);
}

}  // namespace skarnel
