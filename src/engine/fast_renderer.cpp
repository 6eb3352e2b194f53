// The fast block renderer. It computes exactly what the reference renderer
// computes, in another order: since no setting changes inside a block, each
// stage (modulation gains, random draws and source values, crest shaping,
// scaling, filter) runs over a pass of frames at a time, and the stages that
// are not recursive run in double precision on whole arrays (vector_stages.inc,
// built for several instruction sets). Every double result, the filter's
// included, is checked against the rounding it feeds (fast_math.h); when it
// lies too close to a rounding boundary the value is computed the reference
// way. The random draws are made in their defined order, sixteen generator
// states at a time.
#include "engine/fast_renderer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

#include "engine/crest_modulation.h"
#include "engine/fast_math.h"
#include "engine/filter.h"
#include "engine/live_settings.h"
#include "engine/noise_sources.h"
#include "engine/reference_renderer.h"
#include "engine/rounding.h"
#include "engine/signal_engine.h"
#include "engine/vector_stages.h"

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

// Angles beyond this are reduced the defined way (the split pi/2 is exact up
// to it); no setting the entries accept comes near.
constexpr long double kLargestReducedAngle = 0x1p32L;

// The modulation function's float value at each frame, when its double
// approximation settles the float rounding; the defined computation
// otherwise. The reduced angle is within 2^-52 of the exact one and the
// series within 2^-52 of its sine; the defined extended-precision sine is
// within 2^-63. The triangle's arctangent argument s / sqrt(1 - s^2) has an
// exact numerator and radicand (s is a float), so its double value is within
// 2^-52 relative, which costs the arctangent at most 2^-53.
void ModulationValues(const ChannelEngineState& ch, int modFunction, std::int64_t n0,
                      std::int32_t sampleRate, std::size_t len, RenderScratch& scratch,
                      float* value) {
    constexpr double kError = 0x1p-46;
    long double* phase = scratch.phase.data();
    double* angle = scratch.angle.data();
    int* quadrant = scratch.quadrant.data();
    double* sine = scratch.approx.data();
    const bool triangle = modFunction == kModTriangular;
    bool anyLarge = false;
    for (std::size_t i = 0; i < len; ++i) {
        phase[i] = ModulationPhase(ch, n0 + static_cast<std::int64_t>(i), sampleRate);
        // The triangle is defined on the phase rounded to float.
        const long double a =
            triangle ? static_cast<long double>(static_cast<float>(phase[i])) : phase[i];
        const bool large = !(std::fabs(a) < kLargestReducedAngle);
        anyLarge = anyLarge || large;
        const fastmath::ReducedAngle reduced = fastmath::ReduceQuarterTurns(large ? 0.0L : a);
        angle[i] = reduced.y;
        quadrant[i] = reduced.quadrant + (modFunction == kModCosine ? 1 : 0);
    }
    ActiveVectorStages().sines(angle, quadrant, sine, len);

    switch (modFunction) {
        case kModSine:
        case kModCosine:
            for (std::size_t i = 0; i < len; ++i) {
                if (!SameFloatAround(sine[i], kError, value[i])) {
                    value[i] = ModulationValue(modFunction, phase[i]);
                }
            }
            break;
        case kModSquare:
            for (std::size_t i = 0; i < len; ++i) {
                value[i] = sine[i] > kError    ? 1.0f
                           : sine[i] < -kError ? -1.0f
                                               : ModulationValue(modFunction, phase[i]);
            }
            break;
        default: {
            // s = sin(p) as a float first; then the triangle from it.
            float* s = scratch.sum.data();
            for (std::size_t i = 0; i < len; ++i) {
                if (!SameFloatAround(sine[i], kError, s[i])) {
                    s[i] = 2.0f;  // marks a frame computed the defined way below
                }
            }
            double* t = scratch.angle.data();  // the angles are no longer needed
            ActiveVectorStages().triangles(s, t, len);
            for (std::size_t i = 0; i < len; ++i) {
                if (s[i] == 2.0f || !SameFloatAround(t[i], kError, value[i])) {
                    value[i] = ModulationValue(modFunction, phase[i]);
                } else if (std::fabs(s[i]) == 1.0f) {
                    value[i] = s[i];
                }
            }
            break;
        }
    }
    if (anyLarge) {
        for (std::size_t i = 0; i < len; ++i) {
            const long double a = triangle ? static_cast<float>(phase[i]) : phase[i];
            if (!(std::fabs(a) < kLargestReducedAngle)) {
                value[i] = ModulationValue(modFunction, phase[i]);
            }
        }
    }
}

