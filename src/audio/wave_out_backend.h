#pragma once

#include <cstdint>
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

// One open output device. All operations are called on the owner's thread.
//
// The device plays the buffers written to it in order. For every written
// buffer it posts exactly one kBufferDone notification, when the buffer has
// been played or when Reset returned it, and clears kHeaderInQueue in its
// flags before posting. It never touches a header after posting its done
// notification.
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
                              const NotificationTarget& target,
                              std::unique_ptr<WaveOutDevice>& device) = 0;
    // The message for a code returned by this back-end (at most 256 characters).
    virtual std::string ErrorText(std::uint32_t code) = 0;
};

// Cuts a device name to kMaxDeviceNameLength bytes without splitting a UTF-8
// character.
std::string CutDeviceName(const std::string& name);

}  // namespace skarnel
