// What the live view's measurement costs: seconds of 48 kHz stereo 16-bit
// audio the analyser takes in per second of one core, on the output device's
// 16384-byte blocks. Its share of a core while playing is 1 / audio_seconds.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/signal_analyzer.h"

namespace {

constexpr int kRate = 48000;
constexpr std::size_t kBlockBytes = 16384;

void BM_AnalyzeStereo48k(benchmark::State& state) {
    skarnel::SignalAnalyzer analyzer({kRate, 2, 16});
    // Noise-like bytes from a small LCG: the cost does not depend on them.
    std::vector<std::uint8_t> block(kBlockBytes);
    std::uint32_t seed = 1;
    for (auto& byte : block) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    for (auto _ : state) {
        analyzer.Feed(block.data(), block.size());
        benchmark::ClobberMemory();
    }
    const auto frames = static_cast<double>(state.iterations()) * (kBlockBytes / 4);
    state.SetItemsProcessed(static_cast<std::int64_t>(frames));
    state.counters["audio_seconds"] =
        benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_AnalyzeStereo48k);
