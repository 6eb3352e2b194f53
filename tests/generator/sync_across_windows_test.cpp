// The "Sync all Generators" box across windows whose broadcasts cross: no
// window waits for another, so changes made at the same moment meet on the
// way. Every box must end on the newest change, and the cascade must end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <array>
#include <deque>
#include <memory>
#include <random>

#include "audio/simulated_backend.h"
#include "fake_screen_saver.h"
#include "generator/generator_window.h"
#include "generator/sync_box_order.h"
#include "generator/window_commands.h"
#include "platform/command_bus.h"
#include "scripted_dialogs.h"
#include "settings_dialog/output_settings_dialog.h"

namespace skarnel::testing {
namespace {

TEST(SyncBoxOrder, TheNewestChangeWinsAndATickedBoxBreaksATie) {
    constexpr std::uint64_t now = 1000;
    SyncBoxOrder order;
    EXPECT_TRUE(order.TakeFromPeer({true, 100}, now));
    EXPECT_FALSE(order.TakeFromPeer({false, 99}, now));   // older
    EXPECT_FALSE(order.TakeFromPeer({true, 100}, now));   // the one held
    EXPECT_FALSE(order.TakeFromPeer({false, 100}, now));  // a tie goes to the ticked box
    EXPECT_TRUE(order.TakeFromPeer({false, 101}, now));
    EXPECT_TRUE(order.TakeFromPeer({true, 101}, now));

    // A change made here while this process's clock reads less than a change
    // already taken (both made within one clock step) still comes after it.
    const SyncBoxOrder::Change local = order.Local(false, 50);
    EXPECT_EQ(local.stamp, 102u);
    EXPECT_FALSE(local.ticked);
    EXPECT_EQ(order.Local(true, 500).stamp, 500u);
}

// A stamp another program forged cannot silence later changes: one far in
// the future (the maximum included) is refused, 0 and replays lose to what
// is held, and one a little ahead is overtaken by the next local change.
TEST(SyncBoxOrder, AForgedStampCannotSilenceLaterChanges) {
    constexpr std::uint64_t now = 10'000'000'000;
    SyncBoxOrder order;
    const SyncBoxOrder::Change mine = order.Local(false, now);
    EXPECT_FALSE(order.TakeFromPeer({true, UINT64_MAX}, now));
    EXPECT_FALSE(order.TakeFromPeer({true, now + SyncBoxOrder::kFutureLimit + 1}, now));
    EXPECT_FALSE(order.TakeFromPeer({true, 0}, now));
    EXPECT_FALSE(order.TakeFromPeer({false, mine.stamp}, now));  // a replay of the held change
    EXPECT_EQ(order.held().stamp, mine.stamp);

    // At the limit: taken, and the next local change still comes after it,
    // without wrapping.
    EXPECT_TRUE(order.TakeFromPeer({true, now + SyncBoxOrder::kFutureLimit}, now));
    const SyncBoxOrder::Change next = order.Local(false, now + 1);
    EXPECT_EQ(next.stamp, now + SyncBoxOrder::kFutureLimit + 1);
    EXPECT_FALSE(next.ticked);

    // A clock near its end saturates rather than wraps.
    SyncBoxOrder late;
    EXPECT_TRUE(late.TakeFromPeer({true, UINT64_MAX}, UINT64_MAX - 1));
    EXPECT_EQ(late.Local(false, 5).stamp, UINT64_MAX);
}

// One generator window as the program builds it, on a simulated device.
struct Window {
    SimulatedBackend backend;
    ScriptedDialogs dialogs;
    FakeScreenSaver screenSaver;
    std::unique_ptr<GeneratorWindow> window;
    std::unique_ptr<OutputSettingsDialog> settings;

