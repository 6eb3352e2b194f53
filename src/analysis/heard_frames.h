#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace skarnel {

// Frames on their way to the ear. The thread that renders puts each block's
// signal frames here with the stream frame at which the host will play them;
// the GUI thread takes them once the host has played that far, so what it
// measures is what is being heard, whatever the buffers hold ahead of it.
// Each block carries the count of its samples that were clipped, per
// channel; the consumer adds it up once the block has been heard, so a clip
// shows when it has reached the ear. One producer and one consumer, no lock,
// no allocation after Reset.
class HeardFrames {
public:
    // Empties it, with room for `capacityBytes` of frames of `frameBytes`
    // each, in at most `blocks` blocks. Only while neither side runs.
    void Reset(std::size_t capacityBytes, std::size_t frameBytes, std::size_t blocks) {
        frameBytes_ = std::max<std::size_t>(frameBytes, 1);
        const std::size_t capacity = capacityBytes / frameBytes_ * frameBytes_;
        if (ring_.size() != capacity) {
            ring_.assign(capacity, 0);
        }
        if (blocks_.size() != std::max<std::size_t>(blocks, 1)) {
            blocks_.assign(std::max<std::size_t>(blocks, 1), Block{});
        }
        bytesWritten_.store(0, std::memory_order_relaxed);
        bytesRead_.store(0, std::memory_order_relaxed);
        blocksWritten_.store(0, std::memory_order_relaxed);
        blocksRead_.store(0, std::memory_order_relaxed);
        takenOfFront_ = 0;
        clippedHeard_ = {};
        clippedDropped_ = {};
    }

    // The producer: `count` bytes of whole frames that play from
    // `streamFrame` on, of which `clipped` samples per channel were clipped.
    // What does not fit is dropped (a view never holds up the sound); its
    // clip count goes with the next block that fits.
    void Push(std::uint64_t streamFrame, const std::uint8_t* bytes, std::size_t count,
              const std::array<std::uint64_t, 2>& clipped = {}) noexcept {
        count -= count % frameBytes_;
        if (count == 0) {
            return;  // nothing of it is played
        }
        const std::uint64_t written = bytesWritten_.load(std::memory_order_relaxed);
        const std::uint64_t read = bytesRead_.load(std::memory_order_acquire);
        const std::uint64_t blocks = blocksWritten_.load(std::memory_order_relaxed);
        for (std::size_t c = 0; c < clipped.size(); ++c) {
            clippedDropped_[c] += clipped[c];
        }
        if (ring_.size() - (written - read) < count ||
            blocks - blocksRead_.load(std::memory_order_acquire) == blocks_.size()) {
            return;
        }
        for (std::size_t done = 0; done < count;) {
            const std::size_t at = static_cast<std::size_t>((written + done) % ring_.size());
            const std::size_t piece = std::min(count - done, ring_.size() - at);
            std::copy_n(bytes + done, piece, ring_.begin() + static_cast<std::ptrdiff_t>(at));
            done += piece;
        }
        blocks_[blocks % blocks_.size()] = Block{streamFrame, count, clippedDropped_};
        clippedDropped_ = {};
        bytesWritten_.store(written + count, std::memory_order_release);
        blocksWritten_.store(blocks + 1, std::memory_order_release);
    }

    // The consumer: hands `take(bytes, count)` every frame that plays before
    // `playedFrame`, in order, in at most two pieces a block.
    template <typename Take>
    void TakeHeard(std::uint64_t playedFrame, Take&& take) {
        std::uint64_t blocksRead = blocksRead_.load(std::memory_order_relaxed);
        const std::uint64_t blocksWritten = blocksWritten_.load(std::memory_order_acquire);
        std::uint64_t read = bytesRead_.load(std::memory_order_relaxed);
        while (blocksRead < blocksWritten) {
            const Block& block = blocks_[blocksRead % blocks_.size()];
            const std::uint64_t frames = block.bytes / frameBytes_;
            const std::uint64_t heard = playedFrame > block.streamFrame
                                            ? std::min(playedFrame - block.streamFrame, frames)
                                            : 0;
            const std::uint64_t fresh =
                heard * frameBytes_ - std::min<std::uint64_t>(heard * frameBytes_, takenOfFront_);
            for (std::uint64_t done = 0; done < fresh;) {
                const std::size_t at = static_cast<std::size_t>((read + done) % ring_.size());
                const std::size_t piece = static_cast<std::size_t>(
                    std::min<std::uint64_t>(fresh - done, ring_.size() - at));
                take(ring_.data() + at, piece);
                done += piece;
            }
            read += fresh;
            takenOfFront_ += fresh;
            if (heard < frames) {
                break;  // the rest of this block is still ahead of the ear
            }
            takenOfFront_ = 0;
            for (std::size_t c = 0; c < clippedHeard_.size(); ++c) {
                clippedHeard_[c] += block.clipped[c];
            }
            ++blocksRead;
        }
        bytesRead_.store(read, std::memory_order_release);
        blocksRead_.store(blocksRead, std::memory_order_release);
    }

    // The consumer: samples clipped per channel in the blocks heard through
    // since Reset.
    const std::array<std::uint64_t, 2>& ClippedHeard() const noexcept { return clippedHeard_; }

private:
    struct Block {
        std::uint64_t streamFrame = 0;
        std::size_t bytes = 0;
        std::array<std::uint64_t, 2> clipped{};
    };

    std::size_t frameBytes_ = 2;
    std::vector<std::uint8_t> ring_;
    std::vector<Block> blocks_ = std::vector<Block>(1);
    std::atomic<std::uint64_t> bytesWritten_{0};
    std::atomic<std::uint64_t> bytesRead_{0};
    std::atomic<std::uint64_t> blocksWritten_{0};
    std::atomic<std::uint64_t> blocksRead_{0};
    std::uint64_t takenOfFront_ = 0;  // the consumer's: bytes taken of the oldest block
    std::array<std::uint64_t, 2> clippedHeard_{};    // the consumer's
    std::array<std::uint64_t, 2> clippedDropped_{};  // the producer's: not yet in a block
};

}  // namespace skarnel
