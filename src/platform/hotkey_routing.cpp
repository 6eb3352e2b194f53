#include "platform/hotkey_routing.h"

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

}  // namespace skarnel