    Window() {
        window = std::make_unique<GeneratorWindow>(backend, dialogs, screenSaver);
        settings = std::make_unique<OutputSettingsDialog>(window.get());
        window->SetSettingsDialog(settings.get());
        window->ResetSettings();
        window->RunGuarded([this] { window->PrepareEngineFromWindow(); });
    }
    ~Window() {
        settings.reset();
        window.reset();
    }
    bool Ticked() const { return window->SyncTicked(); }
};

constexpr int kWindows = 3;

struct Message {
    std::uint32_t number;
    std::int32_t first;
    std::int32_t second;
    std::uint64_t stamp;
};

// The bus between the windows as D-Bus behaves: a broadcast runs in the own
// window at once and is queued for every other; the calls from one window to
// another arrive in the order they were sent, but in any order among senders.
class CrossingBus {
public:
    class Endpoint : public CommandBus {
    public:
        Endpoint(CrossingBus& bus, int self) : bus_(bus), self_(self) {}
        void Broadcast(std::uint32_t number, std::int32_t first, std::int32_t second,
                       std::uint64_t stamp) override {
            bus_.windows_[self_]->window->ExecuteCommand(number, first, second);
            for (int to = 0; to < kWindows; ++to) {
                if (to != self_) {
                    bus_.queues_[self_][to].push_back({number, first, second, stamp});
                }
            }
        }

    private:
        CrossingBus& bus_;
        int self_;
    };

    explicit CrossingBus(std::array<std::unique_ptr<Window>, kWindows>& windows)
        : windows_(windows) {
        for (int i = 0; i < kWindows; ++i) {
            endpoints_[i] = std::make_unique<Endpoint>(*this, i);
            windows_[i]->window->SetCommandBus(endpoints_[i].get());
        }
    }

    // Delivers one queued call, picked at random; false when none is queued.
    bool DeliverOne(std::mt19937& random) {
        std::vector<std::pair<int, int>> waiting;
        for (int from = 0; from < kWindows; ++from) {
            for (int to = 0; to < kWindows; ++to) {
                if (!queues_[from][to].empty()) {
                    waiting.emplace_back(from, to);
                }
            }
        }
        if (waiting.empty()) {
            return false;
        }
        const auto [from, to] = waiting[random() % waiting.size()];
        const Message m = queues_[from][to].front();
        queues_[from][to].pop_front();
        windows_[to]->window->ExecutePeerCommand(m.number, m.first, m.second, m.stamp);
        ++delivered;
        return true;
    }

    int delivered = 0;

private:
    std::array<std::unique_ptr<Window>, kWindows>& windows_;
    std::array<std::unique_ptr<Endpoint>, kWindows> endpoints_;
    std::array<std::array<std::deque<Message>, kWindows>, kWindows> queues_;
};

// Commands set the boxes of all windows to values that disagree, with calls
// already under way delivered in between, in random orders. Exchanging the
// values without an order kept two windows telling each other theirs for
// ever; now every round ends within a bound, on the last change made.
TEST(SyncAcrossWindows, ChangesThatCrossSettleOnTheNewest) {
    std::array<std::unique_ptr<Window>, kWindows> windows;
    for (auto& w : windows) {
        w = std::make_unique<Window>();
    }
    CrossingBus bus(windows);
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        bool changed = false;
        bool newest = false;
        for (int change = 0; change < kWindows; ++change) {
            const int at = static_cast<int>(random() % kWindows);
            const bool tick = (random() & 1) != 0;
            if (windows[at]->Ticked() != tick) {
                changed = true;
                newest = tick;
            }
            windows[at]->window->ExecuteCommand(kCommandSync, tick ? 1 : 0, 0);
            for (int n = static_cast<int>(random() % 4); n > 0; --n) {
                bus.DeliverOne(random);
            }
        }
        const int before = bus.delivered;
        while (bus.DeliverOne(random)) {
            ASSERT_LT(bus.delivered - before, 200) << "round " << round << ": no end in sight";
        }
        for (int i = 0; i < kWindows; ++i) {
            EXPECT_EQ(windows[i]->Ticked(), windows[0]->Ticked()) << "round " << round;
            if (changed) {
                EXPECT_EQ(windows[i]->Ticked(), newest) << "round " << round << ", window " << i;
            }
        }
    }
}

}  // namespace
}  // namespace skarnel::testing
