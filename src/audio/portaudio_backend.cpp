#include "audio/portaudio_backend.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>

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

// One open PortAudio output stream and the thread that writes to it.
//
// The owner queues headers; the writer plays the head buffer in chunks with
// Pa_WriteStream and, once it is written, takes it off the queue and posts its
// done notification under the mutex, so a Pause or Reset made by the owner is
// never overtaken by a notification. The owner touches the stream only while
// the writer is parked (Reset) or gone (Close, destructor).
class PortAudioDevice final : public WaveOutDevice {
public:
    PortAudioDevice(std::shared_ptr<PortAudioSession> session, PaStream* stream,
                    const WaveFormat& format, const NotificationTarget& target)
        : session_(std::move(session)),
          stream_(stream),
          blockAlign_(format.blockAlign),
          frameRate_(format.samplesPerSec),
          target_(target) {}

    ~PortAudioDevice() override {
        if (closed_) {
            return;
        }
        // Closing was refused or never asked for: drop what is queued without
        // notifying anyone.
        StopWriter();
        if (streamRunning_) {
            Pa_AbortStream(stream_);
        }
        Pa_CloseStream(stream_);
    }

    PortAudioDevice(const PortAudioDevice&) = delete;
    PortAudioDevice& operator=(const PortAudioDevice&) = delete;

    // Starts the writer thread; throws std::system_error when the system has
    // no thread to give.
    void Start() {
        writer_ = std::thread([this] { WriterLoop(); });
    }

    MmResult PrepareHeader(WaveHeader& header) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kMmInvalidHandle;
        }
        if (HoldsLocked(header)) {
            return kWaveStillPlaying;
        }
        header.flags |= kHeaderPrepared;
        return kMmNoError;
    }

    MmResult UnprepareHeader(WaveHeader& header) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kMmInvalidHandle;
        }
        if (HoldsLocked(header)) {
            return kWaveStillPlaying;
        }
        header.flags &= ~kHeaderPrepared;
        return kMmNoError;
    }

    MmResult Write(WaveHeader& header) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kMmInvalidHandle;
        }
        if ((header.flags & kHeaderPrepared) == 0) {
            return kWaveUnprepared;
        }
        if (HoldsLocked(header)) {
            return kWaveStillPlaying;
        }
        if (header.data == nullptr && header.bufferLength >= blockAlign_) {
            return kMmInvalidParameter;
        }
        if (count_ == kQueueCapacity) {
            return kMmNoMemory;
        }
        header.flags = (header.flags & ~kHeaderDone) | kHeaderInQueue;
        queue_[(head_ + count_) % kQueueCapacity] = &header;
        ++count_;
        work_.notify_one();
        return kMmNoError;
    }

    MmResult Pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kMmInvalidHandle;
        }
        paused_ = true;
        return kMmNoError;
    }

    MmResult Restart() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return kMmInvalidHandle;
        }
        paused_ = false;
        work_.notify_one();
        return kMmNoError;
    }

    MmResult Reset() override {
        bool abortStream = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (closed_) {
                return kMmInvalidHandle;
            }
            // The writer may be inside Pa_WriteStream on the head buffer; it
            // parks after that chunk, and only then are the buffers returned.
            resetPending_ = true;
            work_.notify_one();
            parked_.wait(lock, [this] { return writerParked_; });
            while (count_ > 0) {
                WaveHeader* header = PopLocked();
                header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
                target_.Post(DeviceEvent::kBufferDone, header);
            }
            paused_ = false;
            abortStream = streamRunning_;
            streamRunning_ = false;
        }
        // Drops what the host still buffers; the writer restarts the stream at
        // the next buffer. It stays parked until then.
        if (abortStream) {
            Pa_AbortStream(stream_);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            resetPending_ = false;
        }
        work_.notify_one();
        return kMmNoError;
    }

    MmResult Close() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_) {
                return kMmInvalidHandle;
            }
            if (count_ > 0) {
                return kWaveStillPlaying;
            }
        }
        StopWriter();
        // Let the host play out the last buffers before the stream goes.
        if (streamRunning_) {
            Pa_StopStream(stream_);
        }
        Pa_CloseStream(stream_);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            streamRunning_ = false;
        }
        target_.Post(DeviceEvent::kClosed);
        return kMmNoError;
    }

