#include "audio/pulse_stream.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "audio/pulse_backend.h"

namespace skarnel {

namespace {

using Clock = PulseConnection::Clock;

// How long an open waits for the server to set the stream up.
constexpr auto kReadyTimeout = std::chrono::seconds(2);
// How old the server's last timing report may be before PlayedBytes asks
// for a new one. Between reports the position runs on with the clock, which
// the sink follows to a few parts per million; a report mends what the clock
// cannot know (a stream that ran dry, a sink of another latency). libpulse
// asks for reports of its own after a cork, a trigger or a flush, when the
// old one no longer holds. Each report is a round trip to the server and a
// wake-up of two threads, so they are kept few.
constexpr pa_usec_t kTimingInterval = 200 * PA_USEC_PER_MSEC;
// A stream that plays and has had no timing report for this long is on a
// server that no longer answers.
constexpr pa_usec_t kSilentServerLimit = 2 * PA_USEC_PER_SEC;
// The role the stream announces (see PulseBackend).
constexpr const char* kMediaRole = "production";
// The property PulseAudio's module-stream-restore takes as a stream's key.
constexpr const char* kStreamRestoreId = "module-stream-restore.id";

pa_sample_format_t SampleFormat(std::uint16_t bitsPerSample) {
    switch (bitsPerSample) {
        case 8:
            return PA_SAMPLE_U8;
        case 16:
            return PA_SAMPLE_S16LE;
        case 24:
            return PA_SAMPLE_S24LE;  // packed three-byte samples
        default:
            return PA_SAMPLE_INVALID;
    }
}

// A stream let go before the server has set it up cannot be disconnected
// yet; it stays listed by its context and is ended once it is ready.
void DisconnectWhenReady(pa_stream* stream, void*) {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
        pa_stream_disconnect(stream);
    }
}

// Ends an operation whose completion nobody waits for.
void Forget(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

}  // namespace

PulseStream::PulseStream(std::shared_ptr<PulseConnection> connection, const WaveFormat& format,
                         std::shared_ptr<QueueWakeup> wakeup)
    : connection_(std::move(connection)),
      mainloop_(connection_->Mainloop()),
      format_(format),
      sampleSpec_{SampleFormat(format.bitsPerSample), format.samplesPerSec,
                  static_cast<std::uint8_t>(format.channels)},
      wakeup_(std::move(wakeup)) {}

PulseStream::~PulseStream() {
    // Disconnecting drops what the server holds without draining it; the
    // player has already waited for what it wanted played.
    if (stream_ != nullptr) {
        MainloopLock lock(mainloop_);
        ReleaseStream();
    }
}

DeviceResult PulseStream::Connect(const char* sink, const StreamOptions& options) {
    {
        MainloopLock lock(mainloop_);
        pa_context* context = connection_->ReadyContext();
        if (context == nullptr) {
            return static_cast<DeviceResult>(connection_->UnavailableCode());
        }
        // The server takes UTF-8 only; a name it would refuse is not worth a failed open.
        const bool named = !options.name.empty() && pa_utf8_valid(options.name.c_str()) != nullptr;
        const char* mediaName = named ? options.name.c_str() : PulseBackend::kApplicationName;
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, mediaName);
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, PulseBackend::kApplicationName);
        pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, PulseBackend::kIconName);
        if (!options.identity.empty() && pa_utf8_valid(options.identity.c_str()) != nullptr) {
            const std::string key = std::string(PulseBackend::kIconName) + "." + options.identity;
            pa_proplist_sets(properties, kStreamRestoreId, key.c_str());
            pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, key.c_str());
        } else {
            pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, kMediaRole);
        }
        stream_ =
            pa_stream_new_with_proplist(context, mediaName, &sampleSpec_, nullptr, properties);
        pa_proplist_free(properties);
        if (stream_ == nullptr) {
            return static_cast<DeviceResult>(
                PulseBackend::CodeFor(PulseFailure::kStreamRefused, pa_context_errno(context)));
        }
        pa_stream_set_state_callback(stream_, &OnState, this);
        pa_stream_set_write_callback(stream_, &OnWritable, this);
        pa_stream_set_latency_update_callback(stream_, &OnTiming, this);
        pa_stream_set_underflow_callback(stream_, &OnUnderflow, this);
        const pa_buffer_attr attributes = BufferAttributes(options);
        // Corked until Start, so the first buffers go out together. The
        // timing reports are what PlayedBytes is made of; libpulse asks for
        // them itself at a cork, a trigger or when the stream runs dry.
        // libpulse's interpolated time (PA_STREAM_INTERPOLATE_TIMING) is not
        // used: it runs from the uncork on, before the sink has taken a
        // byte, and a short sound would count as played before it was.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(stream_, sink, &attributes, flags, nullptr, nullptr) < 0) {
            const DeviceResult failure = OpenFailure();
            ReleaseStream();
            return failure;
        }
    }
    connection_->WaitUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                           Clock::now() + kReadyTimeout);
    MainloopLock lock(mainloop_);
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) {
        // What the server waits for before it plays on its own, as it granted it.
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_)) {
            prebufBytes_ = granted->prebuf;
        }
        return kDeviceOk;
    }
    // Still being created: the server has not answered at all (hung, or
    // stopped), which is said as during playback.
    const DeviceResult failure = state == PA_STREAM_CREATING
                                     ? static_cast<DeviceResult>(PulseBackend::CodeFor(
                                           PulseFailure::kServerSilent, PA_ERR_TIMEOUT))
                                     : OpenFailure();
    ReleaseStream();
    return failure;
}

