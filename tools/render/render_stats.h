#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "analysis/signal_analyzer.h"
#include "export/wave_writer.h"

namespace skarnel::render {

// The FFT size for the figures of a render of `frames` frames: 32768 (1.5 Hz
// per bin at 48 kHz, so the lowest third-octave bands get several bins each),
// smaller for a render too short to fill one transform.
int StatsFftSize(std::int64_t frames) noexcept;

// An analyzer for the frames a render writes, and the hook that feeds it
// while they are written (no second pass over the file; the hook does not
// allocate).
struct RenderMeasurement {
    RenderMeasurement(int sampleRate, int channels, std::int64_t frames);
    // The hooks point at this object.
    RenderMeasurement(const RenderMeasurement&) = delete;
    RenderMeasurement& operator=(const RenderMeasurement&) = delete;
    WaveExportHooks Hooks();

    SignalAnalyzer analyzer;
};

// Samples clipped per channel (left or mono, right), as the render reports
// them (WaveWriteResult::clippedSamples).
using ClippedSamples = std::array<std::uint64_t, 2>;

// The figures since the analyzer's reset as skarnel-render prints them on
// standard error: one column per channel, RMS and peak in dBFS, the crest
// factor as a ratio and in dB, the samples clipped and their share of the
// channel's samples, and the third-octave band levels under their nominal
// labels; a band that reaches past the Nyquist frequency is marked
// "(partial)" and explained under the table. A silent channel reads
// "silence", never -inf or NaN.
std::string StatsTable(const SignalAnalyzer& analyzer, const ClippedSamples& clipped);

// The same figures as JSON:
//   {"sample_rate": 48000, "frames": N, "channels": [{"silent": false,
//    "rms_dbfs": .., "peak_dbfs": .., "crest_ratio": .., "crest_db": ..,
//    "clipped_samples": N, "clipped_share": ..,
//    "bands": [{"hz": 20, "dbfs": .., "partial": false}, ...]}, ...]}
// "hz" is the band's exact centre; "clipped_share" is a fraction of the
// channel's samples; "partial" marks a band that reaches past the Nyquist
// frequency. A silent channel's figures and an empty band's level are null.
std::string StatsJson(const SignalAnalyzer& analyzer, const ClippedSamples& clipped);

// The line skarnel-render prints on standard error when a render clipped
// (both channels' samples together), or an empty text.
std::string ClippedLine(const ClippedSamples& clipped);

}  // namespace skarnel::render
