#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/device_notifications.h"
#include "audio/wave_out_backend.h"

namespace skarnel {

// The fill-buffer event: write up to Size bytes of interleaved little-endian
// 16-bit PCM into Buffer, lower Size if fewer were written, and return true
// when the buffer is to be played.
using FillBufferHandler = std::function<bool(std::uint8_t* Buffer, std::int32_t& Size)>;

// Messages the component leaves in LastError.
inline constexpr const char* kErrAlreadyOpen = "Wave output device is already open";
inline constexpr const char* kErrNoFilledBuffer = "There must be at least one filled buffer";
inline constexpr const char* kErrBufferAlloc = "Error allocating wave buffer memory";
inline constexpr const char* kErrBufferLock = "Error Locking wave buffer memory";
inline constexpr const char* kErrHeaderAlloc = "Error allocating wave header memory";
inline constexpr const char* kErrHeaderLock = "Could not lock header memory for recording";

inline constexpr int kMaxBuffers = 4;
inline constexpr std::int32_t kMinBufferSize = 512;

// Format, buffer memory and counters of a wave output component.
class AudioBuffers {
public:
    AudioBuffers();
    virtual ~AudioBuffers() = default;
    AudioBuffers(const AudioBuffers&) = delete;
    AudioBuffers& operator=(const AudioBuffers&) = delete;

    // The effective size: the requested size rounded down to whole frames.
    std::int32_t BufferSize() const noexcept { return bufferSize_; }
    // Below 512 becomes 512. Re-allocates the sample buffers.
    void SetBufferSize(std::int32_t bytes);
    std::int32_t NumBuffers() const noexcept { return numBuffers_; }
    void SetNumBuffers(std::int32_t count) noexcept;  // clamped to 2..4
    std::int32_t FrameRate() const noexcept {
        return static_cast<std::int32_t>(format_.samplesPerSec);
    }
    void SetFrameRate(std::int32_t rate) noexcept;
    bool Stereo() const noexcept { return format_.channels == 2; }
    void SetStereo(bool stereo) noexcept;
    std::uint16_t Quantization() const noexcept { return format_.bitsPerSample; }
    void SetQuantization(std::uint16_t bits) noexcept;  // clamped to 8..24
    std::uint32_t WaveDevice() const noexcept { return waveDevice_; }
    void SetWaveDevice(std::uint32_t device) noexcept { waveDevice_ = device; }
    // The name sound servers show for the stream; used from the next open.
    const std::string& StreamName() const noexcept { return streamName_; }
    void SetStreamName(std::string name) { streamName_ = std::move(name); }
    // See StreamOptions::identity.
    void SetStreamIdentity(std::string identity) { streamIdentity_ = std::move(identity); }

    const std::string& LastError() const noexcept { return lastError_; }
    const WaveFormat& Format() const noexcept { return format_; }
    std::int32_t FilledCount() const noexcept { return filledCount_; }
    std::int32_t DoneCount() const noexcept { return doneCount_; }
    std::int32_t QueuedCount() const noexcept { return queuedCount_; }

protected:
    void UpdateFormat() noexcept;
    // Allocates the sample buffers for the requested size; false (with
    // LastError set) when memory is short.
    bool AllocateBuffers();
    // False while a device holds the buffers: they are then re-allocated at
    // the next open instead of under the device's feet.
    virtual bool CanReallocate() const { return true; }
    bool reallocatePending_ = false;
    void RecountQueued() noexcept { queuedCount_ = filledCount_ - doneCount_; }

    WaveFormat format_;
    std::int32_t requestedBufferSize_ = 8192;
    std::int32_t bufferSize_ = 8192;
    std::int32_t numBuffers_ = kMaxBuffers;
    std::uint32_t waveDevice_ = kDefaultWaveDevice;
    std::string streamName_;
    std::string streamIdentity_;

    // Sized for the requested size, so a later format change that enlarges
    // the effective size can never reach past a buffer.
    std::array<std::vector<std::uint8_t>, kMaxBuffers> buffers_;
    // How many bytes of each buffer the device is to play (what the fill
    // handler left in Size, in the device's width).
    std::array<std::uint32_t, kMaxBuffers> lengths_{};
    // 16-bit frames for the fill event when the device takes 8 or 24 bits.
    std::vector<std::uint8_t> staging_;

