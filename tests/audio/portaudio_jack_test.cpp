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
#include "stream_contract.h"

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

// 48 kHz 16-bit stereo, as the JACK server runs.
WaveFormat StereoFormat() {
    WaveFormat format;
    format.channels = 2;
    format.bitsPerSample = 16;
    format.samplesPerSec = kRate;
    format.blockAlign = 4;
    format.avgBytesPerSec = 4 * kRate;
    return format;
}

// ---------------------------------------------------------------- playback

// The contract every back-end keeps through the one queue, on JACK's dummy
// driver (which runs in real time).
TEST_F(PortAudioJack, KeepsTheStreamContract) {
    PortAudioBackend backend;
    const std::optional<std::uint32_t> device = JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio lists no JACK output device";
    CheckStreamContract({backend, *device, kRate, true});
}

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

// A fill that comes later than the stream lasts (the thread that makes the
// blocks held up): the stream plays silence meanwhile (the callback's own, or
// the host's when blocking writes stop coming), counts the gap, and goes on
// with the next sample.
TEST_P(PortAudioJackFeeds, ALateFillLeavesACountedGapAndLosesNoSample) {
    const bool blocking = GetParam();
    constexpr std::size_t kFrames = 2 * kRate;
    PortAudioBackend backend;
    JackRecorder recorder(kFrames + 10 * kRate);
    ASSERT_TRUE(recorder.Ready());
    const std::optional<std::uint32_t> device =
        blocking ? DeviceIndex(paALSA, kAlsaOnJack) : JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio does not list the device";

    AudioOutput out(backend);
    SetUpOutput(out, *device, 19200, 2);  // 0.2 s, well short of the stall
    // The fill handler runs on the component's render thread; what it
    // touches is its own.
    std::size_t produced = 0;
    bool stalled = false;
    out.OnFillBuffer = [play = PlaySequence(kFrames, produced), &produced, &stalled](
                           std::uint8_t* buffer, std::int32_t& size) {
        if (!stalled && produced >= kFrames / 2) {
            stalled = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return play(buffer, size);
    };
    bool stopped = false;
    out.OnStop = [&] { stopped = true; };
    out.SetPaused(true);
    ASSERT_TRUE(out.BeginPlayback()) << out.LastError();
    // ALSA's plug-in connects itself to the recorder when it starts.
    ASSERT_TRUE(blocking || recorder.ConnectToPlaybackSources());
    recorder.Start();
    out.SetPaused(false);
    ASSERT_TRUE(PlayToTheEnd(out, stopped, std::chrono::seconds(30)));
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

// "Played" is what has reached the output: the position never runs ahead of
// the host's real-time clock (a JACK period or two of slack, for a position
// that moves a period at a time), and it does move.
TEST_P(PortAudioJackFeeds, PlayedBytesNeverRunsAheadOfRealTime) {
    const bool blocking = GetParam();
    PortAudioBackend backend;
    JackRecorder recorder(10 * kRate);  // ALSA's plug-in plays into its ports
    ASSERT_TRUE(recorder.Ready());
    const std::optional<std::uint32_t> device =
        blocking ? DeviceIndex(paALSA, kAlsaOnJack) : JackDeviceIndex();
    ASSERT_TRUE(device.has_value()) << "PortAudio does not list the device";
    const auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
    ASSERT_EQ(backend.Open(*device, StereoFormat(), {"played", 19200, 4}, wakeup, stream),
              kDeviceOk);  // 0.4 s

    const std::vector<std::uint8_t> bytes = SequenceBytes(0, 4 * kRate);
    std::size_t written = 0;
    const auto feed = [&] {
        const std::size_t n = std::min(stream->Writable(), bytes.size() - written);
        ASSERT_EQ(stream->Write(bytes.data() + written, n), kDeviceOk);
        written += n;
    };
    feed();
    ASSERT_EQ(written, 4u * 19200);
    constexpr double kSlackSeconds = 0.06;
    const auto start = Clock::now();
    ASSERT_EQ(stream->Start(), kDeviceOk);
    std::uint64_t last = 0;
    double worstLead = -1.0;  // seconds the position was ahead of the clock
    while (Clock::now() - start < std::chrono::milliseconds(1500)) {
        const std::uint64_t played = stream->PlayedBytes();
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        ASSERT_GE(played, last);
        ASSERT_LE(played, written);
        last = played;
        worstLead = std::max(worstLead, static_cast<double>(played) / (4.0 * kRate) - elapsed);
        feed();
        wakeup->Wait(std::chrono::milliseconds(2));
    }
    EXPECT_LE(worstLead, kSlackSeconds);
    EXPECT_GE(last, 4u * kRate / 2) << "less than 0.5 s played in 1.5 s";
    EXPECT_EQ(stream->Failure(), kDeviceOk);
}

INSTANTIATE_TEST_SUITE_P(Feeds, PortAudioJackFeeds, ::testing::Values(false, true),
                         [](const auto& info) {
                             return std::string(info.param ? "AlsaBlockingWrites" : "JackCallback");
                         });

// The stream itself, holding a second: a pause silences it within a host
// period and keeps what it holds, and the played position stands still; a
// flush drops what it holds at once, so what is written next follows at once.
TEST_F(PortAudioJack, PauseHaltsAtOnceAndFlushDropsWhatTheStreamHolds) {
    constexpr std::size_t kFirst = 2 * kRate;
    constexpr std::size_t kSecond = kRate / 2;
    PortAudioBackend backend;
    const std::optional<std::uint32_t> index = JackDeviceIndex();
    ASSERT_TRUE(index.has_value()) << "PortAudio lists no JACK output device";
    JackRecorder recorder(20 * kRate);
    ASSERT_TRUE(recorder.Ready());
    const auto wakeup = std::make_shared<QueueWakeup>();
    std::unique_ptr<HostStream> stream;
    ASSERT_EQ(backend.Open(*index, StereoFormat(), {"flush test", kRate, 4}, wakeup, stream),
              kDeviceOk);
    ASSERT_TRUE(recorder.ConnectToPlaybackSources());
    recorder.Start();

    const std::vector<std::uint8_t> first = SequenceBytes(0, kFirst);
    const std::vector<std::uint8_t> second = SequenceBytes(kFirst, kSecond);
    std::size_t firstWritten = 0;
    const auto feedFirst = [&] {
        const std::size_t n = std::min(stream->Writable(), first.size() - firstWritten);
        ASSERT_EQ(stream->Write(first.data() + firstWritten, n), kDeviceOk);
        firstWritten += n;
    };
    feedFirst();
    ASSERT_EQ(stream->Start(), kDeviceOk);
    const auto playUntil = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < playUntil) {
        feedFirst();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(stream->SetPaused(true), kDeviceOk);
    const std::uint64_t playedAtPause = stream->PlayedBytes();
    EXPECT_GT(playedAtPause, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(stream->PlayedBytes(), playedAtPause);
    const std::size_t pausedAt = recorder.Frames();
    ASSERT_LT(firstWritten, first.size());

    const auto flushed = Clock::now();
    ASSERT_EQ(stream->Flush(), kDeviceOk);
    EXPECT_LT(Clock::now() - flushed, std::chrono::milliseconds(50));
    EXPECT_EQ(stream->PlayedBytes(), firstWritten);  // dropped, unplayed, at once
    std::size_t secondWritten = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::size_t n = std::min(stream->Writable(), second.size() - secondWritten);
            EXPECT_EQ(stream->Write(second.data() + secondWritten, n), kDeviceOk);
            secondWritten += n;
            return secondWritten == second.size() &&
                   stream->PlayedBytes() == firstWritten + second.size();
        },
        std::chrono::seconds(5)));
    // The next period or two of silence reaches the recorder too.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stream.reset();
    recorder.Stop();

    const Decoded recorded = Decode(recorder.Samples());
    EXPECT_EQ(recorded.inexact, 0u);
    // Before the flush: the start of the first bytes, then the pause's
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
    // After it: the second bytes whole, nothing more of the first.
    std::vector<std::int16_t> after;
    std::copy_if(recorded.samples.begin() + static_cast<std::ptrdiff_t>(pausedEnd),
                 recorded.samples.end(), std::back_inserter(after),
                 [](std::int16_t s) { return s != 0; });
    EXPECT_TRUE(
        std::equal(after.begin(), after.end(), expected.begin() + 2 * kFirst, expected.end()))
        << after.size() / 2 << " frames after the flush, " << kSecond << " expected";
}

}  // namespace
}  // namespace skarnel
