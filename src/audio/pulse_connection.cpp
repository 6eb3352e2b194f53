#include "audio/pulse_connection.h"

#include <algorithm>

#include "audio/pulse_backend.h"

namespace skarnel {

namespace {

// How long a server may take to answer a connection attempt before the
// attempt counts as failed.
constexpr pa_usec_t kConnectTimeout = 5 * PA_USEC_PER_SEC;
// The pause between a failed attempt and the next: a server that is gone
// costs one connect call twice a second, never a busy loop.
constexpr pa_usec_t kRetryDelay = 500 * PA_USEC_PER_MSEC;

bool SameDevices(const std::vector<PulseSink>& a, const std::vector<PulseSink>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const PulseSink& x, const PulseSink& y) {
                          return x.name == y.name && x.description == y.description;
                      });
}

}  // namespace

PulseConnection::PulseConnection() {
    properties_ = pa_proplist_new();
    pa_proplist_sets(properties_, PA_PROP_APPLICATION_NAME, PulseBackend::kApplicationName);
    pa_proplist_sets(properties_, PA_PROP_APPLICATION_ICON_NAME, PulseBackend::kIconName);
    pa_proplist_sets(properties_, PA_PROP_APPLICATION_ID, PulseBackend::kIconName);
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        attemptError_ = PA_ERR_INTERNAL;  // never connected; every open says so
        answered_ = true;
        return;
    }
    pa_threaded_mainloop_set_name(mainloop_, "skarnel-pulse");
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        attemptError_ = PA_ERR_INTERNAL;
        answered_ = true;
        return;
    }
    MainloopLock lock(mainloop_);
    StartAttempt();
}

PulseConnection::~PulseConnection() {
    if (mainloop_ != nullptr) {
        {
            MainloopLock lock(mainloop_);
            shuttingDown_ = true;
            if (timer_ != nullptr) {
                pa_threaded_mainloop_get_api(mainloop_)->time_free(timer_);
                timer_ = nullptr;
            }
            DropContext();
        }
        pa_threaded_mainloop_stop(mainloop_);
        pa_threaded_mainloop_free(mainloop_);
    }
    pa_proplist_free(properties_);
}

void PulseConnection::AwaitFirstAnswer(Clock::time_point deadline) {
    if (mainloop_ != nullptr) {
        WaitUntil([this] { return answered_; }, deadline);
    }
}

std::uint32_t PulseConnection::SinkCount() const {
    std::lock_guard<std::mutex> lock(listMutex_);
    return static_cast<std::uint32_t>(sinks_.size());
}

std::optional<std::string> PulseConnection::SinkDescription(std::uint32_t index) const {
    std::lock_guard<std::mutex> lock(listMutex_);
    if (index >= sinks_.size()) {
        return std::nullopt;
    }
    return sinks_[index].description;
}

std::optional<std::string> PulseConnection::SinkName(std::uint32_t index) const {
    std::lock_guard<std::mutex> lock(listMutex_);
    if (index >= sinks_.size()) {
        return std::nullopt;
    }
    return sinks_[index].name;
}

void PulseConnection::Watch(std::function<void()> changed) {
    std::unique_lock<std::mutex> lock(watchMutex_);
    if (watcherRunning_ && watcherThread_ == std::this_thread::get_id()) {
        // From inside the watcher: it is replaced once it has returned.
        watcherReplacement_ = std::move(changed);
        return;
    }
    watchIdle_.wait(lock, [this] { return !watcherRunning_; });
    watcher_ = std::move(changed);
}

pa_context* PulseConnection::ReadyContext() const noexcept {
    return connected_.load() ? context_ : nullptr;
}

std::uint32_t PulseConnection::UnavailableCode() const noexcept {
    return lost_ ? PulseBackend::CodeFor(PulseFailure::kConnectionLost, lossError_)
                 : PulseBackend::CodeFor(PulseFailure::kConnectFailed, attemptError_);
}

void PulseConnection::Changed() {
    {
        std::lock_guard<std::mutex> lock(changeMutex_);
        ++changes_;
    }
    changeSignal_.notify_all();
}

bool PulseConnection::WaitUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    for (;;) {
        std::uint64_t seen = 0;
        {
            MainloopLock lock(mainloop_);
            if (done()) {
                return true;
            }
            // Read under the mainloop lock: a change after the check above
            // counts up after this read, so the wait below cannot miss it.
            std::lock_guard<std::mutex> changeLock(changeMutex_);
            seen = changes_;
        }
        std::unique_lock<std::mutex> lock(changeMutex_);
        if (!changeSignal_.wait_until(lock, deadline, [&] { return changes_ != seen; })) {
            lock.unlock();
            MainloopLock mainloopLock(mainloop_);
            return done();
        }
    }
}

// ---------------------------------------------------------------- connection attempts

