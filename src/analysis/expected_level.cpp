#include "analysis/expected_level.h"

#include <array>
#include <optional>
#include <vector>

#include "analysis/level_meter.h"
#include "engine/signal_engine.h"
#include "settings/choice_lists.h"
#include "settings/generator_model.h"

namespace skarnel {

namespace {

constexpr int kRate = 48000;

double Measure(int noiseFunction, int crestChoice) {
    UniformRandom random;  // a generator of its own, from state 0
    SignalEngine engine(random);
    GeneratorModel model(engine, nullptr);
    StartAsNewWindow(model, kRate);
    GeneratorSettings settings;  // reset values: 0 dBFS, no filter, no modulation
    settings.channelMode = kMono;
    settings.loop = true;
    settings.channels[kLeft].noiseFunction = noiseFunction;
    settings.channels[kLeft].crestFactor = crestChoice;
    model.Recall(settings);
    model.Prepare();
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
    static std::array<std::array<std::optional<double>, kCrestFactorItems.size()>,
                      kNoiseFunctionItems.size()>
        measured;
    if (noiseFunction < 0 || noiseFunction >= static_cast<int>(kNoiseFunctionItems.size()) ||
        crestChoice < 0 || crestChoice >= static_cast<int>(kCrestFactorItems.size())) {
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
