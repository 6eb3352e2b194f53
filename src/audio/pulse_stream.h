#pragma once

#include <pulse/pulseaudio.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/pulse_connection.h"
#include "audio/wave_out_backend.h"

namespace skarnel {

// One playback stream on the sound server.
//
// The stream opens corked and is uncorked by Start. Write hands the bytes to
// libpulse, which copies them; the server's buffer (tlength) takes the
// player's buffers together, so the player never waits for room it should
// have. PlayedBytes is the server's own account of what has been heard:
// from its last timing report, what the sink had taken (the read index) less
// what the sink still had to play of it (its latency), plus the time since
// the report while the stream plays, mapped onto the bytes written here. A
// flush moves the server's write index back to its read index; the mapping
// then follows from the first timing report after it.
//
// State is guarded by the mainloop lock, which the player's calls take
// briefly. The callbacks (on the mainloop thread) only note the time of a
// timing report or a run dry, record a failure, and wake the player: they neither
// allocate nor wait. The destructor clears them under the lock, so none runs
// after it.
class PulseStream final : public HostStream {
public:
    PulseStream(std::shared_ptr<PulseConnection> connection, const WaveFormat& format,
                std::shared_ptr<QueueWakeup> wakeup);
    ~PulseStream() override;
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Creates the stream on `sink` (null: the default sink, followed when it
    // changes) and waits, bounded, until the server has it ready. Called
    // once, without the mainloop lock.
    DeviceResult Connect(const char* sink, const StreamOptions& options);

    DeviceResult Start() override;
    std::size_t Writable() override;
    DeviceResult Write(const std::uint8_t* data, std::size_t bytes) override;
    std::uint64_t PlayedBytes() override;
    DeviceResult SetPaused(bool paused) override;
    DeviceResult Flush() override;
    DeviceResult Failure() override;
    // From the server's stream and sink events: the stream's volume and
    // mute and its sink's mute, asked for afresh at every such event.
    void WatchMixer(std::function<void(const MixerLevel&)> changed) override;

private:
    static void OnState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void OnTiming(pa_stream* stream, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);
    static void OnInputInfo(pa_context* context, const pa_sink_input_info* info, int eol,
                            void* self);
    static void OnSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);

    // All with the mainloop lock.
    bool Playing() const noexcept;  // a stream that takes data and commands
    void Cork(bool cork) noexcept;
    void Trigger() noexcept;
    // Brings played_ up to what the server reports as heard.
    void UpdatePlayed() noexcept;
    // The server's index of the byte heard at `now`, from its last report.
    std::int64_t HeardIndex(const pa_timing_info& timing, pa_usec_t now) const noexcept;
    void ReleaseStream() noexcept;
    void QueryMixer() noexcept;
    void StopWatchingMixer() noexcept;
    DeviceResult OpenFailure() const noexcept;
    pa_buffer_attr BufferAttributes(const StreamOptions& options) const noexcept;

    const std::shared_ptr<PulseConnection> connection_;
    pa_threaded_mainloop* const mainloop_;
    const WaveFormat format_;
    const pa_sample_spec sampleSpec_;
    const std::shared_ptr<QueueWakeup> wakeup_;

    // Mainloop lock.
    pa_stream* stream_ = nullptr;
    bool ready_ = false;    // the stream has been ready
    bool started_ = false;  // Start (or a flush) has let it play
    bool paused_ = false;
    std::uint32_t lostCode_ = 0;  // the server ended the stream: writes fail with this
    std::uint64_t written_ = 0;   // bytes written since the open
    std::uint64_t played_ = 0;    // the last answer of PlayedBytes
    // written_ less the server's write index: 0 until a flush moves that
    // index back. Unknown from a flush until a timing report after it.
    std::int64_t indexOffset_ = 0;
    bool offsetKnown_ = true;
    pa_usec_t timingAt_ = 0;         // when the last timing report came (pa_rtclock_now)
    pa_usec_t timingAskedAt_ = 0;    // when PlayedBytes last asked for one
    pa_usec_t watchedSince_ = 0;     // when it last started playing (start, resume, flush)
    std::uint32_t prebufBytes_ = 0;  // what the server waits for before it plays
    bool ranDry_ = false;            // the server said the stream ran dry
    bool wantsRoom_ = false;         // Writable() found no room

    // The mixer's level (mainloop lock): the stream's part is asked first,
    // then its sink's mute.
    std::function<void(const MixerLevel&)> mixerChanged_;
    std::uint64_t mixerWatcher_ = 0;
    pa_operation* inputQuery_ = nullptr;
    pa_operation* sinkQuery_ = nullptr;
    bool queryAgain_ = false;  // an event came while a query ran
    MixerLevel asked_;         // the stream's part of the query that runs
    std::uint32_t askedSink_ = PA_INVALID_INDEX;
    bool sinkMuted_ = false;
    bool mixerKnown_ = false;
    MixerLevel mixer_;  // the last level reported
};

}  // namespace skarnel
