#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

    std::array<WaveHeader, kMaxBuffers> headers_{};
    // Sized for the requested size, so a later format change that enlarges
    // the effective size can never reach past a buffer.
    std::array<std::vector<std::uint8_t>, kMaxBuffers> buffers_;
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
// and refilling each through OnFillBuffer when the device returns it. Every
// operation and every notification runs on the owner's thread; devices post
// their notifications to Notifications(), and the owner calls
// ProcessNotifications() when woken.
class AudioOutput : public AudioBuffers {
public:
    // `faults` (may be null) hears of refused pauses, restarts and resets.
    explicit AudioOutput(WaveOutBackend& backend, DeviceFaultLog* faults = nullptr);
    ~AudioOutput() override;

    FillBufferHandler OnFillBuffer;
    // Raised when the device has opened and when it has closed.
    std::function<void()> OnStart;
    std::function<void()> OnStop;

    // A device is open: buffers are refilled, or the queued ones play out.
    bool Running() const noexcept { return state_ != State::kStopped; }
    bool Paused() const noexcept { return paused_; }
    void SetPaused(bool paused);

    // Opens the device and queues the first buffers; false with LastError set
    // on failure.
    bool BeginPlayback();
    // Resets and closes the device at once.
    void StopImmediately();
    // Refills no more: the queued buffers play out, then the device closes.
    void StopWhenDrained();

    // Why the device ended the current or last playback on its own (a write
    // it refused, a sound server that went away), or "" when it did not.
    // Cleared at each start.
    const std::string& PlaybackFault() const noexcept { return playbackFault_; }

    NotificationChannel& Notifications() noexcept { return channel_; }
    // Handles every pending notification in order. Safe to call re-entrantly
    // from inside OnFillBuffer (a modal message pumping events).
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
    bool DeviceHeld() const noexcept { return device_ != nullptr; }
    std::uint64_t Generation() const noexcept { return generation_; }

protected:
    virtual bool FillBlock(int index, std::int32_t size);
    virtual void CloseDevice();
    virtual bool OpenDevice();
    bool QueueNextBlock();
    bool CanReallocate() const override { return device_ == nullptr; }

private:
    enum class State {
        kStopped,   // no device open (a closing one may still play: DeviceHeld)
        kFilling,   // open; every buffer that comes back is refilled and queued
        kDraining,  // open; the queued buffers play out, then the device closes
    };

    void OnBufferDone();
    // Converts `frames` 16-bit frames from the staging buffer into buffer
    // `index` in the device's sample width.
    void ConvertFromStaging(int index, std::int32_t frames) noexcept;
    std::string ErrorText(DeviceResult code);
    // A device whose close was refused earlier is reset and closed before a
    // new open, so its late buffers never mix with the new playback.
    void RetireLingeringDevice();
    // Lets go of a device that still refuses to close after a reset, which
    // by its contract has returned every buffer: it hangs. Its destruction
    // drops what it holds, and the close it will never report is reported
    // for it, so the owner sees playback end.
    void AbandonDevice();

    // Tells the fault log of a refused operation the component goes on after.
    void Report(DeviceResult result, const char* operation);

    WaveOutBackend& backend_;
    DeviceFaultLog* faults_;
    NotificationChannel channel_;
    std::unique_ptr<WaveOutDevice> device_;  // set whenever the state is not kStopped
    State state_ = State::kStopped;
    bool paused_ = false;
    std::uint64_t generation_ = 0;
    // What the device was opened with; format changes made while it plays
    // take effect at the next open.
    WaveFormat openFormat_;
    std::int32_t openBufferSize_ = 0;
    int openNumBuffers_ = kMaxBuffers;
    // Whether FillBlock counted the buffer as filled, for a failed write.
    std::array<bool, kMaxBuffers> counted_{};
    std::string playbackFault_;
};

}  // namespace skarnel
