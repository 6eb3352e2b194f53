#include "audio/portaudio_stream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "audio/portaudio_backend.h"
#include "audio/portaudio_session.h"
#include "audio/spsc_byte_ring.h"

namespace skarnel {

namespace {

using Clock = std::chrono::steady_clock;

// The most host latency asked of ALSA: a pause of a blocking stream lets the
// host play out what it holds, so this bounds how late a pause is heard.
constexpr double kMaxHostLatencySeconds = 0.5;
// Frames per Pa_WriteStream call: how far behind a pause a blocking stream
// may still be writing, and how often (at worst) it learns how far the host
// has played while the host is full.
constexpr std::uint32_t kChunkFrames = 512;
// How long a destruction waits, beyond the time the ring and the host take to
// play out, for the stream's thread to end the stream before it leaves the
// stream to that thread. (PortAudio's JACK host waits minutes for a server
// that went away to confirm a stop: such a stream always outlasts it.)
constexpr std::chrono::milliseconds kPumpPatience{1000};
// How often the thread of a callback stream asks PortAudio whether the host
// still runs it (a JACK server that went away only clears a flag).
constexpr std::chrono::milliseconds kHostCheckInterval{100};
// How often the thread of a blocking stream publishes how far the host has
// played while the host holds samples and there is nothing to write.
constexpr std::chrono::milliseconds kFollowInterval{5};
// How long the thread sleeps when it has nothing to do and expects to be
// woken.
constexpr std::chrono::milliseconds kIdleWait{100};
// Beyond its latency, how long an ALSA host may hold samples without playing
// any before the stream gives them up; see FollowHost.
constexpr std::chrono::milliseconds kStallGrace{250};

// The stream holds what the player's own buffers hold (bufferBytes x
// bufferCount), in whole frames: the player keeps each buffer until it has
// been played, so anything more would only delay every change the user makes.
std::size_t CapacityBytes(const StreamOptions& options, const WaveFormat& format) {
    const std::uint64_t asked = std::uint64_t{options.bufferBytes} * options.bufferCount;
    const std::uint64_t frames = (asked + format.blockAlign - 1) / format.blockAlign;
    return static_cast<std::size_t>(std::max<std::uint64_t>(frames, 1) * format.blockAlign);
}

double Seconds(std::size_t bytes, const WaveFormat& format) {
    return static_cast<double>(bytes) /
           (static_cast<double>(format.blockAlign) * format.samplesPerSec);
}

// Half of what the stream holds goes to the host's own buffer, at most
// kMaxHostLatencySeconds; the ring holds the rest. With blocking writes it is
// the host's buffer that covers a late stream thread. PortAudio's ALSA host
// starts the device only once a period (a fraction of its buffer) has been
// written, so the host's buffer must stay well below what the player writes
// at once. JACK keeps its own period whatever is asked.
double HostLatency(std::size_t capacity, const WaveFormat& format) {
    return std::min(Seconds(capacity, format) / 2.0, kMaxHostLatencySeconds);
}

// What a stream shares with its thread (the pump) and, for a callback stream,
// with PortAudio's callback. Nothing of the player is reachable from here but
// the wake-up, which the share holds by shared_ptr: a pump held up in the
// host can outlive the stream and its player. It then keeps this state, the
// host stream and the PortAudio session alive, and ends the host stream
// itself when the host lets it go.
struct StreamShare {
    StreamShare(std::shared_ptr<PortAudioSession> session, std::shared_ptr<QueueWakeup> wakeup,
                PortAudioFeed feed, const WaveFormat& format, std::size_t capacity)
        : session(std::move(session)),
          wakeup(std::move(wakeup)),
          feed(feed),
          blockAlign(format.blockAlign),
          rate(format.samplesPerSec),
          silence(format.bitsPerSample == 8 ? 0x80 : 0x00),
          capacity(capacity),
          capacitySeconds(Seconds(capacity, format)),
          ring(capacity),
          chunk(feed == PortAudioFeed::kBlockingWrites
                    ? static_cast<std::size_t>(kChunkFrames) * format.blockAlign
                    : 0) {}

