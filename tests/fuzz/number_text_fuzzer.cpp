// Feeds arbitrary bytes to the number routines: the plain reader, the entry
// reader that also takes a comma, every entry validation and the formatter.
// Only a ConversionError may leave the readers; the validations and the
// formatter throw nothing. Checked besides:
// - an accepted text is a plain number: finite, made of the number's
//   characters only, and read the same with blanks around and negated;
// - ParseDecimal reads what the plain reader reads once commas are points,
//   and fails with the text as typed otherwise;
// - a validated text lies within the entry's range, falls back as documented
//   and is stable: validating it again gives it back;
// - a formatted number has the documented shape, and reading it back gives
//   the same float32 (every entry value) and the same text again;
// - the shortest text of a float32 reads back as that float, what an entry
//   shows for a validated text validates back into that text, and what it
//   shows for any other text is that text or rounds back into it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "numtext/conversion_error.h"
#include "numtext/decimal_entry.h"
#include "numtext/entry_rules.h"
#include "numtext/number_format.h"
#include "numtext/number_reader.h"

namespace {

using namespace skarnel;

// Names the broken invariant before the fuzzer records the input.
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

[[noreturn]] void Fail(const char* condition, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    std::abort();
}

// The reader's result or nothing; a failure must carry the text as given.
std::optional<long double> Read(std::string_view text) {
    try {
        return ReadNumber(text);
    } catch (const ConversionError& error) {
        CHECK(error.text() == text);
        const std::string message =
            "'" + std::string(text) + "' is not a valid floating point value";
        CHECK(error.what() == message.substr(0, message.find('\0')));  // a C string
        return std::nullopt;
    }
}

std::optional<float> Parse(std::string_view text) {
    try {
        return ParseDecimal(text);
    } catch (const ConversionError& error) {
        CHECK(error.text() == text);
        return std::nullopt;
    }
}

void CheckReader(std::string_view text) {
    const std::optional<long double> value = Read(text);
    const std::optional<long double> quiet = TryReadNumber(text);
    CHECK(value.has_value() == quiet.has_value());
    if (!value) {
        return;
    }
    CHECK(*quiet == *value && std::isfinite(*value));
    CHECK(text.find_first_not_of(" +-.0123456789eE") == std::string_view::npos);
    const std::string padded = "  " + std::string(text) + " ";
    const std::optional<long double> again = Read(padded);
    CHECK(again && *again == *value);
    const std::string_view trimmed = text.substr(text.find_first_not_of(' '));
    if (trimmed[0] != '+' && trimmed[0] != '-') {
        const std::optional<long double> negated = Read("-" + std::string(trimmed));
        CHECK(negated && *negated == -*value);
    }
}

// Returns whether the text is an entry value.
bool CheckParseDecimal(std::string_view text) {
    std::string points(text);
    for (char& c : points) {
        if (c == ',') {
            c = '.';
        }
    }
    const std::optional<float> parsed = Parse(text);
    const std::optional<long double> read = TryReadNumber(points);
    // Beyond float32 (past the halfway point to 2^128) is no entry value.
    const bool in_range = read && std::fabs(*read) < 0x1.ffffffp127L;
    CHECK(parsed.has_value() == in_range);
    if (parsed) {
        CHECK(*parsed == static_cast<float>(*read));
    }
    return parsed.has_value();
}

// The documented shape of a finite number's text, and reading it back gives
// the same text (15 digits survive any long double outside the subnormals).
void CheckFormat(long double value) {
    const std::string text = FormatNumber(value);
    if (std::isnan(value)) {
        CHECK(text == "NAN");
        return;
    }
    if (std::isinf(value)) {
        CHECK(text == (value < 0 ? "-INF" : "INF"));
        return;
    }
    const std::optional<long double> back = Read(text);
    CHECK(back.has_value());
    const bool scientific = text.find('E') != std::string::npos;
    const long double magnitude = std::fabs(*back);
    if (value == 0) {
        CHECK(text == "0");
    } else if (scientific) {
        CHECK(magnitude < 1e-4L || magnitude >= 1e15L);
    } else {
        CHECK(magnitude >= 1e-4L && magnitude < 1e15L);
    }
    const std::string mantissa = text.substr(0, text.find('E'));
    if (mantissa.find('.') != std::string::npos) {
        CHECK(mantissa.back() != '0' && mantissa.back() != '.');  // no trailing zeros
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c >= '0' && c <= '9' && (c != '0' || !digits.empty())) {
            digits += c;
        }
    }
    CHECK(digits.erase(digits.find_last_not_of('0') + 1).size() <= 15);
    if (magnitude > 1e-4900L && magnitude < 1e4900L) {
        CHECK(FormatNumber(*back) == text);
    }
}

// Every entry value is a float32; its text must bring back that float.
void CheckFloatRoundTrip(float value) {
    if (!std::isfinite(value)) {
        return;
    }
    const std::string text = FormatNumber(value);
    const std::optional<float> back = Parse(text);
    CHECK(back && *back == value);
    CheckFormat(value);
    const std::optional<float> shortest = Parse(FormatShortestFloat(value));
    CHECK(shortest && *shortest == value);
}

void CheckRule(const EntryRule& rule, std::string_view text, bool readable) {
    const std::string validated = rule.Apply(text);
    const std::optional<long double> value = Read(validated);
    CHECK(value.has_value());
    CHECK(*value >= rule.minimum && *value <= rule.maximum);
    CHECK(rule.Apply(validated) == validated);
    const std::string shown = rule.Shown(validated);
    CHECK(rule.Apply(shown) == validated);
    const std::string shownAsIs = rule.Shown(text);
    CHECK(shownAsIs == text ||
          ClampAndRound(shownAsIs, kNoLowerLimit, kNoUpperLimit, rule.decimals, 0) == text);
    if (!readable) {
        CHECK(validated == rule.Apply(FormatNumber(rule.fallback)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckReader(text);
    const bool readable = CheckParseDecimal(text);
    if (const std::optional<long double> value = TryReadNumber(text)) {
        CheckFormat(*value);
        CheckFormat(static_cast<double>(*value));
    }

    for (const EntryRule& rule : {kAmplitudeRule, kPeriodRule, kModDepthRule, kModPhaseRule,
                                  kFilterGainRule, kFilterQRule}) {
        CheckRule(rule, text, readable);
    }
    // The leading bytes also serve as numbers: a sampling frequency for the
    // filter frequency's range, a float32 and a double for the formatter.
    std::int32_t rate = 0;
    float single = 0;
    double wide = 0;
    if (size > 0) {
        std::memcpy(&rate, data, std::min(size, sizeof rate));
        std::memcpy(&single, data, std::min(size, sizeof single));
        std::memcpy(&wide, data, std::min(size, sizeof wide));
    }
    if (rate >= 2) {
        CheckRule(FilterFrequencyRule(rate), text, readable);
    }
    CheckFloatRoundTrip(single);
    CheckFormat(wide);
    return 0;
}
