#include "audio/spsc_byte_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

namespace skarnel {
namespace {

std::vector<std::uint8_t> Sequence(std::size_t size, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Every start offset of a small odd-sized ring, with the data crossing the
// end in pieces of different sizes: a wrap-around fault shows at one of them.
TEST(SpscByteRing, KeepsOrderAcrossTheWrapAtEveryOffset) {
    constexpr std::size_t kCapacity = 7;
    for (std::size_t offset = 0; offset < kCapacity; ++offset) {
        SCOPED_TRACE("offset " + std::to_string(offset));
        SpscByteRing ring(kCapacity);
        std::vector<std::uint8_t> sink(kCapacity);
        ASSERT_EQ(ring.Write(Sequence(offset, 100).data(), offset), offset);
        ASSERT_EQ(ring.Read(sink.data(), offset), offset);

        const std::vector<std::uint8_t> data = Sequence(kCapacity, 1);
        EXPECT_EQ(ring.Write(data.data(), 3), 3u);
        EXPECT_EQ(ring.Write(data.data() + 3, kCapacity - 3), kCapacity - 3);
        EXPECT_EQ(ring.FreeSpace(), 0u);
        std::vector<std::uint8_t> out(kCapacity);
        EXPECT_EQ(ring.Read(out.data(), 2), 2u);
        EXPECT_EQ(ring.Read(out.data() + 2, 4), 4u);
        EXPECT_EQ(ring.Read(out.data() + 6, 5), 1u);
        EXPECT_EQ(out, data);
        EXPECT_EQ(ring.Available(), 0u);
        EXPECT_EQ(ring.ReadPosition(), ring.WritePosition());
    }
}

TEST(SpscByteRing, TakesOnlyWhatFitsAndGivesOnlyWhatItHolds) {
    SpscByteRing ring(8);
    const std::vector<std::uint8_t> data = Sequence(20, 0);
    EXPECT_EQ(ring.Write(data.data(), 10), 8u);
    EXPECT_EQ(ring.Write(data.data() + 8, 1), 0u);
    std::vector<std::uint8_t> out(20);
    EXPECT_EQ(ring.Read(out.data(), 3), 3u);
    EXPECT_EQ(ring.FreeSpace(), 3u);
    EXPECT_EQ(ring.Write(data.data() + 8, 5), 3u);
    EXPECT_EQ(ring.Available(), 8u);
    EXPECT_EQ(ring.Read(out.data() + 3, 20), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 11),
              std::vector<std::uint8_t>(data.begin(), data.begin() + 11));
    EXPECT_EQ(ring.Read(out.data(), 1), 0u);
}

// A reset takes the write position; the consumer then drops what came before
// it and keeps what the producer wrote after.
TEST(SpscByteRing, DiscardDropsOnlyTheBytesBeforeThePosition) {
    SpscByteRing ring(16);
    const std::vector<std::uint8_t> data = Sequence(9, 1);
    ring.Write(data.data(), 5);
    const std::uint64_t mark = ring.WritePosition();
    ring.Write(data.data() + 5, 4);

    EXPECT_EQ(ring.DiscardUntil(mark), 5u);
    EXPECT_EQ(ring.DiscardUntil(mark), 0u);  // already behind the reader
    EXPECT_EQ(ring.DiscardUntil(2), 0u);
    std::vector<std::uint8_t> out(4);
    ASSERT_EQ(ring.Read(out.data(), 4), 4u);
    EXPECT_EQ(out, std::vector<std::uint8_t>(data.begin() + 5, data.end()));

    // A position past what was written drops only what is there.
    ring.Write(data.data(), 3);
    EXPECT_EQ(ring.DiscardUntil(ring.WritePosition() + 100), 3u);
    EXPECT_EQ(ring.FreeSpace(), 16u);
}

// One producer and one consumer thread with uneven piece sizes: every byte
// arrives once and in order.
TEST(SpscByteRing, PassesAStreamIntactBetweenTwoThreads) {
    constexpr std::size_t kTotal = 4 << 20;
    SpscByteRing ring(1000);
    auto byteAt = [](std::size_t i) { return static_cast<std::uint8_t>(i * 131 + (i >> 9)); };

    std::thread producer([&] {
        std::vector<std::uint8_t> piece(333);
        std::size_t sent = 0;
        for (std::size_t step = 0; sent < kTotal; ++step) {
            const std::size_t want = std::min<std::size_t>(1 + step * 37 % 333, kTotal - sent);
            for (std::size_t i = 0; i < want; ++i) {
                piece[i] = byteAt(sent + i);
            }
            std::size_t done = 0;
            while (done < want) {
                const std::size_t taken = ring.Write(piece.data() + done, want - done);
                if (taken == 0) {
                    std::this_thread::yield();
                }
                done += taken;
            }
            sent += want;
        }
    });
    std::vector<std::uint8_t> piece(500);
    std::size_t received = 0;
    std::size_t mismatches = 0;
    for (std::size_t step = 0; received < kTotal; ++step) {
        const std::size_t got = ring.Read(piece.data(), 1 + step * 53 % 500);
        if (got == 0) {
            std::this_thread::yield();
        }
        for (std::size_t i = 0; i < got; ++i) {
            mismatches += piece[i] != byteAt(received + i) ? 1 : 0;
        }
        received += got;
    }
    producer.join();
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(ring.Available(), 0u);
}

}  // namespace
}  // namespace skarnel
