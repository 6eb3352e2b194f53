#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/wave_out_backend.h"

namespace skarnel {

class SimulatedBackend;

// A simulated output device. In manual mode the test drives it: CompleteHead()
// "plays" the oldest queued buffer. In paced mode a thread plays each buffer
// after the time its bytes last at the format's nominal rate, so the program
// can run without a sound card.
class SimulatedDevice : public WaveOutDevice {
public:
    SimulatedDevice(SimulatedBackend& backend, const WaveFormat& format,
                    const NotificationTarget& target, bool paced);
    ~SimulatedDevice() override;

    DeviceResult PrepareHeader(WaveHeader& header) override;
    DeviceResult UnprepareHeader(WaveHeader& header) override;
    DeviceResult Write(WaveHeader& header) override;
    DeviceResult Pause() override;
    DeviceResult Restart() override;
    DeviceResult Reset() override;
    DeviceResult Close() override;

    // Plays the oldest queued buffer: records its bytes and posts its done
    // notification. False when nothing is queued or the device is paused.
    bool CompleteHead();
    // Plays queued buffers until none is left (or paused); returns how many.
    int CompleteAll();
    // A device that hangs: from now on it accepts buffers but plays none and
    // reports none done. With `evenOnReset` a reset returns none either, so
    // the device can never close; destroying it drops what it holds.
    void StopReturningBuffers(bool evenOnReset = false);
    // The host goes away: every queued buffer comes back as done and every
    // later write fails with `code`.
    void FailHost(DeviceResult code);

    std::size_t QueuedCount() const;
    // The bytes of the buffers written and not yet played, oldest first.
    std::vector<std::uint8_t> QueuedBytes() const;
    bool IsPaused() const;
    bool IsClosed() const;
    const WaveFormat& format() const noexcept { return format_; }

private:
    static constexpr std::size_t kQueueCapacity = 16;

    bool CompleteHeadLocked(std::unique_lock<std::mutex>& lock);
    void PaceLoop();

    SimulatedBackend& backend_;
    WaveFormat format_;
    NotificationTarget target_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::array<WaveHeader*, kQueueCapacity> queue_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool paused_ = false;
    bool closed_ = false;
    bool stopping_ = false;
    bool stalled_ = false;
    bool stalledOnReset_ = false;
    DeviceResult hostFailure_ = kDeviceOk;
    std::thread pacer_;
};

// A deterministic family of simulated output devices for tests and for
// running without audio hardware. Records every byte its devices played.
class SimulatedBackend : public WaveOutBackend {
public:
    // Our own code for an injected failure without a standard meaning.
    static constexpr DeviceResult kInjectedFailure =
        static_cast<DeviceResult>(kFirstBackendError + 1);

    explicit SimulatedBackend(std::vector<std::string> deviceNames = {"Simulated Output 1",
                                                                      "Simulated Output 2"});

    std::uint32_t DeviceCount() override;
    std::string DeviceName(std::uint32_t index) override;
    DeviceResult Open(std::uint32_t index, const WaveFormat& format, const StreamOptions& options,
                      const NotificationTarget& target,
                      std::unique_ptr<WaveOutDevice>& device) override;
    std::string ErrorText(std::uint32_t code) override;
    void WatchDevices(std::function<void()> changed) override;

    bool Watched() const noexcept { return static_cast<bool>(watcher_); }
    // Devices come and go: replaces the list and tells the watcher.
    void SetDeviceNames(std::vector<std::string> names);
    // What the last successful Open was asked for.
    const StreamOptions& LastStreamOptions() const noexcept { return lastOptions_; }

    // Test controls. The failure applies to the next such call only.
    void FailNextOpen(DeviceResult code) { failOpen_ = code; }
    void FailNextPrepare(DeviceResult code) { failPrepare_ = code; }
    void FailNextWrite(DeviceResult code) { failWrite_ = code; }
    // The next pause (or restart) is refused; the device keeps playing.
    void FailNextPause(DeviceResult code) { failPause_ = code; }
    // After `after` more writes, every write fails with `code` until called
    // again with kDeviceOk (a device that has gone away).
    void FailAllWrites(DeviceResult code, int after = 0) {
        failAllWrites_ = code;
        writesBeforeFailing_ = after;
    }
    // Paced devices play in real time on a thread of their own.
    void SetPaced(bool paced) { paced_ = paced; }
    // Keep a copy of every played byte (on by default).
    void SetRecording(bool recording) { recording_ = recording; }

    // The most recently opened device (owned by the component), or null.
    SimulatedDevice* LastDevice() const noexcept { return lastDevice_; }
    std::uint32_t LastDeviceIndex() const noexcept { return lastIndex_; }
    int OpenCount() const noexcept { return openCount_; }

    // Buffer accounting over all devices: each buffer written is either
    // returned (its done notification posted) or dropped (its device was
    // destroyed while holding it). Once no device is alive, Written() ==
    // Returned() + Dropped() means no buffer was lost.
    int BuffersWritten() const noexcept { return written_; }
    int BuffersReturned() const noexcept { return returned_; }
    int BuffersDropped() const noexcept { return dropped_; }

    // Bytes played by all devices so far, in order.
    std::vector<std::uint8_t> Played() const;
    void ClearPlayed();

private:
    friend class SimulatedDevice;
    DeviceResult TakeFailure(DeviceResult& slot);
    void Record(const std::uint8_t* data, std::size_t size);
    void Forget(SimulatedDevice* device);

    std::vector<std::string> names_;
    std::function<void()> watcher_;
    StreamOptions lastOptions_;
    DeviceResult failOpen_ = kDeviceOk;
    DeviceResult failPrepare_ = kDeviceOk;
    DeviceResult failWrite_ = kDeviceOk;
    DeviceResult failPause_ = kDeviceOk;
    DeviceResult failAllWrites_ = kDeviceOk;
    int writesBeforeFailing_ = 0;
    std::atomic<int> written_{0};
    std::atomic<int> returned_{0};
    std::atomic<int> dropped_{0};
    bool paced_ = false;
    bool recording_ = true;
    SimulatedDevice* lastDevice_ = nullptr;
    std::uint32_t lastIndex_ = 0;
    int openCount_ = 0;
    mutable std::mutex playedMutex_;
    std::vector<std::uint8_t> played_;
};

}  // namespace skarnel
