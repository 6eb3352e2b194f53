#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace skarnel::render {

// A --duration text read the way sox reads a time:
//   seconds          "90", "1.5" (kept as typed: the period's own validation
//                    reads it, "," as decimal mark included)
//   M:SS[.fff]       "1:30", "01:30.250"
//   H:MM:SS[.fff]    "1:02:03.5", "24:00:00"
//   frames + "s"     "48000s": that many frames at the chosen rate
// In the clock forms the first field may be any size; a later field must be
// below 60 ("0:60" is refused, since a reader would take it for a typo), and
// only the seconds field may have a fraction ("." or ","). Signs, blanks and
// empty fields are refused.
struct DurationReading {
    // The period in seconds as a decimal text, for the period's validation;
    // empty when the text is not a duration.
    std::string seconds;
    // The frames asked for, when the text was a frame count.
    std::optional<std::int64_t> frames;
    // Why the text is not a duration (empty when it is).
    std::string problem;
};

DurationReading ReadDuration(std::string_view text, std::int32_t sampleRate);

}  // namespace skarnel::render