    int nextBuffer_ = 0;
    std::int32_t filledCount_ = 0;
    std::int32_t doneCount_ = 0;
    std::int32_t queuedCount_ = 0;
    std::string lastError_;
};

// Where the component tells of a device operation it goes on after when the
// device refuses it: a pause, a restart or a reset. Called on the owner's
// thread; nothing is shown to the user.
class DeviceFaultLog {
public:
    virtual ~DeviceFaultLog() = default;
    virtual void Refused(const char* operation, const std::string& reason) = 0;
};

// Plays PCM on a wave output device by keeping a ring of 2 to 4 buffers queued
// and refilling each through OnFillBuffer when the device has played it.
//
// The component owns the buffers and their order: a buffer is queued (filled,
// waiting for room in the host), playing (written to the host's stream) or
// done (the host has played it: its memory is the component's again). A
// back-end only moves bytes to its host and tells how far the host has played
// (HostStream).
//
// Threads. The operations below run on the owner's thread, and so does every
// notification. The first buffers of a start are filled there too, inside
// BeginPlayback. From then on a thread of the component's own (the render
// thread) keeps the queue: it watches the host's played position, and for
// each buffer the host has played it calls OnFillBuffer for the buffer due
// next, queues it and posts the played buffer's done notification, which the
// owner handles in order (the counters, the drain, the close). OnFillBuffer
// must therefore be safe to call on that thread. A stream that does not play
// on its own (a test's manual clock) gets no thread: ProcessNotifications()
// keeps its queue on the owner's thread.
class AudioOutput : public AudioBuffers {
public:
    // `faults` (may be null) hears of refused pauses, restarts and resets.
    explicit AudioOutput(WaveOutBackend& backend, DeviceFaultLog* faults = nullptr);
    ~AudioOutput() override;

    FillBufferHandler OnFillBuffer;
    // Raised when the device has opened and when it has closed.
    std::function<void()> OnStart;
    std::function<void()> OnStop;
    // The host's mixer plays the open stream at another level than it is
    // made (or back at the same): see HostStream::WatchMixer.
    std::function<void(const MixerLevel&)> OnMixerLevel;
    // Runs on the render thread when it starts (real-time priority, say).
    std::function<void()> OnRenderThreadStart;

    // A device is open: buffers are refilled, or the queued ones play out.
    bool Running() const noexcept { return state_ != State::kStopped; }
    bool Paused() const noexcept { return paused_; }
    void SetPaused(bool paused);

    // Opens the device and queues the first buffers; false with LastError set
    // on failure.
    bool BeginPlayback();
    // Drops what the device holds and closes it at once.
    void StopImmediately();
    // Refills no more: the queued buffers play out, then the device closes.
    void StopWhenDrained();

    // Why the device ended the current or last playback on its own (a write
    // it refused, a sound server that went away), or "" when it did not.
    // Cleared at each start.
    const std::string& PlaybackFault() const noexcept { return playbackFault_; }

    // Frames the host has played since the current (or last) open; any
    // thread. Together with FillFrame it tells when a block is heard. Between
    // the render thread's looks at the host it runs on at the nominal rate,
    // never past what was written, and stands still while paused.
    std::uint64_t PlayedFrame() const noexcept;
    // Inside OnFillBuffer: the frame of the stream at which the buffer being
    // filled will play (frames are counted from the open).
    std::uint64_t FillFrame() const noexcept { return fillFrame_; }

    NotificationChannel& Notifications() noexcept { return channel_; }
    // Handles every pending notification in order. For a stream without a
    // render thread it first keeps the queue (takes what the host played off
    // it, refilling on this thread). Safe to call re-entrantly from inside
    // OnFillBuffer (a modal message pumping events).
    void ProcessNotifications();
    // Handles at most `limit` notifications. An event loop passes the number
    // pending when it was woken: a device that returns buffers as fast as they
    // are refilled then cannot keep the loop from handling user input, since
    // later notifications wake it again after the input has had its turn.
    void ProcessNotifications(std::size_t limit);
    void HandleNotification(const DeviceNotification& notification);