    const std::shared_ptr<PortAudioSession> session;
    const std::shared_ptr<QueueWakeup> wakeup;  // the player's
    const PortAudioFeed feed;
    const std::uint32_t blockAlign;
    const std::uint32_t rate;
    const std::uint8_t silence;  // unsigned 8-bit samples are silent at 128
    const std::size_t capacity;  // what it holds between Write and the ear
    const double capacitySeconds;
    // Set once, before the pump starts.
    std::unique_ptr<PortAudioHost> host;
    double hostSeconds = 0.0;  // the host's output latency

    // The ring's producer is the player (its calls are serialised); its
    // consumer is the callback, or the pump for blocking writes.
    SpscByteRing ring;
    // Blocking writes: the pump's copy of the chunk it writes.
    std::vector<std::uint8_t> chunk;
    QueueWakeup pumpWakeup;

    // Set by the player, read by the callback and the pump without a lock.
    std::atomic<bool> started{false};
    std::atomic<bool> paused{false};
    // A flush drops what the ring holds up to this write position.
    std::atomic<std::uint64_t> dropUntil{0};
    // Ring position up to which the host has played: published by the
    // callback, or by the pump for blocking writes.
    std::atomic<std::uint64_t> played{0};
    std::atomic<DeviceResult> failure{kDeviceOk};

    // The callback's own.
    std::uint64_t seenDrop = 0;
    bool sounded = false;  // samples have played since the start or the last flush
    bool dry = false;      // and silence has followed them

    // The pump's own (a callback stream is running from the open on).
    bool running = false;           // started on the host and not aborted since
    signed long hostFrames = 0;     // blocking: the host's room when it was started
    std::uint64_t sentAtStart = 0;  // blocking: ring position at that start
    std::uint64_t heldFrames = 0;   // blocking: what the host held when last measured
    Clock::time_point measuredAt{};
    bool hostPlays = false;  // blocking: it has played something since that start

    // The player's and the pump's, under the mutex; never held while calling
    // into the host.
    std::mutex mutex;
    std::condition_variable exited;  // the pump has ended the host stream
    bool stopping = false;
    bool abortPending = false;    // blocking: a flush drops what the host holds
    bool quietUnderflow = false;  // blocking: the host ran dry on purpose (a pause)
    bool pumpExited = false;
};

// Publishes how far the host has played and wakes the player. Called by the
// callback or by the pump, whichever feeds the host (one writer).
void PublishPlayed(StreamShare& s, std::uint64_t position) noexcept {
    if (position > s.played.load(std::memory_order_relaxed)) {
        s.played.store(position, std::memory_order_release);
        s.wakeup->Wake();
    }
}

// The host gave up the stream: writes are refused from now on, and the
// player hears of it at once. The first failure stands.
void SetFailure(StreamShare& s, DeviceResult code) noexcept {
    DeviceResult expected = kDeviceOk;
    s.failure.compare_exchange_strong(expected, code);
    s.wakeup->Wake();
}

void FailWith(StreamShare& s, PaError error) {
    if (error == paUnanticipatedHostError) {
        s.session->RememberHostError();
    }
    SetFailure(s, static_cast<DeviceResult>(PortAudioBackend::CodeForPaError(error)));
}

// PortAudio's callback for a callback stream. It runs on the host's real-time
// thread: it copies from the ring and fills what the ring lacks with silence,
// and it neither allocates, locks nor waits (QueueWakeup::Wake posts a
// semaphore, which does not block).
//
// What earlier calls handed to the host is at the output by the time of this
// call (JACK plays a period in the cycle after the one it was written in), so
// that is what counts as played: never ahead of real time, and at most a
// period or two behind it.
int PlayFromRing(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                 PaStreamCallbackFlags, void* userData) {
    StreamShare& s = *static_cast<StreamShare*>(userData);
    auto* out = static_cast<std::uint8_t*>(output);
    const std::size_t bytes = static_cast<std::size_t>(frames) * s.blockAlign;
    const std::uint64_t drop = s.dropUntil.load(std::memory_order_acquire);
    if (drop != s.seenDrop) {
        // A flush: what follows starts afresh, so the silence before it is
        // no gap.
        s.seenDrop = drop;
        s.ring.DiscardUntil(drop);
        s.sounded = s.dry = false;
    }
    std::size_t got = 0;
    if (s.started.load(std::memory_order_acquire) && !s.paused.load(std::memory_order_acquire)) {
        PublishPlayed(s, s.ring.ReadPosition());
        got = s.ring.Read(out, bytes);
        if (got > 0) {
            if (s.dry) {
                s.session->CountUnderrun();  // silence came between samples
                s.dry = false;
            }
            s.sounded = true;
        }
        if (got < bytes && s.sounded) {
            s.dry = true;
        }
    }
    std::memset(out + got, s.silence, bytes - got);
    return paContinue;
}

// Blocking writes: drops what the ring holds before the flush and what the
// host holds; the host starts afresh at the next write. All of it counts as
// played.
void DropHeld(StreamShare& s) {
    s.ring.DiscardUntil(s.dropUntil.load(std::memory_order_acquire));
    if (s.running) {
        s.running = false;
        s.host->AbortStream();
    }
    s.heldFrames = 0;
    PublishPlayed(s, s.ring.ReadPosition());
}

// Blocking writes: right after a write, asks the host how much it still
// holds and publishes what it has played: all that was written to it less
// what it holds.
void MeasureHost(StreamShare& s) {
    const signed long room = s.host->GetStreamWriteAvailable();
    if (room < 0) {
        FailWith(s, static_cast<PaError>(room));
        return;
    }
    const std::uint64_t sent = s.ring.ReadPosition();
    const std::uint64_t sinceStart = (sent - s.sentAtStart) / s.blockAlign;
    s.heldFrames = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(s.hostFrames - room, 0L)), sinceStart);
    s.measuredAt = Clock::now();
    s.hostPlays = s.hostPlays || s.heldFrames < sinceStart;
    PublishPlayed(s, sent - s.heldFrames * s.blockAlign);
}

