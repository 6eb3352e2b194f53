#pragma once

#include <cstdint>
#include <vector>

#include "engine/crest_modulation.h"
#include "engine/preparation.h"
#include "engine/signal_engine.h"

namespace skarnel::testing {

// A channel set up the way a fresh window's defaults leave it, with the
// noise function and crest choice given.
inline void SetChannel(SignalEngine& e, int c, int noise, int crestIndex) {
    e.live.noiseFunction[c] = noise;
    e.state.channels[c].crestExponent = SelectCrestExponent(noise, crestIndex, 0.0f);
}

struct PrepareArgs {
    const char* duration = "10";
    FilterTexts left{"1000", "1", "0"};
    FilterTexts right{"1000", "1", "0"};
};

inline PreparationOutcome Prepare(SignalEngine& e, const PrepareArgs& args = {}) {
    return PrepareEngine(e.state, e.live, {args.duration, {args.left, args.right}}, nullptr);
}

// Renders `frames` frames through FillBlock in blocks of `blockBytes` and
// returns the interleaved samples.
inline std::vector<std::int16_t> RenderStream(SignalEngine& e, std::size_t frames,
                                              std::size_t blockBytes) {
    const std::size_t frameBytes = e.live.channelMode == kStereo ? 4 : 2;
    std::vector<std::int16_t> out;
    std::vector<std::uint8_t> block(blockBytes);
    while (out.size() * 2 < frames * frameBytes) {
        e.FillBlock(block.data(), block.size());
        const std::size_t used = block.size() / frameBytes * frameBytes;
        for (std::size_t i = 0; i + 1 < used; i += 2) {
            out.push_back(static_cast<std::int16_t>(block[i] | (block[i + 1] << 8)));
        }
    }
    out.resize(frames * frameBytes / 2);
    return out;
}

}  // namespace skarnel::testing
