#include "analysis/level_meter.h"

#include <algorithm>
#include <cmath>

namespace skarnel {

LevelFigures LevelSums::Figures() const noexcept {
    LevelFigures figures;
    if (samples == 0 || sumOfSquares == 0) {
        return figures;  // silent
    }
    constexpr double kFullScale = 32768.0;
    const double meanSquare = static_cast<double>(sumOfSquares) / static_cast<double>(samples) /
                              (kFullScale * kFullScale);
    const double rms = std::sqrt(meanSquare);
    const double peakLinear = static_cast<double>(peak) / kFullScale;
    figures.silent = false;
    figures.rmsDbfs = 10.0 * std::log10(meanSquare);
    figures.peakDbfs = 20.0 * std::log10(peakLinear);
    figures.crestRatio = peakLinear / rms;
    figures.crestDb = figures.peakDbfs - figures.rmsDbfs;
    return figures;
}

void LevelMeter::SetSampleRate(int sampleRate) noexcept {
    const int rate = sampleRate > kBlocksPerSecond ? sampleRate : kBlocksPerSecond;
    blockLength_ = static_cast<std::uint64_t>(rate / kBlocksPerSecond);
    Reset();
}

void LevelMeter::Reset() noexcept {
    blocks_.fill({});
    next_ = 0;
    completed_ = 0;
    total_ = {};
}

void LevelMeter::Add(std::int16_t sample) noexcept {
    total_.Add(sample);
    LevelSums& block = blocks_[static_cast<std::size_t>(next_)];
    block.Add(sample);
    if (block.samples == blockLength_) {
        next_ = (next_ + 1) % kWindowBlocks;
        completed_ = completed_ < kWindowBlocks - 1 ? completed_ + 1 : kWindowBlocks - 1;
        blocks_[static_cast<std::size_t>(next_)] = {};
    }
}

void LevelMeter::Add(const std::int16_t* samples, std::size_t count, std::size_t stride) noexcept {
    while (count > 0) {
        // A run within the block being filled, summed in registers.
        LevelSums& block = blocks_[static_cast<std::size_t>(next_)];
        const auto run =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, blockLength_ - block.samples));
        std::uint64_t sumOfSquares = 0;
        std::int32_t peak = 0;
        for (std::size_t i = 0; i < run; ++i) {
            const std::int32_t v = samples[i * stride];
            sumOfSquares += static_cast<std::uint64_t>(v * v);
            peak = std::max(peak, v < 0 ? -v : v);
        }
        const LevelSums sums{sumOfSquares, run, peak};
        total_.Add(sums);
        block.Add(sums);
        if (block.samples == blockLength_) {
            next_ = (next_ + 1) % kWindowBlocks;
            completed_ = completed_ < kWindowBlocks - 1 ? completed_ + 1 : kWindowBlocks - 1;
            blocks_[static_cast<std::size_t>(next_)] = {};
        }
        samples += run * stride;
        count -= run;
    }
}

// The block being filled and the completed ones before it: one second once
// the meter has run that long.
LevelFigures LevelMeter::Window() const noexcept {
    LevelSums sums = blocks_[static_cast<std::size_t>(next_)];
    for (int back = 1; back <= completed_; ++back) {
        sums.Add(blocks_[static_cast<std::size_t>((next_ - back + kWindowBlocks) % kWindowBlocks)]);
    }
    return sums.Figures();
}

}  // namespace skarnel
