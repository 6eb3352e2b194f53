#include "analysis/expected_level.h"

#include <array>
#include <optional>
#include <vector>

#include "analysis/level_meter.h"
#include "engine/channel_values.h"
#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/signal_engine.h"
#include "record/generator_settings.h"

namespace skarnel {

namespace {

constexpr int kRate = 48000;

double Measure(int noiseFunction, int crestChoice) {
    UniformRandom random;  // a generator of its own, from state 0
    SignalEngine engine(random);
    // A new window's values (0 dBFS, no filter, no modulation), in mono and
    // looping, with the noise and crest choice asked about.
    const GeneratorSettings reset;
    const ChannelSettings& channel = reset.channels[kLeft];
    engine.state.sampleRate = kRate;
    engine.live.channelMode = kMono;
    engine.live.loop = true;
    engine.live.noiseFunction = {noiseFunction, noiseFunction};
    ChannelEngineState& left = engine.state.left();
    left.linearAmplitude = LinearAmplitude(0.0L);
    left.crestExponent = SelectCrestExponent(noiseFunction, crestChoice, left.crestExponent);
    const FilterTexts filter{channel.frequency, channel.q, channel.gain};
    PrepareEngine(engine.state, engine.live, {reset.period, {filter, filter}}, [] {});
    // Stereo frames; in mono the signal is in the left sample of each.
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kRate) * 4);
    LevelSums sums;
    for (int second = 0; second < kExpectedLevelSeconds; ++second) {
        engine.FillBlock(block.data(), block.size());
        for (std::size_t i = 0; i + 1 < block.size(); i += 4) {
            sums.Add(static_cast<std::int16_t>(
                static_cast<std::uint16_t>(block[i] | (block[i + 1] << 8))));
        }
    }
    return sums.Figures().rmsDbfs;
}

}  // namespace

double RmsBelowAmplitudeDb(int noiseFunction, int crestChoice) {
    static std::array<std::array<std::optional<double>, kCrestFactorCount>, kNoiseFunctionCount>
        measured;
    if (noiseFunction < 0 || noiseFunction >= kNoiseFunctionCount || crestChoice < 0 ||
        crestChoice >= kCrestFactorCount) {
        return 0.0;
    }
    auto& figure =
        measured[static_cast<std::size_t>(noiseFunction)][static_cast<std::size_t>(crestChoice)];
    if (!figure) {
        figure = Measure(noiseFunction, crestChoice);
    }
    return *figure;
}

}  // namespace skarnel
