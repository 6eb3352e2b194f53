#pragma once

#include <cstdint>
#include <functional>

#include "platform/active_window.h"

namespace skarnel {

// The generator windows of the other running instances, as the hot key
// needs them.
class PeerWindows {
public:
    virtual ~PeerWindows() = default;
    // Whether the process runs a generator window that takes commands.
    virtual bool HasWindow(std::int64_t pid) = 0;
    // Asks that window for its ON/OFF toggle and returns at once: a window
    // that does not answer must not hold this one.
    virtual void SendToggle(std::int64_t pid) = 0;
};

enum class HotKeyTarget { kOwnWindow, kOtherWindow };

// Ctrl+Insert can be grabbed by one process only, the first instance
// started, so every press reaches that one. It toggles the window the user
// is in when that is another instance's generator window, and the own
// window otherwise (the own window is active, another program's is, or none
// is known).
HotKeyTarget RouteHotKey(ActiveWindow& active, PeerWindows& peers, std::int64_t ownPid,
                         const std::function<void()>& toggleOwn);

}  // namespace skarnel
