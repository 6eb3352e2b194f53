#pragma once

#include <cstdint>

namespace skarnel {

// Keeps the "Sync all Generators" boxes of all windows equal when their
// changes cross on the bus. A broadcast reaches every peer at once and no
// window waits for another, so two windows ticked at the same moment with
// different values would otherwise tell each other their values for ever.
//
// Every change carries a stamp: the system's monotonic clock in nanoseconds
// (one clock for every process on the machine), raised above the newest
// stamp this window has seen. A window takes a peer's change only when it is
// newer than the one it holds; at equal stamps a ticked box wins. Each window
// thus ends on the newest change of all, and since a window passes a change
// on only when it took it, the cascade stops.
//
// Any program on the session bus can send a change, with any stamp. A stamp
// from far in the future would win over every later change of every window
// (and the maximum would wrap the next local stamp to 0): a peer's stamp is
// taken only up to kFutureLimit past this window's own clock, which every
// real peer's stamp is below since all read one clock.
class SyncBoxOrder {
public:
    static constexpr std::uint64_t kFutureLimit = 5'000'000'000;  // 5 s in nanoseconds

    struct Change {
        bool ticked = false;
        std::uint64_t stamp = 0;
    };

    // A change made in this window, by the user or by a command from another
    // program, at the monotonic time `now`.
    Change Local(bool ticked, std::uint64_t now) noexcept {
        const std::uint64_t next = held_.stamp == UINT64_MAX ? UINT64_MAX : held_.stamp + 1;
        held_ = {ticked, now > held_.stamp ? now : next};
        return held_;
    }

    // A change a peer sent, received at this window's monotonic time `now`:
    // true when it is newer than the one held, which it then replaces. A
    // stamp more than kFutureLimit past `now` is no real peer's: refused.
    bool TakeFromPeer(Change change, std::uint64_t now) noexcept {
        const std::uint64_t latest =
            now > UINT64_MAX - kFutureLimit ? UINT64_MAX : now + kFutureLimit;
        if (change.stamp > latest) {
            return false;
        }
        const bool newer = change.stamp > held_.stamp ||
                           (change.stamp == held_.stamp && change.ticked && !held_.ticked);
        if (newer) {
            held_ = change;
        }
        return newer;
    }

    const Change& held() const noexcept { return held_; }

private:
    Change held_;
};

}  // namespace skarnel
