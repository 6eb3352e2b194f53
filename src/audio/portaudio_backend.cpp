#include "audio/portaudio_backend.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace skarnel {

namespace {

constexpr std::size_t kMaxErrorTextLength = 256;

// PortAudio's error codes run upwards from paNotInitialized; this covers them
// with room for codes newer versions add.
constexpr int kPaErrorSpan = 100;

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void IgnoreJackMessage(const char*) {}

// ALSA reports every absent card and plug-in it probes, and a PortAudio built
// with JACK makes libjack report the missing JACK server; both write straight
// to standard error unless given handlers. libjack's handlers are looked up at
// run time so that a PortAudio without JACK needs no libjack.
void QuietenSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 0);
        snd_lib_error_set_handler(&IgnoreAlsaMessage);
        using JackMessageHandler = void (*)(const char*);
        using JackSetHandler = void (*)(JackMessageHandler);
        for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (void* symbol = dlsym(RTLD_DEFAULT, name)) {
                reinterpret_cast<JackSetHandler>(symbol)(&IgnoreJackMessage);
            }
        }
    });
}

bool IsPaErrorCode(std::uint32_t code) noexcept {
    return code >= kFirstBackendError && code < kFirstBackendError + kPaErrorSpan;
}

PaDeviceIndex OutputDeviceAt(std::uint32_t index) {
    const PaDeviceIndex count = Pa_GetDeviceCount();
    std::uint32_t outputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxOutputChannels > 0) {
            if (outputs == index) {
                return i;
            }
            ++outputs;
        }
    }
    return paNoDevice;
}

}  // namespace

// Holds one PortAudio initialisation. The back-end and every device it opened
// share it, so PortAudio (which closes all streams when terminated) stays up
// until the last of them is gone.
class PortAudioSession {
public:
    PortAudioSession() {
        QuietenSoundLibraries();
        initError_ = Pa_Initialize();
    }
    ~PortAudioSession() {
        if (initError_ == paNoError) {
            Pa_Terminate();
        }
    }
    PortAudioSession(const PortAudioSession&) = delete;
    PortAudioSession& operator=(const PortAudioSession&) = delete;

    bool Ready() const noexcept { return initError_ == paNoError; }

private:
    PaError initError_ = paNoError;
};

namespace {

// Frames per Pa_WriteStream call: how far a pause may lag.
constexpr std::uint32_t kChunkFrames = 512;
// Room for the four buffers of a component and a few more.
constexpr std::size_t kQueueCapacity = 8;
// How long a close or destruction waits, beyond the host's latency, for the
// writer to stop and close the stream before it leaves it to the writer.
constexpr std::chrono::milliseconds kWriterPatience{1000};

// What a device shares with its writer thread. A writer held up in the host
// (a device that stopped taking samples) can outlive its device: it keeps
// this state, the stream and the PortAudio session alive and ends the stream
// itself if the host ever lets it go.
struct StreamShare {
    StreamShare(std::shared_ptr<PortAudioSession> session, PaStream* stream,
                const WaveFormat& format, const NotificationTarget& target)
        : session(std::move(session)),
          stream(stream),
          blockAlign(format.blockAlign),
          frameRate(format.samplesPerSec),
          target(target),
          chunk(static_cast<std::size_t>(kChunkFrames) * format.blockAlign) {}

    const std::shared_ptr<PortAudioSession> session;
    PaStream* const stream;
    const std::uint32_t blockAlign;
    const std::uint32_t frameRate;
    const NotificationTarget target;
    // The writer's copy of the chunk it writes: the owner's buffers are read
    // only under the mutex, so a reset can return them all at once.
    std::vector<std::uint8_t> chunk;

    std::mutex mutex;
    std::condition_variable work;    // wakes the writer
    std::condition_variable exited;  // the writer has ended the stream
    std::array<WaveHeader*, kQueueCapacity> queue{};
    std::size_t head = 0;
    std::size_t count = 0;
    std::uint32_t headFramesDone = 0;  // frames of the head buffer written so far
    std::uint64_t resets = 0;          // a chunk written across a reset counts for nothing
    bool paused = false;
    bool abortPending = false;  // a reset: drop what the host still buffers
    bool stopping = false;
    bool drainOnStop = false;  // a close lets the host play out; a destruction does not
    bool writerExited = false;
    bool streamRunning = false;  // the writer's own
};

// One open PortAudio output stream and the thread that writes to it.
//
// The owner queues headers; the writer copies the head buffer chunk by chunk
// under the mutex and writes each copy with Pa_WriteStream without it. Once a
// buffer is written it takes it off the queue and posts its done notification
// under the mutex, so a Pause or Reset made by the owner is never overtaken
// by a notification. Only the writer calls into the stream after the open
// (start, write, abort, stop, close), and the owner never waits for it
// without a limit: a host that stops taking samples cannot hang the owner.
class PortAudioDevice final : public WaveOutDevice {
public:
    PortAudioDevice(std::shared_ptr<PortAudioSession> session, PaStream* stream,
                    const WaveFormat& format, const NotificationTarget& target)
        : share_(std::make_shared<StreamShare>(std::move(session), stream, format, target)) {
        const PaStreamInfo* info = Pa_GetStreamInfo(stream);
        const double latency = info != nullptr ? info->outputLatency : 0.0;
        patience_ = kWriterPatience + std::chrono::milliseconds(static_cast<std::int64_t>(
                                          std::clamp(latency, 0.0, 10.0) * 1000.0));
    }

