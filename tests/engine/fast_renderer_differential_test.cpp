// The fast block renderer against the reference renderer on randomized
// settings: every byte played and every bit of state left behind must agree.
// SKARNEL_DIFFERENTIAL_SAMPLES raises the number of samples compared (for long
// runs outside the normal suite).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/crest_modulation.h"
#include "engine/filter.h"
#include "engine/live_settings.h"
#include "engine/reference_renderer.h"
#include "engine/signal_engine.h"
#include "engine/vector_stages.h"

namespace skarnel::testing {
namespace {

constexpr std::int32_t kRates[] = {8000, 11025, 22050, 44100, 48000, 96000, 192000};

class SettingsDraw {
public:
    explicit SettingsDraw(std::uint64_t seed) : rng_(seed) {}

    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::int64_t Int64(std::int64_t lo, std::int64_t hi) {
        return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_);
    }
    double Real(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng_);
    }
    bool Chance(double p) { return Real(0, 1) < p; }
    // Log-uniform between lo and hi.
    double Spread(double lo, double hi) { return std::exp(Real(std::log(lo), std::log(hi))); }

    // A noise function: mostly white or pink, sometimes none (silence).
    int NoiseFunction() { return Chance(0.05) ? (Chance(0.5) ? -1 : 7) : Int(0, 1); }

    void Channel(SignalEngine& e, int c) {
        ChannelEngineState& ch = e.state.channels[c];
        const int noise = e.live.noiseFunction[c];
        ch.crestExponent = SelectCrestExponent(noise == kWhiteNoise ? kWhiteNoise : kPinkNoise,
                                               Int(0, kCrestFactorCount - 1), 0.0f);
        if (Chance(0.02)) {
            ch.crestExponent = 0.0f;  // no crest choice made yet
        }
        ch.linearAmplitude =
            static_cast<float>(std::pow(10.0L, static_cast<long double>(Real(-100, 0)) / 20.0L));
        if (Chance(0.1)) {
            ch.linearAmplitude = 1.0f;
        }
        ch.gate = Int(0, 4) == 0 ? 0 : 1;
        ch.modDepth = Chance(0.2) ? static_cast<float>(Int(0, 1)) : static_cast<float>(Real(0, 1));
        ch.modPeriod = static_cast<float>(Spread(0.001, 100));
        ch.modPhase = static_cast<float>(Chance(0.3) ? 0.0 : Real(0, 12 * kPi));
        ch.modGain = static_cast<float>(Real(0, 1));
        e.live.modulationOn[c] = Chance(0.5);
        e.live.modFunction[c] = Int(0, 3);

        const int type = Int(0, 5);
        e.live.filterType[c] = type;
        ch.filterFrequency =
            Chance(0.1) ? e.state.sampleRate / 2.0 : Spread(1, e.state.sampleRate / 2.0);
        ch.filterGain = Real(-40, 40);
        ch.filterQ = Spread(0.01, 100);
        ch.w0 = static_cast<double>(kTwoPi * static_cast<long double>(ch.filterFrequency) /
                                    e.state.sampleRate);
        ch.cosW0 = static_cast<double>(std::cos(static_cast<long double>(ch.w0)));
        ch.sinW0 = static_cast<double>(std::sin(static_cast<long double>(ch.w0)));
        DesignFilter(ch, type);
        ch.x1 = Int(-32768, 32767);
        ch.x2 = Int(-32768, 32767);
        ch.y1 = Int(-32768, 32767);
        ch.y2 = Int(-32768, 32767);
    }

