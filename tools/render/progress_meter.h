#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace skarnel::render {

// The progress line of a render, without the leading "\r": the share done,
// the speed as a multiple of real time and the time left, e.g.
// " 42.5 %   61.3x real time   0:03:12 left". Before anything is done the
// speed and the time left read "--".
std::string FormatProgressLine(std::int64_t framesDone, std::int64_t framesTotal,
                               std::int32_t sampleRate, double elapsedSeconds);

// Shows a render's progress on a terminal: a line rewritten in place ("\r")
// once the render has run for kFirstShowSeconds (a short render shows
// nothing), then at most every kUpdateSeconds, and a newline at the end if
// anything was shown. The clock and the output are given so that the timing
// can be tested; the clock is read only every kCheckBytes of data, so a
// long render costs a few clock reads a second and no system call per block.
class ProgressMeter {
public:
    static constexpr double kFirstShowSeconds = 1.0;
    static constexpr double kUpdateSeconds = 0.25;
    static constexpr std::uint64_t kCheckBytes = 1 << 16;

    using Clock = std::function<double()>;  // seconds, from any start
    using Output = std::function<void(std::string_view)>;

    ProgressMeter(std::int64_t framesTotal, int frameBytes, std::int32_t sampleRate, Clock clock,
                  Output output);

    // Whether progress goes to this process's standard error: a terminal,
    // and not silenced.
    static bool WantedOnStandardError(bool quiet);
    // A meter writing to standard error with the monotonic clock.
    static ProgressMeter ForStandardError(std::int64_t framesTotal, int frameBytes,
                                          std::int32_t sampleRate);

    // `bytes` more of the frames were written.
    void Written(std::uint64_t bytes);
    // Ends the line (a final 100 % on success) if one was shown; a render that
    // failed keeps its last figures so the message below says where it stopped.
    void Finish(bool completed);

private:
    void Show(double now);

    std::int64_t framesTotal_;
    int frameBytes_;
    std::int32_t sampleRate_;
    Clock clock_;
    Output output_;
    double start_;
    double nextShow_;
    std::uint64_t bytes_ = 0;
    std::uint64_t nextCheck_ = kCheckBytes;
    bool shown_ = false;
};

}  // namespace skarnel::render