    // The same as Running: the component has its device open.
    bool DeviceOpen() const noexcept { return state_ != State::kStopped; }
    // A device is open, or still plays buffers after the component already
    // counts as closed (buffers queued uncounted in the pre-fill keep playing
    // after the counted ones are done). False once the device has closed.
    bool DeviceHeld() const noexcept { return stream_ != nullptr; }
    std::uint64_t Generation() const noexcept { return generation_; }

protected:
    // Calls OnFillBuffer for buffer `index` and keeps the length it leaves;
    // the handler's result.
    virtual bool FillBlock(int index, std::int32_t size);
    virtual void CloseDevice();
    virtual bool OpenDevice();
    // Queues the buffer due next during the start (owner's thread).
    bool QueueNextBlock();
    bool CanReallocate() const override { return stream_ == nullptr; }

private:
    enum class State {
        kStopped,   // no device open (a closing one may still play: DeviceHeld)
        kFilling,   // open; every buffer that comes back is refilled and queued
        kDraining,  // open; the queued buffers play out, then the device closes
    };

    // One buffer on its way through the host: queued until all of it is
    // written, then playing until the host has played up to `end`.
    struct QueueEntry {
        int buffer = 0;
        std::uint32_t written = 0;  // bytes of it handed to the host so far
        bool playing = false;       // all of it is written
        std::uint64_t end = 0;      // then: the stream position after its last byte
    };

    void OnBufferDone(const DeviceNotification& notification);
    // Converts `frames` 16-bit frames from the staging buffer into buffer
    // `index` in the device's sample width.
    void ConvertFromStaging(int index, std::int32_t frames) noexcept;
    std::string ErrorText(DeviceResult code);
    // A device that still plays buffers after the component closed (those
    // queued uncounted in the pre-fill) is stopped before a new open or on an
    // immediate stop, so its late buffers never mix with a new playback.
    void RetireLingeringDevice();
    // Drops what the host holds and returns every queued buffer as done.
    void DropQueue();
    // Ends the render thread and the stream and posts the closed notification.
    void ReleaseStream();
    void EndRenderThread();
    // Tells the fault log of a refused operation the component goes on after.
    void Report(DeviceResult result, const char* operation);

    // Takes what the host has played off the queue, refills and queues the
    // buffers due next, and posts the done notifications (the render thread,
    // or the owner's for a stream without one).
    void KeepQueue();
    // Puts buffer `index` on the queue and writes what the host has room
    // for; kDeviceOk, or why it is not on its way.
    DeviceResult QueueBuffer(int index);
    // With queueMutex_ held:
    // writes queued bytes while the host has room; a failure code otherwise.
    DeviceResult WriteQueuedLocked();
    // Takes the head buffer off the queue; which it was.
    int PopLocked();
    // How long the render thread may sleep before the head buffer is due.
    std::chrono::microseconds NextLookLocked();
    void RenderThread();

    WaveOutBackend& backend_;
    DeviceFaultLog* faults_;
    NotificationChannel channel_;
    std::shared_ptr<QueueWakeup> wakeup_;
    State state_ = State::kStopped;
    bool paused_ = false;
    std::uint64_t generation_ = 0;
    // What the device was opened with; format changes made while it plays
    // take effect at the next open.
    WaveFormat openFormat_;
    std::int32_t openBufferSize_ = 0;
    int openNumBuffers_ = kMaxBuffers;
    // Whether the pre-fill counted the buffer as filled, for a failed write.
    std::array<bool, kMaxBuffers> counted_{};
    std::string playbackFault_;

    // The queue keeper's own (the owner's during the start, then the render
    // thread's): the buffer due next and where the stream plays it.
    std::uint64_t fillFrame_ = 0;
    std::uint64_t queuedBytesTotal_ = 0;  // of every buffer queued since the open
    // The render thread's last look at the host, for PlayedFrame.
    std::atomic<std::uint64_t> playedFrames_{0};
    std::atomic<std::uint64_t> writtenFrames_{0};
    std::atomic<std::int64_t> playedAtNs_{0};  // steady clock
    std::atomic<bool> playedRunsOn_{false};

    // Shared by the owner's thread and the render thread: the stream (set and
    // reset only by the owner, with the render thread not running), the queue
    // and the stream's calls, which the lock serialises.
    std::mutex queueMutex_;
    std::unique_ptr<HostStream> stream_;
    std::array<QueueEntry, kMaxBuffers> queue_{};
    std::size_t queueHead_ = 0;
    std::size_t queueCount_ = 0;
    std::uint64_t writtenBytes_ = 0;        // to the stream since the open
    DeviceResult hostFailure_ = kDeviceOk;  // the stream failed: nothing more plays
    bool refilling_ = false;                // played buffers are refilled
    bool streamPaused_ = false;
    bool stopRenderThread_ = false;
    std::thread renderThread_;
};

}  // namespace skarnel
