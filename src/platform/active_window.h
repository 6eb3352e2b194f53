#pragma once

#include <cstdint>
#include <optional>

namespace skarnel {

// The window the user is working in, as the desktop tells it: the hot key
// acts on that window when it belongs to another generator window.
class ActiveWindow {
public:
    virtual ~ActiveWindow() = default;
    // The process of the active window; nothing when no window is active or
    // its process is not known.
    virtual std::optional<std::int64_t> ProcessId() = 0;
};

// On X11: the window manager's active window (_NET_ACTIVE_WINDOW on the root
// window) and the process it names (_NET_WM_PID). Without a window manager
// that keeps the property, or on another display, nothing: the input focus
// alone does not say where the user is, since it follows the pointer or
// whichever program set it last.
class X11ActiveWindow : public ActiveWindow {
public:
    std::optional<std::int64_t> ProcessId() override;
};

}  // namespace skarnel
