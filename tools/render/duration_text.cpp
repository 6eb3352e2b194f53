#include "render/duration_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace skarnel::render {

namespace {

// Enough for any period a disk can hold, and small enough that the sums
// below cannot overflow 64 bits (10^12 hours is 3.6 * 10^15 s).
constexpr std::size_t kMaxFieldDigits = 12;
constexpr std::size_t kMaxFrameDigits = 18;  // below 2^63
// The period keeps 10 decimals; the quotient is exact well beyond them, so
// the validation's rounding sees the true value.
constexpr int kQuotientDecimals = 30;

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t DigitsValue(std::string_view digits) {
    std::uint64_t value = 0;
    for (const char c : digits) {
        value = value * 10u + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// numerator / denominator as a decimal text, exact up to kQuotientDecimals.
std::string Quotient(std::uint64_t numerator, std::uint32_t denominator) {
    std::string text = std::to_string(numerator / denominator);
    std::uint64_t rest = numerator % denominator;
    if (rest != 0) {
        text += '.';
        for (int i = 0; i < kQuotientDecimals && rest != 0; ++i) {
            rest *= 10u;
            text += static_cast<char>('0' + rest / denominator);
            rest %= denominator;
        }
    }
    return text;
}

DurationReading Problem(std::string problem) {
    DurationReading reading;
    reading.problem = std::move(problem);
    return reading;
}

DurationReading ReadFrames(std::string_view digits, std::int32_t sampleRate) {
    if (!AllDigits(digits)) {
        return Problem("a frame count is a whole number of frames before the 's'");
    }
    if (digits.size() > kMaxFrameDigits) {
        return Problem("the frame count is too large");
    }
    const std::uint64_t frames = DigitsValue(digits);
    DurationReading reading;
    reading.seconds = Quotient(frames, static_cast<std::uint32_t>(sampleRate));
    reading.frames = static_cast<std::int64_t>(frames);
    return reading;
}

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
         colon = text.find(':', start)) {
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

DurationReading ReadClock(std::string_view text) {
    std::vector<std::string_view> fields = Fields(text);
    if (fields.size() > 3) {
        return Problem("a time has at most hours, minutes and seconds (H:MM:SS)");
    }
    // Only the seconds may have a fraction.
    std::string_view fraction;
    std::string_view& last = fields.back();
    if (const std::size_t mark = last.find_first_of(".,"); mark != std::string_view::npos) {
        fraction = last.substr(mark + 1);
        last = last.substr(0, mark);
        if (!AllDigits(fraction)) {
            return Problem("the fraction of a second must be digits after the decimal mark");
        }
    }
    std::uint64_t seconds = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (!AllDigits(fields[i])) {
            return Problem(fields[i].empty() ? "a field of the time is empty"
                                             : "the fields of a time are whole numbers");
        }
        if (fields[i].size() > kMaxFieldDigits) {
            return Problem("the time is too large");
        }
        const std::uint64_t value = DigitsValue(fields[i]);
        if (i > 0 && value >= 60) {
            return Problem("minutes and seconds after a ':' must be below 60");
        }
        seconds = seconds * 60u + value;
    }
    DurationReading reading;
    reading.seconds = std::to_string(seconds);
    if (!fraction.empty()) {
        reading.seconds += '.';
        reading.seconds += fraction;
    }
    return reading;
}

}  // namespace

DurationReading ReadDuration(std::string_view text, std::int32_t sampleRate) {
    if (text.empty()) {
        return Problem("the duration is empty");
    }
    if (text.find(':') != std::string_view::npos) {
        return ReadClock(text);
    }
    if (text.back() == 's') {
        return ReadFrames(text.substr(0, text.size() - 1), sampleRate);
    }
    DurationReading reading;
    reading.seconds = std::string(text);
    return reading;
}

}  // namespace skarnel::render