// Blocking writes, with nothing to write: publishes what the host held at
// the last measure less what it has played since at its rate. Returns
// whether it still holds anything.
//
// The host is not asked again here: once it has run dry, PortAudio's ALSA
// host answers by preparing the device afresh, and ALSA's JACK plug-in then
// deactivates its client, whose last period JACK repeats until the next
// start. Left alone, the device plays silence until the next write. A host
// plays in steps (a period at a time), so the clock starts a quarter of the
// host's buffer late: counted that way, "played" never runs ahead of a host
// that keeps its rate, and a stream ended at once when all counts as played
// does not cut off its last period.
//
// PortAudio's ALSA host starts the device only once a period has been
// written. A host that holds samples but has played none since its start (a
// playback shorter than a period) would never play them and never count them
// as played, and the player would wait for ever; after the host's latency and
// a little more, the stream aborts it instead, and those samples count as
// played.
bool FollowHost(StreamShare& s) {
    if (!s.running || s.heldFrames == 0) {
        return false;
    }
    const auto elapsed = Clock::now() - s.measuredAt;
    if (!s.hostPlays) {
        if (s.paused.load(std::memory_order_acquire)) {
            // What a resume writes next may start it: no wait runs meanwhile.
            s.measuredAt = Clock::now();
            return false;
        }
        const auto stallAfter =
            kStallGrace +
            std::chrono::milliseconds(static_cast<std::int64_t>(s.hostSeconds * 1000.0));
        if (elapsed > stallAfter) {
            DropHeld(s);
            return false;
        }
        return true;
    }
    const double sinceMeasure = std::chrono::duration<double>(elapsed).count() * s.rate;
    const double step = static_cast<double>(s.hostFrames) / 4.0;
    const auto playedFrames = static_cast<std::uint64_t>(std::max(sinceMeasure - step, 0.0));
    const std::uint64_t held = s.heldFrames > playedFrames ? s.heldFrames - playedFrames : 0;
    PublishPlayed(s, s.ring.ReadPosition() - held * s.blockAlign);
    return held > 0;
}

