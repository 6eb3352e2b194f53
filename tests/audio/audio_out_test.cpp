#include "audio/audio_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "audio/device_list.h"
#include "audio/simulated_backend.h"
#include "engine/preparation.h"
#include "engine/signal_engine.h"
#include "stream_contract.h"

namespace skarnel {
namespace {

// A component on a manual simulated device, with a handler that writes a
// running 16-bit counter and fills a given number of buffers.
class AudioOutTest : public ::testing::Test {
protected:
    AudioOutTest() : out(backend) {
        out.OnStart = [this] { events.push_back("start"); };
        out.OnStop = [this] { events.push_back("stop"); };
        out.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
            ++fillCalls;
            if (filledBlocks >= blocksToFill) {
                return false;
            }
            ++filledBlocks;
            for (std::int32_t i = 0; i + 1 < size; i += 2) {
                buffer[i] = static_cast<std::uint8_t>(counter & 0xFF);
                buffer[i + 1] = static_cast<std::uint8_t>(counter >> 8);
                ++counter;
            }
            return true;
        };
        out.SetBufferSize(4096);
    }

    SimulatedStream& device() { return *backend.LastStream(); }
    // Plays one buffer and lets the component handle what the device posted.
    bool PlayOne() {
        const bool played = backend.LastStream() != nullptr && device().CompleteHead();
        out.ProcessNotifications();
        return played;
    }

    SimulatedBackend backend;
    AudioOutput out;
    std::vector<std::string> events;
    int blocksToFill = 1000000;
    int filledBlocks = 0;
    int fillCalls = 0;
    std::uint16_t counter = 0;
};

TEST_F(AudioOutTest, PropertyWriteRules) {
    AudioOutput fresh(backend);
    EXPECT_EQ(fresh.BufferSize(), 8192);
    EXPECT_EQ(fresh.NumBuffers(), 4);
    EXPECT_EQ(fresh.FrameRate(), 22050);
    EXPECT_EQ(fresh.Quantization(), 16);
    EXPECT_FALSE(fresh.Stereo());
    EXPECT_EQ(fresh.WaveDevice(), 0xFFFFFFFFu);

    fresh.SetBufferSize(100);
    EXPECT_EQ(fresh.BufferSize(), 512);
    fresh.SetBufferSize(8192);
    fresh.SetStereo(true);
    fresh.SetQuantization(24);
    EXPECT_EQ(fresh.BufferSize(), 8190);  // whole 6-byte frames
    EXPECT_EQ(fresh.Format().blockAlign, 6);
    fresh.SetStereo(false);
    EXPECT_EQ(fresh.BufferSize(), 8190);  // 3-byte frames
    fresh.SetQuantization(16);
    EXPECT_EQ(fresh.BufferSize(), 8192);  // the request is kept
    fresh.SetFrameRate(48000);
    EXPECT_EQ(fresh.Format().avgBytesPerSec, 96000u);

    fresh.SetNumBuffers(1);
    EXPECT_EQ(fresh.NumBuffers(), 2);
    fresh.SetNumBuffers(9);
    EXPECT_EQ(fresh.NumBuffers(), 4);
    fresh.SetQuantization(4);
    EXPECT_EQ(fresh.Quantization(), 8);
    fresh.SetQuantization(32);
    EXPECT_EQ(fresh.Quantization(), 24);
}

TEST_F(AudioOutTest, PlaysEveryFilledBufferInOrderAndKeepsTheRingFull) {
    blocksToFill = 10;
    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
    EXPECT_TRUE(out.Running());
    EXPECT_EQ(device().QueuedCount(), 4u);
    EXPECT_EQ(out.FilledCount(), 4);
    out.ProcessNotifications();
    EXPECT_EQ(events, (std::vector<std::string>{"start"}));
    while (PlayOne()) {
    }
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(out.Running());
    EXPECT_FALSE(out.DeviceOpen());
    EXPECT_EQ(out.FilledCount(), 10);
    EXPECT_EQ(out.DoneCount(), 10);
    // The device received exactly the ten blocks, in the order they were filled.
    const std::vector<std::uint8_t> played = backend.Played();
    ASSERT_EQ(played.size(), 10u * 4096u);
    for (std::size_t i = 0; i < played.size() / 2; ++i) {
        ASSERT_EQ(played[2 * i] | (played[2 * i + 1] << 8), static_cast<int>(i & 0xFFFF)) << i;
    }
}

TEST_F(AudioOutTest, StartWithoutAFilledBufferFailsButStillOpensAndCloses) {
    blocksToFill = 0;
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), "There must be at least one filled buffer");
    EXPECT_FALSE(out.DeviceOpen());
    EXPECT_FALSE(out.Running());
    out.ProcessNotifications();
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(AudioOutTest, StartWhileOpenFailsAndLeavesPlaybackAlone) {
    ASSERT_TRUE(out.BeginPlayback());
    SimulatedStream* playing = &device();
    PlayOne();
    const int filled = out.FilledCount(), done = out.DoneCount();
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), "Wave output device is already open");
    EXPECT_EQ(backend.LastStream(), playing);
    EXPECT_EQ(backend.OpenCount(), 1);
    EXPECT_EQ(out.FilledCount(), filled);
    EXPECT_EQ(out.DoneCount(), done);
    EXPECT_TRUE(out.Running());
    EXPECT_EQ(playing->QueuedCount(), 4u);
}

