#pragma once

#include <QObject>
#include <QString>

#include "platform/screen_saver.h"

namespace skarnel {

// Through the XDG desktop portal's Inhibit interface (idle only), for
// desktops that offer the portal but no org.freedesktop.ScreenSaver service.
// The portal answers Inhibit with a request object; closing it ends the
// inhibition.
//
// Nothing here waits for the portal: Inhibit starts the call and returns, the
// handle arrives later (or not, after kReplyTimeoutMs), and a Release that
// comes first is carried out once it arrives.
class PortalIdleInhibitor : public QObject, public ScreenSaverInhibitor {
    Q_OBJECT
public:
    static constexpr int kReplyTimeoutMs = 1000;
    // The portal's flag for "the session must not go idle".
    static constexpr unsigned kIdleFlag = 8;

    ~PortalIdleInhibitor() override { Release(); }
    void Inhibit() override;
    void Release() override;
    // Asked for and not released, whether or not the portal has answered.
    bool Inhibiting() const override { return wanted_; }
    // The portal has answered with a request handle that is still open.
    bool Held() const noexcept { return held_; }

private:
    void OnInhibitReply(bool ok, const QString& handle);
    void SendClose();

    bool wanted_ = false;
    bool pending_ = false;  // an Inhibit call awaits its reply
    bool held_ = false;
    QString handle_;
};

}  // namespace skarnel
