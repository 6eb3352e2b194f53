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
class SyncBoxOrder {
public:
    struct Change {
        bool ticked = false;
        std::uint64_t stamp = 0;
    };

    // A change made in this window, by the user or by a command from another
    // program, at the monotonic time `now`.
    Change Local(bool ticked, std::uint64_t now) noexcept {
        held_ = {ticked, now > held_.stamp ? now : held_.stamp + 1};
        return held_;
    }

    // A change a peer sent: true when it is newer than the one held, which it
    // then replaces.
    bool TakeFromPeer(Change change) noexcept {
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
