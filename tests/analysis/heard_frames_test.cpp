#include "analysis/heard_frames.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace skarnel {
namespace {

std::vector<std::uint8_t> Frames(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(first + i));
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<std::uint8_t> TakeUpTo(HeardFrames& heard, std::uint64_t played) {
    std::vector<std::uint8_t> taken;
    heard.TakeHeard(played, [&](const std::uint8_t* bytes, std::size_t count) {
        taken.insert(taken.end(), bytes, bytes + count);
    });
    return taken;
}

// Frames come out only once the host has played them, in order, across
// blocks, a block's gap (the padding after a period is never pushed) and
// the ring's end.
TEST(HeardFrames, ReleasesWhatTheHostHasPlayedAndNothingAhead) {
    HeardFrames heard;
    heard.Reset(24, 2, 4);  // twelve mono frames
    const auto a = Frames(10, 6), b = Frames(20, 4), c = Frames(30, 5);
    heard.Push(0, a.data(), a.size());
    heard.Push(6, b.data(), b.size());
    EXPECT_TRUE(TakeUpTo(heard, 0).empty());
    EXPECT_EQ(TakeUpTo(heard, 4), std::vector<std::uint8_t>(a.begin(), a.begin() + 8));
    EXPECT_EQ(TakeUpTo(heard, 4), std::vector<std::uint8_t>{});  // nothing twice
    std::vector<std::uint8_t> rest(a.begin() + 8, a.end());
    rest.insert(rest.end(), b.begin(), b.begin() + 2);
    EXPECT_EQ(TakeUpTo(heard, 7), rest);
    // Frames 10..11 were padding (never pushed); c plays from frame 12 on
    // and wraps around the ring's end.
    heard.Push(12, c.data(), c.size());
    std::vector<std::uint8_t> after(b.begin() + 2, b.end());
    after.insert(after.end(), c.begin(), c.begin() + 4);
    EXPECT_EQ(TakeUpTo(heard, 14), after);
    EXPECT_EQ(TakeUpTo(heard, 100), std::vector<std::uint8_t>(c.begin() + 4, c.end()));
}

// A tap that is full drops the block (a view never holds up the sound), and
// later blocks still come out where they play.
TEST(HeardFrames, AFullTapDropsABlockAndKeepsTheRestInPlace) {
    HeardFrames heard;
    heard.Reset(16, 2, 4);  // eight frames
    const auto a = Frames(1, 6), b = Frames(50, 4), c = Frames(90, 2);
    heard.Push(0, a.data(), a.size());
    heard.Push(6, b.data(), b.size());  // does not fit: dropped
    EXPECT_EQ(TakeUpTo(heard, 6), a);
    heard.Push(10, c.data(), c.size());
    EXPECT_TRUE(TakeUpTo(heard, 10).empty());
    EXPECT_EQ(TakeUpTo(heard, 12), c);

    // Out of block records rather than room: the same.
    heard.Reset(1000, 2, 2);
    heard.Push(0, a.data(), 2);
    heard.Push(1, a.data() + 2, 2);
    heard.Push(2, a.data() + 4, 2);  // a third block: dropped
    EXPECT_EQ(TakeUpTo(heard, 3), std::vector<std::uint8_t>(a.begin(), a.begin() + 4));
}

// A block's clip count is added once the block has been heard through, so a
// lamp never lights for clips still ahead of the ear; a block the tap drops
// hands its count to the next one that fits, and a block of which nothing is
// played (no signal bytes) counts nothing.
TEST(HeardFrames, ClipsCountOnceTheirBlockIsHeard) {
    HeardFrames heard;
    heard.Reset(16, 2, 4);  // eight mono frames
    const auto a = Frames(1, 6), b = Frames(50, 4), c = Frames(90, 2);
    heard.Push(0, a.data(), a.size(), {3, 0});
    heard.Push(6, b.data(), b.size(), {5, 1});  // does not fit: dropped
    heard.Push(9, b.data(), 0, {100, 100});     // nothing of it played
    TakeUpTo(heard, 5);
    EXPECT_EQ(heard.ClippedHeard(), (std::array<std::uint64_t, 2>{0, 0}));
    TakeUpTo(heard, 6);
    EXPECT_EQ(heard.ClippedHeard(), (std::array<std::uint64_t, 2>{3, 0}));
    heard.Push(10, c.data(), c.size(), {2, 0});
    TakeUpTo(heard, 11);
    EXPECT_EQ(heard.ClippedHeard(), (std::array<std::uint64_t, 2>{3, 0}));
    TakeUpTo(heard, 12);
    EXPECT_EQ(heard.ClippedHeard(), (std::array<std::uint64_t, 2>{10, 1}));
    heard.Reset(16, 2, 4);
    EXPECT_EQ(heard.ClippedHeard(), (std::array<std::uint64_t, 2>{0, 0}));
}

}  // namespace
}  // namespace skarnel
