#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/wave_out_backend.h"

namespace skarnel {

class SimulatedBackend;

// A simulated output stream. Its host buffer holds what the player's buffers
// hold (StreamOptions), kept as the writes came. In manual mode the test
// drives it: CompleteHead() "plays" the oldest write. In paced mode its clock
// plays the bytes at the format's nominal rate from Start on, so the program
// can run without a sound card; a stream that ran dry plays the next write
// from its arrival, and a paused one stands still.
class SimulatedStream : public HostStream {
public:
    SimulatedStream(SimulatedBackend& backend, const WaveFormat& format, std::size_t capacity,
                    std::shared_ptr<QueueWakeup> wakeup, bool paced);
    ~SimulatedStream() override;

    DeviceResult Start() override;
    std::size_t Writable() override;
    DeviceResult Write(const std::uint8_t* data, std::size_t bytes) override;
    std::uint64_t PlayedBytes() override;
    DeviceResult SetPaused(bool paused) override;
    DeviceResult Flush() override;
    DeviceResult Failure() override;
    // A paced stream plays on its own; a manual one only when the test says.
    bool PlaysOnItsOwn() const override { return paced_; }

    // Plays the oldest write that has not played: records its bytes and
    // moves the played position past it. False when nothing is waiting, the
    // stream has not started, is paused or has stopped playing.
    bool CompleteHead();
    // Plays writes until none is left (or it cannot); returns how many.
    int CompleteAll();
    // Plays `bytes` more (whole frames), under the same conditions.
    bool PlayBytes(std::uint64_t bytes);
    // A host that hangs: from now on it takes bytes but plays none. With
    // `evenOnReset` a flush drops nothing either, so what it holds is
    // dropped only when the stream is destroyed.
    void StopReturningBuffers(bool evenOnReset = false);
    // The host goes away: nothing written plays any more, and every later
    // write fails with `code`.
    void FailHost(DeviceResult code);
    // The host's mixer: the watcher hears `level` as a sound server's would.
    void WatchMixer(std::function<void(const MixerLevel&)> changed) override {
        mixerChanged_ = std::move(changed);
    }
    void SetMixerLevel(const MixerLevel& level) {
        if (mixerChanged_) {
            mixerChanged_(level);
        }
    }

    // Writes taken and not yet played.
    std::size_t QueuedCount() const;
    // Their bytes, oldest first.
    std::vector<std::uint8_t> QueuedBytes() const;
    bool IsPaused() const;
    const WaveFormat& format() const noexcept { return format_; }

private:
    static constexpr std::size_t kMaxWrites = 64;
    using Clock = std::chrono::steady_clock;

    // With the mutex held.
    void PlayLocked(std::uint64_t bytes);
    void AdvanceClockLocked();
    bool ClockRunsLocked() const noexcept;
    void ReturnUnplayedLocked();

    SimulatedBackend& backend_;
    const WaveFormat format_;
    const std::shared_ptr<QueueWakeup> wakeup_;
    const bool paced_;

    mutable std::mutex mutex_;
    std::vector<std::uint8_t> ring_;  // the host's buffer
    std::uint64_t written_ = 0;       // bytes since the open
    std::uint64_t played_ = 0;
    // The ends (stream positions) of the writes not yet played, oldest first.
    std::array<std::uint64_t, kMaxWrites> writeEnds_{};
    std::size_t writesHead_ = 0;
    std::size_t writesCount_ = 0;
    bool started_ = false;
    bool paused_ = false;
    bool stalled_ = false;
    bool stalledOnReset_ = false;
    DeviceResult hostFailure_ = kDeviceOk;
    // Paced: the position reached at `anchorTime_`.
    std::uint64_t anchorPlayed_ = 0;
    Clock::time_point anchorTime_{};
    std::function<void(const MixerLevel&)> mixerChanged_;
};

// A deterministic family of simulated output devices for tests and for
// running without audio hardware. Records every byte its streams played.
class SimulatedBackend : public WaveOutBackend {
public:
    // Our own code for an injected failure without a standard meaning.
    static constexpr DeviceResult kInjectedFailure =
        static_cast<DeviceResult>(kFirstBackendError + 1);

