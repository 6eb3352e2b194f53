#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "base/extended_precision.h"
#include "engine/signal_engine.h"
#include "export/byte_sink.h"

namespace skarnel {

inline constexpr std::size_t kWaveHeaderSize = 44;
// Progress is reported, and the user interface gets to handle its events,
// every this many frames (frame 0 included).
inline constexpr std::int64_t kWaveProgressInterval = 10000;

// The 44-byte RIFF/WAVE header of a 16-bit PCM file: "RIFF", 36 + data size,
// "WAVE", "fmt " chunk of 16 bytes (PCM, channels, rate, byte rate, block
// align, 16 bits), "data" and the data size; all little-endian.
std::array<std::uint8_t, kWaveHeaderSize> BuildWaveHeader(int channels, std::uint32_t sampleRate,
                                                          std::uint32_t frames);

// Frames of one period: Round(seconds * sampleRate), halves to even, as a
// 64-bit number (so an over-long period is seen as such, not wrapped).
std::int64_t WaveFrameCount(long double seconds, std::int32_t sampleRate) noexcept;

// The longest period in whole seconds whose data still fit a WAV file's 32-bit
// size fields.
long double MaxWaveSeconds(int channels, std::int32_t sampleRate) noexcept;

enum class WaveWriteStatus {
    kCompleted,
    kCancelled,     // the user cancelled; WriteWaveFile leaves no partial file
    kCreateFailed,  // the file could not be created; nothing was written
    kWriteFailed,   // writing failed; WriteWaveFile leaves no partial file
    kRefused,       // the period does not fit a WAV file; nothing was written
};

struct WaveWriteResult {
    WaveWriteStatus status = WaveWriteStatus::kCompleted;
    std::string message;  // for the user; empty on success and cancel
    // errno of a failed write (a full disk, a quota, an I/O error), 0 when
    // unknown or none: the system's reason, which callers show beside the
    // message.
    int systemError = 0;
    // Samples of the frames written that lay outside the 16-bit range and
    // were clipped to its nearest end, per channel (left or mono, right).
    std::array<std::uint64_t, 2> clippedSamples{};
};

// The message for any failure while writing.
inline constexpr const char* kWaveWriteFailedMessage = "File Access Error, cannot write file.";

// The result's message with the system's reason after it when one is known:
// "File Access Error, cannot write file. (No space left on device)".
std::string MessageWithReason(const WaveWriteResult& result);

struct WaveExportHooks {
    // Called with the percentage done at every progress point, before the
    // cancel flag is read; this is where the user interface handles events.
    std::function<void(int percent)> progress;
    // The program's cancel request; read after every frame and cleared when
    // acted on. May be null.
    bool* cancelRequested = nullptr;
    // Called with each run of frames once the sink has taken it: whole frames
    // of the data chunk as written (little-endian 16-bit, interleaved), never
    // the header. For measuring the signal while it is written, without a
    // second pass over the file. May be null.
    std::function<void(const std::uint8_t* frames, std::size_t bytes)> written;
};

// Renders one period of `durationSeconds` through the engine into `sink`: the
// header first, then the frames. Stereo runs both channel chains with their
// gates and ignores "= Left" (the right channel always draws its own noise);
// mono runs the left chain without a gate. The caller has prepared the engine;
// the frame counter is set to 0 before the first frame. The channel mode, noise
// functions and sampling rate come from the engine's live settings and state.
WaveWriteResult WriteWaveStream(SignalEngine& engine, ByteSink& sink, long double durationSeconds,
                                const WaveExportHooks& hooks = {});

// The frames of one period as WriteWaveStream writes them, without the header:
// `frames` frames of 16-bit little-endian interleaved PCM (mono: the left
// chain), the engine's frame counter set to 0 first, progress and cancel
// handled alike, then the sink flushed. For containers other than WAV, which
// must carry the very samples a WAV export holds.
WaveWriteResult WritePcmFrames(SignalEngine& engine, ByteSink& sink, std::int64_t frames,
                               const WaveExportHooks& hooks = {});

// As WriteWaveStream into a file created (or replaced) under `path`. A regular
// file, new or existing, is written beside its target under a hidden name
// and renamed over it once complete (through a symbolic link, the file the
// link leads to, keeping its permissions); a cancelled or failed export
// deletes it, so an existing file is either replaced whole or left as it
// was. An existing file that may not be written is refused as uncreatable.
// Anything else (a device such as /dev/null, a pipe) is written in place and
// never deleted.
WaveWriteResult WriteWaveFile(SignalEngine& engine, const std::string& path,
                              long double durationSeconds, const WaveExportHooks& hooks = {});

}  // namespace skarnel
