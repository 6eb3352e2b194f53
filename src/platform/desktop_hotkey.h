#pragma once

#include <QObject>

#include "platform/global_hotkey.h"
#include "platform/portal_global_shortcut.h"

namespace skarnel {

// Ctrl+Insert for the whole desktop, by whatever the session offers: a key
// grab where the display is X11, the desktop portal's global shortcuts
// elsewhere (Wayland). Only the first instance started holds the key and
// passes a press on (hotkey_routing.h): on X11 the display refuses the
// others' grabs, and the portal is asked only when no other window runs.
class DesktopHotKey : public QObject {
    Q_OBJECT
public:
    explicit DesktopHotKey(QObject* parent = nullptr);

    // Takes the key; `othersRunning`: another instance's window is on the
    // bus, and it holds the key. unavailable() follows, perhaps later, when
    // neither way gives one.
    void Claim(bool othersRunning);
    void Release();

signals:
    // The grabbed key was pressed: the active window tells where it goes.
    void pressedOverActiveWindow();
    // The portal's shortcut was activated; it names no window.
    void pressedAnywhere();
    // Nothing in this session gives a hot key for the whole desktop.
    void unavailable();

private:
    GlobalHotKey grab_;
    PortalGlobalShortcut portal_;
};

}  // namespace skarnel