    explicit SimulatedBackend(std::vector<std::string> deviceNames = {"Simulated Output 1",
                                                                      "Simulated Output 2"});

    std::uint32_t DeviceCount() override;
    std::string DeviceName(std::uint32_t index) override;
    std::string DeviceId(std::uint32_t index) override;
    DeviceResult Open(std::uint32_t index, const WaveFormat& format, const StreamOptions& options,
                      std::shared_ptr<QueueWakeup> wakeup,
                      std::unique_ptr<HostStream>& stream) override;
    std::string ErrorText(std::uint32_t code) override;
    void WatchDevices(std::function<void()> changed) override;

    bool Watched() const noexcept { return static_cast<bool>(watcher_); }
    // Devices come and go: replaces the list (descriptions, and the hosts'
    // names for them where given) and tells the watcher.
    void SetDeviceNames(std::vector<std::string> names, std::vector<std::string> ids = {});
    // What the last successful Open was asked for.
    const StreamOptions& LastStreamOptions() const noexcept { return lastOptions_; }

    // Test controls. The failure applies to the next such call only.
    void FailNextOpen(DeviceResult code) { failOpen_ = code; }
    void FailNextStart(DeviceResult code) { failStart_ = code; }
    void FailNextWrite(DeviceResult code) { failWrite_ = code; }
    // The next pause (or restart) is refused; the stream keeps playing.
    void FailNextPause(DeviceResult code) { failPause_ = code; }
    // After `after` more writes, every write fails with `code` until called
    // again with kDeviceOk (a device that has gone away).
    void FailAllWrites(DeviceResult code, int after = 0) {
        failAllWrites_ = code;
        writesBeforeFailing_ = after;
    }
    // Paced streams play in real time.
    void SetPaced(bool paced) { paced_ = paced; }
    // A host whose buffer holds `bytes` instead of all of the player's
    // buffers (0: all of them), from the next open.
    void SetHostCapacity(std::size_t bytes) { hostCapacity_ = bytes; }
    // Keep a copy of every played byte (on by default).
    void SetRecording(bool recording) { recording_ = recording; }

    // The most recently opened stream (owned by the component), or null.
    SimulatedStream* LastStream() const noexcept { return lastStream_; }
    std::uint32_t LastDeviceIndex() const noexcept { return lastIndex_; }
    int OpenCount() const noexcept { return openCount_; }

    // Accounting over all streams, in writes: each write is either returned
    // (played, flushed, or given up with a failed host) or dropped (its
    // stream was destroyed while holding it). Once no stream is alive,
    // Written() == Returned() + Dropped() means nothing was lost.
    int BuffersWritten() const noexcept { return written_; }
    int BuffersReturned() const noexcept { return returned_; }
    int BuffersDropped() const noexcept { return dropped_; }

    // Bytes played by all streams so far, in order.
    std::vector<std::uint8_t> Played() const;
    // How many, and those from `offset` on (cheap to follow while it plays).
    std::size_t PlayedSize() const;
    std::vector<std::uint8_t> PlayedFrom(std::size_t offset) const;
    void ClearPlayed();

private:
    friend class SimulatedStream;
    DeviceResult TakeFailure(DeviceResult& slot);
    void Record(const std::uint8_t* data, std::size_t size);
    void Forget(SimulatedStream* stream);

    std::vector<std::string> names_;
    std::vector<std::string> ids_;  // by index; a device without one is known by its name
    std::function<void()> watcher_;
    StreamOptions lastOptions_;
    DeviceResult failOpen_ = kDeviceOk;
    DeviceResult failStart_ = kDeviceOk;
    DeviceResult failWrite_ = kDeviceOk;
    DeviceResult failPause_ = kDeviceOk;
    DeviceResult failAllWrites_ = kDeviceOk;
    int writesBeforeFailing_ = 0;
    std::atomic<int> written_{0};
    std::atomic<int> returned_{0};
    std::atomic<int> dropped_{0};
    bool paced_ = false;
    bool recording_ = true;
    std::size_t hostCapacity_ = 0;
    SimulatedStream* lastStream_ = nullptr;
    std::uint32_t lastIndex_ = 0;
    int openCount_ = 0;
    mutable std::mutex playedMutex_;
    std::vector<std::uint8_t> played_;
};

}  // namespace skarnel
