#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "analysis/heard_frames.h"
#include "engine/playback_source.h"

namespace skarnel {

class AudioOutput;
class GeneratorModel;
class LiveView;
class SignalAnalyzer;

// The way of the signal from the window's engine to the ear and back to the
// live view:
//  - the window's values reach the output's render thread as a snapshot
//    after every change (PlaybackSource), taken on the GUI thread whenever
//    its event loop has handled what came and is about to wait, and at
//    every refresh of the view at the latest;
//  - the render thread makes each block (the output's fill handler) and
//    puts its signal frames into a tap (HeardFrames) with the stream frame
//    at which they play and the count of its samples that were clipped;
//  - at every refresh of the live view (shown or not) what the host has
//    played moves from the tap into the analyzer the view shows, and the
//    clips of the blocks heard to the view's clip lamps, so the view is in
//    step with the ear.
// Nothing of this allocates while a signal plays.
class PlaybackPath : public QObject {
    Q_OBJECT
public:
    // How long the GUI thread may be held up before the view misses frames.
    static constexpr std::size_t kHeardStallSeconds = 5;

    PlaybackPath(SignalEngine& windowEngine, GeneratorModel& model, AudioOutput& output,
                 LiveView& view, QObject* parent = nullptr);
    ~PlaybackPath() override;

    // Before a start, with the output's format set: the analyzer for it
    // (kept while the format stays), the tap emptied, the engine that plays
    // copied from the window's.
    void Prepare();
    // Around the start's first blocks.
    void SetStarting(bool starting) { source_.SetStarting(starting); }
    // The output has opened / closed.
    void Started();
    void Stopped();

private:
    // Moves what the host has played into the analyzer now.
    void TakeHeard();
    // The output's fill handler (the render thread, or the GUI thread in a
    // start and for a stream without a render thread).
    bool Fill(std::uint8_t* buffer, std::int32_t& size);
    void PublishValues();
    void ScheduleTestStall();

    SignalEngine& windowEngine_;
    GeneratorModel& model_;
    AudioOutput& output_;
    LiveView& view_;
    const std::thread::id guiThread_;
    PlaybackSource source_;
    HeardFrames heard_;
    // Kept from start to start while the format stays, so a start does not
    // allocate its FFT storage.
    std::unique_ptr<SignalAnalyzer> analyzer_;
    bool playing_ = false;  // between the output's open and close
    QMetaObject::Connection publishing_;
};

}  // namespace skarnel