// Blocking writes: writes the ring's next chunk, starting the host first if
// it is not running.
void WriteChunk(StreamShare& s) {
    const bool start = !s.running;
    PaError error = paNoError;
    if (start) {
        error = s.host->StartStream();
        if (error == paNoError) {
            // What the host takes before the first write: its whole buffer.
            s.hostFrames = s.host->GetStreamWriteAvailable();
            if (s.hostFrames < 0) {
                error = static_cast<PaError>(s.hostFrames);
                s.host->AbortStream();
            }
        }
        s.sentAtStart = s.ring.ReadPosition();
        s.hostPlays = false;
    }
    if (error == paNoError) {
        const std::size_t bytes = s.ring.Read(s.chunk.data(), s.chunk.size());
        error =
            s.host->WriteStream(s.chunk.data(), static_cast<unsigned long>(bytes / s.blockAlign));
        if (start) {
            if (error == paNoError || error == paOutputUnderflowed) {
                s.running = true;
            } else {
                s.host->AbortStream();  // a failed start must not leave it half running
            }
        }
    }
    bool quiet = false;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        quiet = std::exchange(s.quietUnderflow, false);
    }
    if (error == paOutputUnderflowed) {
        // The host ran dry before this chunk: a gap, unless the stream was
        // just started or resumed after a pause.
        if (!start && !quiet) {
            s.session->CountUnderrun();
        }
        error = paNoError;
    }
    if (error != paNoError) {
        FailWith(s, error);
        return;
    }
    MeasureHost(s);
}

// A callback stream's host may stop it on its own (a JACK server that went
// away); PortAudio then only clears the stream's active flag.
void CheckHost(StreamShare& s) {
    const PaError active = s.host->IsStreamActive();
    if (active < 0) {
        FailWith(s, active);
    } else if (active == 0) {
        s.session->NoteStreamStoppedByHost();
        SetFailure(s, PortAudioBackend::kStreamStoppedByHost);
    }
}

// The stream's thread: watches the host of a callback stream, writes the
// ring to a blocking stream and publishes how far the host has played it,
// and ends the host stream. After the open only this thread calls into the
// host. It touches nothing but the share.
void Pump(StreamShare& s) {
    auto nextHostCheck = Clock::now() + kHostCheckInterval;
    for (;;) {
        bool abort = false;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.stopping) {
                break;
            }
            abort = std::exchange(s.abortPending, false);
        }
        const bool failed = s.failure.load(std::memory_order_acquire) != kDeviceOk;
        if (s.feed == PortAudioFeed::kCallback) {
            if (!failed && Clock::now() >= nextHostCheck) {
                nextHostCheck = Clock::now() + kHostCheckInterval;
                CheckHost(s);
            }
            s.pumpWakeup.Wait(std::max(nextHostCheck - Clock::now(), Clock::duration::zero()));
            continue;
        }
        if (abort) {
            DropHeld(s);
            continue;
        }
        if (failed) {
            s.pumpWakeup.Wait(kIdleWait);
            continue;
        }
        const bool playing =
            s.started.load(std::memory_order_acquire) && !s.paused.load(std::memory_order_acquire);
        if (playing && s.ring.Available() > 0) {
            WriteChunk(s);
            continue;
        }
        s.pumpWakeup.Wait(FollowHost(s) ? kFollowInterval : kIdleWait);
    }

    if (s.running) {
        s.running = false;
        s.host->AbortStream();
    }
    s.host->CloseStream();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.pumpExited = true;
    s.exited.notify_all();
}

// One open PortAudio output stream: the ring that feeds it and the thread
// (the pump) that watches or writes it.
//
// The player writes into the ring; the callback (JACK) or the pump (ALSA,
// with blocking writes) takes from it, and whichever does publishes how far
// the host has played. The player's calls never wait for the host: they only
// touch the ring and flags, and wake the pump.
//
// Pause halts in place: a callback stream keeps running and plays silence
// without taking from the ring, which is prompt (one host period) and keeps
// the stream connected; stopping it would play out the host's buffer and
// reconnect a JACK client on resume. A blocking stream simply gets no more
// writes, and its host plays out what it holds. Flush drops what the ring
// holds; a blocking stream is also aborted so that the host drops what it
// holds, and starts afresh at the next write.
class PortAudioStream final : public HostStream {
public:
    explicit PortAudioStream(std::shared_ptr<StreamShare> share) : share_(std::move(share)) {
        const double seconds = share_->capacitySeconds + std::clamp(share_->hostSeconds, 0.0, 10.0);
        patience_ =
            kPumpPatience + std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
    }

