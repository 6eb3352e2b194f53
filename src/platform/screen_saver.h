#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace skarnel {

// Keeps the screen saver from starting while a signal plays.
class ScreenSaverInhibitor {
public:
    virtual ~ScreenSaverInhibitor() = default;
    // Starts inhibiting, if not already.
    virtual void Inhibit() = 0;
    // Ends an inhibition held by Inhibit.
    virtual void Release() = 0;
    virtual bool Inhibiting() const = 0;
};

// Through the freedesktop org.freedesktop.ScreenSaver service on the session
// bus. Without a session bus or without the service nothing happens.
//
// Nothing here waits for the service: Inhibit starts the call and returns,
// the cookie arrives later (or not, after kReplyTimeoutMs), and a Release
// that comes first is carried out once it arrives. A service that never
// answers used to hold the window for some 50 s at every start of playback.
class DBusScreenSaverInhibitor : public QObject, public ScreenSaverInhibitor {
    Q_OBJECT
public:
    static constexpr int kReplyTimeoutMs = 1000;

    ~DBusScreenSaverInhibitor() override { Release(); }
    void Inhibit() override;
    void Release() override;
    // Asked for and not released, whether or not the service has answered.
    bool Inhibiting() const override { return wanted_; }
    // The service has answered with a cookie that is still held.
    bool Held() const noexcept { return held_; }

private:
    void OnInhibitReply(bool ok, std::uint32_t cookie);
    void SendUninhibit();

    bool wanted_ = false;
    bool pending_ = false;  // an Inhibit call awaits its reply
    bool held_ = false;
    std::uint32_t cookie_ = 0;
};

}  // namespace skarnel
