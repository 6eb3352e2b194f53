#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/live_settings.h"
#include "engine/signal_engine.h"

namespace skarnel::render {

// Exit codes of skarnel-render.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRenderFailed = 1;  // the WAV could not be written
inline constexpr int kExitUsage = 2;         // bad command line

// The sampling rates the output settings offer.
inline constexpr std::array<std::int32_t, 7> kSampleRates{8000,  11025, 22050, 44100,
                                                          48000, 96000, 192000};

// The crest-factor list; the index into it is the crest index.
inline constexpr std::array<const char*, 7> kCrestNames{"1.42:1", "2:1", "3:1", "4:1",
                                                        "6:1",    "8:1", "10:1"};

// One channel's settings after validation. Numbers are kept as the validated
// texts the window's entries would show, since that is what the engine reads.
struct ChannelOptions {
    int noiseFunction = kPinkNoise;
    int crestIndex = 4;  // "6:1"
    std::string amplitude = "0";
    int filterType = kFilterNone;
    std::string frequency = "1000";
    std::string gain = "0";
    std::string q = "1";
    bool modulationOn = false;
    int modFunction = kModSine;
    std::string modPeriod = "1";
    std::string modDepth = "100";
    std::string modPhase = "0";
    bool on = true;  // the channel's on tick
};

struct RenderOptions {
    std::string output;  // file path, or "-" for standard output
    std::int32_t sampleRate = 44100;
    std::string duration = "10";
    int channelMode = kMono;
    bool asLeft = false;  // "= Left"; the right channel keeps its own values here
    bool verbose = false;
    std::array<ChannelOptions, kChannelCount> channels;
};

// The outcome of reading a command line: either options to render, or an exit
// code with the text to show (help on standard output, errors on standard
// error).
struct ParseResult {
    std::optional<RenderOptions> options;
    int exitCode = kExitOk;
    std::string output;
    std::string error;
};

// Reads and validates the command line. Numeric texts go through the window's
// validation (ClampAndRound) after a check that rejects texts that are not
// numbers or lie outside the entry's range.
ParseResult ParseRenderOptions(int argc, const char* const* argv);

// Sets up the engine as the window would for a first rendering of these
// settings (applying "= Left"), prepares it, and returns the period in seconds
// to render.
long double ConfigureEngine(const RenderOptions& options, SignalEngine& engine);

}  // namespace skarnel::render
