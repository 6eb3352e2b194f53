#include "audio/portaudio_device.h"

#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/portaudio_backend.h"
#include "audio/portaudio_session.h"
#include "audio/spsc_byte_ring.h"

namespace skarnel {

namespace {

using Clock = std::chrono::steady_clock;

// The ring between the queued buffers and the stream holds what the player's
// own buffers hold (bufferBytes x bufferCount), within these bounds: below
// 0.1 s a host period alone could empty it, and above 2 s (one byte a frame
// at a low rate) it would only add delay to every change the user makes.
constexpr double kMinRingSeconds = 0.1;
constexpr double kMaxRingSeconds = 2.0;
// The most host latency asked for; see HostLatency.
constexpr double kMaxHostLatencySeconds = 0.5;
// Frames per Pa_WriteStream call: how far a pause of a blocking stream may lag.
constexpr std::uint32_t kChunkFrames = 512;
// Room for the four buffers of a component and a few more.
constexpr std::size_t kQueueCapacity = 8;
// How long a close or destruction waits, beyond the time the ring and the
// host take to play out, for the device's thread to end the stream before it
// leaves the stream to that thread. (PortAudio's JACK host waits minutes for a
// server that went away to confirm a stop: such a stream always outlasts it.)
constexpr std::chrono::milliseconds kPumpPatience{1000};
// How often the thread of a callback stream asks PortAudio whether the host
// still runs it (a JACK server that went away only clears a flag).
constexpr std::chrono::milliseconds kHostCheckInterval{100};

double RingSeconds(const StreamOptions& options, const WaveFormat& format) {
    const double asked = static_cast<double>(options.bufferBytes) * options.bufferCount /
                         (static_cast<double>(format.blockAlign) * format.samplesPerSec);
    return std::clamp(asked, kMinRingSeconds, kMaxRingSeconds);
}

// Whole frames, at least one.
std::size_t RingBytes(double seconds, const WaveFormat& format) {
    const auto frames = static_cast<std::size_t>(std::ceil(seconds * format.samplesPerSec));
    return std::max<std::size_t>(frames, 1) * format.blockAlign;
}

// The host's own buffer follows the ring: a player that asks for larger
// buffers asks for more protection against dropouts. With blocking writes it
// is the host's buffer that covers a late device thread, which fills the ring
// and writes it alike. Bounded so that a pause, which the host plays out,
// stays prompt. JACK keeps its own period whatever is asked.
double HostLatency(double ringSeconds, const PaDeviceInfo& info) {
    return std::clamp(ringSeconds, std::min(info.defaultLowOutputLatency, kMaxHostLatencySeconds),
                      kMaxHostLatencySeconds);
}

// A wake-up a real-time thread may give: sem_post neither blocks nor
// allocates (it is even async-signal-safe).
class Wakeup {
public:
    Wakeup() { sem_init(&semaphore_, 0, 0); }
    ~Wakeup() { sem_destroy(&semaphore_); }
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void Post() noexcept { sem_post(&semaphore_); }

    // Waits for a post or the timeout, then takes every pending post: one
    // look at the state covers them all.
    void Wait(std::chrono::nanoseconds timeout) noexcept {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        const auto total = deadline.tv_nsec + timeout.count();
        deadline.tv_sec += static_cast<time_t>(total / 1000000000);
        deadline.tv_nsec = static_cast<long>(total % 1000000000);
        while (sem_clockwait(&semaphore_, CLOCK_MONOTONIC, &deadline) != 0 && errno == EINTR) {
        }
        while (sem_trywait(&semaphore_) == 0) {
        }
    }

private:
    sem_t semaphore_;
};

// What a device shares with its thread (the pump) and, for a callback stream,
// with PortAudio's callback. A pump held up in the host (a device that
// stopped taking samples) can outlive its device: it keeps this state, the
// stream and the PortAudio session alive and ends the stream itself if the
// host ever lets it go.
struct StreamShare {
    StreamShare(std::shared_ptr<PortAudioSession> session, PortAudioFeed feed,
                const WaveFormat& format, double ringSeconds, const NotificationTarget& target)
        : session(std::move(session)),
          feed(feed),
          blockAlign(format.blockAlign),
          silence(format.bitsPerSample == 8 ? 0x80 : 0x00),
          ringSeconds(ringSeconds),
          target(target),
          ring(RingBytes(ringSeconds, format)),
          chunk(feed == PortAudioFeed::kBlockingWrites
                    ? static_cast<std::size_t>(kChunkFrames) * format.blockAlign
                    : 0) {}

