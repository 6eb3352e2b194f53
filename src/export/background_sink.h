#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "export/byte_sink.h"

namespace skarnel {

// Passes bytes on to another sink from a thread of its own, so that the
// thread that renders a file does not wait while the file system takes them
// (on a long render, copying into the page cache costs about as much as
// rendering white noise). Bytes are gathered in blocks; at most kBlocks of
// them are on their way at once, after which Write waits for one to be free.
//
// A failure of the other sink is reported by the next Write or by Flush,
// never lost: Flush returns true only when every byte was written and the
// other sink flushed. Destroyed without a Flush (a cancelled render), it
// still writes every byte it was given, but does not flush the other sink.
class BackgroundSink : public ByteSink {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 18;
    static constexpr std::size_t kBlocks = 4;

    explicit BackgroundSink(ByteSink& target);
    ~BackgroundSink() override;
    BackgroundSink(const BackgroundSink&) = delete;
    BackgroundSink& operator=(const BackgroundSink&) = delete;

    bool Write(const std::uint8_t* data, std::size_t size) override;
    bool Flush() override;

private:
    // Hands the block being filled to the thread and waits for a free one;
    // false once the other sink has failed.
    bool Submit();
    void WriteBlocks();

    ByteSink& target_;
    std::array<std::vector<std::uint8_t>, kBlocks> blocks_;
    std::size_t filling_ = 0;  // bytes in the block being filled (this thread's)

    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<std::size_t, kBlocks> sizes_{};  // of the blocks handed over
    std::uint64_t submitted_ = 0;               // blocks handed to the thread
    std::uint64_t written_ = 0;                 // blocks the thread has written
    bool failed_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace skarnel