    ~PortAudioStream() override {
        StreamShare& s = *share_;
        if (!pump_.joinable()) {
            // The pump never started: the host is this thread's to end.
            if (s.running) {
                s.host->AbortStream();
            }
            s.host->CloseStream();
            return;
        }
        // Waits for the pump at most the patience; a pump still held up in
        // the host then finishes on its own, with the share.
        std::unique_lock<std::mutex> lock(s.mutex);
        s.stopping = true;
        s.pumpWakeup.Wake();
        const bool exited = s.exited.wait_for(lock, patience_, [&s] { return s.pumpExited; });
        lock.unlock();
        if (exited) {
            pump_.join();
        } else {
            pump_.detach();
        }
    }

    PortAudioStream(const PortAudioStream&) = delete;
    PortAudioStream& operator=(const PortAudioStream&) = delete;

    // Starts the pump; throws std::system_error when the system has no
    // thread to give.
    void StartPump() {
        pump_ = std::thread([share = share_] { Pump(*share); });
    }

    DeviceResult Start() override {
        share_->started.store(true, std::memory_order_release);
        share_->pumpWakeup.Wake();
        return kDeviceOk;
    }

    std::size_t Writable() override {
        const StreamShare& s = *share_;
        if (s.failure.load(std::memory_order_acquire) != kDeviceOk) {
            return 0;
        }
        const std::uint64_t unplayed = s.ring.WritePosition() - PlayedBytes();
        const std::size_t room = std::min<std::size_t>(
            unplayed < s.capacity ? s.capacity - static_cast<std::size_t>(unplayed) : 0,
            s.ring.FreeSpace());
        return room - room % s.blockAlign;
    }

    DeviceResult Write(const std::uint8_t* data, std::size_t bytes) override {
        StreamShare& s = *share_;
        const DeviceResult failure = s.failure.load(std::memory_order_acquire);
        if (failure != kDeviceOk) {
            return failure;
        }
        if (bytes % s.blockAlign != 0 || (data == nullptr && bytes > 0) || bytes > Writable()) {
            return kDeviceInvalidParameter;
        }
        s.ring.Write(data, bytes);
        if (s.feed == PortAudioFeed::kBlockingWrites) {
            s.pumpWakeup.Wake();
        }
        return kDeviceOk;
    }

    // Stands still while paused (the host of a blocking stream plays out
    // what it holds meanwhile; that counts once the stream resumes).
    std::uint64_t PlayedBytes() override {
        const StreamShare& s = *share_;
        if (!paused_) {
            const std::uint64_t played =
                std::max(s.played.load(std::memory_order_acquire), flushedUntil_);
            reported_ = std::max(reported_, std::min(played, s.ring.WritePosition()));
        }
        return reported_;
    }

    DeviceResult SetPaused(bool paused) override {
        StreamShare& s = *share_;
        if (paused) {
            PlayedBytes();  // what played up to the pause still counts
        }
        paused_ = paused;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.paused.store(paused, std::memory_order_release);
            if (!paused) {
                s.quietUnderflow = true;
            }
        }
        s.pumpWakeup.Wake();
        return kDeviceOk;
    }

    DeviceResult Flush() override {
        StreamShare& s = *share_;
        flushedUntil_ = s.ring.WritePosition();
        paused_ = false;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.dropUntil.store(flushedUntil_, std::memory_order_release);
            s.paused.store(false, std::memory_order_release);
            if (s.feed == PortAudioFeed::kBlockingWrites) {
                s.abortPending = true;
            }
        }
        s.pumpWakeup.Wake();
        return kDeviceOk;
    }

    DeviceResult Failure() override { return share_->failure.load(std::memory_order_acquire); }

