#include "io/temporary_files.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace skarnel::temporary_files {

namespace {

// A place holds a path while `state` is kHeld. A writer claims a free place,
// writes the path and only then marks it held; the handler reads held places
// only.
enum State : int { kFree, kWriting, kHeld };

struct Place {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};

constexpr int kPlaces = 8;  // an export or a render writes one file at a time
Place places[kPlaces];

void OnTerminationSignal(int signal) {
    RemoveAll();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

bool Remember(const char* path) noexcept {
    const std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) {
        return false;
    }
    for (Place& place : places) {
        int expected = kFree;
        if (place.state.compare_exchange_strong(expected, kWriting)) {
            std::memcpy(place.path, path, length + 1);
            place.state.store(kHeld, std::memory_order_release);
            return true;
        }
    }
    return false;
}

void Forget(const char* path) noexcept {
    for (Place& place : places) {
        if (place.state.load(std::memory_order_acquire) == kHeld &&
            std::strcmp(place.path, path) == 0) {
            place.state.store(kFree, std::memory_order_release);
            return;
        }
    }
}

void RemoveAll() noexcept {
    for (Place& place : places) {
        if (place.state.load(std::memory_order_acquire) == kHeld) {
            ::unlink(place.path);
        }
    }
}

void RemoveOnTerminationSignals() noexcept {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: a second signal during the clean-up ends the process at
    // once, as it would have.
    action.sa_flags = SA_RESETHAND;
    for (const int signal : TerminatingSignals()) {
        // A signal another part of the process ignores or handles (a
        // sanitizer's fault handler, a library that ignores SIGPIPE) keeps
        // its handling.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            (current.sa_flags & SA_SIGINFO) == 0) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

std::vector<int> TerminatingSignals() {
    // Every signal whose default action ends the process (with or without a
    // core file) and that can be caught. Not SIGKILL and SIGSTOP (they cannot
    // be), nor SIGTRAP (a debugger's breakpoints).
    std::vector<int> signals{SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGABRT, SIGBUS,  SIGFPE,
                             SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU,
                             SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        signals.push_back(signal);
    }
    return signals;
}

}  // namespace skarnel::temporary_files
