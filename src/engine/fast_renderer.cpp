// The fast block renderer. It computes exactly what the reference renderer
// computes, in another order: since no setting changes inside a block, each
// stage (modulation gains, random draws and source values, crest shaping,
// scaling, filter) runs over a pass of frames at a time, and the stages that
// are not recursive run in double precision on whole arrays. Every double
// result is checked against the rounding it feeds (fast_math.h); when it lies
// too close to a rounding boundary the value is computed the reference way.
// The random draws and the filter stay in their defined order and precision.
#include "engine/fast_renderer.h"

#include <algorithm>
#include <cmath>

#include "engine/crest_modulation.h"
#include "engine/fast_math.h"
#include "engine/filter.h"
#include "engine/live_settings.h"
#include "engine/noise_sources.h"
#include "engine/reference_renderer.h"
#include "engine/rounding.h"
#include "engine/signal_engine.h"

namespace skarnel {

namespace {

using fastmath::SameFloatAround;

// What one channel does in a pass.
struct ChannelPlan {
    int channel = kLeft;
    int noiseFunction = -1;
    bool hasSource = false;  // white or pink: draws and a source value
    bool modulation = false;
    bool filter = false;
};

// A source selector as the renderer reads it: values from kRightSourceOffset on
// address the right channel, smaller ones the left; a noise function outside
// the two lists is silence.
ChannelPlan PlanFor(const LiveSettings& live, int selector) noexcept {
    ChannelPlan plan;
    const bool isRight = selector >= kRightSourceOffset;
    plan.channel = isRight ? kRight : kLeft;
    plan.noiseFunction = isRight ? selector - kRightSourceOffset : selector;
    plan.hasSource = plan.noiseFunction == kWhiteNoise || plan.noiseFunction == kPinkNoise;
    plan.modulation = live.modulationOn[plan.channel];
    plan.filter = live.filterType[plan.channel] > kFilterNone;
    return plan;
}

// The defined phase of frame n: n / rate * 2 pi / period + phase, in extended
// precision, operation by operation.
long double ModPhase(const ChannelEngineState& ch, std::int32_t n, std::int32_t sampleRate) {
    return static_cast<long double>(n) / sampleRate * kTwoPi /
               static_cast<long double>(ch.modPeriod) +
           static_cast<long double>(ch.modPhase);
}

// The modulation function's float value at each frame, when its double
// approximation settles the float rounding; the defined computation
// otherwise. The reduced angle is within 2^-52 of the exact one and the
// series within 2^-52 of its sine; the defined extended-precision sine is
// within 2^-63. The triangle's arctangent argument s / sqrt(1 - s^2) has an
// exact numerator and radicand (s is a float), so its double value is within
// 2^-52 relative, which costs the arctangent at most 2^-53.
void ModulationValues(const ChannelEngineState& ch, int modFunction, std::int32_t n0,
                      std::int32_t sampleRate, std::size_t len, RenderScratch& scratch,
                      float* value) {
    constexpr double kError = 0x1p-46;
    for (std::size_t i = 0; i < len; ++i) {
        scratch.phase[i] = ModPhase(ch, n0 + static_cast<std::int32_t>(i), sampleRate);
    }
    for (std::size_t i = 0; i < len; ++i) {
        const long double phase = scratch.phase[i];
        // The triangle is defined on the phase rounded to float.
        const long double angle = modFunction == kModTriangular
                                      ? static_cast<long double>(static_cast<float>(phase))
                                      : phase;
        if (!(std::fabs(angle) < 0x1p32L)) {
            value[i] = modFunction == kModTriangular ? TriangleOf(static_cast<float>(phase))
                       : modFunction == kModCosine   ? static_cast<float>(std::cos(phase))
                       : modFunction == kModSquare   ? SignOf(static_cast<float>(std::sin(phase)))
                                                     : static_cast<float>(std::sin(phase));
            continue;
        }
        fastmath::ReducedAngle reduced = fastmath::ReduceQuarterTurns(angle);
        if (modFunction == kModCosine) {
            ++reduced.quadrant;
        }
        const double sine = fastmath::SinOfReduced(reduced);
        float m;
        switch (modFunction) {
            case kModSine:
                if (!SameFloatAround(sine, kError, m)) {
                    m = static_cast<float>(std::sin(phase));
                }
                break;
            case kModCosine:
                if (!SameFloatAround(sine, kError, m)) {
                    m = static_cast<float>(std::cos(phase));
                }
                break;
            case kModSquare:
                m = sine > kError    ? 1.0f
                    : sine < -kError ? -1.0f
                                     : SignOf(static_cast<float>(std::sin(phase)));
                break;
            default: {
                float s;
                if (!SameFloatAround(sine, kError, s)) {
                    m = TriangleOf(static_cast<float>(phase));
                    break;
                }
                if (std::fabs(s) == 1.0f) {
                    m = s;
                    break;
                }
                const double sd = s;
                constexpr double kTwoOverPi = 0.63661977236758134;
                const double t = std::atan(sd / std::sqrt(1.0 - sd * sd)) * kTwoOverPi;
                if (!SameFloatAround(t, kError, m)) {
                    m = TriangleOf(static_cast<float>(phase));
                }
                break;
            }
        }
        value[i] = m;
    }
}

// The modulation gain of each frame of the pass, and the channel's gain after
// it. Off, the gain stays what it was. A channel whose phase or function the
// gain cannot be formed from keeps its gain as well, frame by frame as
// defined; a function value shared with the other channel (same function,
// period and phase) is passed in `shared`.
void ModulationGains(ChannelEngineState& ch, const LiveSettings& live, const ChannelPlan& plan,
                     std::int32_t n0, std::int32_t sampleRate, std::size_t len,
                     RenderScratch& scratch, const float* shared, float* gain) {
    if (!plan.modulation) {
        std::fill(gain, gain + len, ch.modGain);
        return;
    }
    const int modFunction = live.modFunction[plan.channel];
    const bool formed = modFunction >= kModSine && modFunction <= kModTriangular &&
                        ch.modPeriod != 0.0f && std::isfinite(ch.modPeriod) &&
                        std::isfinite(ch.modPhase);
    if (!formed) {
        for (std::size_t i = 0; i < len; ++i) {
            UpdateModGain(ch, modFunction, n0 + static_cast<std::int32_t>(i), sampleRate);
            gain[i] = ch.modGain;
        }
        return;
    }
    float* value = scratch.modValue[plan.channel].data();
    if (shared != nullptr) {
        std::copy(shared, shared + len, value);
    } else {
        ModulationValues(ch, modFunction, n0, sampleRate, len, scratch, value);
    }
    const float halfDepth = 0.5f * ch.modDepth;
    for (std::size_t i = 0; i < len; ++i) {
        float g = value[i] + 1.0f;
        g = halfDepth * g;
        gain[i] = 1.0f - g;
    }
    if (len > 0) {
        ch.modGain = gain[len - 1];
    }
}

// Which pink rows beyond row 0 are redrawn at frame n, as a bit mask.
std::uint32_t FiringPinkRows(std::uint32_t n) noexcept {
    std::uint32_t firing = 0;
    for (int row = 1; row < kPinkRowCount; ++row) {
        if ((n & kPinkRowSchedule[row].mask) == kPinkRowSchedule[row].match) {
            firing |= 1u << row;
        }
    }
    return firing;
}

// A draw as the white source maps it: seed * 2^-32 * 2 - 1, which is exact in
// double (a 32-bit integer over 2^31), rounded once to float as defined.
float WhiteValue(std::uint32_t seed) noexcept {
    return static_cast<float>(static_cast<double>(static_cast<std::int64_t>(seed) - 2147483648LL) *
                              0x1p-31);
}

// A draw as a pink row holds it: seed * 2^-32, exact in double, rounded to float.
float RowValue(std::uint32_t seed) noexcept {
    return static_cast<float>(static_cast<double>(seed) * 0x1p-32);
}

// The random draws of the pass in their defined order: frame by frame, the
// left channel's then the right one's. White values are complete here; pink
// calls leave the rows they saw, summed afterwards.
void DrawSources(SignalEngine& engine, RenderScratch& scratch, const ChannelPlan* plans,
                 int planCount, std::int32_t n0, std::size_t len) {
    UniformRandom& random = engine.random();
    std::array<float, kPinkRowCount>& rows = engine.state.pinkRows;
    for (std::size_t i = 0; i < len; ++i) {
        const auto n = static_cast<std::uint32_t>(n0 + static_cast<std::int32_t>(i));
        std::uint32_t firing = ~0u;  // worked out at the first pink call of the frame
        for (int p = 0; p < planCount; ++p) {
            const ChannelPlan& plan = plans[p];
            if (plan.noiseFunction == kWhiteNoise) {
                scratch.value[plan.channel][i] = WhiteValue(random.NextSeed());
            } else if (plan.noiseFunction == kPinkNoise) {
                if (firing == ~0u) {
                    firing = FiringPinkRows(n);
                }
                rows[0] = RowValue(random.NextSeed());
                for (std::uint32_t f = firing; f != 0; f &= f - 1) {
                    rows[static_cast<std::size_t>(std::countr_zero(f))] =
                        RowValue(random.NextSeed());
                }
                auto& seen = scratch.pinkRows[plan.channel];
                for (int row = 0; row < kPinkRowCount; ++row) {
                    seen[row][i] = rows[row];
                }
            }
        }
    }
}

// Pink values from the rows each call saw: the float sum in row order, then
// sum / 6.5 - 1 rounded to float. In double the quotient and difference are
// within 2^-51 of the exact value, the extended-precision ones within 2^-62.
void PinkValues(RenderScratch& scratch, int channel, std::size_t len) {
    const auto& seen = scratch.pinkRows[channel];
    float* value = scratch.value[channel].data();
    for (std::size_t i = 0; i < len; ++i) {
        float sum = 0.0f;
        for (int row = 0; row < kPinkRowCount; ++row) {
            sum = sum + seen[row][i];
        }
        const double approx = static_cast<double>(sum) / 6.5 - 1.0;
        float rounded;
        if (!SameFloatAround(approx, 0x1p-49, rounded)) {
            rounded = static_cast<float>(static_cast<long double>(sum) / 6.5L - 1.0L);
        }
        value[i] = rounded;
    }
}

// |x|^k by repeated squaring in double, the sequence of the defined power law.
double IntegralPowerDouble(double x, std::uint32_t k) noexcept {
    double result = 1.0;
    double base = x;
    while (k != 0) {
        if (k & 1u) {
            result *= base;
        }
        k >>= 1;
        if (k != 0) {
            base *= base;
        }
    }
    return result;
}

// The crest shaping of a pass. Exponent 1 passes values unchanged; 0 turns
// them into +-1; integral exponents are raised by squaring (the same sequence
// as defined, at most 2 * 6 products, each off by 2^-53 in double and 2^-64
// in extended precision); any other exponent by 2^(k log2 |v|).
void CrestShapes(const float* value, float k, float* shaped, std::size_t len) {
    if (k == 1.0f) {
        std::copy(value, value + len, shaped);
        return;
    }
    if (k == 0.0f) {
        for (std::size_t i = 0; i < len; ++i) {
            shaped[i] = SignOf(value[i]);
        }
        return;
    }
    const bool integral = std::trunc(k) == k && k > 0.0f && k <= 64.0f;
    const bool positive = k > 0.0f && std::isfinite(k);
    for (std::size_t i = 0; i < len; ++i) {
        const float v = value[i];
        const double x = std::fabs(static_cast<double>(v));
        float rounded = 0.0f;
        bool exact = false;
        if (x == 0.0) {
            rounded = 0.0f;
            exact = positive;  // 0^k = 0; the sign of a zero sample is lost anyway
        } else if (integral) {
            const double y = IntegralPowerDouble(x, static_cast<std::uint32_t>(k));
            // Far below the smallest float every rounding gives zero.
            exact = y < 0x1p-300 || SameFloatAround(y, y * 0x1p-46, rounded);
            if (y < 0x1p-300) {
                rounded = 0.0f;
            }
        } else if (positive) {
            const double y = fastmath::Exp2(static_cast<double>(k) * fastmath::Log2(x));
            exact = y > 0x1p-120 && SameFloatAround(y, y * fastmath::kPowerLawTolerance, rounded);
        }
        shaped[i] = exact ? (v >= 0.0f ? rounded : -rounded) : CrestShape(v, k);
    }
}

// Round(32767 * amplitude * gain * s) for each frame. In double the product
// is within 2^-51 relative of the exact one, and the defined extended product
// within 2^-63; integers are far apart, so only values next to a half-integer
// are computed the defined way.
void ScaledSamples(float amplitude, const float* gain, const float* shaped, std::int32_t* sample,
                   std::size_t len) {
    const double scale = kFullScale * static_cast<double>(amplitude);
    for (std::size_t i = 0; i < len; ++i) {
        const double v = scale * static_cast<double>(gain[i]) * static_cast<double>(shaped[i]);
        const double error = std::fabs(v) * 0x1p-48 + 0x1p-60;
        const double lo = fastmath::RoundHalfEven(v - error);
        const double hi = fastmath::RoundHalfEven(v + error);
        if (lo == hi && std::fabs(v) < 2147483647.0) {
            sample[i] = static_cast<std::int32_t>(lo);
        } else {
            sample[i] = Round(kFullScale * amplitude * gain[i] * shaped[i]);
        }
    }
}

// The channel's biquad over the pass, in its defined order and precision. The
// quotients are the ones the per-sample formula forms, computed once.
void FilterSamples(ChannelEngineState& c, std::int32_t* sample, std::size_t len) noexcept {
    const long double a0 = c.a0;
    const long double q0 = c.b0 / a0, q1 = c.b1 / a0, q2 = c.b2 / a0;
    const long double p1 = c.a1 / a0, p2 = c.a2 / a0;
    std::int32_t x1 = c.x1, x2 = c.x2, y1 = c.y1, y2 = c.y2;
    for (std::size_t i = 0; i < len; ++i) {
        const std::int32_t x = sample[i];
        const long double sum = q0 * x + q1 * x1 + q2 * x2 - p1 * y1 - p2 * y2;
        std::int32_t y;
        if (std::fabs(sum) < 0x1p62L) {
            y = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(
                static_cast<std::int64_t>(fastmath::RoundHalfEvenExtended(sum)))));
        } else {
            y = Round(sum);
        }
        sample[i] = y;
        y2 = y1;
        x2 = x1;
        y1 = y;
        x1 = x;
    }
    if (len > 0) {
        c.x = x1;
        c.y = y1;
    }
    c.x1 = x1;
    c.x2 = x2;
    c.y1 = y1;
    c.y2 = y2;
}

