#pragma once

namespace skarnel {

// Waits and event handling of the start-up, so the splash's timing can be
// followed step by step in the tests.
class StartupPacer {
public:
    virtual ~StartupPacer() = default;
    virtual void Sleep(int milliseconds) = 0;
    // Handles the user-interface events that are pending.
    virtual void HandleEvents() = 0;
};

// Sleeps for real and lets Qt handle what is pending.
class RealStartupPacer : public StartupPacer {
public:
    void Sleep(int milliseconds) override;
    void HandleEvents() override;
};

}  // namespace skarnel