    ~PortAudioDevice() override {
        if (closed_) {
            return;
        }
        // Closing was refused or never asked for: drop what is queued without
        // notifying anyone.
        if (writer_.joinable()) {
            StopWriter(false);
        } else {
            Pa_CloseStream(share_->stream);  // the writer never started
        }
    }

    PortAudioDevice(const PortAudioDevice&) = delete;
    PortAudioDevice& operator=(const PortAudioDevice&) = delete;

    // Starts the writer thread; throws std::system_error when the system has
    // no thread to give.
    void Start() {
        writer_ = std::thread([share = share_] { WriterLoop(*share); });
    }

    DeviceResult PrepareHeader(WaveHeader& header) override { return MarkPrepared(header, true); }

    DeviceResult UnprepareHeader(WaveHeader& header) override {
        return MarkPrepared(header, false);
    }

    DeviceResult Write(WaveHeader& header) override {
        StreamShare& s = *share_;
        std::lock_guard<std::mutex> lock(s.mutex);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        if ((header.flags & kHeaderPrepared) == 0) {
            return kWaveUnprepared;
        }
        if (HoldsLocked(header)) {
            return kWaveStillPlaying;
        }
        if (header.data == nullptr && header.bufferLength >= s.blockAlign) {
            return kDeviceInvalidParameter;
        }
        if (s.count == kQueueCapacity) {
            return kDeviceNoMemory;
        }
        header.flags |= kHeaderInQueue;
        s.queue[(s.head + s.count) % kQueueCapacity] = &header;
        ++s.count;
        s.work.notify_one();
        return kDeviceOk;
    }

    DeviceResult Pause() override { return SetPaused(true); }

    DeviceResult Restart() override { return SetPaused(false); }

    // Returns every queued buffer at once, the one being written included,
    // without waiting for the writer: it writes from its own copy. The writer
    // drops what the host still buffers before it writes again and starts the
    // next buffer on a fresh stream.
    DeviceResult Reset() override {
        StreamShare& s = *share_;
        std::lock_guard<std::mutex> lock(s.mutex);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        while (s.count > 0) {
            WaveHeader* header = PopLocked(s);
            header->flags &= ~kHeaderInQueue;
            s.target.Post(DeviceEvent::kBufferDone, header);
        }
        ++s.resets;
        s.paused = false;
        s.abortPending = true;
        s.work.notify_one();
        return kDeviceOk;
    }

    DeviceResult Close() override {
        {
            std::lock_guard<std::mutex> lock(share_->mutex);
            if (closed_) {
                return kDeviceInvalidHandle;
            }
            if (share_->count > 0) {
                return kWaveStillPlaying;
            }
            closed_ = true;
        }
        // Lets the host play out the last buffers (or drops them after a
        // reset), then closes the stream. A writer the host holds up does
        // that when it is let go; the device counts as closed either way.
        StopWriter(true);
        share_->target.Post(DeviceEvent::kClosed);
        return kDeviceOk;
    }

private:
    // Registers or unregisters a header; refused while the queue holds it.
    DeviceResult MarkPrepared(WaveHeader& header, bool prepared) {
        std::lock_guard<std::mutex> lock(share_->mutex);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        if (HoldsLocked(header)) {
            return kWaveStillPlaying;
        }
        header.flags = prepared ? header.flags | kHeaderPrepared : header.flags & ~kHeaderPrepared;
        return kDeviceOk;
    }

    // Halts the writer in place, or lets it go on.
    DeviceResult SetPaused(bool paused) {
        std::lock_guard<std::mutex> lock(share_->mutex);
        if (closed_) {
            return kDeviceInvalidHandle;
        }
        share_->paused = paused;
        if (!paused) {
            share_->work.notify_one();
        }
        return kDeviceOk;
    }

    bool HoldsLocked(const WaveHeader& header) const noexcept {
        const StreamShare& s = *share_;
        for (std::size_t i = 0; i < s.count; ++i) {
            if (s.queue[(s.head + i) % kQueueCapacity] == &header) {
                return true;
            }
        }
        return false;
    }