    const std::shared_ptr<PortAudioSession> session;
    const PortAudioFeed feed;
    const std::uint32_t blockAlign;
    const std::uint8_t silence;  // unsigned 8-bit samples are silent at 128
    const double ringSeconds;
    double hostSeconds = 0.0;  // the host's latency, set once at the open
    const NotificationTarget target;
    PaStream* stream = nullptr;  // set once, before the pump starts

    // The ring's producer is the pump (under the mutex); its consumer is the
    // callback, or the pump itself for blocking writes.
    SpscByteRing ring;
    // Blocking writes: the pump's copy of the chunk it writes.
    std::vector<std::uint8_t> chunk;
    Wakeup wakeup;  // wakes the pump

    // Shared with the callback, which takes no lock.
    std::atomic<bool> outputPaused{false};
    // A reset drops what the ring holds up to this write position.
    std::atomic<std::uint64_t> dropUntil{0};
    // The pump sleeps and wants to hear when the callback has taken bytes.
    std::atomic<bool> pumpWaiting{false};

    // The callback's own.
    std::uint64_t seenDrop = 0;
    bool played = false;  // samples have played since the start or the last reset
    bool dry = false;     // and silence has followed them

    // The owner's and the pump's, under the mutex; never held while calling
    // into the stream.
    std::mutex mutex;
    std::condition_variable exited;  // the pump has ended the stream
    std::array<WaveHeader*, kQueueCapacity> queue{};
    std::size_t head = 0;
    std::size_t count = 0;
    std::size_t headBytesInRing = 0;  // of the head buffer
    bool paused = false;
    bool stopping = false;
    bool drainOnStop = false;  // a close lets the ring play out; a destruction does not
    Clock::time_point drainDeadline{};
    bool pumpExited = false;
    bool streamRunning = false;        // the stream was started and not yet stopped
    bool abortPending = false;         // blocking writes: a reset drops what the host holds
    bool quietUnderflow = false;       // blocking writes: the host ran dry on purpose (a pause)
    signed long hostFrames = 0;        // blocking writes: the host\'s room when the stream started
    DeviceResult failure = kDeviceOk;  // the host failed: writes are refused with this
};

// PortAudio's callback for a callback stream. It runs on the host's real-time
// thread: it copies from the ring and fills what the ring lacks with silence,
// and it neither allocates, locks nor waits (posting the pump's semaphore
// does not block).
int PlayFromRing(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                 PaStreamCallbackFlags, void* userData) {
    StreamShare& s = *static_cast<StreamShare*>(userData);
    auto* out = static_cast<std::uint8_t*>(output);
    const std::size_t bytes = static_cast<std::size_t>(frames) * s.blockAlign;
    bool took = false;
    const std::uint64_t drop = s.dropUntil.load(std::memory_order_acquire);
    if (drop != s.seenDrop) {
        // A reset: what follows starts afresh, so the silence before it is
        // no gap.
        s.seenDrop = drop;
        took = s.ring.DiscardUntil(drop) > 0;
        s.played = s.dry = false;
    }
    std::size_t got = 0;
    if (!s.outputPaused.load(std::memory_order_acquire)) {
        got = s.ring.Read(out, bytes);
        if (got > 0) {
            took = true;
            if (s.dry) {
                s.session->CountUnderrun();  // silence came between samples
                s.dry = false;
            }
            s.played = true;
        }
        if (got < bytes && s.played) {
            s.dry = true;
        }
    }
    std::memset(out + got, s.silence, bytes - got);
    if (took) {
        // Pairs with the pump's fence: either it sees the bytes taken, or
        // this sees that it waits.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (s.pumpWaiting.exchange(false)) {
            s.wakeup.Post();
        }
    }
    return paContinue;
}

WaveHeader* PopLocked(StreamShare& s) noexcept {
    WaveHeader* header = s.queue[s.head];
    s.queue[s.head] = nullptr;
    s.head = (s.head + 1) % kQueueCapacity;
    --s.count;
    s.headBytesInRing = 0;
    return header;
}

// Returns every queued buffer as done, in queue order.
void ReturnQueueLocked(StreamShare& s) noexcept {
    while (s.count > 0) {
        WaveHeader* header = PopLocked(s);
        header->flags &= ~kHeaderInQueue;
        s.target.Post(DeviceEvent::kBufferDone, header);
    }
}

// The ring's consumer drops all that was written before now.
void DropRingLocked(StreamShare& s) noexcept {
    s.dropUntil.store(s.ring.WritePosition(), std::memory_order_release);
}

// The host gave up the stream: the queue comes back and later writes fail.
void FailLocked(StreamShare& s, DeviceResult code) noexcept {
    s.failure = code;
    ReturnQueueLocked(s);
    DropRingLocked(s);
}

// Moves queued bytes into the ring while it has room. A buffer is done once
// all of it is in the ring: its memory is the owner's again. Copying under
// the mutex is what lets Reset return every buffer at once.
void FeedLocked(StreamShare& s) noexcept {
    while (!s.paused && s.failure == kDeviceOk && s.count > 0) {
        WaveHeader* header = s.queue[s.head];
        // Whole frames only: the ring and the stream deal in frames.
        const std::size_t length = header->bufferLength - header->bufferLength % s.blockAlign;
        if (s.headBytesInRing < length) {
            s.headBytesInRing +=
                s.ring.Write(header->data + s.headBytesInRing, length - s.headBytesInRing);
            if (s.headBytesInRing < length) {
                return;  // the ring is full
            }
        }
        PopLocked(s);
        header->flags &= ~kHeaderInQueue;
        s.target.Post(DeviceEvent::kBufferDone, header);
    }
}

// Blocking writes: writes the ring's next chunk, without the mutex. False
// when there is nothing to write now.
bool WriteChunk(StreamShare& s, std::unique_lock<std::mutex>& lock) {
    if (s.paused || s.failure != kDeviceOk) {
        return false;
    }
    s.ring.DiscardUntil(s.dropUntil.load(std::memory_order_acquire));
    const std::size_t bytes = s.ring.Read(s.chunk.data(), s.chunk.size());
    if (bytes == 0) {
        return false;
    }
    const bool start = !s.streamRunning;
    lock.unlock();
    PaError error = paNoError;
    signed long hostFrames = 0;
    if (start) {
        error = Pa_StartStream(s.stream);
        // What the host takes before the first write: its whole buffer.
        hostFrames = error == paNoError ? Pa_GetStreamWriteAvailable(s.stream) : 0;
    }
    if (error == paNoError) {
        error = Pa_WriteStream(s.stream, s.chunk.data(),
                               static_cast<unsigned long>(bytes / s.blockAlign));
        if (start && error != paNoError && error != paOutputUnderflowed) {
            Pa_AbortStream(s.stream);  // a failed start must not leave it half running
        }
    }
    lock.lock();
    if (start && (error == paNoError || error == paOutputUnderflowed)) {
        s.streamRunning = true;
        s.hostFrames = hostFrames;
    }
    if (error == paOutputUnderflowed) {
        // The host ran dry before this chunk: a gap, unless the stream was
        // just started or resumed after a pause.
        if (!start && !s.quietUnderflow) {
            s.session->CountUnderrun();
        }
        error = paNoError;
    }
    s.quietUnderflow = false;
    if (error != paNoError) {
        if (error == paUnanticipatedHostError) {
            s.session->RememberHostError();
        }
        FailLocked(s, static_cast<DeviceResult>(PortAudioBackend::CodeForPaError(error)));
    }
    return true;
}

// Blocking writes: waits until the host has played what it holds, or its
// latency and a little more have passed. PortAudio's ALSA host drops the
// host's buffer when a stream stops (it avoids snd_pcm_drain), which would cut
// off the end of every playback. Free space equal to what the host offered
// at the start means an empty buffer; a device that takes samples faster than
// real time always shows that.
void AwaitHostPlayedOut(const StreamShare& s) {
    const auto deadline = Clock::now() + kHostCheckInterval +
                          std::chrono::milliseconds(static_cast<std::int64_t>(
                              std::min(s.hostSeconds, kMaxHostLatencySeconds) * 1000.0));
    while (Clock::now() < deadline) {
        const signed long room = Pa_GetStreamWriteAvailable(s.stream);
        if (room < 0 || room >= s.hostFrames) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// A close waits, within its deadline, until the ring has played out.
bool DrainingLocked(const StreamShare& s) noexcept {
    return s.drainOnStop && !s.paused && s.failure == kDeviceOk &&
           s.ring.ReadPosition() != s.ring.WritePosition() && Clock::now() < s.drainDeadline;
}

// The device's thread: fills the ring from the queue, posts the done
// notifications, watches the host of a callback stream, writes the ring to a
// blocking stream, and ends the stream. After the open only this thread calls
// into the stream.
void Pump(StreamShare& s) {
    std::unique_lock<std::mutex> lock(s.mutex);
    auto nextHostCheck = Clock::now() + kHostCheckInterval;
    for (;;) {
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
        if (s.feed == PortAudioFeed::kCallback && s.failure == kDeviceOk && !s.stopping &&
            Clock::now() >= nextHostCheck) {
            nextHostCheck = Clock::now() + kHostCheckInterval;
            lock.unlock();
            const PaError active = Pa_IsStreamActive(s.stream);
            lock.lock();
            if (active < 0) {
                FailLocked(s, static_cast<DeviceResult>(PortAudioBackend::CodeForPaError(active)));
            } else if (active == 0) {
                FailLocked(s, PortAudioBackend::kStreamStoppedByHost);
            }
        }
        if (s.stopping && !DrainingLocked(s)) {
            break;
        }
        FeedLocked(s);
        if (s.feed == PortAudioFeed::kBlockingWrites && WriteChunk(s, lock)) {
            continue;
        }
        // Nothing to do until the owner or the callback says so. The callback
        // matters when the ring is full with buffers waiting, or when a close
        // waits for it to play out. The fence pairs with the callback's: a
        // read it makes after the look below finds the flag set and posts.
        const bool awaitCallback = s.count > 0 || s.stopping;
        const std::uint64_t seen = s.ring.ReadPosition();
        lock.unlock();
        if (awaitCallback) {
            s.pumpWaiting.store(true);
        }
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (s.ring.ReadPosition() == seen) {
            s.wakeup.Wait(kHostCheckInterval);
        }
        lock.lock();
    }

    const bool drain = s.drainOnStop && !s.paused && s.failure == kDeviceOk;
    const bool running = s.streamRunning;
    s.streamRunning = false;
    lock.unlock();
    if (running) {
        if (drain) {
            if (s.feed == PortAudioFeed::kBlockingWrites) {
                AwaitHostPlayedOut(s);
            }
            Pa_StopStream(s.stream);
        } else {
            Pa_AbortStream(s.stream);
        }
    }
    Pa_CloseStream(s.stream);
    lock.lock();
    s.pumpExited = true;
    s.exited.notify_all();
}

// One open PortAudio output stream, the ring that feeds it and the thread
// (the pump) that fills the ring from the play queue.
//
// The owner queues headers; the pump copies them into the ring under the
// mutex and posts each done notification under it once the whole buffer is
// in the ring, so a Pause or Reset the owner made is never overtaken by a
// notification, and a Reset can hand every queued buffer back at once. The
// owner never calls into the stream after the open and never waits for the
// pump without a limit: a host that stops taking samples cannot hang it.
//
// Pause halts in place: a callback stream keeps running and plays silence
// without taking from the ring, which is prompt (one host period) and keeps
// the stream connected; stopping it would play out the host's buffer and
// reconnect a JACK client on resume. A blocking stream simply gets no more
// writes. Reset drops what the ring holds; a blocking stream is also aborted
// so that the host drops what it holds, and starts afresh at the next write.
class PortAudioDevice final : public WaveOutDevice {
public:
    explicit PortAudioDevice(std::shared_ptr<StreamShare> share) : share_(std::move(share)) {
        const double seconds = share_->ringSeconds + std::clamp(share_->hostSeconds, 0.0, 10.0);
        patience_ =
            kPumpPatience + std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
    }

    ~PortAudioDevice() override {
        if (closed_) {
            return;
        }
        // Closing was refused or never asked for: drop what is queued without
        // notifying anyone.
        if (pump_.joinable()) {
            StopPump(false);
            return;
        }
        // The pump never started.
        if (share_->streamRunning) {
            Pa_AbortStream(share_->stream);
        }
        Pa_CloseStream(share_->stream);
    }

    PortAudioDevice(const PortAudioDevice&) = delete;
    PortAudioDevice& operator=(const PortAudioDevice&) = delete;

    // Starts the pump; throws std::system_error when the system has no
    // thread to give.
    void Start() {
        pump_ = std::thread([share = share_] { Pump(*share); });
    }

    DeviceResult PrepareHeader(WaveHeader& header) override { return MarkPrepared(header, true); }

    DeviceResult UnprepareHeader(WaveHeader& header) override {
        return MarkPrepared(header, false);
    }

    DeviceResult Write(WaveHeader& header) override {
        StreamShare& s = *share_;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (closed_) {
                return kDeviceInvalidHandle;
            }
            if (s.failure != kDeviceOk) {
                return s.failure;
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
        }
        s.wakeup.Post();
        return kDeviceOk;
    }

    DeviceResult Pause() override { return SetPaused(true); }

    DeviceResult Restart() override { return SetPaused(false); }

    // Returns every queued buffer at once, the one being copied included,
    // without waiting for the pump or the host.
    DeviceResult Reset() override {
        StreamShare& s = *share_;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (closed_) {
                return kDeviceInvalidHandle;
            }
            ReturnQueueLocked(s);
            DropRingLocked(s);
            s.paused = false;
            s.outputPaused.store(false, std::memory_order_release);
            if (s.feed == PortAudioFeed::kBlockingWrites) {
                s.abortPending = true;
            }
        }
        s.wakeup.Post();
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
        // Lets the ring and the host play out (unless paused, reset or
        // failed), then closes the stream. A pump the host holds up does
        // that when it is let go; the device counts as closed either way.
        StopPump(true);
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

    DeviceResult SetPaused(bool paused) {
        StreamShare& s = *share_;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (closed_) {
                return kDeviceInvalidHandle;
            }
            s.paused = paused;
            s.outputPaused.store(paused, std::memory_order_release);
            if (!paused) {
                s.quietUnderflow = true;
            }
        }
        s.wakeup.Post();
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

    // Tells the pump to end the stream and waits for it, at most the
    // patience; a pump still held up in the host then finishes on its own.
    void StopPump(bool drain) {
        StreamShare& s = *share_;
        std::unique_lock<std::mutex> lock(s.mutex);
        s.stopping = true;
        s.drainOnStop = drain;
        s.drainDeadline = Clock::now() + patience_ - kPumpPatience / 2;
        s.wakeup.Post();
        const bool exited = s.exited.wait_for(lock, patience_, [&s] { return s.pumpExited; });
        lock.unlock();
        if (exited) {
            pump_.join();
        } else {
            pump_.detach();
        }
    }

    const std::shared_ptr<StreamShare> share_;
    std::chrono::milliseconds patience_{kPumpPatience};
    std::thread pump_;
    bool closed_ = false;  // the owner's; read under the mutex by habit
};

}  // namespace

PaError OpenPortAudioDevice(std::shared_ptr<PortAudioSession> session, PaDeviceIndex device,
                            PaSampleFormat sampleFormat, PortAudioFeed feed,
                            const WaveFormat& format, const StreamOptions& options,
                            const NotificationTarget& target,
                            std::unique_ptr<WaveOutDevice>& opened) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr) {
        return paInvalidDevice;
    }
    const double ringSeconds = RingSeconds(options, format);
    const double hostLatency = HostLatency(ringSeconds, *info);

    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = sampleFormat;
    parameters.suggestedLatency = hostLatency;
    parameters.hostApiSpecificStreamInfo = nullptr;
    const double rate = format.samplesPerSec;
    const PaError supported = Pa_IsFormatSupported(nullptr, &parameters, rate);
    if (supported != paFormatIsSupported) {
        return supported;
    }

