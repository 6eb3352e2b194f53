#include <gtest/gtest.h>
#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_output.h"
#include "audio/portaudio_backend.h"
#include "private_jack_server.h"

// A JACK server that goes away while PortAudio plays into it. In a process
// where that happened PortAudio cannot start afresh: its JACK host waits
// minutes for the dead server to confirm that the stream stopped, and that
// wait holds PortAudio initialised. So this test has a process of its own.

namespace skarnel {
namespace {

using namespace skarnel::testing;

class PortAudioJackFailure : public PrivateJackServer {};

// The server shuts down while the stream plays: every buffer comes back, the
// next write fails with a reason the player shows, and the device still
// closes.
TEST_F(PortAudioJackFailure, AServerThatGoesAwayEndsPlaybackWithAReason) {
    auto backend = std::make_unique<PortAudioBackend>();
    const std::optional<std::uint32_t> device = JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio lists no JACK output device";
    {
        AudioOutput out(*backend);
        SetUpOutput(out, *device, 8192, 4);
        SampleSequence sequence;
        out.OnFillBuffer = [&](std::uint8_t* buffer, std::int32_t& size) {
            for (std::int32_t i = 0; i + 1 < size; i += 2) {
                const auto s = static_cast<std::uint16_t>(sequence.Next());
                buffer[i] = static_cast<std::uint8_t>(s & 0xFF);
                buffer[i + 1] = static_cast<std::uint8_t>(s >> 8);
            }
            return true;
        };
        bool stopped = false;
        out.OnStop = [&] { stopped = true; };
        ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
        ASSERT_TRUE(WaitUntil(
            [&] {
                out.ProcessNotifications();
                return out.DoneCount() >= 12;
            },
            std::chrono::seconds(10)))
            << "the stream did not play";

        StopServer();
        const auto gone = Clock::now();
        ASSERT_TRUE(PlayToTheEnd(out, stopped, std::chrono::seconds(10)));
        EXPECT_LT(Clock::now() - gone, std::chrono::seconds(5));
        EXPECT_EQ(out.PlaybackFault(), backend->ErrorText(PortAudioBackend::kStreamStoppedByHost));
        EXPECT_FALSE(out.DeviceOpen());
        EXPECT_EQ(out.QueuedCount(), 0);

        // The server back: PortAudio's JACK host in this process stays on
        // the one that went, so ON says what to do, not that memory ran out.
        StartServer();
        ASSERT_FALSE(HasFatalFailure());
        if (!out.BeginPlayback()) {
            EXPECT_EQ(out.LastError(), backend->ErrorText(PortAudioBackend::kJackServerGone));
            EXPECT_NE(out.LastError().find("restart Skarnel to use JACK again"), std::string::npos);
        } else {
            out.StopImmediately();  // a PortAudio that finds the new server plays
        }
    }
    // Nor does ending PortAudio wait for the server that went away.
    const auto start = Clock::now();
    backend.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace skarnel
