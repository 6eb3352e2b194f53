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

// These tests play through PortAudio's JACK host API (and ALSA's JACK
// plug-in) into a JACK server of their own and compare what PortAudio's client
// sent, recorded by a JACK client of the test's, with what was played.

namespace skarnel {
namespace {

using namespace skarnel::testing;

class PortAudioJack : public PrivateJackServer {};

// The recording's samples as the 16-bit values they came from: JACK carries
// float, and PortAudio maps a sample s to s / 32768 exactly.
struct Decoded {
    std::vector<std::int16_t> samples;
    std::size_t inexact = 0;  // samples that were no 16-bit value
};

Decoded Decode(const std::vector<float>& recorded) {
    Decoded d;
    d.samples.reserve(recorded.size());
    for (float f : recorded) {
        const float scaled = f * 32768.0f;
        const auto s = static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
        d.inexact += static_cast<float>(s) != scaled ? 1 : 0;
        d.samples.push_back(s);
    }
    return d;
}

std::vector<std::int16_t> ExpectedSamples(std::size_t frames) {
    SampleSequence sequence;
    std::vector<std::int16_t> samples(2 * frames);
    for (auto& s : samples) {
        s = sequence.Next();
    }
    return samples;
}

// ---------------------------------------------------------------- playback

// Thirty seconds through the real component: the recording holds every frame
// exactly once, in order, with only silence before and after.
TEST_F(PortAudioJack, PlaysThirtySecondsBitExactThroughTheComponent) {
    constexpr std::size_t kFrames = 30 * kRate;
    PortAudioBackend backend;
    const std::optional<std::uint32_t> device = JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio lists no JACK output device";
    JackRecorder recorder(kFrames + 10 * kRate);
    ASSERT_TRUE(recorder.Ready());

    AudioOutput out(backend);
    // The largest buffers: a loaded machine (the test suite runs in parallel,
    // under the sanitizers too) can hold the device's thread up for half a
    // second; this test is about exactness, the next one about gaps.
    SetUpOutput(out, *device, 64536, 4);
    std::size_t produced = 0;
    out.OnFillBuffer = PlaySequence(kFrames, produced);
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };

    // Paused from the open on, so the recorder is connected before the first
    // sample plays.
    out.SetPaused(true);
    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
    ASSERT_TRUE(recorder.ConnectToPlaybackSources());
    recorder.Start();
    out.SetPaused(false);
    ASSERT_TRUE(PlayToTheEnd(out, stopped, std::chrono::seconds(60)))
        << produced << " of " << kFrames << " frames produced";
    recorder.Stop();

    EXPECT_EQ(produced, kFrames);
    EXPECT_EQ(out.PlaybackFault(), "");
    EXPECT_EQ(backend.UnderrunCount(), 0u);
    ASSERT_FALSE(recorder.Full()) << "the recording has no room left for the trailing silence";
    const Decoded recorded = Decode(recorder.Samples());
    EXPECT_EQ(recorded.inexact, 0u);
    const std::vector<std::int16_t> expected = ExpectedSamples(kFrames);
    const auto first = std::find_if(recorded.samples.begin(), recorded.samples.end(),
                                    [](std::int16_t s) { return s != 0; });
    const auto start = static_cast<std::size_t>(first - recorded.samples.begin());
    ASSERT_EQ(start % 2, 0u) << "the recording starts in the middle of a frame";
    ASSERT_GE(recorded.samples.size() - start, expected.size())
        << "recorded " << (recorded.samples.size() - start) / 2 << " frames after the start";
    const auto [at, ignored] = std::mismatch(expected.begin(), expected.end(), first);
    EXPECT_EQ(at, expected.end()) << "first difference at frame " << (at - expected.begin()) / 2;
    EXPECT_TRUE(std::all_of(first + static_cast<std::ptrdiff_t>(expected.size()),
                            recorded.samples.end(), [](std::int16_t s) { return s == 0; }))
        << "samples after the last one played";
}

class PortAudioJackFeeds : public PrivateJackServer, public ::testing::WithParamInterface<bool> {};

// An owner that stops refilling for longer than the ring lasts: the device
// plays silence meanwhile (the callback's own, or the host's when blocking
// writes stop coming), counts the gap, and goes on with the next sample.
TEST_P(PortAudioJackFeeds, ALateOwnerLeavesACountedGapAndLosesNoSample) {
    const bool blocking = GetParam();
    constexpr std::size_t kFrames = 2 * kRate;
    PortAudioBackend backend;
    JackRecorder recorder(kFrames + 10 * kRate);
    ASSERT_TRUE(recorder.Ready());
    const std::optional<std::uint32_t> device =
        blocking ? DeviceIndex(paALSA, kAlsaOnJack) : JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio does not list the device";

    AudioOutput out(backend);
    SetUpOutput(out, *device, 2048, 2);  // the ring's smallest: 0.1 s
    std::size_t produced = 0;
    out.OnFillBuffer = PlaySequence(kFrames, produced);
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };
    out.SetPaused(true);
    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
    // ALSA's plug-in connects itself to the recorder when it starts.
    ASSERT_TRUE(blocking || recorder.ConnectToPlaybackSources());
    recorder.Start();
    out.SetPaused(false);
    bool stalled = false;
    ASSERT_TRUE(PlayToTheEnd(out, stopped, std::chrono::seconds(30), [&] {
        if (!stalled && produced >= kFrames / 2) {
            stalled = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }));
    recorder.Stop();

    const Decoded recorded = Decode(recorder.Samples());
    EXPECT_EQ(recorded.inexact, 0u);
    // Silent runs between samples, and the samples without them.
    std::size_t gaps = 0;
    std::vector<std::int16_t> played;
    bool inSilence = false;
    for (std::size_t i = 0; i + 1 < recorded.samples.size(); i += 2) {
        const bool silent = recorded.samples[i] == 0 && recorded.samples[i + 1] == 0;
        if (!silent) {
            gaps += inSilence && !played.empty() ? 1 : 0;
            played.push_back(recorded.samples[i]);
            played.push_back(recorded.samples[i + 1]);
        }
        inSilence = silent;
    }
    EXPECT_GE(gaps, 1u);
    EXPECT_EQ(backend.UnderrunCount(), gaps);
    EXPECT_TRUE(played == ExpectedSamples(kFrames))
        << played.size() / 2 << " frames played of " << kFrames;
}

INSTANTIATE_TEST_SUITE_P(Feeds, PortAudioJackFeeds, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "AlsaBlockingWrites" : "JackCallback");
                         });