    std::shared_ptr<StreamShare> share;
    std::unique_ptr<PortAudioDevice> created;
    try {
        share =
            std::make_shared<StreamShare>(std::move(session), feed, format, ringSeconds, target);
    } catch (const std::bad_alloc&) {
        return paInsufficientMemory;
    }
    const bool callback = feed == PortAudioFeed::kCallback;
    PaStream* stream = nullptr;
    const PaError openError = Pa_OpenStream(
        &stream, nullptr, &parameters, rate, paFramesPerBufferUnspecified, paClipOff | paDitherOff,
        callback ? &PlayFromRing : nullptr, callback ? share.get() : nullptr);
    if (openError != paNoError) {
        return openError;
    }
    share->stream = stream;
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
    share->hostSeconds = streamInfo != nullptr ? streamInfo->outputLatency : hostLatency;
    try {
        created = std::make_unique<PortAudioDevice>(share);
    } catch (const std::bad_alloc&) {
        Pa_CloseStream(stream);
        return paInsufficientMemory;
    }
    // A callback stream runs from the open on, playing silence until the
    // first buffer comes; a blocking one starts with its first write.
    if (callback) {
        const PaError started = Pa_StartStream(stream);
        if (started != paNoError) {
            return started;  // the device closes its stream as it goes
        }
        share->streamRunning = true;
    }
    try {
        created->Start();
    } catch (const std::system_error&) {
        return paInsufficientMemory;  // the device closes its stream as it goes
    }
    opened = std::move(created);
    return paNoError;
}

}  // namespace skarnel
