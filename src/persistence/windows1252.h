#pragma once

#include <string>
#include <string_view>

namespace skarnel {

// Texts in preset files are single-byte Windows-1252. Every byte decodes to one
// character; the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) become the C1 control characters of the same number, so that
// decoding and encoding again gives back every byte.
std::string Windows1252ToUtf8(std::string_view bytes);

// One byte per character of the UTF-8 text. A character the code page cannot
// hold, and each byte that is not part of a valid UTF-8 sequence, becomes '?'.
std::string Utf8ToWindows1252(std::string_view text);

}  // namespace skarnel
