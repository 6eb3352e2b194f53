#pragma once

#include "engine/engine_state.h"
#include "engine/live_settings.h"

namespace skarnel {

// Source selectors below this select the left channel, values from it on the
// right channel (noise function index = selector - kRightSourceOffset).
inline constexpr int kRightSourceOffset = 10;

// What every frame of a run computes: mono or stereo, whether the right
// sample repeats the left one ("= Left": the right chain does not run), and
// the source each channel draws from.
struct FramePlan {
    bool stereo = false;
    bool rightRepeatsLeft = false;
    int leftSelector = 0;
    int rightSelector = kRightSourceOffset;

    // The plan the window's live settings give while it plays.
    static FramePlan Of(const LiveSettings& live) noexcept {
        return {live.channelMode == kStereo, live.asLeft, live.noiseFunction[kLeft],
                live.noiseFunction[kRight] + kRightSourceOffset};
    }
    // The plan of a file: the right channel runs its own chain even with
    // "= Left", as the export always has.
    static FramePlan OfFile(const LiveSettings& live) noexcept {
        FramePlan plan = Of(live);
        plan.rightRepeatsLeft = false;
        return plan;
    }
};

}  // namespace skarnel
