#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/device_result.h"
#include "audio/queue_wakeup.h"
#include "audio/wave_format.h"

namespace skarnel {

// Device index that selects the system's default output device.
inline constexpr std::uint32_t kDefaultWaveDevice = 0xFFFFFFFFu;
// The device list shows descriptions cut to this many bytes, and older
// stores remember them so.
inline constexpr std::size_t kMaxDeviceNameLength = 32;

// What a player asks of a stream besides its format.
struct StreamOptions {
    // Shown by sound servers and mixers to tell streams apart.
    std::string name;
    // The player's buffers (count x bytes). Everything the player has made and
    // the host has not yet played lies in these buffers, so the host's own
    // buffer between Write and the ear must take all of them at once
    // (bufferBytes x bufferCount): a buffer refilled after one was played then
    // always finds room. It must hold no more than that either, or a change
    // the user makes is heard later than the settings say.
    std::uint32_t bufferBytes = 8192;
    std::uint32_t bufferCount = 4;
    // The same from run to run for one player (a window's generator number)
    // and different between players: sound servers remember a stream's
    // routing and volume under it, so what the user sets for one window in
    // the desktop's mixer never reaches another. Empty: the host's own key.
    std::string identity{};
};

// How a host plays a stream besides its samples: a sound server's mixer may
// turn it down or mute it (the stream's own volume and mute, or its sink's
// mute), which the samples the player made cannot show.
struct MixerLevel {
    double gainDb = 0.0;  // the stream's volume; 0 dB plays the samples as made
    bool muted = false;   // the stream or the device it plays on is muted

    bool Unchanged() const noexcept { return gainDb == 0.0 && !muted; }
    bool operator==(const MixerLevel&) const = default;
};

// One open stream on an audio host: the host's buffer between the player and
// what is heard. A back-end only moves samples to its host and tells how far
// the host has played them; the player (AudioOutput) owns the buffers, their
// order and their done notifications.
//
// The player makes one call at a time (it serialises them under a lock of its
// own), from its owner's thread or from the thread that keeps its queue; a
// stream guards only against threads and callbacks of its own host. No call
// waits long for the host: a host that stopped taking samples cannot hang the
// player.
class HostStream {
public:
    // Ends the stream at once, dropping what the host still holds. Waits for
    // the host at most a bounded time (about a second beyond its buffer).
    // Whatever of the stream still runs after it returns (a host call that
    // returns late, a real-time callback, a thread of its own) touches only
    // state the stream owns by shared_ptr and the wake-up, never the player.
    virtual ~HostStream() = default;

    // Begins playing what was written since the open. A stream opens stopped
    // so that the first buffers go out together; called once, after the
    // first writes (and after SetPaused(true) when the player starts paused,
    // in which case nothing plays until SetPaused(false)).
    virtual DeviceResult Start() = 0;
    // Bytes the host takes now without waiting: whole frames.
    virtual std::size_t Writable() = 0;
    // Appends whole frames (at most Writable()) to what the host plays; the
    // bytes are copied. kDeviceOk, or a code whose text says why not.
    virtual DeviceResult Write(const std::uint8_t* data, std::size_t bytes) = 0;
    // How many of the bytes written since the open the host has played: heard
    // at the output, as nearly as the host can tell. Never decreases and never
    // exceeds the bytes written. Bytes dropped by Flush count as played.
    virtual std::uint64_t PlayedBytes() = 0;
    // Halts output in place, keeping what the host holds (true), or resumes
    // (false). PlayedBytes stands still while paused.
    virtual DeviceResult SetPaused(bool paused) = 0;
    // Drops what the host holds and has not played, without waiting for it;
    // afterwards PlayedBytes() equals the bytes written. Leaves the stream
    // playing (not paused): what is written next plays at once.
    virtual DeviceResult Flush() = 0;
    // False for a stream whose played position moves only when the owner's
    // thread moves it (a test's manual clock): the component then keeps its
    // queue on the owner's thread, in ProcessNotifications(), instead of on a
    // thread of its own.
    virtual bool PlaysOnItsOwn() const { return true; }
    // kDeviceOk while the host plays the stream. Once the host has given it up
    // (a sound server that went away, a device unplugged), the code whose
    // ErrorText says why; what was written and not played will never play,
    // and Write fails with it too.
    virtual DeviceResult Failure() = 0;
    // Calls `changed` (on a thread of the host, never after the destructor
    // has returned) with the mixer's level of this stream once it is known
    // and whenever it changes. A host without a mixer never calls it.
    virtual void WatchMixer(std::function<void(const MixerLevel&)> changed) { (void)changed; }
};

// A family of output devices: the operations of one audio system. Adding a
// back-end means implementing this and HostStream (see README.md here).
class WaveOutBackend {
public:
    virtual ~WaveOutBackend() = default;

    virtual std::uint32_t DeviceCount() = 0;
    // The whole description of device `index` (< DeviceCount()), as the host
    // gives it; the list cuts it for showing.
    virtual std::string DeviceName(std::uint32_t index) = 0;
    // The host's own name for device `index`, the same from run to run (a
    // sink name, a full ALSA or JACK device name), which tells apart devices
    // whose descriptions look alike. By default the description.
    virtual std::string DeviceId(std::uint32_t index) { return DeviceName(index); }
    // Opens device `index` (kDefaultWaveDevice: the default device) for the
    // format, stopped (see HostStream::Start). The stream may call
    // `wakeup->Wake()` whenever the host has played something, has room the
    // player waited for, or failed, so that the player notices at once; the
    // player also looks on its own when the head buffer is due by
    // PlayedBytes, and at least every 100 ms.
    virtual DeviceResult Open(std::uint32_t index, const WaveFormat& format,
                              const StreamOptions& options, std::shared_ptr<QueueWakeup> wakeup,
                              std::unique_ptr<HostStream>& stream) = 0;
    // The message for a code returned by this back-end (at most 256 characters).
    virtual std::string ErrorText(std::uint32_t code) = 0;

    // A back-end whose devices come and go while the program runs calls
    // `changed` (on any thread, never while the caller's lock is needed)
    // whenever DeviceCount or DeviceName may answer differently. Null stops
    // the calls; after WatchDevices(nullptr) returns, none is running or
    // will come. The default list never changes.
    virtual void WatchDevices(std::function<void()> changed) { (void)changed; }
};

// Cuts a device name to kMaxDeviceNameLength bytes without splitting a UTF-8
// character.
std::string CutDeviceName(const std::string& name);

}  // namespace skarnel