pa_buffer_attr PulseStream::BufferAttributes(const StreamOptions& options) const noexcept {
    constexpr std::uint32_t kServerDefault = std::numeric_limits<std::uint32_t>::max();
    pa_buffer_attr attributes{};
    attributes.maxlength = kServerDefault;
    attributes.prebuf = kServerDefault;
    attributes.fragsize = kServerDefault;
    attributes.tlength = kServerDefault;
    attributes.minreq = kServerDefault;
    const std::uint64_t total =
        static_cast<std::uint64_t>(options.bufferBytes) * options.bufferCount;
    if (total > 0) {
        // Room for all of the player's buffers at once, and no more: the
        // player keeps what it made until the server has played it, so the
        // server never holds more than the player's buffers. Without
        // PA_STREAM_ADJUST_LATENCY the sink's own latency comes out of this
        // amount too, since PlayedBytes counts a byte only once it left the
        // sink.
        attributes.tlength = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(total, std::numeric_limits<std::int32_t>::max()));
        // Asking for one of its buffers at a time matches how the player refills.
        attributes.minreq = std::min(options.bufferBytes, attributes.tlength);
        // Some prebuffering must stay: with none, the server lets its read
        // index run past what was written when the stream runs dry and drops
        // what comes late. Every write triggers playback anyway (see
        // Trigger), so it never holds a buffer back.
        attributes.prebuf = attributes.minreq;
    }
    return attributes;
}

DeviceResult PulseStream::OpenFailure() const noexcept {
    // A failed stream has let go of its context; the reason is the
    // context's, or the connection's when the server went away meanwhile.
    pa_context* context = connection_->ReadyContext();
    if (context == nullptr) {
        return static_cast<DeviceResult>(connection_->UnavailableCode());
    }
    const int error = pa_context_errno(context);
    switch (error) {
        case PA_ERR_NOENTITY:
            return kDeviceBadId;  // the sink went away since the list was read
        case PA_ERR_NOTSUPPORTED:
            return kWaveBadFormat;
        default:
            return static_cast<DeviceResult>(
                PulseBackend::CodeFor(PulseFailure::kStreamRefused, error));
    }
}

// ---------------------------------------------------------------- the player's calls

DeviceResult PulseStream::Start() {
    MainloopLock lock(mainloop_);
    if (lostCode_ != 0) {
        return static_cast<DeviceResult>(lostCode_);
    }
    started_ = true;
    watchedSince_ = pa_rtclock_now();
    if (!paused_ && Playing()) {
        Cork(false);
        Trigger();
    }
    return kDeviceOk;
}

