#pragma once

#include <pulse/pulseaudio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/pulse_connection.h"
#include "audio/wave_out_backend.h"

namespace skarnel {

// One playback stream on the sound server.
//
// Write queues a header; whenever the server asks for data (the stream's
// write callback, on the mainloop thread) the device copies as many queued
// bytes as it asks for into the stream, never more, and posts kBufferDone
// for each buffer handed over completely. All state is guarded by the
// mainloop lock, which the owner's operations take briefly, so a Pause or
// Reset is never overtaken by a notification. The callbacks neither
// allocate nor wait.
class PulseDevice final : public WaveOutDevice {
public:
    PulseDevice(std::shared_ptr<PulseConnection> connection, const WaveFormat& format,
                const NotificationTarget& target);
    ~PulseDevice() override;
    PulseDevice(const PulseDevice&) = delete;
    PulseDevice& operator=(const PulseDevice&) = delete;

    // Creates the stream on `sink` (null: the default sink, followed when it
    // changes) and waits, bounded, until the server has it ready. Called
    // once, without the mainloop lock.
    DeviceResult Connect(const char* sink, const StreamOptions& options);

    DeviceResult PrepareHeader(WaveHeader& header) override;
    DeviceResult UnprepareHeader(WaveHeader& header) override;
    DeviceResult Write(WaveHeader& header) override;
    DeviceResult Pause() override;
    DeviceResult Restart() override;
    DeviceResult Reset() override;
    DeviceResult Close() override;

private:
    static constexpr std::size_t kQueueCapacity = 8;

    static void OnState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);

    // All with the mainloop lock.
    DeviceResult MarkPrepared(WaveHeader& header, bool prepared);
    bool Holds(const WaveHeader& header) const noexcept;
    bool Playing() const noexcept;  // a stream that takes data and commands
    void Feed() noexcept;
    void ReturnAll() noexcept;
    void Cork(bool cork) noexcept;
    void ReleaseStream() noexcept;
    DeviceResult OpenFailure() const noexcept;
    pa_buffer_attr BufferAttributes(const StreamOptions& options) const noexcept;

    const std::shared_ptr<PulseConnection> connection_;
    pa_threaded_mainloop* const mainloop_;
    const WaveFormat format_;
    const NotificationTarget target_;

    // Mainloop lock.
    pa_stream* stream_ = nullptr;
    pa_operation* drain_ = nullptr;
    std::array<WaveHeader*, kQueueCapacity> queue_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::uint32_t headOffset_ = 0;  // bytes of the head buffer handed over
    bool ready_ = false;            // the stream has been ready
    bool paused_ = false;
    bool closed_ = false;
    bool drained_ = false;
    std::uint32_t lostCode_ = 0;  // the server ended the stream: writes fail with this
};

}  // namespace skarnel