void PulseConnection::StartAttempt() {
    DropContext();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    context_ = pa_context_new_with_proplist(api, PulseBackend::kApplicationName, properties_);
    if (context_ == nullptr) {
        ConnectionDown(PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(context_, &OnContextState, this);
    pa_context_set_subscribe_callback(context_, &OnSubscription, this);
    ArmTimer(kConnectTimeout);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        ConnectionDown(pa_context_errno(context_));
    }
}

void PulseConnection::DropContext() {
    if (listing_ != nullptr) {
        pa_operation_cancel(listing_);
        pa_operation_unref(listing_);
        listing_ = nullptr;
    }
    listAgain_ = false;
    building_.clear();
    if (context_ != nullptr) {
        // Streams of this context keep it alive until their owners let go.
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    connected_ = false;
}

void PulseConnection::ConnectionDown(int error) {
    if (connected_.load()) {
        lost_ = true;
        lossError_ = error;
    }
    connected_ = false;
    attemptError_ = error;
    answered_ = true;
    ArmTimer(kRetryDelay);
    Changed();
}

void PulseConnection::ArmTimer(pa_usec_t delay) {
    if (shuttingDown_) {
        return;
    }
    if (context_ != nullptr) {
        // The monotonic clock: a clock change cannot stall the retries.
        const pa_usec_t at = pa_rtclock_now() + delay;
        if (timer_ == nullptr) {
            timer_ = pa_context_rttime_new(context_, at, &OnTimer, this);
        } else {
            pa_context_rttime_restart(context_, timer_, at);
        }
        return;
    }
    // No context could be made (memory is short): the wall clock will do.
    struct timeval when {};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, delay);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    if (timer_ == nullptr) {
        timer_ = api->time_new(api, &when, &OnTimer, this);
    } else {
        api->time_restart(timer_, &when);
    }
}

void PulseConnection::DisarmTimer() {
    if (timer_ != nullptr) {
        pa_threaded_mainloop_get_api(mainloop_)->time_restart(timer_, nullptr);
    }
}

void PulseConnection::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (!connection->shuttingDown_) {
        connection->StartAttempt();  // the last one failed or never answered
    }
}

void PulseConnection::OnContextState(pa_context* context, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            connection->DisarmTimer();
            connection->connected_ = true;
            connection->lost_ = false;
            const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK |
                                                                  PA_SUBSCRIPTION_MASK_SERVER |
                                                                  PA_SUBSCRIPTION_MASK_SINK_INPUT);
            if (pa_operation* subscribed = pa_context_subscribe(context, mask, nullptr, nullptr)) {
                pa_operation_unref(subscribed);
            }
            connection->ListSinks();
            connection->Changed();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // The context is dropped by the next attempt, not inside its own
            // callback.
            connection->ConnectionDown(pa_context_errno(context));
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- the sink list

void PulseConnection::OnSubscription(pa_context*, pa_subscription_event_type_t event, std::uint32_t,
                                     void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        connection->ListSinks();
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK || facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        // A watcher may remove itself (or none) while it runs: a copy.
        const auto watchers = connection->mixerWatchers_;
        for (const auto& [id, changed] : watchers) {
            changed();
        }
    }
}

std::uint64_t PulseConnection::AddMixerWatcher(std::function<void()> changed) {
    const std::uint64_t id = nextMixerWatcher_++;
    mixerWatchers_.emplace_back(id, std::move(changed));
    return id;
}

void PulseConnection::RemoveMixerWatcher(std::uint64_t id) {
    std::erase_if(mixerWatchers_, [id](const auto& watcher) { return watcher.first == id; });
}

void PulseConnection::ListSinks() {
    if (listing_ != nullptr) {
        listAgain_ = true;  // this listing may have missed the change
        return;
    }
    building_.clear();
    listing_ = pa_context_get_sink_info_list(context_, &OnSinkInfo, this);
}

void PulseConnection::OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    if (eol == 0 && info != nullptr) {
        const char* name = info->name != nullptr ? info->name : "";
        const char* description = info->description != nullptr ? info->description : name;
        connection->building_.push_back({info->index, name, description});
        return;
    }
    pa_operation_unref(connection->listing_);
    connection->listing_ = nullptr;
    if (eol > 0) {
        connection->PublishSinks();
    } else {
        connection->building_.clear();  // refused; the next event lists again
    }
    if (connection->listAgain_) {
        connection->listAgain_ = false;
        connection->ListSinks();
    }
}

void PulseConnection::PublishSinks() {
    std::sort(building_.begin(), building_.end(),
              [](const PulseSink& a, const PulseSink& b) { return a.index < b.index; });
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(listMutex_);
        changed = !SameDevices(sinks_, building_);
        sinks_.swap(building_);
    }
    building_.clear();
    answered_ = true;
    Changed();
    if (changed) {
        CallWatcher();
    }
}

void PulseConnection::CallWatcher() {
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        if (!watcher_) {
            return;
        }
        watcherRunning_ = true;
        watcherThread_ = std::this_thread::get_id();
    }
    // Outside both the list and the watch mutex: the watcher may read the
    // list, and Watch waits for it to return.
    watcher_();
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        watcherRunning_ = false;
        if (watcherReplacement_) {
            watcher_ = std::move(*watcherReplacement_);
            watcherReplacement_.reset();
        }
    }
    watchIdle_.notify_all();
}

}  // namespace skarnel
