#pragma once

#include <QObject>
#include <QString>

#include "platform/portal_idle_inhibitor.h"
#include "platform/screen_saver.h"

namespace skarnel {

// Keeps the session from going idle through whichever service the desktop
// offers: org.freedesktop.ScreenSaver where that name has an owner or can be
// activated, otherwise the XDG desktop portal.
//
// Which one is asked again at each Inhibit that starts an inhibition, since a
// desktop can bring its screen-saver service up after the program started.
// The question goes to the bus daemon without waiting for it; an Inhibit or
// Release meanwhile is carried out once the answer is in.
class DesktopIdleInhibitor : public QObject, public ScreenSaverInhibitor {
    Q_OBJECT
public:
    static constexpr int kProbeTimeoutMs = 1000;

    void Inhibit() override;
    void Release() override;
    bool Inhibiting() const override { return wanted_; }
    // Whether the last choice fell on the portal (for diagnostics and tests).
    bool UsingPortal() const noexcept { return active_ == &portal_; }

private:
    void AskWhetherNameIsOwned();
    void AskWhetherNameIsActivatable();
    void Choose(ScreenSaverInhibitor* inhibitor);

    DBusScreenSaverInhibitor screenSaver_;
    PortalIdleInhibitor portal_;
    ScreenSaverInhibitor* active_ = nullptr;
    bool wanted_ = false;
    bool probing_ = false;
};

}  // namespace skarnel