    static WaveHeader* PopLocked(StreamShare& s) noexcept {
        WaveHeader* header = s.queue[s.head];
        s.queue[s.head] = nullptr;
        s.head = (s.head + 1) % kQueueCapacity;
        --s.count;
        s.headFramesDone = 0;
        return header;
    }

    // Tells the writer to end the stream and waits for it, at most the
    // patience; a writer still held up in the host then finishes on its own.
    void StopWriter(bool drain) {
        StreamShare& s = *share_;
        bool exited = false;
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            s.stopping = true;
            s.drainOnStop = drain;
            s.work.notify_one();
            exited = s.exited.wait_for(lock, patience_, [&s] { return s.writerExited; });
        }
        if (exited) {
            writer_.join();
        } else {
            writer_.detach();
        }
    }

    static void WriterLoop(StreamShare& s) {
        std::unique_lock<std::mutex> lock(s.mutex);
        for (;;) {
            s.work.wait(
                lock, [&s] { return s.stopping || s.abortPending || (!s.paused && s.count > 0); });
            if (s.abortPending) {
                s.abortPending = false;
                if (s.streamRunning) {
                    s.streamRunning = false;
                    lock.unlock();
                    Pa_AbortStream(s.stream);
                    lock.lock();
                }
                continue;
            }
            if (s.stopping) {
                break;
            }
            WaveHeader* header = s.queue[s.head];
            const std::uint32_t frames = header->bufferLength / s.blockAlign;
            if (s.headFramesDone >= frames) {
                // Written out. Posting under the mutex keeps the notification
                // behind any Pause or Reset the owner has already made.
                PopLocked(s);
                header->flags &= ~kHeaderInQueue;
                s.target.Post(DeviceEvent::kBufferDone, header);
                continue;
            }
            const std::uint32_t chunk = std::min(frames - s.headFramesDone, kChunkFrames);
            std::memcpy(s.chunk.data(),
                        header->data + static_cast<std::size_t>(s.headFramesDone) * s.blockAlign,
                        static_cast<std::size_t>(chunk) * s.blockAlign);
            const std::uint64_t resets = s.resets;
            const bool start = !s.streamRunning;
            lock.unlock();
            const bool written = WriteChunk(s, start, chunk);
            lock.lock();
            if (start && written) {
                s.streamRunning = true;
            }
            if (!written) {
                // The stream failed: let the chunk's time pass as if it had
                // played, so the queue keeps its pace instead of spinning, and
                // try a fresh start with the next chunk.
                s.streamRunning = false;
                const auto duration =
                    std::chrono::microseconds(static_cast<std::int64_t>(chunk) * 1000000 /
                                              std::max<std::uint32_t>(s.frameRate, 1));
                s.work.wait_for(lock, duration, [&s, resets] {
                    return s.stopping || s.abortPending || s.paused || s.resets != resets;
                });
            }
            if (s.resets == resets) {
                s.headFramesDone += chunk;  // otherwise its buffer went back meanwhile
            }
        }
        const bool drain = s.drainOnStop;
        const bool running = s.streamRunning;
        s.streamRunning = false;
        lock.unlock();
        if (running) {
            if (drain) {
                Pa_StopStream(s.stream);
            } else {
                Pa_AbortStream(s.stream);
            }
        }
        Pa_CloseStream(s.stream);
        lock.lock();
        s.writerExited = true;
        s.exited.notify_all();
    }

    // Runs without the mutex: the stream is the writer's.
    static bool WriteChunk(StreamShare& s, bool start, std::uint32_t frames) {
        if (start && Pa_StartStream(s.stream) != paNoError) {
            return false;
        }
        const PaError error = Pa_WriteStream(s.stream, s.chunk.data(), frames);
        // An underflow only says the writer came late; the data went out.
        if (error == paNoError || error == paOutputUnderflowed) {
            return true;
        }
        Pa_AbortStream(s.stream);
        return false;
    }

    const std::shared_ptr<StreamShare> share_;
    std::chrono::milliseconds patience_{kWriterPatience};
    std::thread writer_;
    bool closed_ = false;  // the owner's; read under the mutex by habit
};

}  // namespace

// ---------------------------------------------------------------- PortAudioBackend

PortAudioBackend::PortAudioBackend() : session_(std::make_shared<PortAudioSession>()) {}

PortAudioBackend::~PortAudioBackend() = default;

std::uint32_t PortAudioBackend::DeviceCount() {
    if (!session_->Ready()) {
        return 0;
    }
    const PaDeviceIndex count = Pa_GetDeviceCount();
    std::uint32_t outputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxOutputChannels > 0) {
            ++outputs;
        }
    }
    return outputs;
}

