#include "export/source_pipeline.h"

#include <algorithm>

namespace skarnel {

SourceState SourceState::Of(SignalEngine& engine) noexcept {
    SourceState s;
    s.randomSeed = engine.random().seed();
    s.pinkRows = engine.state.pinkRows;
    for (int c = 0; c < kChannelCount; ++c) {
        s.modGain[c] = engine.state.channels[c].modGain;
    }
    return s;
}

void SourceState::ApplyTo(SignalEngine& engine) const noexcept {
    engine.random() = UniformRandom(randomSeed);
    engine.state.pinkRows = pinkRows;
    for (int c = 0; c < kChannelCount; ++c) {
        engine.state.channels[c].modGain = modGain[c];
    }
}

bool SourcePipeline::Applies(const SignalEngine& engine, const FramePlan& plan,
                             std::int64_t frames) noexcept {
    // On one core the second thread would only take turns with the first.
    return std::thread::hardware_concurrency() > 1 && frames > 0 &&
           SourcesSplitFromFilters(engine, plan, static_cast<std::size_t>(frames));
}

SourcePipeline::SourcePipeline(SignalEngine& engine, const FramePlan& plan, std::int64_t frames,
                               std::int64_t interval)
    : engine_(engine),
      plan_(plan),
      first_(engine.state.sampleCounter),
      frames_(frames),
      interval_(std::max<std::int64_t>(interval, 1)),
      aheadRandom_(engine.random().seed()),
      ahead_(std::make_unique<SignalEngine>(aheadRandom_)),
      aheadScratch_(std::make_unique<RenderScratch>()),
      scratch_(std::make_unique<RenderScratch>()) {
    ahead_->state = engine.state;
    ahead_->live = engine.live;
    for (Slot& slot : slots_) {
        for (int c = 0; c < kChannelCount; ++c) {
            slot.gain[c].resize(static_cast<std::size_t>(interval_));
            slot.value[c].resize(static_cast<std::size_t>(interval_));
        }
    }
    thread_ = std::thread([this] { RenderAhead(); });
}

SourcePipeline::~SourcePipeline() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

// From frame `start` (counted from the first) to the next multiple of the
// interval, that frame included, or to the last frame.
std::size_t SourcePipeline::PassLength(std::int64_t start) const noexcept {
    const std::int64_t at = first_ + start;
    const std::int64_t nextPoint = (at + interval_ - 1) / interval_ * interval_;
    const std::int64_t end = std::min(nextPoint - first_ + 1, frames_);
    return static_cast<std::size_t>(end - start);
}

void SourcePipeline::RenderAhead() {
    std::int64_t start = 0;
    for (std::int64_t pass = 0; start < frames_; ++pass) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || pass - consumed_ < kSlots; });
            if (stopping_) {
                return;
            }
        }
        Slot& slot = slots_[static_cast<std::size_t>(pass % kSlots)];
        slot.frames = PassLength(start);
        DrawSourceValuesFast(*ahead_, *aheadScratch_, plan_, slot.Arrays(), slot.frames);
        slot.after = SourceState::Of(*ahead_);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            produced_ = pass + 1;
        }
        changed_.notify_all();
        start += static_cast<std::int64_t>(slot.frames);
    }
}

std::size_t SourcePipeline::Next(std::int16_t* out) {
    if (done_ >= frames_) {
        return 0;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return produced_ > consumed_; });
    }
    Slot& slot = slots_[static_cast<std::size_t>(consumed_ % kSlots)];
    ShapeFilterAndInterleave(engine_.state, engine_.live, *scratch_, plan_, slot.Arrays(), out,
                             slot.frames);
    slot.after.ApplyTo(engine_);
    const std::size_t frames = slot.frames;
    engine_.state.sampleCounter += static_cast<std::int64_t>(frames);
    done_ += static_cast<std::int64_t>(frames);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++consumed_;
    }
    changed_.notify_all();
    return frames;
}

}  // namespace skarnel