    void Engine(SignalEngine& e) {
        e.state.sampleRate = kRates[Int(0, 6)];
        e.live.channelMode = Int(0, 1);
        e.live.asLeft = Chance(0.2);
        e.live.loop = Chance(0.6);
        for (int c = 0; c < kChannelCount; ++c) {
            e.live.noiseFunction[c] = NoiseFunction();
        }
        for (int c = 0; c < kChannelCount; ++c) {
            Channel(e, c);
        }
        // Up to a day at 192 kHz, so counters pass 2^31 and 2^32.
        e.state.periodSamples = Chance(0.3) ? Int(1, 3000) : Int64(1, 20000000000LL);
        // Start anywhere: at the start, just before the period's end (for the
        // loop boundary), late in a long period (large phases), across 2^31
        // or 2^32 (where a narrower counter would end), or next to the
        // counter's largest value.
        switch (Int(0, 4)) {
            case 0:
                e.state.sampleCounter = 0;
                break;
            case 1:
                e.state.sampleCounter =
                    std::max<std::int64_t>(0, e.state.periodSamples - Int(0, 2000));
                break;
            case 2:
                e.state.sampleCounter = Int64(0, e.state.periodSamples);
                break;
            case 3:
                e.state.sampleCounter = (Chance(0.5) ? 0x80000000LL : 0x100000000LL) - Int(0, 3000);
                break;
            default:
                e.state.sampleCounter = INT64_MAX - Int(0, 3000);
                break;
        }
        for (float& row : e.state.pinkRows) {
            row = static_cast<float>(Real(0, 1));
        }
    }

private:
    std::mt19937_64 rng_;
};

// The settings of a case, for the failure message.
std::string Describe(const SignalEngine& e) {
    std::ostringstream text;
    text << "rate " << e.state.sampleRate << " mode " << e.live.channelMode << " asLeft "
         << e.live.asLeft << " loop " << e.live.loop << " period " << e.state.periodSamples
         << " counter " << e.state.sampleCounter;
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelEngineState& ch = e.state.channels[c];
        text << " | ch" << c << " noise " << e.live.noiseFunction[c] << " k " << ch.crestExponent
             << " mod " << e.live.modulationOn[c] << "/" << e.live.modFunction[c] << " period "
             << ch.modPeriod << " filter " << e.live.filterType[c] << " gate " << ch.gate;
    }
    return text.str();
}

void ExpectSameState(const SignalEngine& fast, const SignalEngine& reference,
                     const UniformRandom& fastRandom, const UniformRandom& referenceRandom,
                     int caseNumber) {
    EXPECT_EQ(fast.state.sampleCounter, reference.state.sampleCounter) << caseNumber;
    EXPECT_EQ(fastRandom.seed(), referenceRandom.seed()) << caseNumber;
    EXPECT_EQ(std::memcmp(fast.state.pinkRows.data(), reference.state.pinkRows.data(),
                          sizeof fast.state.pinkRows),
              0)
        << caseNumber;
    for (int c = 0; c < kChannelCount; ++c) {
        const ChannelEngineState& a = fast.state.channels[c];
        const ChannelEngineState& b = reference.state.channels[c];
        EXPECT_EQ(std::memcmp(&a.modGain, &b.modGain, sizeof a.modGain), 0) << caseNumber;
        EXPECT_EQ(a.x, b.x) << caseNumber;
        EXPECT_EQ(a.x1, b.x1) << caseNumber;
        EXPECT_EQ(a.x2, b.x2) << caseNumber;
        EXPECT_EQ(a.y, b.y) << caseNumber;
        EXPECT_EQ(a.y1, b.y1) << caseNumber;
        EXPECT_EQ(a.y2, b.y2) << caseNumber;
        EXPECT_EQ(fast.state.clippedSamples[c], reference.state.clippedSamples[c]) << caseNumber;
    }
}

std::uint64_t SamplesToCompare() {
    const char* text = std::getenv("SKARNEL_DIFFERENTIAL_SAMPLES");
    return text != nullptr ? std::strtoull(text, nullptr, 10) : 1'500'000;
}

// Every build of the array stages this processor runs is compared, whichever
// one the program would pick here; the names of the others are reported as
// skipped.
class FastRendererBuild : public ::testing::TestWithParam<VectorPath> {
protected:
    void SetUp() override {
        if (!UseVectorPath(GetParam())) {
            GTEST_SKIP() << "this processor does not run the "
                         << (GetParam() == VectorPath::kAvx512 ? "avx512f" : "avx2") << " build";
        }
        std::cout << "[ build    ] " << ActiveVectorStages().name << "\n";
    }
    void TearDown() override { UseVectorPath(chosen_); }

private:
    VectorPath chosen_ = ActiveVectorStages().path;
};