TEST_F(AudioOutTest, StartingPausedHoldsTheDeviceUntilResumed) {
    out.SetPaused(true);
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    EXPECT_EQ(events, (std::vector<std::string>{"start"}));
    EXPECT_TRUE(device().IsPaused());
    EXPECT_FALSE(PlayOne());
    EXPECT_TRUE(backend.Played().empty());
    out.SetPaused(false);
    EXPECT_FALSE(device().IsPaused());
    EXPECT_TRUE(PlayOne());
}

// A refused pause is not the user's business, but it is logged: the fault
// log hears of it, and the component goes on (still counting as paused).
TEST_F(AudioOutTest, ARefusedPauseIsToldToTheFaultLog) {
    struct Log : DeviceFaultLog {
        void Refused(const char* operation, const std::string& reason) override {
            told.push_back(std::string(operation) + ": " + reason);
        }
        std::vector<std::string> told;
    } log;
    AudioOutput logged(backend, &log);
    logged.OnFillBuffer = out.OnFillBuffer;
    logged.SetBufferSize(4096);
    ASSERT_TRUE(logged.BeginPlayback());
    backend.FailNextPause(kDeviceNoMemory);
    logged.SetPaused(true);
    EXPECT_TRUE(logged.Paused());
    EXPECT_FALSE(device().IsPaused());
    ASSERT_EQ(log.told.size(), 1u);
    EXPECT_EQ(log.told[0], "pause: " + backend.ErrorText(kDeviceNoMemory));
    logged.SetPaused(false);
    logged.StopImmediately();
    EXPECT_EQ(log.told.size(), 1u);  // the restart and the reset went through
}

TEST_F(AudioOutTest, EveryCloseClearsPaused) {
    ASSERT_TRUE(out.BeginPlayback());
    out.SetPaused(true);
    out.StopImmediately();
    EXPECT_FALSE(out.Paused());

    // A close at the end of draining clears it too.
    blocksToFill = 1000000;
    ASSERT_TRUE(out.BeginPlayback());
    out.SetPaused(true);
    out.SetPaused(false);
    out.StopWhenDrained();
    out.SetPaused(true);
    device().SetPaused(false);  // the device plays on; only the flag says paused
    while (PlayOne()) {
    }
    EXPECT_FALSE(out.DeviceOpen());
    EXPECT_FALSE(out.Paused());
}

