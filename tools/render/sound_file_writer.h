#pragma once

#include <cstdint>
#include <string>

#include "engine/signal_engine.h"
#include "export/wave_writer.h"
#include "render/output_type.h"

namespace skarnel::render {

// FLAC counts a stream's frames in 36 bits.
inline constexpr std::int64_t kMaxFlacFrames = (std::int64_t{1} << 36) - 1;

// Writes `frames` frames of one period into `path` as a W64, RF64 or FLAC
// file through libsndfile: the frames WritePcmFrames gives, so the samples
// are those of a WAV export of the same settings. The file is written as
// WriteWaveFile writes a WAV: under a hidden name beside its target, renamed
// over it once complete, and removed on failure (or by the termination
// signal handler), so an existing file is replaced whole or left as it was.
// A device such as /dev/null is written in place. A period FLAC cannot count
// is refused before anything is written.
WaveWriteResult WriteSoundFile(SignalEngine& engine, const std::string& path, OutputType type,
                               std::int64_t frames, const WaveExportHooks& hooks = {});

}  // namespace skarnel::render
