#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "platform/hotkey_routing.h"

namespace skarnel {

// Numbered window commands, delivered to every generator window of every
// running instance: the own window first and at once, then every other
// window without waiting for it. `stamp` orders the sync box's changes
// (SyncBoxOrder); other commands send 0.
class CommandBus {
public:
    virtual ~CommandBus() = default;
    virtual void Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second,
                           std::uint64_t stamp) = 0;
    // Which of the running generator windows this is (1 for the first one
    // started); sound servers show it in the stream's name.
    virtual int WindowNumber() const { return 1; }
};

// What a window offers to other programs: its commands and its state.
struct CommandTarget {
    std::function<void(std::uint32_t, std::int32_t, std::int32_t)> execute;
    std::function<bool()> running;
    std::function<bool()> paused;
    std::function<bool()> sync;
    // The hot key's toggle, pressed while the user was in this window.
    std::function<void()> toggle;
    // Runs a call that came over the bus (a command or the toggle); by
    // default the call itself. The program shows what such a call has to say
    // only after it has returned.
    std::function<void(const std::function<void()>&)> fromBus = nullptr;
    // A command another generator window broadcast, with its stamp; by
    // default `execute`.
    std::function<void(std::uint32_t, std::int32_t, std::int32_t, std::uint64_t)> fromPeer =
        nullptr;
    // When the user was last in the window (see GeneratorWindow::LastUsed);
    // by default never.
    std::function<std::uint64_t()> lastUsed = nullptr;
};

// Delivers only to this process's own window: the bus of a window without a
// D-Bus session, and of in-process tests.
class LocalCommandBus : public CommandBus {
public:
    explicit LocalCommandBus(CommandTarget target) : target_(std::move(target)) {}
    void Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second,
                   std::uint64_t) override {
        target_.execute(number, first, second);
    }

private:
    CommandTarget target_;
};

// The generator windows on the D-Bus session bus. Each instance owns the name
// org.orvane.Skarnel.Generator.pid<PID> with the object /Generator, interface
// org.orvane.Skarnel.Generator: Command(u number, i first, i second) runs a
// window command and returns when it has finished; PeerCommand(u, i, i,
// t stamp) is the same command as another generator window broadcasts it;
// Toggle() runs the hot key's ON/OFF toggle there (for the instance that
// holds the key, and for `skarnel --toggle`); State() returns (running,
// paused, sync); LastUsed() when the user was last in the window (the
// monotonic clock in nanoseconds, 0 for never).
//
// A broadcast runs the command in the own window first, then sends it to
// every other such name at once and returns without waiting: no window ever
// waits for another, so nothing nests, and a peer that has not answered
// within kPeerTimeoutMs is logged and left alone (a hung peer cost 25 s on
// the GUI thread per call before). The calls to one peer arrive in the order
// they were sent. Without a session bus the command reaches the own window
// only.
class DBusCommandBus : public QObject, public CommandBus, public PeerWindows {
    Q_OBJECT
public:
    static constexpr const char* kServicePrefix = "org.orvane.Skarnel.Generator.pid";
    static constexpr const char* kPath = "/Generator";
    static constexpr const char* kInterface = "org.orvane.Skarnel.Generator";

    // kLater: the window takes calls only from Register() on, once it is
    // ready for them; until then callers get an error reply (no such name).
    enum class Attach { kNow, kLater };

    explicit DBusCommandBus(CommandTarget target, QObject* parent = nullptr,
                            Attach attach = Attach::kNow);
    ~DBusCommandBus() override;

    // Takes the window's name on the bus; true when it has it.
    bool Register();

    void Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second,
                   std::uint64_t stamp) override;
    int WindowNumber() const override { return windowNumber_; }
    bool registered() const noexcept { return registered_; }

    // PeerWindows: the instance's name on the bus. Asking the bus waits at
    // most kPeerTimeoutMs; a toggle is sent without waiting, like a
    // broadcast.
    static constexpr int kPeerTimeoutMs = 1000;
    // How many names a window tries when its own is taken ("_2" ... "_9").
    static constexpr int kMostNames = 9;
    bool HasWindow(std::int64_t pid) override;
    void SendToggle(std::int64_t pid) override;
    void SendToggleTo(const std::string& busName) override;
    std::vector<WindowUse> OtherWindowsInUse() override;

    const CommandTarget& target() const noexcept { return target_; }
    // The window's own name when another connection held it at Register()
    // (two process namespaces on one session bus), so that the window took
    // the next free one, "<own>_2" and so on; empty otherwise.
    const QString& ownNameTaken() const noexcept { return ownNameTaken_; }
    const QString& serviceName() const noexcept { return serviceName_; }

    // The generator names on the bus (this process's included); empty when
    // the bus does not answer within kPeerTimeoutMs.
    static QStringList GeneratorNames();
    // The windows on the bus with when each was used, but for the one named
    // `skip`; a window that does not answer within kPeerTimeoutMs is left out.
    static std::vector<WindowUse> WindowsInUse(const QString& skip = {});

private:
    // Sends a call and returns at once; an error or no answer within
    // kPeerTimeoutMs is logged as `what`.
    void CallWithoutWaiting(const QDBusMessage& call, const QString& what);

    CommandTarget target_;
    bool registered_ = false;
    int windowNumber_ = 1;
    QString serviceName_;
    QString ownNameTaken_;
    bool objectRegistered_ = false;
};

// The D-Bus face of the window (an adaptor of DBusCommandBus).
class GeneratorAdaptor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.orvane.Skarnel.Generator")
public:
    explicit GeneratorAdaptor(DBusCommandBus& bus) : QObject(&bus), bus_(bus) {}

public slots:
    void Command(uint number, int first, int second);
    void PeerCommand(uint number, int first, int second, qulonglong stamp);
    void Toggle();
    bool State(bool& paused, bool& sync);
    qulonglong LastUsed();

private:
    DBusCommandBus& bus_;
};

}  // namespace skarnel