TEST_F(AudioOutTest, OnlyTheFirstBufferFilledStillPlaysAllFourThenCloses) {
    blocksToFill = 1;
    ASSERT_TRUE(out.BeginPlayback());
    EXPECT_EQ(device().QueuedCount(), 4u);
    EXPECT_EQ(out.FilledCount(), 1);
    SimulatedStream* dev = &device();
    out.ProcessNotifications();
    dev->CompleteHead();
    out.ProcessNotifications();
    // The first done brings the counted queue to 0: filling ends and the
    // component counts as closed, while the device still plays three buffers.
    EXPECT_FALSE(out.Running());
    EXPECT_FALSE(out.DeviceOpen());
    EXPECT_EQ(events, (std::vector<std::string>{"start"}));
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(backend.LastStream(), nullptr);
        EXPECT_TRUE(PlayOne());
    }
    EXPECT_EQ(backend.LastStream(), nullptr);  // really closed now
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(backend.Played().size(), 4u * 4096u);
}

TEST_F(AudioOutTest, StopsWhileStoppedDoNothing) {
    out.StopImmediately();
    out.StopWhenDrained();
    out.ProcessNotifications();
    EXPECT_EQ(backend.OpenCount(), 0);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(out.LastError().empty());
    EXPECT_EQ(out.Notifications().Pending(), 0u);
}

TEST_F(AudioOutTest, ImmediateStopRaisesOnStopOnce) {
    ASSERT_TRUE(out.BeginPlayback());
    PlayOne();
    out.StopImmediately();
    EXPECT_FALSE(out.Running());
    EXPECT_EQ(backend.LastStream(), nullptr);  // reset returned everything, close succeeded
    out.ProcessNotifications();
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(out.Running());
    EXPECT_EQ(out.QueuedCount(), 0);
}

TEST_F(AudioOutTest, LateBuffersOfAResetDeviceDoNotCountAgainstANewStart) {
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    out.StopImmediately();  // four done notifications and a close are now pending
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    EXPECT_EQ(out.FilledCount(), 4);
    EXPECT_EQ(out.DoneCount(), 0);
    EXPECT_TRUE(out.Running());
    EXPECT_EQ(device().QueuedCount(), 4u);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop", "start"}));
}

TEST_F(AudioOutTest, FailedWriteDrainsAndClosesNormally) {
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    backend.FailNextWrite(kDeviceNoMemory);
    PlayOne();  // its refill cannot be queued
    EXPECT_EQ(out.LastError(), StandardErrorText(kDeviceNoMemory));
    EXPECT_EQ(out.FilledCount(), 4);  // the unqueued buffer no longer counts
    const int fillsBefore = fillCalls;
    while (PlayOne()) {
    }
    EXPECT_EQ(fillCalls, fillsBefore);  // draining: no more refills
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(backend.Played().size(), 4u * 4096u);
}

TEST_F(AudioOutTest, FirstWriteFailureFailsTheStart) {
    backend.FailNextWrite(SimulatedBackend::kInjectedFailure);
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), "The simulated device failed on request.");
    EXPECT_FALSE(out.DeviceOpen());
}

TEST_F(AudioOutTest, DeviceErrorTextsReachLastError) {
    backend.FailNextOpen(kDeviceAllocated);
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), StandardErrorText(kDeviceAllocated));

    out.SetWaveDevice(7);  // there are two devices
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), StandardErrorText(kDeviceBadId));

    out.SetWaveDevice(1);
    backend.FailNextStart(kDeviceNoMemory);
    EXPECT_FALSE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), StandardErrorText(kDeviceNoMemory));
    EXPECT_FALSE(out.DeviceOpen());
    EXPECT_EQ(backend.LastStream(), nullptr);
    EXPECT_EQ(backend.LastDeviceIndex(), 1u);

    out.SetWaveDevice(kDefaultWaveDevice);
    EXPECT_TRUE(out.BeginPlayback()) << out.LastError();
}

