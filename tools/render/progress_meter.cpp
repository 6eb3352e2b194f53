#include "render/progress_meter.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace skarnel::render {

namespace {

std::string Clock(double seconds) {
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
    return text;
}

double MonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string FormatProgressLine(std::int64_t framesDone, std::int64_t framesTotal,
                               std::int32_t sampleRate, double elapsedSeconds) {
    const double share =
        framesTotal > 0 ? static_cast<double>(framesDone) / static_cast<double>(framesTotal) : 1.0;
    char text[96];
    if (framesDone <= 0 || !(elapsedSeconds > 0.0)) {
        std::snprintf(text, sizeof text, "%5.1f %%   --x real time   --:--:-- left", 100.0 * share);
        return text;
    }
    const double speed = static_cast<double>(framesDone) / sampleRate / elapsedSeconds;
    const double left = elapsedSeconds * (1.0 - share) / share;
    std::snprintf(text, sizeof text, "%5.1f %%   %.1fx real time   %s left", 100.0 * share, speed,
                  Clock(left).c_str());
    return text;
}

ProgressMeter::ProgressMeter(std::int64_t framesTotal, int frameBytes, std::int32_t sampleRate,
                             Clock clock, Output output)
    : framesTotal_(framesTotal),
      frameBytes_(frameBytes),
      sampleRate_(sampleRate),
      clock_(std::move(clock)),
      output_(std::move(output)),
      start_(clock_()),
      nextShow_(start_ + kFirstShowSeconds) {}

bool ProgressMeter::WantedOnStandardError(bool quiet) {
    return !quiet && isatty(STDERR_FILENO) == 1;
}

ProgressMeter ProgressMeter::ForStandardError(std::int64_t framesTotal, int frameBytes,
                                              std::int32_t sampleRate) {
    return ProgressMeter(framesTotal, frameBytes, sampleRate, MonotonicSeconds,
                         [](std::string_view text) {
                             std::fwrite(text.data(), 1, text.size(), stderr);
                             std::fflush(stderr);
                         });
}

void ProgressMeter::Written(std::uint64_t bytes) {
    bytes_ += bytes;
    if (bytes_ < nextCheck_) {
        return;
    }
    nextCheck_ = bytes_ + kCheckBytes;
    const double now = clock_();
    if (now >= nextShow_) {
        Show(now);
        nextShow_ = now + kUpdateSeconds;
    }
}

void ProgressMeter::Finish(bool completed) {
    if (!shown_) {
        return;
    }
    if (completed) {
        bytes_ = static_cast<std::uint64_t>(framesTotal_) * static_cast<std::uint64_t>(frameBytes_);
        Show(clock_());
    }
    output_("\n");
    shown_ = false;
}

void ProgressMeter::Show(double now) {
    const auto frames = static_cast<std::int64_t>(bytes_ / static_cast<std::uint64_t>(frameBytes_));
    // The blanks after the line wipe what a longer previous one left.
    output_("\rskarnel-render: " +
            FormatProgressLine(frames, framesTotal_, sampleRate_, now - start_) + "   ");
    shown_ = true;
}

}  // namespace skarnel::render
