#include "export/wave_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "engine/reference_renderer.h"
#include "engine/rounding.h"
#include "export/background_sink.h"
#include "export/source_pipeline.h"
#include "io/atomic_file.h"
#include "io/little_endian.h"
#include "numtext/number_format.h"

namespace skarnel {

namespace {

constexpr std::uint64_t kMaxRiffSize = std::numeric_limits<std::uint32_t>::max();

void PutTag(std::uint8_t* p, const char (&tag)[5]) {
    std::memcpy(p, tag, 4);
}

bool Fits(std::int64_t frames, int channels) {
    if (frames < 0) {
        return false;
    }
    const auto dataSize =
        static_cast<std::uint64_t>(frames) * static_cast<std::uint64_t>(channels) * 2u;
    return dataSize + 36u <= kMaxRiffSize;
}

std::string TooLongMessage(long double seconds, int channels, std::int32_t sampleRate) {
    if (!(seconds >= 0.0L)) {
        return "The period of " + FormatNumber(seconds) + " s cannot be written to a WAV file.";
    }
    return "The period of " + FormatNumber(seconds) + " s is too long for a WAV file: at " +
           std::to_string(sampleRate) + " Hz " + (channels == 2 ? "stereo" : "mono") +
           " a WAV file holds at most " + FormatNumber(MaxWaveSeconds(channels, sampleRate)) +
           " s. Choose a shorter period.";
}

}  // namespace

std::array<std::uint8_t, kWaveHeaderSize> BuildWaveHeader(int channels, std::uint32_t sampleRate,
                                                          std::uint32_t frames) {
    const auto blockAlign = static_cast<std::uint32_t>(channels) * 2u;
    const std::uint32_t dataSize = frames * blockAlign;
    std::array<std::uint8_t, kWaveHeaderSize> h{};
    PutTag(&h[0], "RIFF");
    PutLittleEndian<std::uint32_t>(&h[4], 36u + dataSize);
    PutTag(&h[8], "WAVE");
    PutTag(&h[12], "fmt ");
    PutLittleEndian<std::uint32_t>(&h[16], 16u);
    PutLittleEndian<std::uint16_t>(&h[20], 1u);  // integer PCM
    PutLittleEndian<std::uint16_t>(&h[22], static_cast<std::uint16_t>(channels));
    PutLittleEndian<std::uint32_t>(&h[24], sampleRate);
    PutLittleEndian<std::uint32_t>(&h[28], sampleRate * blockAlign);
    PutLittleEndian<std::uint16_t>(&h[32], static_cast<std::uint16_t>(blockAlign));
    PutLittleEndian<std::uint16_t>(&h[34], 16u);
    PutTag(&h[36], "data");
    PutLittleEndian<std::uint32_t>(&h[40], dataSize);
    return h;
}

std::int64_t WaveFrameCount(long double seconds, std::int32_t sampleRate) noexcept {
    return RoundToInt64(seconds * sampleRate);
}

long double MaxWaveSeconds(int channels, std::int32_t sampleRate) noexcept {
    const auto maxFrames =
        static_cast<long double>((kMaxRiffSize - 36u) / (2u * static_cast<unsigned>(channels)));
    return std::floor(maxFrames / sampleRate);
}

WaveWriteResult WriteWaveStream(SignalEngine& engine, ByteSink& sink, long double durationSeconds,
                                const WaveExportHooks& hooks) {
    const bool stereo = engine.live.channelMode == kStereo;
    const int channels = stereo ? 2 : 1;
    const std::int32_t sampleRate = engine.state.sampleRate;
    const std::int64_t frames = WaveFrameCount(durationSeconds, sampleRate);
    if (!Fits(frames, channels)) {
        return {WaveWriteStatus::kRefused, TooLongMessage(durationSeconds, channels, sampleRate)};
    }

    const auto header = BuildWaveHeader(channels, static_cast<std::uint32_t>(sampleRate),
                                        static_cast<std::uint32_t>(frames));
    if (!sink.Write(header.data(), header.size())) {
        return {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
    }

    return WritePcmFrames(engine, sink, frames, hooks);
}

namespace {

// Little-endian bytes of `frames` frames: both samples in stereo, the left
// (mono) one otherwise.
void PutFrames(const std::int16_t* samples, std::size_t frames, bool stereo, std::uint8_t* bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        if (stereo) {
            // The samples in memory are already the file's bytes.
            std::memcpy(bytes, samples, 4 * frames);
            return;
        }
    }
    if (stereo) {
        for (std::size_t f = 0; f < 2 * frames; ++f) {
            PutLittleEndian(bytes + 2 * f, samples[f]);
        }
    } else {
        for (std::size_t f = 0; f < frames; ++f) {
            PutLittleEndian(bytes + 2 * f, samples[2 * f]);
        }
    }
}

// Hands a run of frames to the sink (as little-endian bytes, through
// `bytes`) and the written hook, then reports progress when the run ends at a
// progress frame (`reportedFrame`, else -1), acts on a cancel, and counts the
// reported frame once the render goes on. Returns the result that ends the
// render, if any.
std::optional<WaveWriteResult> DeliverRun(SignalEngine& engine, ByteSink& sink,
                                          const std::int16_t* samples, std::size_t len,
                                          std::uint8_t* bytes, std::int64_t reportedFrame,
                                          std::int64_t frames, const WaveExportHooks& hooks) {
    const bool stereo = engine.live.channelMode == kStereo;
    PutFrames(samples, len, stereo, bytes);
    const std::size_t size = len * (stereo ? 4u : 2u);
    if (!sink.Write(bytes, size)) {
        return WaveWriteResult{WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
    }
    if (hooks.written) {
        hooks.written(bytes, size);
    }
    if (reportedFrame >= 0 && hooks.progress) {
        hooks.progress(Round(static_cast<long double>(reportedFrame) * 100.0L / frames));
    }
    // Only the progress report (which handles events) can ask to cancel.
    if (hooks.cancelRequested != nullptr && *hooks.cancelRequested) {
        *hooks.cancelRequested = false;
        return WaveWriteResult{WaveWriteStatus::kCancelled, {}};
    }
    if (reportedFrame >= 0) {
        AdvanceFrameCounter(engine.state.sampleCounter);
    }
    return std::nullopt;
}

// The end of a render whose frames all went to the sink.
WaveWriteResult FlushedResult(ByteSink& sink) {
    if (!sink.Flush()) {
        return {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
    }
    return {};
}

// Frame by frame at the progress points and in passes between them, on the
// calling thread.
WaveWriteResult WriteFramesOnOneThread(SignalEngine& engine, ByteSink& sink, std::int64_t frames,
                                       const WaveExportHooks& hooks) {
    const FramePlan plan = FramePlan::OfFile(engine.live);
    std::int16_t pass[2 * kRenderChunkFrames];
    std::uint8_t bytes[4 * kRenderChunkFrames];
    std::int64_t i = 0;
    while (i < frames) {
        std::size_t len;
        if (i % kWaveProgressInterval == 0) {
            // The frame that reports progress is rendered on its own, so the
            // report sees the engine at that frame, as it would frame by frame.
            ReferenceRenderFrame(engine, plan, pass);
            len = 1;
        } else {
            len = static_cast<std::size_t>(std::min<std::int64_t>(
                {frames - i, kWaveProgressInterval - i % kWaveProgressInterval,
                 static_cast<std::int64_t>(kRenderChunkFrames)}));
            engine.RenderFrames(plan, pass, len);
        }
        const bool reported = len == 1 && i % kWaveProgressInterval == 0;
        if (auto end =
                DeliverRun(engine, sink, pass, len, bytes, reported ? i : -1, frames, hooks)) {
            return *end;
        }
        i += static_cast<std::int64_t>(len);
    }
    return FlushedResult(sink);
}

// The same frames with the sources one pass ahead on a second core. Each
// pass ends at a progress point, so the progress report and a cancel see the
// engine exactly as after that frame. Nothing when the threads cannot be
// started (the system's limit on threads): nothing has been written or
// changed then, and the frames are rendered on one thread instead.
std::optional<WaveWriteResult> WriteFramesPipelined(SignalEngine& engine, ByteSink& target,
                                                    std::int64_t frames,
                                                    const WaveExportHooks& hooks) {
    // The bytes go out from a third thread, while this one shapes the next
    // pass.
    std::optional<BackgroundSink> sink;
    std::optional<SourcePipeline> pipeline;
    try {
        sink.emplace(target);
        pipeline.emplace(engine, FramePlan::OfFile(engine.live), frames, kWaveProgressInterval);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    const auto passFrames = static_cast<std::size_t>(kWaveProgressInterval);
    std::vector<std::int16_t> pass(2 * passFrames);
    std::vector<std::uint8_t> bytes(4 * passFrames);
    std::int64_t first = 0;
    while (const std::size_t len = pipeline->Next(pass.data())) {
        const std::int64_t last = first + static_cast<std::int64_t>(len) - 1;
        const bool reported = last % kWaveProgressInterval == 0;
        if (reported) {
            // The reported frame is counted only once the export goes on.
            engine.state.sampleCounter = last;
        }
        if (auto end = DeliverRun(engine, *sink, pass.data(), len, bytes.data(),
                                  reported ? last : -1, frames, hooks)) {
            return *end;
        }
        first += static_cast<std::int64_t>(len);
    }
    return FlushedResult(*sink);
}

}  // namespace

WaveWriteResult WritePcmFrames(SignalEngine& engine, ByteSink& sink, std::int64_t frames,
                               const WaveExportHooks& hooks) {
    engine.state.sampleCounter = 0;
    const std::array<std::uint64_t, kChannelCount> clippedBefore = engine.state.clippedSamples;
    std::optional<WaveWriteResult> pipelined;
    if (SourcePipeline::Applies(engine, FramePlan::OfFile(engine.live), frames)) {
        pipelined = WriteFramesPipelined(engine, sink, frames, hooks);
    }
    WaveWriteResult result =
        pipelined ? std::move(*pipelined) : WriteFramesOnOneThread(engine, sink, frames, hooks);
    for (int c = 0; c < kChannelCount; ++c) {
        result.clippedSamples[c] = engine.state.clippedSamples[c] - clippedBefore[c];
    }
    return result;
}

WaveWriteResult WriteWaveFile(SignalEngine& engine, const std::string& path,
                              long double durationSeconds, const WaveExportHooks& hooks) {
    const int channels = engine.live.channelMode == kStereo ? 2 : 1;
    if (!Fits(WaveFrameCount(durationSeconds, engine.state.sampleRate), channels)) {
        return {WaveWriteStatus::kRefused,
                TooLongMessage(durationSeconds, channels, engine.state.sampleRate)};
    }
    AtomicFile file;
    if (const std::optional<FileFailure> failure =
            file.Open(path, AtomicFile::Sync::kWhenReplacing)) {
        // Whatever keeps the file from being made, a folder in its place too.
        return {WaveWriteStatus::kCreateFailed,
                FileFailure{FileStep::kCreate, failure->error}.Message(path)};
    }
    FileDescriptorSink sink(file.fd(), /*ownsDescriptor=*/false);
    WaveWriteResult result = WriteWaveStream(engine, sink, durationSeconds, hooks);
    if (result.status == WaveWriteStatus::kWriteFailed) {
        result.systemError = sink.error();  // a full disk, a quota
    } else if (result.status == WaveWriteStatus::kCompleted) {
        if (!sink.Close()) {
            result = {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage, sink.error()};
        } else if (const std::optional<FileFailure> failure = file.Commit()) {
            result = {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage, failure->error};
        }
    }
    return result;  // a file not committed goes with `file`
}

std::string MessageWithReason(const WaveWriteResult& result) {
    return result.systemError != 0 ? result.message + " (" + std::strerror(result.systemError) + ")"
                                   : result.message;
}

}  // namespace skarnel