TEST_F(AudioOutTest, ReentrantStopFromTheHandlerIsSafe) {
    // A handler that shows a message pumps events; a stop arriving then must
    // not leave the component writing to a closed device.
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    out.OnFillBuffer = [this](std::uint8_t*, std::int32_t&) {
        out.StopImmediately();
        return true;
    };
    PlayOne();
    EXPECT_FALSE(out.DeviceOpen());
    out.ProcessNotifications();
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(AudioOutTest, BufferSizeChangeWhilePlayingWaitsForTheNextOpen) {
    ASSERT_TRUE(out.BeginPlayback());
    out.SetBufferSize(64536);
    EXPECT_EQ(out.BufferSize(), 64536);
    PlayOne();  // refills stay within the buffers the device holds
    out.StopImmediately();
    out.ProcessNotifications();
    backend.ClearPlayed();
    ASSERT_TRUE(out.BeginPlayback());
    PlayOne();
    EXPECT_EQ(backend.Played().size(), 64536u);
}

// ---------------------------------------------------------------- device faults

// Every buffer handed to the simulated devices came back or was dropped with
// its device, and no device is left holding one.
#define EXPECT_NO_BUFFER_LOST(backend)                                       \
    do {                                                                     \
        EXPECT_EQ((backend).LastStream(), nullptr);                          \
        EXPECT_EQ((backend).BuffersWritten(),                                \
                  (backend).BuffersReturned() + (backend).BuffersDropped()); \
    } while (false)

TEST_F(AudioOutTest, WritesFailingForGoodDrainAndClose) {
    // From the third write of the start on: the two queued buffers play and
    // the device closes, since the filled buffers never written do not count.
    backend.FailAllWrites(SimulatedBackend::kInjectedFailure, 2);
    ASSERT_TRUE(out.BeginPlayback());
    EXPECT_EQ(out.LastError(), "The simulated device failed on request.");
    EXPECT_EQ(out.FilledCount(), 2);
    EXPECT_EQ(device().QueuedCount(), 2u);
    while (PlayOne()) {
    }
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(out.Running());
    EXPECT_EQ(backend.Played().size(), 2u * 4096u);
    EXPECT_NO_BUFFER_LOST(backend);

    // In the middle of playback: no refill is queued any more, the rest plays.
    backend.FailAllWrites(kDeviceOk);
    events.clear();
    ASSERT_TRUE(out.BeginPlayback());
    PlayOne();
    backend.FailAllWrites(kDeviceNoDriver);
    for (int i = 0; i < 8 && PlayOne(); ++i) {
    }
    EXPECT_EQ(out.LastError(), StandardErrorText(kDeviceNoDriver));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_EQ(out.FilledCount(), out.DoneCount());
    EXPECT_NO_BUFFER_LOST(backend);
}

// A device that stops returning buffers, also on reset, while playing or
// after the component has closed with uncounted buffers still on the device:
// an immediate stop still ends in a close, the device is let go, and the next
// start plays.
TEST_F(AudioOutTest, ImmediateStopEndsADeviceThatStoppedReturningBuffers) {
    for (bool lingering : {false, true}) {
        for (bool evenOnReset : {false, true}) {
            SCOPED_TRACE(std::string(lingering ? "lingering" : "playing") +
                         (evenOnReset ? ", reset returns nothing" : ""));
            events.clear();
            filledBlocks = 0;
            blocksToFill = lingering ? 1 : 1000000;
            const int droppedBefore = backend.BuffersDropped();
            ASSERT_TRUE(out.BeginPlayback());
            PlayOne();
            EXPECT_EQ(out.DeviceOpen(), !lingering);
            device().StopReturningBuffers(evenOnReset);
            EXPECT_FALSE(PlayOne());

            out.StopImmediately();
            out.ProcessNotifications();
            EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
            EXPECT_FALSE(out.Running());
            EXPECT_FALSE(out.DeviceHeld());
            EXPECT_EQ(backend.BuffersDropped() - droppedBefore,
                      evenOnReset ? (lingering ? 3 : 4) : 0);
            EXPECT_NO_BUFFER_LOST(backend);

            blocksToFill = 1000000;
            ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
            EXPECT_TRUE(PlayOne());
            out.StopImmediately();
            out.ProcessNotifications();
        }
    }
}

// Done notifications of many earlier opens arrive in one go after a new
// start: none is counted against it, so no buffer is refilled while the
// device still holds it and nothing plays twice.
TEST_F(AudioOutTest, AFloodOfLateBuffersPlaysNothingTwice) {
    constexpr int kCycles = 20;
    std::int32_t blocks = 0;
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
        std::fill(buffer, buffer + size, 0);
        std::memcpy(buffer, &blocks, sizeof blocks);  // each block says which it is
        ++blocks;
        return true;
    };
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_TRUE(out.BeginPlayback());
        device().CompleteHead();
        out.StopImmediately();  // its other buffers come back unplayed
    }
    ASSERT_TRUE(out.BeginPlayback());
    device().CompleteHead();
    device().CompleteHead();
    EXPECT_GT(out.Notifications().Pending(), 6u * kCycles);
    out.ProcessNotifications();

    std::vector<std::string> expected;
    for (int i = 0; i < kCycles; ++i) {
        expected.insert(expected.end(), {"start", "stop"});
    }
    expected.push_back("start");
    EXPECT_EQ(events, expected);
    EXPECT_TRUE(out.Running());
    EXPECT_EQ(out.DoneCount(), 2);
    EXPECT_EQ(out.FilledCount(), 6);  // the start's four and two refills
    EXPECT_EQ(device().QueuedCount(), 4u);
    EXPECT_EQ(backend.BuffersWritten(),
              backend.BuffersReturned() + static_cast<int>(device().QueuedCount()));

    // One buffer of each earlier open and two of the last, each once.
    const std::vector<std::uint8_t> played = backend.Played();
    ASSERT_EQ(played.size(), (kCycles + 2) * 4096u);
    std::int32_t previous = -1;
    for (std::size_t b = 0; b < played.size(); b += 4096) {
        std::int32_t block = 0;
        std::memcpy(&block, played.data() + b, sizeof block);
        EXPECT_GT(block, previous) << "at " << b / 4096;
        previous = block;
    }
    out.StopImmediately();
    out.ProcessNotifications();
    EXPECT_NO_BUFFER_LOST(backend);
}

