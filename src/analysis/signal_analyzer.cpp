#include "analysis/signal_analyzer.h"

#include <algorithm>
#include <array>

namespace skarnel {

SignalAnalyzer::SignalAnalyzer(Format format, int fftSize) : format_(format) {
    format_.channels = std::clamp(format_.channels, 1, kMaxChannels);
    format_.bitsPerSample = format_.bitsPerSample == 8 ? 8 : 16;
    for (int c = 0; c < kMaxChannels; ++c) {
        meters_[static_cast<std::size_t>(c)].SetSampleRate(format_.sampleRate);
        spectra_[static_cast<std::size_t>(c)] =
            std::make_unique<SpectrumAnalyzer>(format_.sampleRate, fftSize);
    }
}

void SignalAnalyzer::Reset() noexcept {
    for (int c = 0; c < kMaxChannels; ++c) {
        meters_[static_cast<std::size_t>(c)].Reset();
        spectra_[static_cast<std::size_t>(c)]->Reset();
    }
    frames_ = 0;
}

void SignalAnalyzer::SetSpectrumOn(bool on) noexcept {
    if (on && !spectrumOn_) {
        for (const std::unique_ptr<SpectrumAnalyzer>& spectrum : spectra_) {
            spectrum->Reset();
        }
    }
    spectrumOn_ = on;
}

void SignalAnalyzer::Feed(const std::int16_t* interleaved, std::size_t frames) noexcept {
    // Channel by channel: each one's figures and spectrum are its own.
    const auto channels = static_cast<std::size_t>(format_.channels);
    for (std::size_t c = 0; c < channels; ++c) {
        meters_[c].Add(interleaved + c, frames, channels);
        if (spectrumOn_) {
            spectra_[c]->Add(interleaved + c, frames, channels);
        }
    }
    frames_ += frames;
}

void SignalAnalyzer::Feed(const std::uint8_t* bytes, std::size_t byteCount) noexcept {
    const std::size_t sampleBytes = format_.bitsPerSample == 8 ? 1 : 2;
    const auto channels = static_cast<std::size_t>(format_.channels);
    const std::size_t frames = byteCount / (sampleBytes * channels);
    // Little-endian 16-bit, or 8-bit offset by 128 (the 16-bit value the
    // byte stands for), a piece at a time.
    std::array<std::int16_t, 2048> samples;
    const std::size_t framesPerPiece = samples.size() / channels;
    for (std::size_t done = 0; done < frames;) {
        const std::size_t piece = std::min(frames - done, framesPerPiece);
        const std::uint8_t* at = bytes + done * channels * sampleBytes;
        for (std::size_t i = 0; i < piece * channels; ++i, at += sampleBytes) {
            samples[i] =
                sampleBytes == 2
                    ? static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | (at[1] << 8)))
                    : static_cast<std::int16_t>((static_cast<int>(at[0]) - 128) * 256);
        }
        Feed(samples.data(), piece);
        done += piece;
    }
}

}  // namespace skarnel
