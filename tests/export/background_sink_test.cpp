#include "export/background_sink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

namespace skarnel {
namespace {

// Collects what it is given; fails from its `failAt`-th write on, and can be
// slow, so that blocks queue up behind it.
class RecordingSink : public ByteSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (delay.count() > 0) {
            std::this_thread::sleep_for(delay);
        }
        if (++writes >= failAt) {
            return false;
        }
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    bool Flush() override {
        ++flushes;
        return true;
    }

    std::vector<std::uint8_t> bytes;
    int writes = 0;
    int flushes = 0;
    int failAt = 1 << 30;
    std::chrono::milliseconds delay{0};
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7u + i / 251u);
    }
    return bytes;
}

TEST(BackgroundSink, PassesEveryByteOnInOrderThenFlushesTheTarget) {
    // Writes smaller than, equal to and larger than a block, ending inside
    // a block, so that the last one goes out partial.
    const std::vector<std::size_t> sizes = {1,
                                            3,
                                            BackgroundSink::kBlockSize - 4,
                                            40000,
                                            BackgroundSink::kBlockSize,
                                            3 * BackgroundSink::kBlockSize + 17,
                                            5};
    const std::size_t total = std::accumulate(sizes.begin(), sizes.end(), std::size_t{0});
    const std::vector<std::uint8_t> data = Pattern(total);
    RecordingSink target;
    {
        BackgroundSink sink(target);
        std::size_t at = 0;
        for (const std::size_t size : sizes) {
            ASSERT_TRUE(sink.Write(data.data() + at, size));
            at += size;
        }
        ASSERT_TRUE(sink.Flush());
        EXPECT_EQ(target.flushes, 1);
        // Written again after a flush, the sink goes on where it stopped.
        ASSERT_TRUE(sink.Write(data.data(), 10));
        ASSERT_TRUE(sink.Flush());
    }
    ASSERT_EQ(target.bytes.size(), total + 10);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), target.bytes.begin()));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 10, target.bytes.begin() + total));
}

TEST(BackgroundSink, AFailureOfTheTargetIsNeverReportedAsSuccess) {
    const std::vector<std::uint8_t> data = Pattern(BackgroundSink::kBlockSize);
    for (const int failAt : {1, 2, 5}) {
        RecordingSink target;
        target.failAt = failAt;
        BackgroundSink sink(target);
        bool refused = false;
        for (int i = 0; i < 12 && !refused; ++i) {
            refused = !sink.Write(data.data(), data.size());
        }
        EXPECT_FALSE(sink.Flush()) << "failing at write " << failAt;
        EXPECT_EQ(target.flushes, 0);
        // Later writes are refused as well.
        EXPECT_FALSE(sink.Write(data.data(), data.size()));
    }
}

TEST(BackgroundSink, DestroyedWithoutFlushItStillWritesWhatItWasGiven) {
    // A slow target, so that blocks queue up behind it.
    const std::vector<std::uint8_t> data = Pattern(BackgroundSink::kBlockSize);
    RecordingSink target;
    target.delay = std::chrono::milliseconds(20);
    {
        BackgroundSink sink(target);
        for (std::size_t i = 0; i < BackgroundSink::kBlocks; ++i) {
            ASSERT_TRUE(sink.Write(data.data(), data.size()));
        }
        ASSERT_TRUE(sink.Write(data.data(), 3));
    }  // as a cancelled render leaves it
    EXPECT_EQ(target.bytes.size(), BackgroundSink::kBlocks * data.size() + 3);
    EXPECT_EQ(target.flushes, 0);
}

}  // namespace
}  // namespace skarnel
