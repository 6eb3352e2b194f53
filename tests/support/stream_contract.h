#pragma once

// What every back-end must do when it plays through the component's one
// queue, checked the same way on each: the simulated stream, the sound
// server, PortAudio's ALSA and JACK hosts. A test file includes this and
// calls CheckStreamContract with its back-end, on a host that is running.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"

namespace skarnel::testing {

struct StreamContractHost {
    WaveOutBackend& backend;
    std::uint32_t device = kDefaultWaveDevice;
    std::uint32_t rate = 48000;
    // The host plays at its nominal rate (a sound server, JACK): a buffer
    // can then never be done before its time has passed. A host that takes
    // samples as fast as they come (a file) is exempt from that check.
    bool realTime = true;
};

namespace contract_detail {

using Clock = std::chrono::steady_clock;

// A component on the host: 16-bit stereo, four buffers of 4800 frames
// (0.1 s at 48 kHz) of a running counter, `blocks` of them.
class Player {
public:
    Player(const StreamContractHost& host, int blocks) : out(host.backend), blocks_(blocks) {
        out.SetWaveDevice(host.device);
        out.SetFrameRate(static_cast<std::int32_t>(host.rate));
        out.SetStereo(true);
        out.SetNumBuffers(4);
        out.SetBufferSize(4800 * 4);
        out.SetStreamName("Skarnel contract test");
        out.OnStart = [this] { started = true; };
        out.OnStop = [this] { stopped = true; };
        out.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
            if (filled_.load() >= blocks_) {
                return false;
            }
            ++filled_;
            for (std::int32_t i = 0; i + 1 < size; i += 2) {
                buffer[i] = static_cast<std::uint8_t>(counter_ & 0xFF);
                buffer[i + 1] = static_cast<std::uint8_t>(counter_ >> 8);
                ++counter_;
            }
            return true;
        };
    }
    ~Player() { out.StopImmediately(); }

    // Handles notifications until `done` or the patience ends; the time of
    // every buffer-done is kept, from the start.
    bool PumpUntil(const std::function<bool()>& done, Clock::duration patience) {
        const auto deadline = Clock::now() + patience;
        while (!done()) {
            if (Clock::now() > deadline) {
                return false;
            }
            const int before = out.DoneCount();
            out.ProcessNotifications(out.Notifications().Pending());
            for (int i = before; i < out.DoneCount(); ++i) {
                doneAt.push_back(Clock::now() - startedAt);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    AudioOutput out;
    bool started = false;
    bool stopped = false;
    Clock::time_point startedAt;
    std::vector<Clock::duration> doneAt;

private:
    const int blocks_;
    std::atomic<int> filled_{0};
    std::uint16_t counter_ = 0;
};

}  // namespace contract_detail

inline void CheckStreamContract(const StreamContractHost& host) {
    using contract_detail::Clock;
    using contract_detail::Player;
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    const double buffer = 4800.0 / host.rate;

    SCOPED_TRACE("one period of 12 buffers: every buffer done once it has played, then a close");
    {
        Player player(host, 12);
        player.startedAt = Clock::now();
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(10)));
        EXPECT_TRUE(player.started);
        EXPECT_EQ(player.out.PlaybackFault(), "");
        EXPECT_EQ(player.out.FilledCount(), 12);
        EXPECT_EQ(player.out.DoneCount(), 12);
        EXPECT_GE(player.out.PlayedFrame(), 12u * 4800u);
        ASSERT_EQ(player.doneAt.size(), 12u);
        if (host.realTime) {
            for (std::size_t k = 0; k < player.doneAt.size(); ++k) {
                const double at = std::chrono::duration<double>(player.doneAt[k]).count();
                EXPECT_GE(at, (k + 1) * buffer - 0.03) << "buffer " << k + 1 << " done early";
            }
        }
    }

    SCOPED_TRACE("a pause holds the queue; a restart plays on");
    {
        Player player(host, 1000);
        player.startedAt = Clock::now();
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        ASSERT_TRUE(player.PumpUntil([&] { return player.out.DoneCount() >= 2; }, seconds(5)));
        player.out.SetPaused(true);
        // What the host played before the pause took effect may still come.
        player.PumpUntil([] { return false; }, milliseconds(150));
        const int held = player.out.DoneCount();
        const std::uint64_t position = player.out.PlayedFrame();
        player.PumpUntil([] { return false; }, milliseconds(400));
        EXPECT_EQ(player.out.DoneCount(), held);
        EXPECT_EQ(player.out.PlayedFrame(), position);
        player.out.SetPaused(false);
        EXPECT_TRUE(player.PumpUntil([&] { return player.out.DoneCount() >= held + 2; }, seconds(5)));
    }

    SCOPED_TRACE("an immediate stop is immediate, and the next start plays");
    {
        Player player(host, 1000);
        player.startedAt = Clock::now();
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        ASSERT_TRUE(player.PumpUntil([&] { return player.out.DoneCount() >= 1; }, seconds(5)));
        const auto before = Clock::now();
        player.out.StopImmediately();
        EXPECT_LT(Clock::now() - before, milliseconds(300));
        EXPECT_FALSE(player.out.DeviceHeld());
        ASSERT_TRUE(player.PumpUntil([&] { return player.stopped; }, seconds(2)));
        player.stopped = false;
        ASSERT_TRUE(player.out.BeginPlayback()) << player.out.LastError();
        const int before2 = player.out.DoneCount();
        EXPECT_TRUE(player.PumpUntil([&] { return player.out.DoneCount() > before2; }, seconds(5)));
    }
}

}  // namespace skarnel::testing
