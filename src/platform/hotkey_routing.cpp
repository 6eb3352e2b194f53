#include "platform/hotkey_routing.h"

#include <algorithm>
#include <optional>

namespace skarnel {

HotKeyTarget RouteHotKey(ActiveWindow& active, PeerWindows& peers, std::int64_t ownPid,
                         const std::function<void()>& toggleOwn) {
    const std::optional<std::int64_t> pid = active.ProcessId();
    if (pid && *pid != ownPid && peers.HasWindow(*pid)) {
        peers.SendToggle(*pid);
        return HotKeyTarget::kOtherWindow;
    }
    toggleOwn();
    return HotKeyTarget::kOwnWindow;
}

std::optional<WindowUse> WindowUsedLast(const std::vector<WindowUse>& windows) {
    if (windows.empty()) {
        return std::nullopt;
    }
    const auto chosen = std::max_element(
        windows.begin(), windows.end(), [](const WindowUse& a, const WindowUse& b) {
            // Less: used earlier, or as recently but started later.
            return a.lastUsed != b.lastUsed ? a.lastUsed < b.lastUsed : a.pid > b.pid;
        });
    return *chosen;
}

HotKeyTarget RouteToWindowUsedLast(PeerWindows& peers, const WindowUse& own,
                                   const std::function<void()>& toggleOwn) {
    std::vector<WindowUse> windows = peers.OtherWindowsInUse();
    windows.push_back(own);
    const std::optional<WindowUse> chosen = WindowUsedLast(windows);
    if (chosen && !chosen->busName.empty()) {
        peers.SendToggleTo(chosen->busName);
        return HotKeyTarget::kOtherWindow;
    }
    toggleOwn();
    return HotKeyTarget::kOwnWindow;
}

}  // namespace skarnel
