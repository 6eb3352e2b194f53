#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "analysis/level_meter.h"
#include "analysis/spectrum_analyzer.h"

namespace skarnel {

// Levels and spectrum of what is played, per channel, from the integer PCM
// frames the renderer wrote: 16-bit signed or 8-bit unsigned (read as the
// 16-bit value it stands for), one or two channels. The same code serves the
// window's live view and skarnel-render's figures.
class SignalAnalyzer {
public:
    static constexpr int kMaxChannels = 2;
    // 8192 samples: 5.9 Hz per bin at 48 kHz, a new spectrum every 85 ms.
    static constexpr int kLiveFftSize = 8192;

    struct Format {
        int sampleRate = 48000;
        int channels = 2;
        int bitsPerSample = 16;
        bool operator==(const Format&) const = default;
    };

    explicit SignalAnalyzer(Format format, int fftSize = kLiveFftSize);

    const Format& format() const noexcept { return format_; }
    void Reset() noexcept;
    // Whole frames of `bytes`; a trailing part frame is ignored.
    void Feed(const std::uint8_t* bytes, std::size_t byteCount) noexcept;
    void Feed(const std::int16_t* interleaved, std::size_t frames) noexcept;

    // The spectrum costs most of the analysis; it can be left out while no
    // one looks at it. Turned on again, it starts afresh from the next
    // frame, so no transform spans the gap. The meters always run.
    void SetSpectrumOn(bool on) noexcept;
    bool spectrumOn() const noexcept { return spectrumOn_; }

    std::uint64_t frames() const noexcept { return frames_; }
    const LevelMeter& meter(int channel) const {
        return meters_[static_cast<std::size_t>(channel)];
    }
    const SpectrumAnalyzer& spectrum(int channel) const {
        return *spectra_[static_cast<std::size_t>(channel)];
    }

private:
    Format format_;
    std::array<LevelMeter, kMaxChannels> meters_;
    std::array<std::unique_ptr<SpectrumAnalyzer>, kMaxChannels> spectra_;
    std::uint64_t frames_ = 0;
    bool spectrumOn_ = true;
};

}  // namespace skarnel
