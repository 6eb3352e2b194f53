#include "export/wave_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>

#include "engine/reference_renderer.h"
#include "engine/rounding.h"
#include "io/little_endian.h"
#include "numtext/number_format.h"

namespace skarnel {

namespace {

namespace fs = std::filesystem;

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

// Writing straight into `path`: for devices (the performance test renders
// into /dev/null), pipes and whatever else is not a regular file.
WaveWriteResult WriteInPlace(SignalEngine& engine, const std::string& path,
                             long double durationSeconds, const WaveExportHooks& hooks) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return {WaveWriteStatus::kCreateFailed,
                "Cannot create file \"" + path + "\". " + std::strerror(errno) + "."};
    }
    // Only a file of our own making is removed, never a device.
    struct stat target {};
    const bool regularFile = ::fstat(fd, &target) == 0 && S_ISREG(target.st_mode);
    FileDescriptorSink sink(fd, /*ownsDescriptor=*/true);
    WaveWriteResult result = WriteWaveStream(engine, sink, durationSeconds, hooks);
    const bool closed = sink.Close();
    if (result.status == WaveWriteStatus::kCompleted && !closed) {
        result = {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
    }
    if (result.status != WaveWriteStatus::kCompleted && regularFile) {
        std::error_code ignored;
        const fs::path made = fs::canonical(path, ignored);  // through a link, its file
        ::unlink(ignored ? path.c_str() : made.c_str());
    }
    return result;
}

// A regular file that is written beside its target and renamed over it.
struct Replacement {
    std::string target;  // `path`, or the file a symbolic link leads to
    bool existing = false;
    mode_t mode = 0;  // the existing file's permissions
};

// A regular file, or nothing at all, under `path` is replaced; anything else
// (a device, a folder, a dangling link, a path that cannot be examined) is
// written in place, where it fails or goes where it always went.
std::optional<Replacement> PlanReplacement(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            return std::nullopt;
        }
        std::error_code error;
        const fs::path target = fs::canonical(path, error);  // a link stays a link
        return Replacement{error ? path : target.string(), true,
                           static_cast<mode_t>(info.st_mode & 07777)};
    }
    if (errno != ENOENT || ::lstat(path.c_str(), &info) == 0) {
        return std::nullopt;
    }
    return Replacement{path, false, 0};
}

// Creates ".<name>.<six characters>" beside `target` with the permissions a new
// file gets (0666 less the umask) and returns its descriptor, or -1 with errno
// from the last attempt.
int CreateTemporary(const std::string& target, std::string& temporary) {
    fs::path folder = fs::path(target).parent_path();
    // The name stays within the 255 bytes a file name may have.
    const std::string file = fs::path(target).filename().string();
    const std::string name = "." + (file.size() <= 200 ? file : "skarnel-export") + ".";
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::minstd_rand letters(device());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, ' ');
        for (char& c : suffix) {
            c = kLetters[letters() % (sizeof kLetters - 1)];
        }
        temporary = (folder / (name + suffix)).string();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
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

    const int leftSelector = engine.live.noiseFunction[kLeft];
    const int rightSelector = engine.live.noiseFunction[kRight] + kRightSourceOffset;
    const auto frameBytes = static_cast<std::size_t>(channels) * 2u;
    engine.state.sampleCounter = 0;
    std::int16_t pass[2 * kRenderChunkFrames];
    std::uint8_t bytes[4 * kRenderChunkFrames];
    std::int64_t i = 0;
    while (i < frames) {
        std::size_t len;
        if (i % kWaveProgressInterval == 0) {
            // The frame that reports progress is rendered on its own, so the
            // report sees the engine at that frame, as it would frame by frame.
            ReferenceRenderFrame(engine, stereo, /*rightRepeatsLeft=*/false, leftSelector,
                                 rightSelector, pass);
            len = 1;
        } else {
            len = static_cast<std::size_t>(std::min<std::int64_t>(
                {frames - i, kWaveProgressInterval - i % kWaveProgressInterval,
                 static_cast<std::int64_t>(kRenderChunkFrames)}));
            engine.RenderFrames(stereo, /*rightRepeatsLeft=*/false, leftSelector, rightSelector,
                                pass, len);
        }
        if (stereo) {
            for (std::size_t f = 0; f < 2 * len; ++f) {
                PutLittleEndian(bytes + 2 * f, pass[f]);
            }
        } else {
            for (std::size_t f = 0; f < len; ++f) {
                PutLittleEndian(bytes + 2 * f, pass[2 * f]);
            }
        }
        if (!sink.Write(bytes, len * frameBytes)) {
            return {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
        }
        const bool reported = len == 1 && i % kWaveProgressInterval == 0;
        if (reported && hooks.progress) {
            hooks.progress(Round(static_cast<long double>(i) * 100.0L / frames));
        }
        // Only the progress report (which handles events) can ask to cancel.
        if (hooks.cancelRequested != nullptr && *hooks.cancelRequested) {
            *hooks.cancelRequested = false;
            return {WaveWriteStatus::kCancelled, {}};
        }
        if (reported) {
            AdvanceFrameCounter(engine.state.sampleCounter);
        }
        i += static_cast<std::int64_t>(len);
    }
    if (!sink.Flush()) {
        return {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
    }
    return {};
}

WaveWriteResult WriteWaveFile(SignalEngine& engine, const std::string& path,
                              long double durationSeconds, const WaveExportHooks& hooks) {
    const int channels = engine.live.channelMode == kStereo ? 2 : 1;
    if (!Fits(WaveFrameCount(durationSeconds, engine.state.sampleRate), channels)) {
        return {WaveWriteStatus::kRefused,
                TooLongMessage(durationSeconds, channels, engine.state.sampleRate)};
    }
    const std::optional<Replacement> replacement = PlanReplacement(path);
    if (!replacement) {
        return WriteInPlace(engine, path, durationSeconds, hooks);
    }
    const auto createFailed = [&path](int error) {
        return WaveWriteResult{
            WaveWriteStatus::kCreateFailed,
            "Cannot create file \"" + path + "\". " + std::strerror(error) + "."};
    };
    // A file we may not write is not replaced behind its back either.
    if (replacement->existing &&
        ::faccessat(AT_FDCWD, replacement->target.c_str(), W_OK, AT_EACCESS) != 0) {
        return createFailed(errno);
    }
    std::string temporary;
    const int fd = CreateTemporary(replacement->target, temporary);
    if (fd < 0) {
        return createFailed(errno);
    }
    if (replacement->existing) {
        ::fchmod(fd, replacement->mode);  // best effort: some file systems have no permissions
    }
    FileDescriptorSink sink(fd, /*ownsDescriptor=*/true);
    WaveWriteResult result = WriteWaveStream(engine, sink, durationSeconds, hooks);
    if (result.status == WaveWriteStatus::kCompleted) {
        // An existing file is only replaced by one that is on the disk.
        const bool written = sink.Flush() && (!replacement->existing || ::fsync(fd) == 0);
        if (!sink.Close() || !written ||
            ::rename(temporary.c_str(), replacement->target.c_str()) != 0) {
            result = {WaveWriteStatus::kWriteFailed, kWaveWriteFailedMessage};
        }
    } else {
        sink.Close();
    }
    if (result.status != WaveWriteStatus::kCompleted) {
        ::unlink(temporary.c_str());
    }
    return result;
}

}  // namespace skarnel