// The bytes of frames [first, first + count) of the sequence, 16-bit stereo.
std::vector<std::uint8_t> SequenceBytes(std::size_t first, std::size_t count) {
    const std::vector<std::int16_t> samples = ExpectedSamples(first + count);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2 * first; i < samples.size(); ++i) {
        const auto s = static_cast<std::uint16_t>(samples[i]);
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(s >> 8));
    }
    return bytes;
}

bool Silent(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
    return std::all_of(samples.begin() + static_cast<std::ptrdiff_t>(from),
                       samples.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::int16_t s) { return s == 0; });
}

// The device itself, with a ring of a second: a pause silences the stream
// within a host period and keeps what the ring holds; a reset drops it, so
// the next buffer follows at once.
TEST_F(PortAudioJack, PauseHaltsAtOnceAndResetDropsWhatTheRingHolds) {
    constexpr std::size_t kFirst = 2 * kRate;
    constexpr std::size_t kSecond = kRate / 2;
    PortAudioBackend backend;
    const std::optional<std::uint32_t> index = JackDeviceIndex();
    ASSERT_TRUE(index.has_value()) << "PortAudio lists no JACK output device";
    JackRecorder recorder(20 * kRate);
    ASSERT_TRUE(recorder.Ready());
    WaveFormat format;
    format.channels = 2;
    format.bitsPerSample = 16;
    format.samplesPerSec = kRate;
    format.blockAlign = 4;
    format.avgBytesPerSec = 4 * kRate;
    NotificationChannel channel;
    std::unique_ptr<WaveOutDevice> device;
    ASSERT_EQ(backend.Open(*index, format, {"reset test", kRate, 4}, {&channel, 1}, device),
              kDeviceOk);
    ASSERT_TRUE(recorder.ConnectToPlaybackSources());
    recorder.Start();

    std::vector<std::uint8_t> first = SequenceBytes(0, kFirst);
    std::vector<std::uint8_t> second = SequenceBytes(kFirst, kSecond);
    WaveHeader headers[2] = {};
    headers[0].data = first.data();
    headers[0].bufferLength = static_cast<std::uint32_t>(first.size());
    headers[1].data = second.data();
    headers[1].bufferLength = static_cast<std::uint32_t>(second.size());
    for (WaveHeader& header : headers) {
        ASSERT_EQ(device->PrepareHeader(header), kDeviceOk);
    }
    ASSERT_EQ(device->Write(headers[0]), kDeviceOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(device->Pause(), kDeviceOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::size_t pausedAt = recorder.Frames();
    ASSERT_EQ(device->Reset(), kDeviceOk);
    ASSERT_EQ(device->Write(headers[1]), kDeviceOk);
    std::vector<WaveHeader*> dones;
    ASSERT_TRUE(WaitUntil(
        [&] {
            while (const auto n = channel.Take()) {
                if (n->event == DeviceEvent::kBufferDone) {
                    dones.push_back(n->header);
                }
            }
            return dones.size() == 2;
        },
        std::chrono::seconds(5)));
    EXPECT_EQ(dones[0], &headers[0]);  // handed back by the reset, unplayed
    EXPECT_EQ(dones[1], &headers[1]);
    ASSERT_EQ(device->Close(), kDeviceOk);
    recorder.Stop();

    const Decoded recorded = Decode(recorder.Samples());
    EXPECT_EQ(recorded.inexact, 0u);
    // Before the reset: the start of the first buffer, then the pause's
    // silence (its last 0.2 s at least).
    const std::size_t pausedEnd = 2 * pausedAt;
    ASSERT_GE(pausedEnd, 2 * kRate / 5);
    EXPECT_TRUE(Silent(recorded.samples, pausedEnd - 2 * kRate / 5, pausedEnd));
    const std::vector<std::int16_t> expected = ExpectedSamples(kFirst + kSecond);
    std::vector<std::int16_t> before;
    std::copy_if(recorded.samples.begin(),
                 recorded.samples.begin() + static_cast<std::ptrdiff_t>(pausedEnd),
                 std::back_inserter(before), [](std::int16_t s) { return s != 0; });
    ASSERT_GT(before.size(), 0u);
    ASSERT_LT(before.size(), 2 * kFirst);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), expected.begin()));
    // After it: the second buffer whole, nothing more of the first.
    std::vector<std::int16_t> after;
    std::copy_if(recorded.samples.begin() + static_cast<std::ptrdiff_t>(pausedEnd),
                 recorded.samples.end(), std::back_inserter(after),
                 [](std::int16_t s) { return s != 0; });
    EXPECT_TRUE(
        std::equal(after.begin(), after.end(), expected.begin() + 2 * kFirst, expected.end()))
        << after.size() / 2 << " frames after the reset, " << kSecond << " expected";
}

}  // namespace
}  // namespace skarnel