INSTANTIATE_TEST_SUITE_P(EveryBuild, FastRendererBuild,
                         ::testing::Values(VectorPath::kDefault, VectorPath::kAvx2,
                                           VectorPath::kAvx512),
                         [](const ::testing::TestParamInfo<VectorPath>& info) {
                             return std::string(info.param == VectorPath::kDefault ? "Default"
                                                : info.param == VectorPath::kAvx2  ? "Avx2"
                                                                                   : "Avx512");
                         });

TEST_P(FastRendererBuild, MatchesTheReferenceOnRandomSettings) {
    const std::uint64_t wanted = SamplesToCompare();
    std::uint64_t compared = 0;
    SettingsDraw draw(20261207);
    std::vector<std::uint8_t> fastBlock, referenceBlock;
    for (int caseNumber = 0; compared < wanted; ++caseNumber) {
        UniformRandom fastRandom(static_cast<std::uint32_t>(draw.Int(0, INT32_MAX)) * 2u + 1u);
        UniformRandom referenceRandom = fastRandom;
        auto fast = std::make_unique<SignalEngine>(fastRandom);
        auto reference = std::make_unique<SignalEngine>(referenceRandom);
        draw.Engine(*fast);
        reference->state = fast->state;
        reference->live = fast->live;
        const std::string settings = Describe(*fast);

        const int blocks = draw.Int(1, 4);
        for (int b = 0; b < blocks && !HasFailure(); ++b) {
            // Device buffer sizes, and odd ones with a partial frame.
            const std::size_t size = draw.Chance(0.5) ? std::size_t{4096} << draw.Int(0, 2)
                                                      : static_cast<std::size_t>(draw.Int(1, 9000));
            fastBlock.assign(size, 0xAA);
            referenceBlock.assign(size, 0x55);
            const BlockStatus fastStatus = fast->FillBlock(fastBlock.data(), size);
            const BlockStatus referenceStatus =
                ReferenceFillBlock(*reference, referenceBlock.data(), size);
            ASSERT_EQ(fastStatus, referenceStatus) << caseNumber;
            ASSERT_EQ(fastBlock, referenceBlock) << "case " << caseNumber << ", block " << b;
            ExpectSameState(*fast, *reference, fastRandom, referenceRandom, caseNumber);
            compared += size / 2;
        }
        ASSERT_FALSE(HasFailure()) << "case " << caseNumber << ": " << settings;
    }
    std::cout << "[ compared ] " << compared << " samples\n";
}

// The WAV path renders runs of frames without the period's end; the same
// frames one at a time by the reference must agree.
TEST(FastRenderer, RenderFramesMatchesTheReferenceFrameByFrame) {
    SettingsDraw draw(7);
    for (int caseNumber = 0; caseNumber < 200; ++caseNumber) {
        UniformRandom fastRandom(static_cast<std::uint32_t>(caseNumber) * 2654435761u);
        UniformRandom referenceRandom = fastRandom;
        auto fast = std::make_unique<SignalEngine>(fastRandom);
        auto reference = std::make_unique<SignalEngine>(referenceRandom);
        draw.Engine(*fast);
        reference->state = fast->state;
        reference->live = fast->live;
        const std::string settings = Describe(*fast);
        const bool stereo = fast->live.channelMode == kStereo;
        const int left = fast->live.noiseFunction[kLeft];
        const int right = fast->live.noiseFunction[kRight] + kRightSourceOffset;
        const std::size_t frames = static_cast<std::size_t>(draw.Int(1, 1500));
        std::vector<std::int16_t> got(2 * frames), want(2 * frames);
        fast->RenderFrames({stereo, false, left, right}, got.data(), frames);
        for (std::size_t i = 0; i < frames; ++i) {
            ReferenceRenderFrame(*reference, {stereo, false, left, right}, &want[2 * i]);
            AdvanceFrameCounter(reference->state.sampleCounter);
        }
        ASSERT_EQ(got, want) << caseNumber << ": " << settings;
        ExpectSameState(*fast, *reference, fastRandom, referenceRandom, caseNumber);
    }
}

}  // namespace
}  // namespace skarnel::testing