void RenderPass(SignalEngine& engine, RenderScratch& scratch, bool stereo, bool rightRepeatsLeft,
                int leftSelector, int rightSelector, std::int16_t* out, std::size_t len) {
    EngineState& state = engine.state;
    const LiveSettings& live = engine.live;
    const std::int32_t n0 = state.sampleCounter;

    ChannelPlan plans[kChannelCount];
    int planCount = 0;
    const bool rightRuns = stereo && !rightRepeatsLeft;
    for (const int selector : {leftSelector, rightSelector}) {
        if (planCount == 1 && !rightRuns) {
            break;
        }
        ChannelPlan& plan = plans[planCount++];
        plan = PlanFor(live, selector);
    }
    if (planCount == 2 && plans[0].channel == plans[1].channel) {
        // A selector outside the lists (no noise function chosen) can make both
        // calls of a frame run one channel: frame by frame, as defined.
        for (std::size_t i = 0; i < len; ++i) {
            ReferenceRenderFrame(engine, stereo, rightRepeatsLeft, leftSelector, rightSelector,
                                 out + 2 * i);
            AdvanceFrameCounter(state.sampleCounter);
        }
        state.sampleCounter = n0;  // the caller advances the counter over the pass
        return;
    }

    for (int p = 0; p < planCount; ++p) {
        const ChannelPlan& plan = plans[p];
        // The right channel's function values are the left one's when both
        // modulate with the same function, period and phase.
        const float* shared = nullptr;
        if (p == 1 && plans[0].modulation && plan.modulation &&
            live.modFunction[plans[0].channel] == live.modFunction[plan.channel]) {
            const ChannelEngineState& first = state.channels[plans[0].channel];
            const ChannelEngineState& second = state.channels[plan.channel];
            if (first.modPeriod == second.modPeriod && first.modPhase == second.modPhase &&
                std::isfinite(first.modPeriod) && first.modPeriod != 0.0f &&
                std::isfinite(first.modPhase)) {
                shared = scratch.modValue[plans[0].channel].data();
            }
        }
        ModulationGains(state.channels[plan.channel], live, plan, n0, state.sampleRate, len,
                        scratch, shared, scratch.gain[plan.channel].data());
    }
    DrawSources(engine, scratch, plans, planCount, n0, len);
    for (int p = 0; p < planCount; ++p) {
        const ChannelPlan& plan = plans[p];
        ChannelEngineState& ch = state.channels[plan.channel];
        std::int32_t* sample = scratch.sample[plan.channel].data();
        if (plan.hasSource) {
            if (plan.noiseFunction == kPinkNoise) {
                PinkValues(scratch, plan.channel, len);
            }
            CrestShapes(scratch.value[plan.channel].data(), ch.crestExponent,
                        scratch.shaped[plan.channel].data(), len);
            ScaledSamples(ch.linearAmplitude, scratch.gain[plan.channel].data(),
                          scratch.shaped[plan.channel].data(), sample, len);
        } else {
            std::fill(sample, sample + len, 0);
        }
        if (len > 0) {
            ch.x = sample[len - 1];
        }
        if (plan.filter) {
            FilterSamples(ch, sample, len);
        }
    }

    // The first call's samples go left, the second call's right, whichever
    // channels the selectors addressed.
    const std::int32_t* left = scratch.sample[plans[0].channel].data();
    const std::int32_t* right = scratch.sample[plans[planCount - 1].channel].data();
    if (!stereo) {
        for (std::size_t i = 0; i < len; ++i) {
            out[2 * i] = Low16(left[i]);
            out[2 * i + 1] = 0;
        }
        return;
    }
    const std::int64_t leftGate = state.left().gate;
    const std::int64_t rightGate = state.right().gate;
    for (std::size_t i = 0; i < len; ++i) {
        out[2 * i] = Low16(left[i] * leftGate);
        out[2 * i + 1] = rightRuns ? Low16(right[i] * rightGate) : out[2 * i];
    }
}

}  // namespace

void RenderFramesFast(SignalEngine& engine, RenderScratch& scratch, bool stereo,
                      bool rightRepeatsLeft, int leftSelector, int rightSelector, std::int16_t* out,
                      std::size_t frames) noexcept {
    EngineState& state = engine.state;
    while (frames > 0) {
        const std::size_t len = std::min(frames, kRenderChunkFrames);
        if (state.sampleCounter > INT32_MAX - static_cast<std::int32_t>(len)) {
            // The counter stops at its largest value: frame by frame, as defined.
            for (std::size_t i = 0; i < len; ++i) {
                ReferenceRenderFrame(engine, stereo, rightRepeatsLeft, leftSelector, rightSelector,
                                     out + 2 * i);
                AdvanceFrameCounter(state.sampleCounter);
            }
        } else {
            RenderPass(engine, scratch, stereo, rightRepeatsLeft, leftSelector, rightSelector, out,
                       len);
            state.sampleCounter += static_cast<std::int32_t>(len);
        }
        out += 2 * len;
        frames -= len;
    }
}

}  // namespace skarnel