// ---------------------------------------------------------------- the queue

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A buffer handed to the host is not done: only what the host has played
// is. Part of a buffer played returns nothing; the rest returns it.
TEST_F(AudioOutTest, ABufferIsDoneOnlyOnceTheHostHasPlayedAllOfIt) {
    ASSERT_TRUE(out.BeginPlayback());
    out.ProcessNotifications();
    EXPECT_EQ(out.DoneCount(), 0);
    ASSERT_TRUE(device().PlayBytes(4094));
    out.ProcessNotifications();
    EXPECT_EQ(out.DoneCount(), 0);
    EXPECT_EQ(out.FilledCount(), 4);
    EXPECT_EQ(out.PlayedFrame(), 2047u);

    ASSERT_TRUE(device().PlayBytes(2));
    out.ProcessNotifications();
    EXPECT_EQ(out.DoneCount(), 1);
    EXPECT_EQ(out.FilledCount(), 5);
    // Made and not yet played: never more than the buffers.
    EXPECT_EQ(device().QueuedBytes().size(), 4u * 4096u);
    out.StopImmediately();
}

// On a stream that plays on its own, the render thread refills each buffer
// once the host's clock has played it, never before: the k-th done comes no
// earlier than k buffers' time after the start, and the handler runs on
// that thread, not the owner's.
TEST(AudioOutRenderThread, RefillsEachBufferWhenTheHostHasPlayedIt) {
    using Clock = std::chrono::steady_clock;
    SimulatedBackend backend;
    backend.SetPaced(true);
    AudioOutput out(backend);
    out.SetFrameRate(22050);
    out.SetBufferSize(4096);  // 2048 frames: 92.9 ms
    std::atomic<int> fills{0};
    std::atomic<bool> onOwner{false};
    const std::thread::id owner = std::this_thread::get_id();
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
        std::fill(buffer, buffer + size, 0);
        if (fills++ >= 4 && std::this_thread::get_id() == owner) {
            onOwner = true;
        }
        return true;
    };
    std::vector<Clock::duration> doneAt;
    const auto start = Clock::now();
    ASSERT_TRUE(out.BeginPlayback());
    while (doneAt.size() < 6 && Clock::now() - start < std::chrono::seconds(5)) {
        const int before = out.DoneCount();
        out.ProcessNotifications(out.Notifications().Pending());
        for (int i = before; i < out.DoneCount(); ++i) {
            doneAt.push_back(Clock::now() - start);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    out.StopImmediately();
    ASSERT_EQ(doneAt.size(), 6u);
    const double buffer = 2048.0 / 22050.0;
    for (std::size_t k = 0; k < doneAt.size(); ++k) {
        const double seconds = std::chrono::duration<double>(doneAt[k]).count();
        EXPECT_GE(seconds, (k + 1) * buffer - 0.002) << "done " << k + 1;
    }
    EXPECT_FALSE(onOwner);
    EXPECT_GE(fills, 10);
}

// A host whose buffer is smaller than the player's buffers takes the rest
// as it plays; the queue thread writes it, in order, with nothing lost.
TEST_F(AudioOutTest, AHostWithLessRoomGetsTheRestAsItPlays) {
    backend.SetHostCapacity(6000);
    blocksToFill = 6;
    ASSERT_TRUE(out.BeginPlayback());
    EXPECT_EQ(device().QueuedBytes().size(), 6000u);
    for (int played = 0; played < 6 * 4096;) {
        ASSERT_TRUE(WaitFor([&] { return !device().QueuedBytes().empty(); })) << played;
        const std::size_t bytes = std::min<std::size_t>(1000, device().QueuedBytes().size());
        ASSERT_TRUE(device().PlayBytes(bytes));
        played += static_cast<int>(bytes);
        out.ProcessNotifications();
    }
    ASSERT_TRUE(WaitFor([&] {
        out.ProcessNotifications();
        return !out.DeviceHeld();
    }));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    const std::vector<std::uint8_t> played = backend.Played();
    ASSERT_EQ(played.size(), 6u * 4096u);
    for (std::size_t i = 0; i < played.size() / 2; ++i) {
        ASSERT_EQ(played[2 * i] | (played[2 * i + 1] << 8), static_cast<int>(i & 0xFFFF)) << i;
    }
}

// A host that gives the stream up: every buffer comes back, the refill is
// refused with the host's reason, and the component closes as after any
// failed write.
TEST_F(AudioOutTest, AHostThatFailsEndsPlaybackWithItsReason) {
    ASSERT_TRUE(out.BeginPlayback());
    ASSERT_TRUE(PlayOne());
    device().FailHost(kDeviceNoDriver);
    out.ProcessNotifications();
    EXPECT_EQ(out.PlaybackFault(), StandardErrorText(kDeviceNoDriver));
    EXPECT_FALSE(out.Running());
    EXPECT_FALSE(out.DeviceHeld());
    EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
    EXPECT_NO_BUFFER_LOST(backend);
}

// 8- and 24-bit devices get the handler's 16-bit frames converted, for every
// buffer size and width the output settings offer, mono and stereo.
TEST(AudioOutConversion, DeviceReceivesTheConvertedSamples) {
    for (std::int32_t size : {4096, 8192, 16384, 32768, 64536}) {
        for (std::uint16_t bits : {8, 16, 24}) {
            for (bool stereo : {false, true}) {
                SimulatedBackend backend;
                AudioOutput out(backend);
                out.SetStereo(stereo);
                out.SetQuantization(bits);
                out.SetBufferSize(size);
                const int channels = stereo ? 2 : 1;
                const int frameBytes = bits / 8 * channels;
                const std::int32_t frames = size / frameBytes;
                std::vector<std::int16_t> produced;
                std::int32_t offered = -1;
                int calls = 0;
                out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& bytes) {
                    if (calls++ > 0) {
                        return false;
                    }
                    offered = bytes;
                    for (std::int32_t i = 0; i < bytes / 2; ++i) {
                        const auto s = static_cast<std::int16_t>(i * 7919 - 32768);
                        buffer[2 * i] = static_cast<std::uint8_t>(s & 0xFF);
                        buffer[2 * i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
                        produced.push_back(s);
                    }
                    return true;
                };
                ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
                ASSERT_EQ(offered, frames * channels * 2) << size << "/" << bits;
                backend.LastStream()->CompleteHead();
                const std::vector<std::uint8_t> played = backend.Played();
                ASSERT_EQ(played.size(), static_cast<std::size_t>(frames * frameBytes));
                for (std::size_t i = 0; i < produced.size(); ++i) {
                    const std::int16_t s = produced[i];
                    const auto u = static_cast<std::uint16_t>(s);
                    if (bits == 8) {
                        ASSERT_EQ(played[i], static_cast<std::uint8_t>((s >> 8) + 128)) << i;
                    } else if (bits == 16) {
                        ASSERT_EQ(played[2 * i] | (played[2 * i + 1] << 8), u) << i;
                    } else {
                        ASSERT_EQ(played[3 * i], 0) << i;
                        ASSERT_EQ(played[3 * i + 1] | (played[3 * i + 2] << 8), u) << i;
                    }
                }
                out.StopImmediately();
            }
        }
    }
}

TEST(AudioOutConversion, HandlerSizesAreClampedToTheBuffer) {
    SimulatedBackend backend;
    AudioOutput out(backend);
    out.SetStereo(true);
    out.SetBufferSize(4096);
    int calls = 0;
    out.OnFillBuffer = [&](std::uint8_t*, std::int32_t& bytes) {
        bytes = calls++ == 0 ? 1000003 : 6;  // too much, then a partial frame too
        return true;
    };
    ASSERT_TRUE(out.BeginPlayback());
    backend.LastStream()->CompleteHead();
    backend.LastStream()->CompleteHead();
    EXPECT_EQ(backend.Played().size(), 4096u + 4u);
}

TEST(DeviceList, DefaultItemThenTheDevicesCutTo32CharactersAndToldApart) {
    SimulatedBackend backend({"Speakers", "A very long device name that goes on and on",
                              std::string(31, 'x') + "\u00e9 sortie", "Speakers"});
    const std::vector<OutputDevice> items = OutputDeviceList(backend);
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].shown, "Windows Default");
    EXPECT_EQ(items[0].id, "");
    EXPECT_EQ(items[1].shown, "Speakers");
    EXPECT_EQ(items[2].shown, "A very long device name that goe\u2026");
    EXPECT_EQ(items[2].description, "A very long device name that goes on and on");
    EXPECT_EQ(items[3].shown, std::string(31, 'x') + "\u2026");  // "é" would be split at 32 bytes
    EXPECT_EQ(items[4].shown, "Speakers (2)");                   // two alike are told apart
    EXPECT_EQ(WaveDeviceForItem(0), kDefaultWaveDevice);
    EXPECT_EQ(WaveDeviceForItem(2), 1u);
    // A stored item far out of range gives a device that is not there (UBSan
    // saw the signed overflow it used to be).
    EXPECT_EQ(WaveDeviceForItem(std::numeric_limits<int>::min()), 0x7FFFFFFFu);
}