std::size_t PulseStream::Writable() {
    MainloopLock lock(mainloop_);
    if (!Playing()) {
        return 0;
    }
    std::size_t room = pa_stream_writable_size(stream_);
    if (room == static_cast<std::size_t>(-1)) {
        room = 0;
    }
    room -= room % format_.blockAlign;
    // The player waits for room only when it found none: then, and only
    // then, the server's next request wakes it.
    wantsRoom_ = room == 0;
    return room;
}

DeviceResult PulseStream::Write(const std::uint8_t* data, std::size_t bytes) {
    MainloopLock lock(mainloop_);
    if (lostCode_ != 0) {
        return static_cast<DeviceResult>(lostCode_);
    }
    if (!Playing()) {
        return kDeviceInvalidHandle;
    }
    if (bytes == 0) {
        return kDeviceOk;
    }
    if (data == nullptr || bytes % format_.blockAlign != 0) {
        return kDeviceInvalidParameter;
    }
    // Without a free function libpulse copies the bytes.
    if (pa_stream_write(stream_, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        return static_cast<DeviceResult>(PulseBackend::CodeFor(
            PulseFailure::kStreamEnded, pa_context_errno(pa_stream_get_context(stream_))));
    }
    written_ += bytes;
    // A stream that plays takes the bytes on; one that ran dry waits for
    // prebuf bytes, which a whole buffer brings. A trigger on every write
    // would cost a round trip, and libpulse follows each with timing
    // reports of its own.
    if (started_ && !paused_ && (ranDry_ || bytes < prebufBytes_)) {
        Trigger();
    }
    return kDeviceOk;
}

std::uint64_t PulseStream::PlayedBytes() {
    MainloopLock lock(mainloop_);
    UpdatePlayed();
    return played_;
}

DeviceResult PulseStream::SetPaused(bool paused) {
    MainloopLock lock(mainloop_);
    if (lostCode_ != 0) {
        return static_cast<DeviceResult>(lostCode_);
    }
    if (paused == paused_) {
        return kDeviceOk;
    }
    if (paused) {
        UpdatePlayed();  // what was heard up to now; it stands still from here
        paused_ = true;
        if (started_ && Playing()) {
            Cork(true);
        }
    } else {
        paused_ = false;
        watchedSince_ = pa_rtclock_now();
        if (started_ && Playing()) {
            Cork(false);
            Trigger();
        }
    }
    return kDeviceOk;
}

DeviceResult PulseStream::Flush() {
    MainloopLock lock(mainloop_);
    // Nothing of a failed stream will play: dropping it is done already.
    if (lostCode_ == 0 && Playing()) {
        if (paused_ || !started_) {
            Cork(false);
        }
        // The server moves its write index back to its read index and
        // prebuffers again; the next write triggers it.
        Forget(pa_stream_flush(stream_, nullptr, nullptr));
        offsetKnown_ = false;
        ranDry_ = true;  // as after a run dry: it waits for prebuf bytes
    }
    started_ = true;
    paused_ = false;
    played_ = written_;
    watchedSince_ = pa_rtclock_now();
    return kDeviceOk;
}

DeviceResult PulseStream::Failure() {
    MainloopLock lock(mainloop_);
    // A server that stopped answering (stopped by a signal, hung) ends
    // nothing and sends nothing: no timing report comes any more, though one
    // is asked for several times a second while the stream plays.
    if (lostCode_ == 0 && started_ && !paused_ && Playing() &&
        pa_rtclock_now() - std::max(timingAt_, watchedSince_) > kSilentServerLimit) {
        lostCode_ = PulseBackend::CodeFor(PulseFailure::kServerSilent, PA_ERR_TIMEOUT);
    }
    return static_cast<DeviceResult>(lostCode_);
}

// ---------------------------------------------------------------- with the mainloop lock

bool PulseStream::Playing() const noexcept {
    return stream_ != nullptr && lostCode_ == 0 && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseStream::Cork(bool cork) noexcept {
    Forget(pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr));
}

void PulseStream::Trigger() noexcept {
    ranDry_ = false;
    // Ends prebuffering at once: what was written plays now, however little,
    // after a start, a flush or a stream that ran dry. The server ignores it
    // while the stream plays anyway.
    Forget(pa_stream_trigger(stream_, nullptr, nullptr));
}

void PulseStream::UpdatePlayed() noexcept {
    if (paused_ || !started_ || !Playing()) {
        return;
    }
    const pa_usec_t now = pa_rtclock_now();
    if (now - std::max(timingAt_, timingAskedAt_) > kTimingInterval) {
        // libpulse's own reports come at growing intervals while nothing
        // happens; a fresh one shows a stream that ran dry or started.
        Forget(pa_stream_update_timing_info(stream_, nullptr, nullptr));
        timingAskedAt_ = now;
    }
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (timing == nullptr || timing->read_index_corrupt) {
        return;  // no report yet: nothing is known to have played
    }
    if (!timing->write_index_corrupt) {
        indexOffset_ = static_cast<std::int64_t>(written_) - timing->write_index;
        offsetKnown_ = true;
    }
    if (!offsetKnown_) {
        return;  // flushed: played_ stays at the flush until the server's index is known
    }
    const std::int64_t position = HeardIndex(*timing, now) + indexOffset_;
    if (position > static_cast<std::int64_t>(played_)) {
        played_ = std::min(static_cast<std::uint64_t>(position), written_);
    }
}

std::int64_t PulseStream::HeardIndex(const pa_timing_info& timing, pa_usec_t now) const noexcept {
    // At the report the sink had taken everything before read_index, and the
    // last byte it took was to be heard sink_usec later. Since then the sink
    // has played on in real time. The report's time is taken as its arrival,
    // which is later than the server made it: the estimate errs on the side
    // of too little.
    const auto sinkBytes =
        static_cast<std::int64_t>(pa_usec_to_bytes(timing.sink_usec, &sampleSpec_));
    const auto sinceBytes = static_cast<std::int64_t>(
        pa_usec_to_bytes(now > timingAt_ ? now - timingAt_ : 0, &sampleSpec_));
    std::int64_t unheard = sinkBytes - sinceBytes;
    if (timing.playing == 0) {
        // Run dry: the sink has taken nothing of ours for since_underrun
        // bytes (silence after our last byte, which thus plays that much
        // sooner) and takes nothing more; what it took is heard at the most.
        const std::int64_t idle = std::max<std::int64_t>(timing.since_underrun, 0);
        unheard = std::max<std::int64_t>(unheard - idle, 0);
    }
    return std::max<std::int64_t>(timing.read_index - unheard, 0);
}

void PulseStream::ReleaseStream() noexcept {
    StopWatchingMixer();
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    if (pa_stream_get_state(stream_) == PA_STREAM_CREATING) {
        pa_stream_set_state_callback(stream_, &DisconnectWhenReady, nullptr);
    } else {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            pa_stream_disconnect(stream_);
        }
    }
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

// ---------------------------------------------------------------- mainloop callbacks

void PulseStream::OnState(pa_stream* stream, void* self) {
    auto* host = static_cast<PulseStream*>(self);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            host->ready_ = true;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            // After the stream was ready: a host failure. Nothing written
            // plays any more, and later writes fail.
            if (host->ready_ && host->lostCode_ == 0) {
                pa_context* context = pa_stream_get_context(stream);
                const bool serverGone = pa_context_get_state(context) != PA_CONTEXT_READY;
                int error = pa_context_errno(context);
                if (error == PA_OK) {
                    error = serverGone ? PA_ERR_CONNECTIONTERMINATED : PA_ERR_KILLED;
                }
                host->lostCode_ = PulseBackend::CodeFor(
                    serverGone ? PulseFailure::kConnectionLost : PulseFailure::kStreamEnded, error);
                host->wakeup_->Wake();
            }
            break;
        default:
            break;
    }
    host->connection_->Changed();
}

