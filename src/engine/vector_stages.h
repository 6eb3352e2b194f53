#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/uniform_random.h"

namespace skarnel {

struct RenderScratch;

// The instruction sets the fast renderer's array stages are built for.
enum class VectorPath { kDefault, kAvx2, kAvx512 };

// One build of the array stages. Every build computes the same values to the
// bit; they differ only in speed.
struct VectorStages {
    VectorPath path;
    const char* name;  // "default", "avx2", "avx512f"
    // sin of reduced angles: sine[i] from angle[i] and quadrant[i].
    void (*sines)(const double* angle, const int* quadrant, double* sine, std::size_t len);
    // The triangle's arctangent of s / sqrt(1 - s^2), scaled by 2 / pi.
    void (*triangles)(const float* s, double* triangle, std::size_t len);
    // The generator's next `count` states after `seed`.
    void (*drawSeeds)(std::uint32_t seed, std::uint32_t* seeds, std::size_t count);
    // Draws as the white source maps them, seed * 2^-31 - 1 rounded to float.
    void (*whiteValues)(const std::uint32_t* seeds, float* value, std::size_t len);
    // Draws as a pink row holds them, seed * 2^-32 rounded to float.
    void (*rowValues)(const std::uint32_t* seeds, float* value, std::size_t len);
    // A channel's pink row sums from the rows each call saw.
    void (*pinkSums)(const RenderScratch& scratch, int channel, float* sum, std::size_t len);
    // Pink values from row sums, sum / 6.5 - 1 rounded to float.
    void (*pinkValues)(const float* sum, float* value, std::size_t len);
    // The crest shaping of a pass.
    void (*crestShapes)(const float* value, float k, double* approx, float* shaped,
                        std::size_t len);
    // Round(32767 * amplitude * gain * shaped) per frame.
    void (*scaledSamples)(float amplitude, const float* gain, const float* shaped, double* approx,
                          std::int32_t* sample, std::size_t len);
    // Frames narrowed to 16 bits with saturation: out[2 * i] from left[i] *
    // leftGate, out[2 * i + 1] from right[i] * rightGate (0 where right is
    // null); gates 0 or 1. Adds the samples clipped per channel to clipped[0]
    // and clipped[1].
    void (*saturatedFrames)(const std::int32_t* left, std::int32_t leftGate,
                            const std::int32_t* right, std::int32_t rightGate, std::int16_t* out,
                            std::size_t len, std::uint64_t* clipped);
};

// The build in use: the widest one this processor runs, unless the
// environment variable SKARNEL_VECTOR_PATH names another one it runs
// ("default", "avx2" or "avx512f"), so that every build can be tested on one
// machine.
const VectorStages& ActiveVectorStages() noexcept;

// Whether this processor runs the build for `path`.
bool ProcessorRuns(VectorPath path) noexcept;

// Makes the build for `path` the active one, if this processor runs it; for
// tests that go through every build. Returns whether it did.
bool UseVectorPath(VectorPath path) noexcept;

// The generator k steps ahead: seed -> multiplier * seed + increment
// (mod 2^32), for k = 0 .. kDrawLanes.
struct GeneratorJump {
    std::uint32_t multiplier;
    std::uint32_t increment;
};

inline constexpr std::size_t kDrawLanes = 16;

constexpr std::array<GeneratorJump, kDrawLanes + 1> MakeGeneratorJumps() {
    std::array<GeneratorJump, kDrawLanes + 1> jumps{};
    jumps[0] = {1u, 0u};
    for (std::size_t k = 1; k <= kDrawLanes; ++k) {
        // One more step after k - 1 of them: A (A' s + C') + 1.
        jumps[k] = {jumps[k - 1].multiplier * UniformRandom::kMultiplier,
                    jumps[k - 1].increment * UniformRandom::kMultiplier + 1u};
    }
    return jumps;
}

inline constexpr std::array<GeneratorJump, kDrawLanes + 1> kGeneratorJumps = MakeGeneratorJumps();

}  // namespace skarnel