// A remembered device is found by the host's name for it first, then by its
// whole description, then by the description cut as older stores kept it;
// by its index only when it names none. One that is gone is not replaced by
// whatever stands at its old place.
TEST(DeviceList, ARememberedDeviceIsFoundByIdentityThenDescription) {
    const std::string analog = "Family 17h/19h HD Audio Controller Analog Stereo";
    const std::string digital = "Family 17h/19h HD Audio Controller Digital Stereo";
    SimulatedBackend backend;
    backend.SetDeviceNames({analog, digital}, {"alsa_output.analog", "alsa_output.digital"});
    std::vector<OutputDevice> items = OutputDeviceList(backend);
    const RememberedDevice second = RememberDevice(items, 2);
    EXPECT_EQ(second.id, "alsa_output.digital");
    EXPECT_EQ(second.cutName, "Family 17h/19h HD Audio Controll");
    EXPECT_EQ(FindDevice(items, second), 2);

    // Another start, the sinks listed the other way round.
    backend.SetDeviceNames({digital, analog}, {"alsa_output.digital", "alsa_output.analog"});
    items = OutputDeviceList(backend);
    EXPECT_EQ(FindDevice(items, second), 1);
    // The sink renamed by the server: its whole description still finds it.
    backend.SetDeviceNames({analog, digital}, {"a", "b"});
    items = OutputDeviceList(backend);
    EXPECT_EQ(FindDevice(items, second), 2);
    // A store from before: the cut description finds the first alike.
    EXPECT_EQ(FindDevice(items, RememberedDevice{"", "", second.cutName, 2}), 1);
    // Gone: not found, whatever is at item 2 now.
    backend.SetDeviceNames({analog, "HDMI"});
    items = OutputDeviceList(backend);
    EXPECT_EQ(FindDevice(items, second), -1);
    // No name at all: the index, within the list.
    EXPECT_EQ(FindDevice(items, RememberedDevice{"", "", "", 2}), 2);
    EXPECT_EQ(FindDevice(items, RememberedDevice{"", "", "", 7}), 0);
    EXPECT_FALSE(RememberDevice(items, 0).NamesADevice());
}