private:
    const std::shared_ptr<StreamShare> share_;
    std::chrono::milliseconds patience_{kPumpPatience};
    std::thread pump_;
    // The player's, under its serialisation.
    bool paused_ = false;
    std::uint64_t flushedUntil_ = 0;  // written position at the last flush
    std::uint64_t reported_ = 0;      // PlayedBytes never goes back
};

// PortAudio itself behind PortAudioHost.
class PaStreamHost final : public PortAudioHost {
public:
    explicit PaStreamHost(PaStream* stream) : stream_(stream) {}

    PaError StartStream() override { return Pa_StartStream(stream_); }
    PaError AbortStream() override { return Pa_AbortStream(stream_); }
    PaError CloseStream() override { return Pa_CloseStream(stream_); }
    PaError IsStreamActive() override { return Pa_IsStreamActive(stream_); }
    PaError WriteStream(const void* buffer, unsigned long frames) override {
        return Pa_WriteStream(stream_, buffer, frames);
    }
    signed long GetStreamWriteAvailable() override { return Pa_GetStreamWriteAvailable(stream_); }

private:
    PaStream* const stream_;
};

std::shared_ptr<StreamShare> MakeShare(std::shared_ptr<PortAudioSession> session,
                                       std::shared_ptr<QueueWakeup> wakeup, PortAudioFeed feed,
                                       const WaveFormat& format, const StreamOptions& options) {
    try {
        return std::make_shared<StreamShare>(std::move(session), std::move(wakeup), feed, format,
                                             CapacityBytes(options, format));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Finishes an open once the share has its host: starts a callback stream
// (which plays silence until the player's Start), then the pump.
PaError Launch(const std::shared_ptr<StreamShare>& share, std::unique_ptr<HostStream>& opened) {
    std::unique_ptr<PortAudioStream> created;
    try {
        created = std::make_unique<PortAudioStream>(share);
    } catch (const std::bad_alloc&) {
        share->host->CloseStream();
        return paInsufficientMemory;
    }
    if (share->feed == PortAudioFeed::kCallback) {
        const PaError started = share->host->StartStream();
        if (started != paNoError) {
            return started;  // the stream closes its host as it goes
        }
        share->running = true;
    }
    try {
        created->StartPump();
    } catch (const std::system_error&) {
        return paInsufficientMemory;  // the stream closes its host as it goes
    }
    opened = std::move(created);
    return paNoError;
}

}  // namespace

PaError OpenPortAudioStream(std::shared_ptr<PortAudioSession> session, PaDeviceIndex device,
                            PaSampleFormat sampleFormat, PortAudioFeed feed,
                            const WaveFormat& format, const StreamOptions& options,
                            std::shared_ptr<QueueWakeup> wakeup,
                            std::unique_ptr<HostStream>& opened) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr) {
        return paInvalidDevice;
    }
    const double hostLatency = HostLatency(CapacityBytes(options, format), format);
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

    const std::shared_ptr<StreamShare> share =
        MakeShare(std::move(session), std::move(wakeup), feed, format, options);
    if (share == nullptr) {
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
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
    share->hostSeconds = streamInfo != nullptr ? streamInfo->outputLatency : hostLatency;
    try {
        share->host = std::make_unique<PaStreamHost>(stream);
    } catch (const std::bad_alloc&) {
        Pa_CloseStream(stream);
        return paInsufficientMemory;
    }
    return Launch(share, opened);
}

PaError OpenPortAudioStreamOn(std::unique_ptr<PortAudioHost> host, double hostSeconds,
                              std::shared_ptr<PortAudioSession> session, PortAudioFeed feed,
                              const WaveFormat& format, const StreamOptions& options,
                              std::shared_ptr<QueueWakeup> wakeup,
                              std::unique_ptr<HostStream>& opened) {
    const std::shared_ptr<StreamShare> share =
        MakeShare(std::move(session), std::move(wakeup), feed, format, options);
    if (share == nullptr) {
        host->CloseStream();
        return paInsufficientMemory;
    }
    share->host = std::move(host);
    share->hostSeconds = hostSeconds;
    return Launch(share, opened);
}

}  // namespace skarnel
