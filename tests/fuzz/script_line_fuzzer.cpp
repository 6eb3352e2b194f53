// Splits arbitrary bytes as one script line. The command and the first
// argument hold no blank, the command has no upper-case ASCII letter (other
// bytes stay as they are), and the three fields give the line back: command,
// blank, argument, blank, rest, plus the one trailing blank that the rest
// drops (a line ending in its second blank has an empty rest and drops
// nothing); a field the line does not reach is empty.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script/script_runner.h"

namespace {

// Names the broken invariant before the fuzzer records the input.
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

[[noreturn]] void Fail(const char* condition, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    std::abort();
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const skarnel::ScriptLine split = skarnel::SplitScriptLine(line);

    CHECK(split.command.find(' ') == std::string::npos);
    CHECK(split.arg1.find(' ') == std::string::npos);
    const std::size_t blanks = static_cast<std::size_t>(std::count(line.begin(), line.end(), ' '));
    if (blanks < 2) {
        CHECK(split.rest.empty());
    }
    if (blanks < 1) {
        CHECK(split.arg1.empty());
    }

    std::string joined = split.command;
    if (blanks >= 1) {
        joined += " " + split.arg1;
    }
    if (blanks >= 2) {
        joined += " " + split.rest;
    }
    if (blanks >= 3 && line.back() == ' ') {
        joined += ' ';  // a blank after the second one ends the line
    }
    CHECK(joined.size() == line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const bool in_command = i < split.command.size();
        CHECK(joined[i] == (in_command ? LowerAscii(line[i]) : line[i]));
    }
    return 0;
}