// The renderer as the buffer source: without Loop the period plays out, the
// queued buffers drain and the device closes by itself.
TEST(AudioOutWithRenderer, PlaysOnePeriodThenClosesByItself) {
    UniformRandom random, reference;
    SignalEngine engine(random), twin(reference);
    for (SignalEngine* e : {&engine, &twin}) {
        e->state.sampleRate = 8000;
        e->live.channelMode = kStereo;
        e->live.noiseFunction = {kWhiteNoise, kPinkNoise};
        PrepareEngine(e->state, e->live,
                      {"1", {FilterTexts{"1000", "1", "0"}, FilterTexts{"1000", "1", "0"}}},
                      nullptr);
    }
    SimulatedBackend backend;
    AudioOutput out(backend);
    out.SetStereo(true);
    out.SetFrameRate(8000);
    out.SetBufferSize(4096);
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
        return engine.FillBlock(buffer, static_cast<std::size_t>(size)) == BlockStatus::kPlay;
    };
    ASSERT_TRUE(out.BeginPlayback());
    for (int i = 0; i < 100 && !stopped; ++i) {
        if (backend.LastStream() != nullptr) {
            backend.LastStream()->CompleteHead();
        }
        out.ProcessNotifications();
    }
    ASSERT_TRUE(stopped);
    // 8000 frames in blocks of 1024: the eighth block reaches the period's
    // end, so the renderer refuses it and the sound ends with the seventh.
    std::vector<std::uint8_t> expected(7 * 4096);
    for (std::size_t b = 0; b < 7; ++b) {
        twin.FillBlock(expected.data() + b * 4096, 4096);
    }
    EXPECT_EQ(backend.Played(), expected);
}

TEST(PacedSimulatedStream, PlaysInRealTimeUntilTheSignalEnds) {
    SimulatedBackend backend;
    backend.SetPaced(true);
    AudioOutput out(backend);
    out.SetStereo(true);
    out.SetFrameRate(44100);
    out.SetBufferSize(4096);  // about 23 ms per buffer
    int blocks = 0;
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };
    out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& bytes) {
        std::fill(buffer, buffer + bytes, static_cast<std::uint8_t>(blocks));
        return ++blocks <= 6;
    };
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(out.BeginPlayback());
    while (!stopped && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        out.ProcessNotifications();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(stopped);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(6 * 23 - 10));  // paced, not instant
    const std::vector<std::uint8_t> played = backend.Played();
    ASSERT_EQ(played.size(), 6u * 4096u);
    for (int b = 0; b < 6; ++b) {
        EXPECT_EQ(played[b * 4096], b);
    }
}

// The contract every back-end keeps through the one queue, here on the
// simulated stream's real-time clock.
TEST(StreamContract, SimulatedPacedStream) {
    SimulatedBackend backend;
    backend.SetPaced(true);
    testing::CheckStreamContract({backend});
}

}  // namespace
}  // namespace skarnel
