#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/signal_engine.h"
#include "render/output_type.h"
#include "record/generator_settings.h"

namespace skarnel::render {

// Exit codes of skarnel-render.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRenderFailed = 1;  // the WAV could not be written
inline constexpr int kExitUsage = 2;         // bad command line

// The settings to render, as the generator window would hold them: numbers
// are kept as the validated texts the window's entries would show, since
// that is what the engine reads. Loop is off: one period is rendered.
struct RenderOptions {
    std::string output;  // file path, or "-" for standard output
    OutputType type = OutputType::kWav;
    std::int32_t sampleRate = 44100;
    bool verbose = false;
    bool quiet = false;         // no progress line
    bool stats = false;         // print the rendered signal's figures on standard error
    std::string statsJsonPath;  // write them as JSON to this file too (when not empty)
    // Where the settings came from when not from the options ("slot 2 of
    // \"set.vlm\""), for messages.
    std::string source;
    GeneratorSettings settings = [] {
        GeneratorSettings s;
        s.loop = false;
        return s;
    }();
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
// numbers or lie outside the entry's range; a duration is first turned into
// seconds (ReadDuration). The output type comes from --type or the file's
// extension. A frame count the period cannot hold exactly is rendered as the
// nearest one it holds, with a note in `error` and options to render.
ParseResult ParseRenderOptions(int argc, const char* const* argv);

// Sets up the engine as a new window does when these settings are recalled
// into it (the same steps as the window's recall, so "= Left", the filter
// rules and every validation apply alike), and returns the period in seconds
// to render; `period` (when given) receives the period text as validated.
// Throws ConversionError when a filter text cannot be read.
long double ConfigureEngine(const RenderOptions& options, SignalEngine& engine,
                            std::string* period = nullptr);

}  // namespace skarnel::render
