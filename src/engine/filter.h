#pragma once

#include <cstdint>

#include "base/extended_precision.h"
#include "engine/engine_state.h"
#include "engine/rounding.h"

namespace skarnel {

// Which of a channel's three filter entries the chosen filter type uses.
struct FilterFieldsEnabled {
    bool frequency = false;
    bool gain = false;
    bool q = false;
    bool operator==(const FilterFieldsEnabled&) const = default;
};

// What a filter design asks of the window: the enabled state of the channel's
// filter entries, and for High Pass and Low Pass that the Q entry be set to
// "1" (those designs take their Q from the entry once, then settle on 1).
struct FilterDesignOutcome {
    FilterFieldsEnabled enabled;
    bool setQTextToOne = false;
};

// The smallest Q the Q entry accepts; a Q at or below 0 reaching the design is
// designed with this instead, so coefficients stay finite.
inline constexpr double kMinimumFilterQ = 0.01;

// Designs the channel's biquad (Audio EQ Cookbook) for the filter type from
// filterFrequency, filterGain, filterQ and cosW0/sinW0, which must be set.
// "None" and unknown types compute nothing and keep the old coefficients.
FilterDesignOutcome DesignFilter(ChannelEngineState& channel, int filterType) noexcept;

// Whether the designed filter lets nothing through: a coefficient quotient is
// not finite (the output then rounds to 0), or the feed-forward quotients are
// so small that no input a channel makes reaches half a step, so the output
// never leaves 0. Extreme peaking gains (+-1e6 dB, -400 dB) design such
// filters; the signal is then silence, as defined.
bool FilterPassesNothing(const ChannelEngineState& channel) noexcept;

// One sample through the channel's biquad (direct form I on integers: the
// feedback uses the filter's own rounded outputs). Every quotient is formed
// anew and the sum is evaluated left to right in extended precision.
inline std::int32_t ApplyFilter(ChannelEngineState& c, std::int32_t input) noexcept {
    const long double a0 = c.a0;
    c.x = input;
    c.y = Round(c.b0 / a0 * c.x + c.b1 / a0 * c.x1 + c.b2 / a0 * c.x2 - c.a1 / a0 * c.y1 -
                c.a2 / a0 * c.y2);
    c.y2 = c.y1;
    c.x2 = c.x1;
    c.y1 = c.y;
    c.x1 = c.x;
    return c.y;
}

}  // namespace skarnel