// The modulation gain of each frame of the pass, and the channel's gain after
// it. Off, the gain stays what it was and nothing is written. A channel whose
// phase or function the gain cannot be formed from keeps its gain as well,
// frame by frame as defined; a function value shared with the other channel
// (same function, period and phase) is passed in `shared`.
void ModulationGains(ChannelEngineState& ch, const LiveSettings& live, const ChannelPlan& plan,
                     std::int64_t n0, std::int32_t sampleRate, std::size_t len,
                     RenderScratch& scratch, const float* shared, float* gain) {
    if (!plan.modulation) {
        return;  // the shape half takes the channel's gain
    }
    const int modFunction = live.modFunction[plan.channel];
    const bool formed = IsModulationFunction(modFunction) && sampleRate != 0 &&
                        ch.modPeriod != 0.0f && std::isfinite(ch.modPeriod) &&
                        std::isfinite(ch.modPhase);
    if (!formed) {
        for (std::size_t i = 0; i < len; ++i) {
            UpdateModGain(ch, modFunction, n0 + static_cast<std::int64_t>(i), sampleRate);
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
    for (std::size_t i = 0; i < len; ++i) {
        gain[i] = ModulationGain(ch.modDepth, value[i]);
    }
    if (len > 0) {
        ch.modGain = gain[len - 1];
    }
}

// Which pink rows beyond row 0 are redrawn at frame n, as a bit mask.
// The schedule repeats every 2048 frames (its widest mask is 0x7FF), so the
// masks are worked out once for one cycle.
constexpr std::size_t kPinkCycle = 2048;

constexpr std::array<std::uint16_t, kPinkCycle> MakeFiringTable() {
    std::array<std::uint16_t, kPinkCycle> table{};
    for (std::uint32_t n = 0; n < kPinkCycle; ++n) {
        for (int row = 1; row < kPinkRowCount; ++row) {
            if ((n & kPinkRowSchedule[row].mask) == kPinkRowSchedule[row].match) {
                table[n] = static_cast<std::uint16_t>(table[n] | (1u << row));
            }
        }
    }
    return table;
}

constexpr std::array<std::uint16_t, kPinkCycle> kFiringTable = MakeFiringTable();

// The pink rows (1 to 12) redrawn before frame m of the schedule's cycle, for
// m up to one cycle and one pass beyond it, so that a pass starting anywhere
// in the cycle reads its counts without wrapping.
constexpr std::size_t kRowsBeforeSize = kPinkCycle + kRenderChunkFrames + 1;

constexpr std::array<std::uint32_t, kRowsBeforeSize> MakeRowsBefore() {
    std::array<std::uint32_t, kRowsBeforeSize> before{};
    for (std::size_t m = 0; m + 1 < kRowsBeforeSize; ++m) {
        before[m + 1] = before[m] + static_cast<std::uint32_t>(
                                        std::popcount(unsigned{kFiringTable[m % kPinkCycle]}));
    }
    return before;
}

constexpr std::array<std::uint32_t, kRowsBeforeSize> kRowsBefore = MakeRowsBefore();

// Where each call's draws start in a pass of at most kRenderChunkFrames
// frames: frame by frame, the calls in their order, a white call drawing once
// and a pink call once plus once per redrawn row.
class DrawPositions {
public:
    DrawPositions(const ChannelPlan* plans, int planCount, std::int64_t n0) noexcept
        : cycleStart_(static_cast<std::size_t>(static_cast<std::uint64_t>(n0) % kPinkCycle)) {
        for (int p = 0; p < planCount; ++p) {
            sourceCalls_ += plans[p].hasSource ? 1u : 0u;
            pinkCalls_ += plans[p].noiseFunction == kPinkNoise ? 1u : 0u;
        }
        firstCallDraws_ = plans[0].hasSource ? 1u : 0u;
        firstCallPink_ = plans[0].noiseFunction == kPinkNoise ? 1u : 0u;
    }

    // The first draw of each call at frames 0 .. len - 1, into first[call]
    // (a loop that vectorizes).
    void Fill(std::size_t len, std::uint32_t* first0, std::uint32_t* first1) const noexcept {
        const std::uint32_t* before = kRowsBefore.data() + cycleStart_;
        const std::uint32_t base = before[0];
        for (std::size_t i = 0; i < len; ++i) {
            const std::uint32_t at =
                sourceCalls_ * static_cast<std::uint32_t>(i) + pinkCalls_ * (before[i] - base);
            first0[i] = at;
            first1[i] = at + firstCallDraws_ + firstCallPink_ * (before[i + 1] - before[i]);
        }
    }

    // All draws of the first `len` frames.
    std::uint32_t Total(std::size_t len) const noexcept {
        return sourceCalls_ * static_cast<std::uint32_t>(len) + pinkCalls_ * RowsBefore(len);
    }

private:
    // Rows redrawn in frames 0 .. i - 1 of the pass.
    std::uint32_t RowsBefore(std::size_t i) const noexcept {
        return kRowsBefore[cycleStart_ + i] - kRowsBefore[cycleStart_];
    }

    std::size_t cycleStart_;
    std::uint32_t sourceCalls_ = 0;
    std::uint32_t pinkCalls_ = 0;
    std::uint32_t firstCallDraws_ = 0;
    std::uint32_t firstCallPink_ = 0;
};

// Each pink row's mask extends the masks of the rows below it, so which lower
// rows are redrawn together with a row is the same at every frame that
// redraws it.
constexpr bool PinkMasksNest() {
    for (int row = 1; row < kPinkRowCount; ++row) {
        const std::uint32_t below = kPinkRowSchedule[row - 1].mask;
        if ((kPinkRowSchedule[row].mask & below) != below) {
            return false;
        }
    }
    return true;
}
static_assert(PinkMasksNest());

// Which draw of a pink call holds `row` at a frame that redraws it: row 0's
// draw comes first, then those of the lower rows redrawn with it.
constexpr std::array<std::uint32_t, kPinkRowCount> MakeRowDrawOffsets() {
    std::array<std::uint32_t, kPinkRowCount> offsets{};
    for (int row = 1; row < kPinkRowCount; ++row) {
        const std::uint32_t lower = (1u << row) - 2u;  // rows 1 .. row - 1
        offsets[static_cast<std::size_t>(row)] =
            1u + std::popcount(kFiringTable[kPinkRowSchedule[row].match] & lower);
    }
    return offsets;
}

constexpr std::array<std::uint32_t, kPinkRowCount> kRowDrawOffset = MakeRowDrawOffsets();

// Fills seen[from .. to - 1] with one value, in blocks of kPinkHoldBlock: it
// may write up to kPinkHoldBlock - 1 entries past `to`, which a column is
// padded for and which the row's later frames overwrite (a column is filled
// from its first frame to its last).
void HoldRow(float* seen, std::size_t from, std::size_t to, float value) noexcept {
    for (std::size_t j = from; j < to; j += kPinkHoldBlock) {
        for (std::size_t k = 0; k < kPinkHoldBlock; ++k) {
            seen[j + k] = value;
        }
    }
}

// The draws of a pass without pink calls: every white call draws once per
// frame, so a frame's draws are the white calls' in their order, and each
// call's values are every k-th draw.
void DrawWhiteSources(SignalEngine& engine, RenderScratch& scratch, const ChannelPlan* plans,
                      int planCount, std::size_t len, float* const value[kChannelCount]) {
    std::size_t perFrame = 0;
    for (int p = 0; p < planCount; ++p) {
        perFrame += plans[p].noiseFunction == kWhiteNoise ? 1 : 0;
    }
    const std::size_t total = perFrame * len;
    std::uint32_t* seeds = scratch.seeds.data();
    ActiveVectorStages().drawSeeds(engine.random().seed(), seeds, total);
    if (total == 0) {
        return;
    }
    engine.random() = UniformRandom(seeds[total - 1]);
    std::size_t offset = 0;
    for (int p = 0; p < planCount; ++p) {
        if (plans[p].noiseFunction != kWhiteNoise) {
            continue;
        }
        const std::uint32_t* own = seeds + offset;
        if (perFrame > 1) {
            std::uint32_t* gathered = scratch.callSeeds.data();
            for (std::size_t i = 0; i < len; ++i) {
                gathered[i] = seeds[perFrame * i + offset];
            }
            own = gathered;
        }
        ActiveVectorStages().whiteValues(own, value[plans[p].channel], len);
        ++offset;
    }
}

// The random draws of the pass in their defined order (frame by frame, the
// left channel's call then the right one's), all made at once in lanes and
// then handed to the calls: white values into value[channel], and for pink
// calls the rows each call saw, summed afterwards. A pink row other than row
// 0 keeps its value between the frames that redraw it, so it is filled in
// runs.
void DrawSources(SignalEngine& engine, RenderScratch& scratch, const ChannelPlan* plans,
                 int planCount, std::int64_t n0, std::size_t len,
                 float* const value[kChannelCount]) {
    int lastPink = -1;
    for (int p = 0; p < planCount; ++p) {
        if (plans[p].noiseFunction == kPinkNoise) {
            lastPink = p;
        }
    }
    if (lastPink < 0) {
        DrawWhiteSources(engine, scratch, plans, planCount, len, value);
        return;
    }
    if (len == 0) {
        return;
    }
    const DrawPositions positions(plans, planCount, n0);
    const std::uint32_t* seeds = scratch.seeds.data();
    const std::uint32_t total = positions.Total(len);
    ActiveVectorStages().drawSeeds(engine.random().seed(), scratch.seeds.data(), total);
    engine.random() = UniformRandom(seeds[total - 1]);

    // Every draw as a pink row would hold it, converted at once; the rows
    // only copy them.
    float* drawn = scratch.rowValues.data();
    ActiveVectorStages().rowValues(seeds, drawn, total);
    std::array<float, kPinkRowCount>& rows = engine.state.pinkRows;
    auto& firstDraw = scratch.firstDraw;
    positions.Fill(len, firstDraw[0].data(), firstDraw[1].data());
    for (int p = 0; p < planCount; ++p) {
        const ChannelPlan& plan = plans[p];
        const std::uint32_t* first = firstDraw[static_cast<std::size_t>(p)].data();
        // The call's first draw: its white value, or its pink row 0.
        if (plan.noiseFunction == kWhiteNoise) {
            std::uint32_t* own = scratch.callSeeds.data();
            for (std::size_t i = 0; i < len; ++i) {
                own[i] = seeds[first[i]];
            }
            ActiveVectorStages().whiteValues(own, value[plan.channel], len);
        } else if (plan.noiseFunction == kPinkNoise) {
            float* row0 = scratch.pinkRows[plan.channel][0].data();
            for (std::size_t i = 0; i < len; ++i) {
                row0[i] = drawn[first[i]];
            }
        }
    }
    // The pink calls' row columns, the last call's first.
    std::array<float*, kChannelCount> columns{};
    std::array<std::size_t, kChannelCount> columnCall{};
    int pinkCalls = 0;
    for (int p = planCount - 1; p >= 0; --p) {
        if (plans[p].noiseFunction == kPinkNoise) {
            columnCall[static_cast<std::size_t>(pinkCalls++)] = static_cast<std::size_t>(p);
        }
    }
    for (int row = 1; row < kPinkRowCount; ++row) {
        // The row is redrawn every `step` frames, first at frame `at` of the
        // pass, by the draw kRowDrawOffset[row] of each pink call.
        const std::uint64_t step = std::uint64_t{kPinkRowSchedule[row].mask} + 1;
        const std::uint64_t phase =
            (kPinkRowSchedule[row].match + step - static_cast<std::uint64_t>(n0) % step) % step;
        const std::uint32_t within = kRowDrawOffset[static_cast<std::size_t>(row)];
        for (int c = 0; c < pinkCalls; ++c) {
            columns[static_cast<std::size_t>(c)] =
                scratch
                    .pinkRows[plans[columnCall[static_cast<std::size_t>(c)]].channel]
                             [static_cast<std::size_t>(row)]
                    .data();
        }
        float held = rows[static_cast<std::size_t>(row)];  // the row before the pass
        std::size_t from = 0;
        for (std::uint64_t at = phase; at < len; at += step) {
            const auto i = static_cast<std::size_t>(at);
            for (int c = 0; c < pinkCalls; ++c) {
                float* seen = columns[static_cast<std::size_t>(c)];
                HoldRow(seen, from, i, held);
                seen[i] = drawn[firstDraw[columnCall[static_cast<std::size_t>(c)]][i] + within];
            }
            held = columns[0][i];  // the last call's draw
            from = i + 1;
        }
        for (int c = 0; c < pinkCalls; ++c) {
            HoldRow(columns[static_cast<std::size_t>(c)], from, len, held);
        }
        rows[static_cast<std::size_t>(row)] = held;
    }
    rows[0] = drawn[firstDraw[static_cast<std::size_t>(lastPink)][len - 1]];
}

// A channel's biquad over a pass. Each output is first formed in double
// (fastmath::FilterSumBound says how far that can lie from the defined
// extended-precision sum); when the whole interval around it rounds to one
// integer, that is the output, and otherwise the sample is computed the
// defined way: the quotients the per-sample formula forms (computed once),
// summed left to right in extended precision. The memory holds integers,
// exact in double.
class FilterRun {
public:
    FilterRun(ChannelEngineState& c, std::int32_t* sample) noexcept : c_(c), sample_(sample) {
        const long double a0 = c.a0;
        q0_ = c.b0 / a0;
        q1_ = c.b1 / a0;
        q2_ = c.b2 / a0;
        p1_ = c.a1 / a0;
        p2_ = c.a2 / a0;
        d0_ = static_cast<double>(q0_);
        d1_ = static_cast<double>(q1_);
        d2_ = static_cast<double>(q2_);
        e1_ = static_cast<double>(p1_);
        e2_ = static_cast<double>(p2_);
        x1_ = c.x1;
        x2_ = c.x2;
        y1_ = c.y1;
        y2_ = c.y2;
    }

    void Step(std::size_t i) noexcept {
        const double x = sample_[i];
        const double t0 = d0_ * x;
        const double t1 = d1_ * x1_;
        const double t2 = d2_ * x2_;
        const double t3 = e1_ * y1_;
        const double t4 = e2_ * y2_;
        // The newest output enters last, so the recursion waits on one
        // product and one difference only.
        const double sum = ((t0 + t1) + t2 - t4) - t3;
        const double bound = fastmath::FilterSumBound(
            std::fabs(t0) + std::fabs(t1) + std::fabs(t2) + std::fabs(t3) + std::fabs(t4), sum);
        const double lo = fastmath::RoundHalfEven(sum - bound);
        const double hi = fastmath::RoundHalfEven(sum + bound);
        double y;
        if (lo == hi && std::fabs(sum) < 2147483647.0) [[likely]] {
            y = lo;
        } else {
            y = Defined(x);
        }
        sample_[i] = static_cast<std::int32_t>(y);
        y2_ = y1_;
        x2_ = x1_;
        y1_ = y;
        x1_ = x;
    }

    // Writes the memory back, as the per-sample filter leaves it.
    void Finish(std::size_t len) noexcept {
        if (len > 0) {
            c_.x = static_cast<std::int32_t>(x1_);
            c_.y = static_cast<std::int32_t>(y1_);
        }
        c_.x1 = static_cast<std::int32_t>(x1_);
        c_.x2 = static_cast<std::int32_t>(x2_);
        c_.y1 = static_cast<std::int32_t>(y1_);
        c_.y2 = static_cast<std::int32_t>(y2_);
    }

private:
    // The output as defined: the sum in its order and precision, rounded
    // halves to even and taken as a 32-bit integer.
    double Defined(double x) const noexcept {
        const long double sum =
            q0_ * static_cast<long double>(x) + q1_ * static_cast<long double>(x1_) +
            q2_ * static_cast<long double>(x2_) - p1_ * static_cast<long double>(y1_) -
            p2_ * static_cast<long double>(y2_);
        return Round(sum);
    }

    ChannelEngineState& c_;
    std::int32_t* sample_;
    long double q0_, q1_, q2_, p1_, p2_;  // as the defined formula forms them
    double d0_, d1_, d2_, e1_, e2_;       // the same, rounded to double
    double x1_, x2_, y1_, y2_;            // the memory: 32-bit integers
};

// One or two channels' filters; two run side by side, so that each one's
// recursion fills the other's waiting time.
void FilterSamples(FilterRun* first, FilterRun* second, std::size_t len) noexcept {
    if (second == nullptr) {
        for (std::size_t i = 0; i < len; ++i) {
            first->Step(i);
        }
    } else {
        for (std::size_t i = 0; i < len; ++i) {
            first->Step(i);
            second->Step(i);
        }
        second->Finish(len);
    }
    first->Finish(len);
}

// The calls a frame makes: the left (or mono) call, then the right one when
// the right chain runs.
struct PassPlans {
    ChannelPlan plans[kChannelCount];
    int count = 0;
    bool stereo = false;
    bool rightRuns = false;

    // A selector outside the lists (no noise function chosen) can make both
    // calls of a frame run one channel; such frames are rendered one by one.
    bool OneChannelTwice() const noexcept {
        return count == 2 && plans[0].channel == plans[1].channel;
    }
};

PassPlans PlansFor(const LiveSettings& live, const FramePlan& plan) noexcept {
    PassPlans p;
    p.stereo = plan.stereo;
    p.rightRuns = plan.stereo && !plan.rightRepeatsLeft;
    p.plans[p.count++] = PlanFor(live, plan.leftSelector);
    if (p.rightRuns) {
        p.plans[p.count++] = PlanFor(live, plan.rightSelector);
    }
    return p;
}

// The draw half of a pass of at most kRenderChunkFrames frames from frame
// n0: each running channel's modulation gains and its source values before
// the crest shaping (a pink channel's row sums) into `out` from `offset` on,
// with the generator, the pink rows and the modulation gains as the chain
// leaves them.
void DrawPass(SignalEngine& engine, RenderScratch& scratch, const PassPlans& p, std::int64_t n0,
              std::size_t len, const SourceValues& out, std::size_t offset) {
    EngineState& state = engine.state;
    const LiveSettings& live = engine.live;
    float* const value[kChannelCount] = {out.value[kLeft] + offset, out.value[kRight] + offset};
    for (int i = 0; i < p.count; ++i) {
        const ChannelPlan& plan = p.plans[i];
        // The right channel's function values are the left one's when both
        // modulate with the same function, period and phase.
        const float* shared = nullptr;
        if (i == 1 && p.plans[0].modulation && plan.modulation &&
            live.modFunction[p.plans[0].channel] == live.modFunction[plan.channel]) {
            const ChannelEngineState& first = state.channels[p.plans[0].channel];
            const ChannelEngineState& second = state.channels[plan.channel];
            if (first.modPeriod == second.modPeriod && first.modPhase == second.modPhase &&
                std::isfinite(first.modPeriod) && first.modPeriod != 0.0f &&
                std::isfinite(first.modPhase)) {
                shared = scratch.modValue[p.plans[0].channel].data();
            }
        }
        ModulationGains(state.channels[plan.channel], live, plan, n0, state.sampleRate, len,
                        scratch, shared, out.gain[plan.channel] + offset);
    }
    DrawSources(engine, scratch, p.plans, p.count, n0, len, value);
    for (int i = 0; i < p.count; ++i) {
        if (p.plans[i].noiseFunction == kPinkNoise) {
            const int c = p.plans[i].channel;
            ActiveVectorStages().pinkSums(scratch, c, value[c], len);
        }
    }
}

// The shape half of a pass of at most kRenderChunkFrames frames: each running
// channel's crest shaping and scaling of the given gains and values into
// pre[channel], and x as the chain leaves it.
void ShapePass(EngineState& state, RenderScratch& scratch, const PassPlans& p,
               const SourceValues& in, std::size_t offset, std::int32_t* const pre[kChannelCount],
               std::size_t len) {
    const VectorStages& stages = ActiveVectorStages();
    for (int i = 0; i < p.count; ++i) {
        const ChannelPlan& plan = p.plans[i];
        const int c = plan.channel;
        ChannelEngineState& ch = state.channels[c];
        std::int32_t* sample = pre[c];
        if (plan.hasSource) {
            const float* value = in.value[c] + offset;
            if (plan.noiseFunction == kPinkNoise) {
                stages.pinkValues(value, scratch.pinkValue.data(), len);
                value = scratch.pinkValue.data();
            }
            stages.crestShapes(value, ch.crestExponent, scratch.approx.data(),
                               scratch.shaped[c].data(), len);
            // Without modulation the gain stays what it was, and the draw half
            // leaves the gains untouched.
            const float* gain = in.gain[c] + offset;
            if (!plan.modulation) {
                std::fill_n(scratch.gain[c].begin(), len, ch.modGain);
                gain = scratch.gain[c].data();
            }
            stages.scaledSamples(ch.linearAmplitude, gain, scratch.shaped[c].data(),
                                 scratch.approx.data(), sample, len);
        } else {
            std::fill(sample, sample + len, 0);
        }
        if (len > 0) {
            ch.x = sample[len - 1];
        }
    }
}

// The filter half over any number of frames: each running channel's filter
// over pre[channel] in place, then the calls' samples, gated in stereo, into
// out.
void FilterAndInterleavePass(EngineState& state, const PassPlans& p,
                             std::int32_t* const pre[kChannelCount], std::int16_t* out,
                             std::size_t len) {
    std::optional<FilterRun> filters[kChannelCount];
    for (int i = 0; i < p.count; ++i) {
        if (p.plans[i].filter) {
            filters[i].emplace(state.channels[p.plans[i].channel], pre[p.plans[i].channel]);
        }
    }
    if (filters[0] && filters[1]) {
        FilterSamples(&*filters[0], &*filters[1], len);
    } else if (filters[0] || filters[1]) {
        FilterSamples(filters[0] ? &*filters[0] : &*filters[1], nullptr, len);
    }

    // The first call's samples go left, the second call's right, whichever
    // channels the selectors addressed.
    const std::int32_t* left = pre[p.plans[0].channel];
    const std::int32_t* right = pre[p.plans[p.count - 1].channel];
    // Mono has no gates. "= Left" narrows the left samples (gate included)
    // twice, so the right channel plays them clipped alike and counts them
    // alike.
    const std::int32_t leftGate = p.stereo ? state.left().gate : 1;
    const std::int32_t* second = !p.stereo ? nullptr : p.rightRuns ? right : left;
    const std::int32_t secondGate = p.rightRuns ? state.right().gate : leftGate;
    const auto zeroOrOne = [](std::int32_t gate) { return gate == 0 || gate == 1; };
    if (second == nullptr || (zeroOrOne(leftGate) && zeroOrOne(secondGate))) {
        ActiveVectorStages().saturatedFrames(left, leftGate, second, secondGate, out, len,
                                             state.clippedSamples.data());
        return;
    }
    // A gate is a tick box, 0 or 1; any other value takes the 64-bit
    // product, which cannot overflow.
    for (std::size_t i = 0; i < len; ++i) {
        out[2 * i] = Saturate16(std::int64_t{left[i]} * leftGate, state.clippedSamples[kLeft]);
        out[2 * i + 1] =
            Saturate16(std::int64_t{second[i]} * secondGate, state.clippedSamples[kRight]);
    }
}

}  // namespace

void RenderFramesFast(SignalEngine& engine, RenderScratch& scratch, const FramePlan& plan,
                      std::int16_t* out, std::size_t frames) noexcept {
    if (!SourcesSplitFromFilters(engine, plan, frames)) {
        // Frame by frame, as defined.
        ReferenceRenderFrames(engine, plan, out, frames);
        return;
    }
    const PassPlans p = PlansFor(engine.live, plan);
    const SourceValues values{{scratch.gain[kLeft].data(), scratch.gain[kRight].data()},
                              {scratch.value[kLeft].data(), scratch.value[kRight].data()}};
    std::int32_t* const pre[kChannelCount] = {scratch.sample[kLeft].data(),
                                              scratch.sample[kRight].data()};
    while (frames > 0) {
        const std::size_t len = std::min(frames, kRenderChunkFrames);
        DrawPass(engine, scratch, p, engine.state.sampleCounter, len, values, 0);
        engine.state.sampleCounter += static_cast<std::int64_t>(len);
        ShapePass(engine.state, scratch, p, values, 0, pre, len);
        FilterAndInterleavePass(engine.state, p, pre, out, len);
        out += 2 * len;
        frames -= len;
    }
}

bool SourcesSplitFromFilters(const SignalEngine& engine, const FramePlan& plan,
                             std::size_t frames) noexcept {
    // Near the counter's largest value it stops counting: frame by frame.
    const bool counterRoom =
        engine.state.sampleCounter <= INT64_MAX - static_cast<std::int64_t>(frames);
    return counterRoom && !PlansFor(engine.live, plan).OneChannelTwice();
}

void DrawSourceValuesFast(SignalEngine& engine, RenderScratch& scratch, const FramePlan& plan,
                          const SourceValues& out, std::size_t frames) noexcept {
    const PassPlans p = PlansFor(engine.live, plan);
    for (std::size_t done = 0; done < frames;) {
        const std::size_t len = std::min(frames - done, kRenderChunkFrames);
        DrawPass(engine, scratch, p, engine.state.sampleCounter, len, out, done);
        engine.state.sampleCounter += static_cast<std::int64_t>(len);
        done += len;
    }
}

void ShapeFilterAndInterleave(EngineState& state, const LiveSettings& live, RenderScratch& scratch,
                              const FramePlan& plan, const SourceValues& in, std::int16_t* out,
                              std::size_t frames) noexcept {
    const PassPlans p = PlansFor(live, plan);
    std::int32_t* const pre[kChannelCount] = {scratch.sample[kLeft].data(),
                                              scratch.sample[kRight].data()};
    for (std::size_t done = 0; done < frames;) {
        const std::size_t len = std::min(frames - done, kRenderChunkFrames);
        ShapePass(state, scratch, p, in, done, pre, len);
        FilterAndInterleavePass(state, p, pre, out + 2 * done, len);
        done += len;
    }
}

}  // namespace skarnel
