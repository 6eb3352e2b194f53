#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace skarnel {

// Holds the lock of a threaded mainloop for a scope. Never taken on the
// mainloop's own thread: its callbacks already run with the lock held.
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
        pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

// One output of the sound server as the list shows it.
struct PulseSink {
    std::uint32_t index = 0;  // the server's; the list is kept in this order
    std::string name;         // what a stream connects to
    std::string description;  // what the user sees
};

// The connection to the sound server that a back-end and its streams share:
// a threaded mainloop, the context on it, and the server's sink list.
//
// The context connects without spawning a server. When it fails (or a server
// does not answer within a few seconds) a mainloop timer starts a new context
// half a second later, for as long as the connection lives, so a server that
// comes back is found again; nothing of that runs on the caller's thread.
// While no server answers, the last known sink list stays.
//
// The sink list is kept current through the server's sink and server events.
// It has a mutex of its own, never held while the mainloop lock is taken, so
// SinkCount and friends do not wait for the mainloop and may be called from
// the watcher. Streams use the mainloop lock for their own state.
class PulseConnection {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the mainloop and the first connection attempt.
    PulseConnection();
    // Stops the mainloop; the streams made on it (which hold it) are gone.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Waits until the first attempt has an answer (the server is ready and
    // its sinks are listed, or it failed) or the deadline passes.
    void AwaitFirstAnswer(Clock::time_point deadline);

    // A server is connected now.
    bool Connected() const noexcept { return connected_.load(); }

    std::uint32_t SinkCount() const;
    // The description of sink `index`, or nothing past the end.
    std::optional<std::string> SinkDescription(std::uint32_t index) const;
    // The name a stream connects to for sink `index`, or nothing past the end.
    std::optional<std::string> SinkName(std::uint32_t index) const;

    // Sets the function called (on the mainloop thread, outside the list
    // mutex) when the sink descriptions change. After a call with null
    // returns, no call runs or comes, except the one that made that call.
    void Watch(std::function<void()> changed);

    // With the mainloop lock: `changed` is called (on the mainloop thread)
    // after every change of a stream or a sink on the server (a volume, a
    // mute, a move), until RemoveMixerWatcher with the number returned.
    std::uint64_t AddMixerWatcher(std::function<void()> changed);
    void RemoveMixerWatcher(std::uint64_t id);

    pa_threaded_mainloop* Mainloop() const noexcept { return mainloop_; }
    // With the mainloop lock: the context when it is ready, else null.
    pa_context* ReadyContext() const noexcept;
    // With the mainloop lock: the code for an open while no server is
    // connected (the loss of the last one, or why the last attempt failed).
    std::uint32_t UnavailableCode() const noexcept;

    // With the mainloop lock, from any callback: something a waiter may be
    // looking for has changed.
    void Changed();
    // Without the mainloop lock, never on the mainloop thread: waits until
    // `done` (evaluated with the mainloop lock) holds or the deadline
    // passes; returns its last value. Bounded by the deadline alone, so a
    // mainloop that never calls Changed cannot hold the caller up longer.
    bool WaitUntil(const std::function<bool()>& done, Clock::time_point deadline);

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnSubscription(pa_context* context, pa_subscription_event_type_t event,
                               std::uint32_t index, void* self);
    static void OnSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* self);
    static void OnTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                        void* self);

    // All with the mainloop lock.
    void StartAttempt();
    void DropContext();
    void ConnectionDown(int error);
    void ArmTimer(pa_usec_t delay);
    void DisarmTimer();
    void ListSinks();
    void PublishSinks();
    void CallWatcher();

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_proplist* properties_ = nullptr;

    // Mainloop lock.
    pa_context* context_ = nullptr;
    pa_time_event* timer_ = nullptr;  // connect timeout while connecting, else retry
    pa_operation* listing_ = nullptr;
    bool listAgain_ = false;  // sinks changed while a listing was running
    std::vector<PulseSink> building_;
    bool answered_ = false;  // the first attempt has an answer
    bool lost_ = false;      // a ready server went away and none has answered since
    int lossError_ = 0;
    int attemptError_ = PA_ERR_TIMEOUT;
    bool shuttingDown_ = false;
    std::atomic<bool> connected_{false};
    std::vector<std::pair<std::uint64_t, std::function<void()>>> mixerWatchers_;  // mainloop lock
    std::uint64_t nextMixerWatcher_ = 1;

    mutable std::mutex listMutex_;
    std::vector<PulseSink> sinks_;

    std::mutex watchMutex_;
    std::condition_variable watchIdle_;
    std::function<void()> watcher_;
    bool watcherRunning_ = false;
    std::thread::id watcherThread_;
    std::optional<std::function<void()>> watcherReplacement_;

    std::mutex changeMutex_;
    std::condition_variable changeSignal_;
    std::uint64_t changes_ = 0;
};

}  // namespace skarnel
