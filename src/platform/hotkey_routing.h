#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/active_window.h"

namespace skarnel {

// A running generator window and when the user was last in it (0: never).
struct WindowUse {
    std::int64_t pid = 0;
    std::uint64_t lastUsed = 0;
    // Its name on the bus; empty for the own window.
    std::string busName{};
};

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
    // The same for a window by its name on the bus (a window whose own name
    // was taken answers under another).
    virtual void SendToggleTo(const std::string& busName) = 0;
    // The other instances' windows that answer, with when each was used.
    virtual std::vector<WindowUse> OtherWindowsInUse() = 0;
};

enum class HotKeyTarget { kOwnWindow, kOtherWindow };

// Ctrl+Insert can be grabbed by one process only, the first instance
// started, so every press reaches that one. It toggles the window the user
// is in when that is another instance's generator window, and the own
// window otherwise (the own window is active, another program's is, or none
// is known).
HotKeyTarget RouteHotKey(ActiveWindow& active, PeerWindows& peers, std::int64_t ownPid,
                         const std::function<void()>& toggleOwn);

// The window `skarnel --toggle` toggles: the one the user was in last; when
// none has been used yet, the first started (the lowest process number), as
// the hot key toggles that one from outside every window. Nothing without
// windows.
std::optional<WindowUse> WindowUsedLast(const std::vector<WindowUse>& windows);

// The desktop portal's shortcut names no window, and no window of another
// program can be asked which one is active (Wayland): it toggles the window
// used last, as `skarnel --toggle` does, the own one included.
HotKeyTarget RouteToWindowUsedLast(PeerWindows& peers, const WindowUse& own,
                                   const std::function<void()>& toggleOwn);

}  // namespace skarnel
