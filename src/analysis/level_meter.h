#pragma once

#include <array>
#include <cstdint>

namespace skarnel {

// Level figures of one channel of 16-bit samples, relative to full scale
// (32768): a full-scale square wave reads 0 dBFS RMS and peak, a full-scale
// sine -3.01 dBFS RMS. A channel that held only zeros is `silent`; its
// decibel figures are then not meaningful and are never shown.
struct LevelFigures {
    bool silent = true;
    double rmsDbfs = 0.0;
    double peakDbfs = 0.0;
    double crestRatio = 0.0;  // peak / RMS
    double crestDb = 0.0;     // peakDbfs - rmsDbfs
};

// Sum of squares and peak of a run of samples; exact (integers).
struct LevelSums {
    std::uint64_t sumOfSquares = 0;
    std::uint64_t samples = 0;
    std::int32_t peak = 0;  // largest magnitude, 0..32768

    void Add(std::int16_t sample) noexcept {
        const std::int32_t v = sample;
        const std::int32_t magnitude = v < 0 ? -v : v;
        sumOfSquares += static_cast<std::uint64_t>(v * v);
        ++samples;
        peak = magnitude > peak ? magnitude : peak;
    }
    void Add(const LevelSums& other) noexcept {
        sumOfSquares += other.sumOfSquares;
        samples += other.samples;
        peak = other.peak > peak ? other.peak : peak;
    }
    LevelFigures Figures() const noexcept;
};

// RMS and peak of one channel over a sliding window (the last
// kWindowBlocks blocks of a twentieth of a second each, so the window is one
// second) and since the last Reset. Fixed storage: feeding never allocates.
class LevelMeter {
public:
    static constexpr int kBlocksPerSecond = 20;
    static constexpr int kWindowBlocks = 20;

    explicit LevelMeter(int sampleRate = 48000) noexcept { SetSampleRate(sampleRate); }
    void SetSampleRate(int sampleRate) noexcept;
    void Reset() noexcept;
    void Add(std::int16_t sample) noexcept;
    // `count` samples, `stride` apart (one channel of interleaved frames):
    // the same as adding them one by one.
    void Add(const std::int16_t* samples, std::size_t count, std::size_t stride) noexcept;

    LevelFigures Window() const noexcept;
    LevelFigures SinceReset() const noexcept { return total_.Figures(); }

private:
    std::uint64_t blockLength_ = 2400;
    std::array<LevelSums, kWindowBlocks> blocks_{};
    int next_ = 0;       // the block being filled
    int completed_ = 0;  // finished blocks held, up to kWindowBlocks
    LevelSums total_;
};

}  // namespace skarnel
