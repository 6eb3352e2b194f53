#include "generator/playback_path.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <algorithm>
#include <array>
#include <chrono>

#include "analysis/signal_analyzer.h"
#include "audio/audio_output.h"
#include "generator/live_view.h"
#include "platform/logging.h"
#include "settings/generator_model.h"

namespace skarnel {

namespace {

// Feeds `bytes` of 16-bit frames, as the fill handler writes them, to
// `analyzer` in the width the device gets: an 8-bit device plays each
// sample's high byte, offset by 128 (as the output component converts it);
// a 24-bit one plays the 16 bits unchanged. No allocation: the 8-bit bytes
// pass through a small buffer on the stack.
void FeedPlayed(SignalAnalyzer& analyzer, const std::uint8_t* bytes, std::size_t count) {
    if (analyzer.format().bitsPerSample != 8) {
        analyzer.Feed(bytes, count);
        return;
    }
    std::array<std::uint8_t, 1024> narrow{};
    for (std::size_t done = 0; done + 1 < count;) {
        const std::size_t samples = std::min(narrow.size(), (count - done) / 2);
        for (std::size_t i = 0; i < samples; ++i) {
            const auto sample = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(bytes[done + 2 * i] | (bytes[done + 2 * i + 1] << 8)));
            narrow[i] = static_cast<std::uint8_t>((sample >> 8) + 128);
        }
        analyzer.Feed(narrow.data(), samples);
        done += 2 * samples;
    }
}

}  // namespace

PlaybackPath::PlaybackPath(SignalEngine& windowEngine, GeneratorModel& model, AudioOutput& output,
                           LiveView& view, QObject* parent)
    : QObject(parent),
      windowEngine_(windowEngine),
      model_(model),
      output_(output),
      view_(view),
      guiThread_(std::this_thread::get_id()),
      source_(windowEngine.random()) {
    output_.OnFillBuffer = [this](std::uint8_t* buffer, std::int32_t& size) {
        return Fill(buffer, size);
    };
    // The view's own timer moves what was heard into the analyzer just
    // before it reads it. It publishes too: an event loop that only polls (a
    // wait that handles events as they come) never announces that it is
    // about to block.
    view_.SetBeforeRefresh([this] {
        if (playing_) {
            PublishValues();
            TakeHeard();
        }
    });
}

PlaybackPath::~PlaybackPath() {
    QObject::disconnect(publishing_);
}

void PlaybackPath::Prepare() {
    const WaveFormat& device = output_.Format();
    const SignalAnalyzer::Format format{static_cast<int>(device.samplesPerSec),
                                        static_cast<int>(device.channels),
                                        device.bitsPerSample == 8 ? 8 : 16};
    view_.Clear();
    view_.ResetClipped();  // the lamps count from this ON
    if (analyzer_ == nullptr || analyzer_->format() != format) {
        analyzer_ = std::make_unique<SignalAnalyzer>(format);
    } else {
        analyzer_->Reset();
    }
    view_.Follow(analyzer_.get());
    // Room, in 16-bit frames, for every buffer on its way and one more, and
    // for what the render thread makes while the GUI thread is held up for
    // a few seconds: the figures since ON stay whole.
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(device.channels);
    const std::size_t bytesPerSample = std::max<std::size_t>(device.bitsPerSample / 8, 1);
    const std::size_t buffers =
        static_cast<std::size_t>(output_.BufferSize()) * (output_.NumBuffers() + 1);
    const std::size_t stall = frameBytes * device.samplesPerSec * kHeardStallSeconds;
    const std::size_t capacity = buffers * 2 / bytesPerSample + stall;
    const std::size_t blockBytes =
        static_cast<std::size_t>(output_.BufferSize()) * 2 / bytesPerSample;
    heard_.Reset(capacity, frameBytes, capacity / std::max<std::size_t>(blockBytes, 1) + 2);
    model_.RefreshLiveSettings();
    source_.Begin(windowEngine_);
}

void PlaybackPath::Started() {
    playing_ = true;
    ScheduleTestStall();
    // Whenever the GUI thread has handled its events, whatever they changed
    // goes to the render thread.
    if (!publishing_) {
        publishing_ =
            connect(QAbstractEventDispatcher::instance(QThread::currentThread()),
                    &QAbstractEventDispatcher::aboutToBlock, this, &PlaybackPath::PublishValues);
    }
}

// SKARNEL_TEST_STALL_GUI_MS="after,duration": the end-to-end tests hold the
// GUI thread up for `duration` ms, `after` ms into the first playback, to show
// that the sound does not depend on it.
void PlaybackPath::ScheduleTestStall() {
    static bool scheduled = false;
    const QByteArray value = qgetenv("SKARNEL_TEST_STALL_GUI_MS");
    const QList<QByteArray> parts = value.split(',');
    if (scheduled || parts.size() != 2) {
        return;
    }
    scheduled = true;
    const int duration = parts[1].toInt();
    QTimer::singleShot(parts[0].toInt(), this, [duration] {
        qCWarning(lcWindow) << "test hook: the GUI thread is held for" << duration << "ms";
        std::this_thread::sleep_for(std::chrono::milliseconds(duration));
    });
}

void PlaybackPath::Stopped() {
    playing_ = false;
    QObject::disconnect(publishing_);
    publishing_ = {};
}

void PlaybackPath::PublishValues() {
    model_.RefreshLiveSettings();
    source_.Publish(windowEngine_);
}

bool PlaybackPath::Fill(std::uint8_t* buffer, std::int32_t& size) {
    if (std::this_thread::get_id() == guiThread_) {
        // A block made on the GUI thread reads the values as they stand.
        PublishValues();
    }
    std::size_t signalBytes = 0;
    std::array<std::uint64_t, kChannelCount> clipped = source_.clippedSamples();
    const bool plays = source_.Fill(buffer, size, signalBytes);
    for (int c = 0; c < kChannelCount; ++c) {
        clipped[c] = source_.clippedSamples()[c] - clipped[c];
    }
    heard_.Push(output_.FillFrame(), buffer, signalBytes, clipped);
    return plays;
}

void PlaybackPath::TakeHeard() {
    if (analyzer_ == nullptr) {
        return;
    }
    // The spectrum is measured only while someone can see it (the view shown
    // in a visible window); the meters always, so the figures since ON stay
    // whole.
    analyzer_->SetSpectrumOn(view_.isVisible());
    heard_.TakeHeard(output_.PlayedFrame(), [this](const std::uint8_t* bytes, std::size_t count) {
        FeedPlayed(*analyzer_, bytes, count);
    });
    view_.ShowClipped(heard_.ClippedHeard());
}

}  // namespace skarnel
