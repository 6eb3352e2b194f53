// Frames per second of the block renderer, on the output device's 16384-byte
// blocks, from the lightest channel set-up to the heaviest.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/signal_engine.h"
#include "engine/uniform_random.h"

namespace {

constexpr std::size_t kBlockBytes = 16384;
constexpr std::int32_t kRate = 44100;
constexpr int kCrest142 = 0;  // "1.42:1": white noise passes unshaped
constexpr int kCrest6 = 4;    // "6:1"
constexpr int kCrest10 = 6;   // "10:1"

struct ChannelSetup {
    int noise = skarnel::kPinkNoise;
    int crestIndex = kCrest6;
    int filterType = skarnel::kFilterNone;
    bool modulation = false;
};

// An engine prepared as the window prepares it, with Loop on so that blocks
// never run out of signal.
void Configure(skarnel::SignalEngine& engine, bool stereo, const ChannelSetup& setup) {
    engine.state.sampleRate = kRate;
    engine.live.channelMode = stereo ? skarnel::kStereo : skarnel::kMono;
    engine.live.loop = true;
    for (int c = 0; c < skarnel::kChannelCount; ++c) {
        engine.live.noiseFunction[c] = setup.noise;
        engine.live.filterType[c] = setup.filterType;
        engine.live.modulationOn[c] = setup.modulation;
        engine.live.modFunction[c] = skarnel::kModTriangular;
        skarnel::ChannelEngineState& ch = engine.state.channels[c];
        ch.crestExponent = skarnel::SelectCrestExponent(setup.noise, setup.crestIndex, 0.0f);
        ch.linearAmplitude = skarnel::LinearAmplitude(0.0L);
        ch.modPeriod = skarnel::ModPeriodSeconds(2.0L);
        ch.modDepth = skarnel::ModDepthFraction(100.0L);
        ch.modPhase = skarnel::ModPhaseRadians(0.0L);
    }
    const skarnel::FilterTexts peak{.frequency = "1000", .q = "3", .gain = "-10"};
    skarnel::PrepareEngine(engine.state, engine.live, {.duration = "10", .filter = {peak, peak}},
                           nullptr);
}

void RunBlocks(benchmark::State& state, bool stereo, const ChannelSetup& setup) {
    skarnel::UniformRandom random;
    skarnel::SignalEngine engine(random);
    Configure(engine, stereo, setup);
    std::array<std::uint8_t, kBlockBytes> block{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.FillBlock(block.data(), block.size()));
        benchmark::ClobberMemory();
    }
    const auto framesPerBlock = static_cast<std::int64_t>(kBlockBytes / (stereo ? 4 : 2));
    // Items are frames: items_per_second is frames per second.
    state.SetItemsProcessed(state.iterations() * framesPerBlock);
    // Seconds of 44.1 kHz audio rendered per second: how far ahead of the
    // output device the renderer runs.
    const auto frames = static_cast<double>(state.iterations() * framesPerBlock);
    state.counters["audio_seconds"] =
        benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

// One stage at a time on top of unshaped mono white noise (the draws alone):
// what each stage costs per frame.
void BM_StageDrawsMonoWhite(benchmark::State& state) {
    RunBlocks(state, false, {.noise = skarnel::kWhiteNoise, .crestIndex = kCrest142});
}

void BM_StagePinkRowsMonoPink(benchmark::State& state) {
    RunBlocks(state, false, {.noise = skarnel::kPinkNoise, .crestIndex = kCrest6});
}

void BM_StageModulationMonoWhite(benchmark::State& state) {
    RunBlocks(state, false,
              {.noise = skarnel::kWhiteNoise, .crestIndex = kCrest142, .modulation = true});
}

void BM_StageFilterMonoWhite(benchmark::State& state) {
    RunBlocks(state, false,
              {.noise = skarnel::kWhiteNoise,
               .crestIndex = kCrest142,
               .filterType = skarnel::kFilterPeaking});
}

void BM_MonoWhite6(benchmark::State& state) {
    RunBlocks(state, false, {.noise = skarnel::kWhiteNoise, .crestIndex = kCrest6});
}

void BM_StereoPink6(benchmark::State& state) {
    RunBlocks(state, true, {.noise = skarnel::kPinkNoise, .crestIndex = kCrest6});
}

void BM_StereoPink10PeakingTriangular(benchmark::State& state) {
    RunBlocks(state, true,
              {.noise = skarnel::kPinkNoise,
               .crestIndex = kCrest10,
               .filterType = skarnel::kFilterPeaking,
               .modulation = true});
}

}  // namespace

BENCHMARK(BM_StageDrawsMonoWhite);
BENCHMARK(BM_StagePinkRowsMonoPink);
BENCHMARK(BM_StageModulationMonoWhite);
BENCHMARK(BM_StageFilterMonoWhite);
BENCHMARK(BM_MonoWhite6);
BENCHMARK(BM_StereoPink6);
BENCHMARK(BM_StereoPink10PeakingTriangular);