private:
    // Room for the four buffers of a component and a few more.
    static constexpr std::size_t kQueueCapacity = 8;
    // Frames per Pa_WriteStream call: how far a pause or reset may lag.
    static constexpr std::uint32_t kChunkFrames = 512;

    bool HoldsLocked(const WaveHeader& header) const noexcept {
        for (std::size_t i = 0; i < count_; ++i) {
            if (queue_[(head_ + i) % kQueueCapacity] == &header) {
                return true;
            }
        }
        return false;
    }

    WaveHeader* PopLocked() noexcept {
        WaveHeader* header = queue_[head_];
        queue_[head_] = nullptr;
        head_ = (head_ + 1) % kQueueCapacity;
        --count_;
        headFramesDone_ = 0;
        return header;
    }

    void StopWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_.notify_one();
        if (writer_.joinable()) {
            writer_.join();
        }
    }

    void WriterLoop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            work_.wait(lock,
                       [this] { return stopping_ || resetPending_ || (!paused_ && count_ > 0); });
            if (stopping_) {
                return;
            }
            if (resetPending_) {
                writerParked_ = true;
                parked_.notify_one();
                work_.wait(lock, [this] { return !resetPending_ || stopping_; });
                writerParked_ = false;
                continue;
            }
            WaveHeader* header = queue_[head_];
            const std::uint32_t frames = header->bufferLength / blockAlign_;
            if (headFramesDone_ >= frames) {
                // Written out. Posting under the mutex keeps the notification
                // behind any Pause or Reset the owner has already made.
                PopLocked();
                header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
                target_.Post(DeviceEvent::kBufferDone, header);
                continue;
            }
            const std::uint32_t chunk = std::min(frames - headFramesDone_, kChunkFrames);
            const std::uint8_t* data =
                header->data + static_cast<std::size_t>(headFramesDone_) * blockAlign_;
            const bool start = !streamRunning_;
            lock.unlock();
            const bool written = WriteChunk(start, data, chunk);
            lock.lock();
            if (start && written) {
                streamRunning_ = true;
            }
            if (!written) {
                // The stream failed: let the chunk's time pass as if it had
                // played, so the queue keeps its pace instead of spinning, and
                // try a fresh start with the next chunk.
                streamRunning_ = false;
                const auto duration =
                    std::chrono::microseconds(static_cast<std::int64_t>(chunk) * 1000000 /
                                              std::max<std::uint32_t>(frameRate_, 1));
                work_.wait_for(lock, duration,
                               [this] { return stopping_ || resetPending_ || paused_; });
            }
            headFramesDone_ += chunk;
        }
    }

    // Runs without the mutex: the stream is the writer's while it runs.
    bool WriteChunk(bool start, const std::uint8_t* data, std::uint32_t frames) {
        if (start && Pa_StartStream(stream_) != paNoError) {
            return false;
        }
        const PaError error = Pa_WriteStream(stream_, data, frames);
        // An underflow only says the writer came late; the data went out.
        if (error == paNoError || error == paOutputUnderflowed) {
            return true;
        }
        Pa_AbortStream(stream_);
        return false;
    }

    const std::shared_ptr<PortAudioSession> session_;
    PaStream* const stream_;
    const std::uint32_t blockAlign_;
    const std::uint32_t frameRate_;
    const NotificationTarget target_;
    std::thread writer_;

    mutable std::mutex mutex_;
    std::condition_variable work_;    // wakes the writer
    std::condition_variable parked_;  // tells a resetting owner the writer has parked
    std::array<WaveHeader*, kQueueCapacity> queue_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::uint32_t headFramesDone_ = 0;  // frames of the head buffer written so far
    bool paused_ = false;
    bool resetPending_ = false;
    bool writerParked_ = false;
    bool stopping_ = false;
    bool streamRunning_ = false;
    bool closed_ = false;
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

MmResult PortAudioBackend::OpenFailure(int paError) {
    switch (paError) {
        case paInvalidSampleRate:
        case paInvalidChannelCount:
        case paSampleFormatNotSupported:
            return kWaveBadFormat;
        case paDeviceUnavailable:
            return kMmAllocated;
        case paInsufficientMemory:
            return kMmNoMemory;
        case paUnanticipatedHostError: {
            const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
            std::lock_guard<std::mutex> lock(hostErrorMutex_);
            hostErrorText_ = info != nullptr && info->errorText != nullptr ? info->errorText : "";
            break;
        }
        default:
            break;
    }
    return static_cast<MmResult>(CodeForPaError(paError));
}

MmResult PortAudioBackend::Open(std::uint32_t index, const WaveFormat& format,
                                const NotificationTarget& target,
                                std::unique_ptr<WaveOutDevice>& device) {
    if (!session_->Ready()) {
        return kMmNoDriver;
    }
    PaDeviceIndex paDevice = paNoDevice;
    if (index == kDefaultWaveDevice) {
        paDevice = Pa_GetDefaultOutputDevice();
        if (paDevice == paNoDevice) {
            return kMmNoDriver;
        }
    } else {
        paDevice = OutputDeviceAt(index);
        if (paDevice == paNoDevice) {
            return kMmBadDeviceId;
        }
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paDevice);
    if (info == nullptr) {
        return kMmBadDeviceId;
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
    if (format.formatTag != 1 || format.channels == 0 || format.samplesPerSec == 0 ||
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
        return kMmNoMemory;
    }
    try {
        created->Start();
    } catch (const std::system_error&) {
        return kMmNoMemory;  // the device closes its stream as it goes
    }
    device = std::move(created);
    target.Post(DeviceEvent::kOpened);
    return kMmNoError;
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
