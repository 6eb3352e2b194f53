#include "platform/desktop_hotkey.h"

namespace skarnel {

DesktopHotKey::DesktopHotKey(QObject* parent) : QObject(parent) {
    connect(&grab_, &GlobalHotKey::activated, this, &DesktopHotKey::pressedOverActiveWindow);
    connect(&portal_, &PortalGlobalShortcut::activated, this, &DesktopHotKey::pressedAnywhere);
    connect(&portal_, &PortalGlobalShortcut::settled, this, [this](bool bound) {
        if (!bound) {
            emit unavailable();
        }
    });
}

void DesktopHotKey::Claim(bool othersRunning) {
    if (GlobalHotKey::DisplayOffersGrabs()) {
        // A refusal while no other instance runs: another program holds
        // Ctrl+Insert.
        if (!grab_.Claim() && !othersRunning) {
            emit unavailable();
        }
    } else if (!othersRunning) {
        portal_.Bind();
    }
}

void DesktopHotKey::Release() {
    grab_.Release();
    portal_.Release();
}

}  // namespace skarnel