void PulseStream::OnWritable(pa_stream*, std::size_t, void* self) {
    // The server has taken something and asks for more. The player refills
    // when a buffer has been heard, which it times itself; it needs the
    // request only when it is waiting for room.
    auto* host = static_cast<PulseStream*>(self);
    if (host->wantsRoom_) {
        host->wantsRoom_ = false;
        host->wakeup_->Wake();
    }
}

void PulseStream::OnUnderflow(pa_stream*, void* self) {
    // Ran dry: the server waits for prebuf bytes before it plays again.
    static_cast<PulseStream*>(self)->ranDry_ = true;
}

void PulseStream::OnTiming(pa_stream*, void* self) {
    // The player times its looks by the position, which runs on between
    // reports: a report only corrects it, and wakes nobody.
    static_cast<PulseStream*>(self)->timingAt_ = pa_rtclock_now();
}

}  // namespace skarnel

namespace skarnel {

// ---------------------------------------------------------------- the mixer's level

void PulseStream::WatchMixer(std::function<void(const MixerLevel&)> changed) {
    MainloopLock lock(mainloop_);
    StopWatchingMixer();
    if (!changed || !Playing()) {
        return;
    }
    mixerChanged_ = std::move(changed);
    mixerKnown_ = false;
    mixerWatcher_ = connection_->AddMixerWatcher([this] { QueryMixer(); });
    QueryMixer();
}

void PulseStream::StopWatchingMixer() noexcept {
    if (mixerWatcher_ != 0) {
        connection_->RemoveMixerWatcher(mixerWatcher_);
        mixerWatcher_ = 0;
    }
    for (pa_operation** query : {&inputQuery_, &sinkQuery_}) {
        if (*query != nullptr) {
            pa_operation_cancel(*query);
            pa_operation_unref(*query);
            *query = nullptr;
        }
    }
    queryAgain_ = false;
    mixerChanged_ = nullptr;
}

void PulseStream::QueryMixer() noexcept {
    if (!mixerChanged_ || !Playing()) {
        return;
    }
    if (inputQuery_ != nullptr || sinkQuery_ != nullptr) {
        queryAgain_ = true;  // the running query may have missed this change
        return;
    }
    askedSink_ = PA_INVALID_INDEX;
    sinkMuted_ = false;
    inputQuery_ = pa_context_get_sink_input_info(pa_stream_get_context(stream_),
                                                 pa_stream_get_index(stream_), &OnInputInfo, this);
}

void PulseStream::OnInputInfo(pa_context* context, const pa_sink_input_info* info, int eol,
                              void* self) {
    auto* host = static_cast<PulseStream*>(self);
    if (eol == 0 && info != nullptr) {
        const pa_volume_t volume = pa_cvolume_max(&info->volume);
        // Full volume is exactly 0 dB; none at all is as good as muted.
        host->asked_.gainDb = volume == PA_VOLUME_NORM ? 0.0 : pa_sw_volume_to_dB(volume);
        host->asked_.muted = info->mute != 0 || volume == PA_VOLUME_MUTED;
        host->askedSink_ = info->sink;
        return;
    }
    pa_operation_unref(host->inputQuery_);
    host->inputQuery_ = nullptr;
    if (host->askedSink_ != PA_INVALID_INDEX) {
        host->sinkQuery_ =
            pa_context_get_sink_info_by_index(context, host->askedSink_, &OnSinkInfo, self);
    }
}

void PulseStream::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* host = static_cast<PulseStream*>(self);
    if (eol == 0 && info != nullptr) {
        host->sinkMuted_ = info->mute != 0;
        return;
    }
    pa_operation_unref(host->sinkQuery_);
    host->sinkQuery_ = nullptr;
    MixerLevel level = host->asked_;
    level.muted = level.muted || host->sinkMuted_;
    if (eol > 0 && (!host->mixerKnown_ || !(level == host->mixer_))) {
        host->mixerKnown_ = true;
        host->mixer_ = level;
        host->mixerChanged_(level);
    }
    if (host->queryAgain_) {
        host->queryAgain_ = false;
        host->QueryMixer();
    }
}

}  // namespace skarnel
