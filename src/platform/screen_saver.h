#pragma once

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
class DBusScreenSaverInhibitor : public ScreenSaverInhibitor {
public:
    ~DBusScreenSaverInhibitor() override { Release(); }
    void Inhibit() override;
    void Release() override;
    bool Inhibiting() const override { return inhibiting_; }

private:
    bool inhibiting_ = false;
    std::uint32_t cookie_ = 0;
};

}  // namespace skarnel
