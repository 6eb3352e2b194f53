#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace skarnel {

// Integers as bytes, low byte first: the order of WAV files, preset files and
// the sound devices, whatever the machine's own order.

// Writes the sizeof(T) bytes of `value` to `at`.
template <typename T>
void PutLittleEndian(std::uint8_t* at, T value) noexcept {
    static_assert(std::is_integral_v<T>);
    const auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// Reads a T from the sizeof(T) bytes at `at`.
template <typename T>
T GetLittleEndian(const std::uint8_t* at) noexcept {
    static_assert(std::is_integral_v<T>);
    using Bits = std::make_unsigned_t<T>;
    Bits bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bits = static_cast<Bits>(bits | static_cast<Bits>(Bits{at[i]} << (8 * i)));
    }
    return static_cast<T>(bits);
}

}  // namespace skarnel
