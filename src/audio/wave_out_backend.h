#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/device_notifications.h"
#include "audio/device_result.h"
#include "audio/wave_format.h"

namespace skarnel {

// Device index that selects the system's default output device.
inline constexpr std::uint32_t kDefaultWaveDevice = 0xFFFFFFFFu;
// Device names are cut to this many characters.
inline constexpr std::size_t kMaxDeviceNameLength = 32;

// What a player asks of a stream besides its format.
struct StreamOptions {
    // Shown by sound servers and mixers to tell streams apart.
    std::string name;
    // The buffers the player keeps queued (count x bytes): a back-end with a
    // buffer of its own sizes it from these, so larger settings give more
    // protection against dropouts.
    std::uint32_t bufferBytes = 8192;
    std::uint32_t bufferCount = 4;
};

// One open output device. All operations are called on the owner's thread.
//
// The device plays the buffers written to it in order. For every written
// buffer it posts exactly one kBufferDone notification, when the buffer has
// been played or when Reset returned it, and clears kHeaderInQueue in its
// flags before posting. It never touches a header after posting its done
// notification.
//
// A device whose host fails while it is open (a sound server that went away)
// returns every queued buffer as done, as Reset does, and from then on
// refuses Write with a code whose text says what happened; Close still
// succeeds. The player thus ends playback the way it does after any failed
// write.
class WaveOutDevice {
public:
    // Destroying a device that has not closed drops what it holds and posts
    // nothing more; the component does this with a device that hangs. It
    // must not wait without a limit for a host that stopped taking samples.
    virtual ~WaveOutDevice() = default;

    // Registers a header and its buffer with the device.
    virtual DeviceResult PrepareHeader(WaveHeader& header) = 0;
    // Unregisters it; fails with kWaveStillPlaying while the device holds it.
    virtual DeviceResult UnprepareHeader(WaveHeader& header) = 0;
    // Appends a prepared buffer to the play queue (bufferLength bytes).
    virtual DeviceResult Write(WaveHeader& header) = 0;
    // Halts output in place, keeping the queue; no notification while paused.
    virtual DeviceResult Pause() = 0;
    // Resumes after Pause.
    virtual DeviceResult Restart() = 0;
    // Stops output and returns every queued buffer as done, at once and in
    // queue order, without waiting for the host. Leaves the device open and
    // not paused.
    virtual DeviceResult Reset() = 0;
    // Closes the device and posts kClosed. Fails with kWaveStillPlaying, and
    // stays open, while buffers are queued. After a successful close the
    // device makes no further calls and posts nothing more; the object may
    // then be destroyed.
    virtual DeviceResult Close() = 0;
};

// A family of output devices: the operations of one audio system. Adding a
// back-end means implementing this and WaveOutDevice (see README.md here).
class WaveOutBackend {
public:
    virtual ~WaveOutBackend() = default;

    virtual std::uint32_t DeviceCount() = 0;
    // Name of device `index` (< DeviceCount()), at most 32 characters.
    virtual std::string DeviceName(std::uint32_t index) = 0;
    // Opens device `index` (kDefaultWaveDevice: the default device) for the
    // format; on success stores the device and posts kOpened to `target`.
    virtual DeviceResult Open(std::uint32_t index, const WaveFormat& format,
                              const StreamOptions& options, const NotificationTarget& target,
                              std::unique_ptr<WaveOutDevice>& device) = 0;
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