std::string PortAudioBackend::DeviceName(std::uint32_t index) {
    if (!session_->Ready()) {
        return {};
    }
    const PaDeviceIndex device = OutputDeviceAt(index);
    if (device == paNoDevice) {
        return {};
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    return info != nullptr && info->name != nullptr ? CutDeviceName(info->name) : std::string();
}

std::uint32_t PortAudioBackend::CodeForPaError(int paError) noexcept {
    return kFirstBackendError + static_cast<std::uint32_t>(paError - paNotInitialized);
}

DeviceResult PortAudioBackend::OpenFailure(int paError) {
    switch (paError) {
        case paInvalidSampleRate:
        case paInvalidChannelCount:
        case paSampleFormatNotSupported:
            return kWaveBadFormat;
        case paDeviceUnavailable:
            return kDeviceAllocated;
        case paInsufficientMemory:
            return kDeviceNoMemory;
        case paUnanticipatedHostError: {
            const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
            std::lock_guard<std::mutex> lock(hostErrorMutex_);
            hostErrorText_ = info != nullptr && info->errorText != nullptr ? info->errorText : "";
            break;
        }
        default:
            break;
    }
    return static_cast<DeviceResult>(CodeForPaError(paError));
}

DeviceResult PortAudioBackend::Open(std::uint32_t index, const WaveFormat& format,
                                    [[maybe_unused]] const StreamOptions& options,
                                    const NotificationTarget& target,
                                    std::unique_ptr<WaveOutDevice>& device) {
    if (!session_->Ready()) {
        return kDeviceNoDriver;
    }
    PaDeviceIndex paDevice = paNoDevice;
    if (index == kDefaultWaveDevice) {
        paDevice = Pa_GetDefaultOutputDevice();
        if (paDevice == paNoDevice) {
            return kDeviceNoDriver;
        }
    } else {
        paDevice = OutputDeviceAt(index);
        if (paDevice == paNoDevice) {
            return kDeviceBadId;
        }
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paDevice);
    if (info == nullptr) {
        return kDeviceBadId;
    }

    PaSampleFormat sampleFormat = 0;
    switch (format.bitsPerSample) {
        case 8:
            sampleFormat = paUInt8;
            break;
        case 16:
            sampleFormat = paInt16;
            break;
        case 24:
            sampleFormat = paInt24;  // packed, little-endian on our hosts
            break;
        default:
            return kWaveBadFormat;
    }
    if (format.channels == 0 || format.samplesPerSec == 0 ||
        format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
        return kWaveBadFormat;
    }

    PaStreamParameters parameters{};
    parameters.device = paDevice;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = sampleFormat;
    // The generous latency: the queued buffers, not the host, keep the sound
    // going, and a larger host buffer rides out a busy moment of the writer.
    parameters.suggestedLatency = info->defaultHighOutputLatency;
    parameters.hostApiSpecificStreamInfo = nullptr;
    const double rate = format.samplesPerSec;

    const PaError supported = Pa_IsFormatSupported(nullptr, &parameters, rate);
    if (supported != paFormatIsSupported) {
        return OpenFailure(supported);
    }
    PaStream* stream = nullptr;
    const PaError opened =
        Pa_OpenStream(&stream, nullptr, &parameters, rate, paFramesPerBufferUnspecified,
                      paClipOff | paDitherOff, nullptr, nullptr);
    if (opened != paNoError) {
        return OpenFailure(opened);
    }

    std::unique_ptr<PortAudioDevice> created;
    try {
        created = std::make_unique<PortAudioDevice>(session_, stream, format, target);
    } catch (const std::bad_alloc&) {
        Pa_CloseStream(stream);
        return kDeviceNoMemory;
    }
    try {
        created->Start();
    } catch (const std::system_error&) {
        return kDeviceNoMemory;  // the device closes its stream as it goes
    }
    device = std::move(created);
    target.Post(DeviceEvent::kOpened);
    return kDeviceOk;
}

std::string PortAudioBackend::ErrorText(std::uint32_t code) {
    std::string text = StandardErrorText(code);
    if (text.empty() && IsPaErrorCode(code)) {
        const auto paError =
            static_cast<PaError>(paNotInitialized + static_cast<int>(code - kFirstBackendError));
        const char* paText = Pa_GetErrorText(paError);
        // PortAudio names codes it does not know "Invalid error code".
        if (paText != nullptr && std::string_view(paText) != "Invalid error code") {
            text = paText;
            if (paError == paUnanticipatedHostError) {
                std::lock_guard<std::mutex> lock(hostErrorMutex_);
                if (!hostErrorText_.empty()) {
                    text += ": " + hostErrorText_;
                }
            }
        }
    }
    if (text.empty()) {
        text = "Unknown audio device error " + std::to_string(code);
    }
    if (text.size() > kMaxErrorTextLength) {
        text.resize(kMaxErrorTextLength);
    }
    return text;
}

}  // namespace skarnel
