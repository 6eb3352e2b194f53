#pragma once

// Compares what a sound server's monitor recorded with the signal that was
// played (skarnel-render's samples), frame by frame, and says where and how
// the two part: frames of the signal that never arrived, silence the server
// put in their place, or data that is simply wrong.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace skarnel::capture {

using Bytes = std::vector<std::uint8_t>;

// The sample data of a PCM WAV file and its frame size (block align).
struct WaveData {
    Bytes samples;
    std::size_t frameBytes = 0;
    std::uint32_t sampleRate = 0;
};

// Reads the "fmt " and "data" chunks of a RIFF/WAVE file held in memory;
// nullopt with `error` set when the bytes are not such a file.
std::optional<WaveData> ParseWave(std::span<const std::uint8_t> file, std::string& error);

// Where the recording's signal is looked for in the render.
enum class Anchor {
    kRenderStart,  // the render's first frames should be in the recording; any
                   // frames missing before its first signal are a loss
    kAnywhere,     // the recording's first signal may start anywhere in the render
};

struct CompareOptions {
    std::size_t frameBytes = 4;
    Anchor anchor = Anchor::kRenderStart;
    // Render frames that must have been played from the anchor on; nullopt
    // means up to the render's end.
    std::optional<std::size_t> playedFrames;
    // The recorder was stopped while the signal still played: running out of
    // recording is then no loss.
    bool recordingMayEndFirst = false;
    // Frames a piece of the recording must match to count as found.
    std::size_t matchFrames = 256;
};

// One place where the recording leaves the signal and picks it up again
// further on (or never: `resumed` false, everything after it lost).
struct Break {
    std::size_t renderFrame = 0;     // first render frame not heard in order
    std::size_t recordingFrame = 0;  // where the recording stopped matching
    std::size_t droppedFrames = 0;   // render frames skipped over
    std::size_t insertedFrames = 0;  // recording frames in their place (silence or garbage)
    std::size_t silentInserted = 0;  // how many of those are all-zero frames
    bool resumed = true;
};

struct CompareResult {
    bool found = false;                   // the signal was found in the recording
    std::size_t recordingOffset = 0;      // recording frame where the signal starts
    std::size_t renderOffset = 0;         // render frame the comparison starts from
    std::size_t comparedFrames = 0;       // render frames that were to be heard
    std::size_t matchedFrames = 0;        // of those, heard in order
    std::size_t leadingSilentFrames = 0;  // all-zero frames before the signal
    std::vector<Break> breaks;
    std::string problem;  // why nothing could be compared, when !found

    bool BitExact() const { return found && breaks.empty(); }
    std::size_t LostFrames() const;      // dropped render frames, all breaks
    std::size_t InsertedFrames() const;  // frames in their place, within the signal
};

CompareResult Compare(std::span<const std::uint8_t> recording, std::span<const std::uint8_t> render,
                      const CompareOptions& options);

// A report for people: the anchor, then each break with its frame counts
// (and how many 256-frame blocks they make), at `sampleRate` for times.
std::string Describe(const CompareResult& result, std::uint32_t sampleRate);

}  // namespace skarnel::capture
