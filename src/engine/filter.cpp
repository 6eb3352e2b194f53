#include "engine/filter.h"

#include <cmath>

#include "engine/live_settings.h"

namespace skarnel {

namespace {

// alpha = sin(w0) / (2 Q), with a Q at or below 0 (or NaN) replaced by the
// smallest Q the entry accepts, so the design never divides by zero.
double AlphaFor(const ChannelEngineState& c) noexcept {
    const double q = c.filterQ > 0.0 ? c.filterQ : kMinimumFilterQ;
    return static_cast<double>(static_cast<long double>(c.sinW0) / (2.0L * q));
}

// The denominator shared by every type but Peaking: 1 + alpha, -2 cos w0, 1 - alpha.
void SetCommonPoles(ChannelEngineState& c) noexcept {
    c.a0 = 1.0L + static_cast<long double>(c.alpha);
    c.a1 = -2.0L * static_cast<long double>(c.cosW0);
    c.a2 = 1.0L - static_cast<long double>(c.alpha);
}

}  // namespace

FilterDesignOutcome DesignFilter(ChannelEngineState& c, int filterType) noexcept {
    FilterDesignOutcome outcome;
    const long double cosW0 = c.cosW0;
    switch (filterType) {
        case kFilterPeaking: {
            // H(s) = (s^2 + s (A/Q) + 1) / (s^2 + s / (A Q) + 1)
            outcome.enabled = {true, true, true};
            if (c.filterGain == 0.0) {
                c.filterGain = 0.02;  // a 0 dB peak is designed as a tiny one
            }
            c.peakA = static_cast<double>(
                std::pow(10.0L, static_cast<long double>(c.filterGain) / 40.0L));
            c.alpha = AlphaFor(c);
            const long double alpha = c.alpha;
            const long double peakA = c.peakA;
            c.b0 = 1.0L + alpha * peakA;
            c.b1 = -2.0L * cosW0;
            c.b2 = 1.0L - alpha * peakA;
            c.a0 = 1.0L + alpha / peakA;
            c.a1 = -2.0L * cosW0;
            c.a2 = 1.0L - alpha / peakA;
            break;
        }
        case kFilterHighPass:
            // H(s) = s^2 / (s^2 + s/Q + 1)
            outcome.enabled = {true, false, false};
            outcome.setQTextToOne = true;
            c.alpha = AlphaFor(c);
            c.b0 = (1.0L + cosW0) / 2.0L;
            c.b1 = -(1.0L + cosW0);
            c.b2 = (1.0L + cosW0) / 2.0L;
            SetCommonPoles(c);
            break;
        case kFilterLowPass:
            // H(s) = 1 / (s^2 + s/Q + 1)
            outcome.enabled = {true, false, false};
            outcome.setQTextToOne = true;
            c.alpha = AlphaFor(c);
            c.b0 = (1.0L - cosW0) / 2.0L;
            c.b1 = 1.0L - cosW0;
            c.b2 = (1.0L - cosW0) / 2.0L;
            SetCommonPoles(c);
            break;
        case kFilterBandPass:
            // H(s) = (s/Q) / (s^2 + s/Q + 1), constant 0 dB peak gain
            outcome.enabled = {true, false, true};
            c.alpha = AlphaFor(c);
            c.b0 = c.alpha;
            c.b1 = 0.0;
            c.b2 = -c.alpha;
            SetCommonPoles(c);
            break;
        case kFilterNotch:
            // H(s) = (s^2 + 1) / (s^2 + s/Q + 1)
            outcome.enabled = {true, false, true};
            c.alpha = AlphaFor(c);
            c.b0 = 1.0;
            c.b1 = -2.0L * cosW0;
            c.b2 = 1.0;
            SetCommonPoles(c);
            break;
        default:
            // "None" (or no item): all entries off, coefficients kept unused.
            break;
    }
    return outcome;
}

bool FilterPassesNothing(const ChannelEngineState& c) noexcept {
    const long double a0 = c.a0;
    const long double quotients[] = {c.b0 / a0, c.b1 / a0, c.b2 / a0, c.a1 / a0, c.a2 / a0};
    long double feedForward = 0;
    for (int i = 0; i < 5; ++i) {
        if (!std::isfinite(quotients[i])) {
            return true;
        }
        if (i < 3) {
            feedForward += std::fabs(quotients[i]);
        }
    }
    // The largest sample a channel makes before its filter is full scale
    // (32767); with the feedback's memory at 0 the output stays 0 while
    // every input step rounds to 0.
    return feedForward * 32768.0L < 0.5L;
}

}  // namespace skarnel
