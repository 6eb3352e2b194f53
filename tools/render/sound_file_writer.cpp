#include "render/sound_file_writer.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "export/byte_sink.h"
#include "io/atomic_file.h"
#include "io/little_endian.h"

namespace skarnel::render {

namespace {

int SndfileFormat(OutputType type) {
    switch (type) {
        case OutputType::kW64:
            return SF_FORMAT_W64 | SF_FORMAT_PCM_16;
        case OutputType::kRf64:
            return SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
        case OutputType::kFlac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case OutputType::kWav:
            break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

// Takes the little-endian frames the renderer writes and hands them to
// libsndfile in large runs, so each call encodes many frames at once.
class SndfileSink : public ByteSink {
public:
    static constexpr std::size_t kRunFrames = 1 << 15;

    SndfileSink(SNDFILE* file, int channels) : file_(file), channels_(channels) {
        samples_.reserve(2 * kRunFrames * static_cast<std::size_t>(channels));
    }

    bool Write(const std::uint8_t* data, std::size_t size) override {
        for (std::size_t at = 0; at + 1 < size; at += 2) {
            samples_.push_back(GetLittleEndian<std::int16_t>(data + at));
        }
        return samples_.size() < kRunFrames * static_cast<std::size_t>(channels_) || Flush();
    }

    bool Flush() override {
        const auto frames = static_cast<sf_count_t>(samples_.size()) / channels_;
        errno = 0;
        const bool written =
            frames == 0 || sf_writef_short(file_, samples_.data(), frames) == frames;
        if (!written && error_ == 0) {
            // The system's reason, as the failed write left it: libsndfile's
            // own text names the encoder's state, not the disk ("problem with
            // initialization of the flac decoder" for a full one).
            error_ = errno;
        }
        samples_.clear();
        return written;
    }

    // errno of the first failed write, 0 when none or when it was unknown.
    int error() const noexcept { return error_; }

private:
    SNDFILE* file_;
    int channels_;
    int error_ = 0;
    std::vector<short> samples_;
};

WaveWriteResult WriteFailed(const std::string& path, const std::string& reason) {
    return {WaveWriteStatus::kWriteFailed, "Cannot write file \"" + path + "\". " + reason};
}

}  // namespace

WaveWriteResult WriteSoundFile(SignalEngine& engine, const std::string& path, OutputType type,
                               std::int64_t frames, const WaveExportHooks& hooks) {
    const int channels = engine.live.channelMode == kStereo ? 2 : 1;
    if (frames < 0 || (type == OutputType::kFlac && frames > kMaxFlacFrames)) {
        return {WaveWriteStatus::kRefused, "The period of " + std::to_string(frames) +
                                               " frames is too long for a FLAC file (at most " +
                                               std::to_string(kMaxFlacFrames) +
                                               " frames); write a .w64 or RF64 file."};
    }
    AtomicFile file;
    if (const std::optional<FileFailure> failure =
            file.Open(path, AtomicFile::Sync::kWhenReplacing)) {
        return {WaveWriteStatus::kCreateFailed,
                FileFailure{FileStep::kCreate, failure->error}.Message(path)};
    }
    SF_INFO info{};
    info.samplerate = engine.state.sampleRate;
    info.channels = channels;
    info.format = SndfileFormat(type);
    SNDFILE* sound = sf_open_fd(file.fd(), SFM_WRITE, &info, SF_FALSE);
    if (sound == nullptr) {
        return {WaveWriteStatus::kCreateFailed,
                "Cannot create file \"" + path + "\". " + sf_strerror(nullptr)};
    }
    WaveWriteResult result;
    int writeError = 0;
    {
        SndfileSink sink(sound, channels);
        result = WritePcmFrames(engine, sink, frames, hooks);
        writeError = sink.error();
    }
    if (result.status == WaveWriteStatus::kWriteFailed) {
        result = WriteFailed(path, writeError != 0 ? std::string(std::strerror(writeError)) + "."
                                                   : std::string(sf_strerror(sound)));
    }
    // Closing writes the final sizes into the header (and FLAC's frame count).
    if (sf_close(sound) != 0 && result.status == WaveWriteStatus::kCompleted) {
        result = WriteFailed(path, "The header could not be completed.");
    }
    if (result.status == WaveWriteStatus::kCompleted) {
        if (const std::optional<FileFailure> failure = file.Commit()) {
            result = {WaveWriteStatus::kWriteFailed, failure->Message(path)};
        }
    }
    return result;  // a file not committed goes with `file`
}

}  // namespace skarnel::render
