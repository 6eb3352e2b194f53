#include "export/background_sink.h"

#include <algorithm>

namespace skarnel {

BackgroundSink::BackgroundSink(ByteSink& target) : target_(target) {
    for (auto& block : blocks_) {
        block.resize(kBlockSize);
    }
    thread_ = std::thread([this] { WriteBlocks(); });
}

BackgroundSink::~BackgroundSink() {
    // What was handed over still goes out (a cancelled render keeps the
    // frames before the cancel, as on one thread); only the flush is left
    // to the owner of the other sink.
    if (filling_ > 0) {
        Submit();
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || written_ == submitted_; });
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BackgroundSink::Write(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        auto& block = blocks_[submitted_ % kBlocks];
        const std::size_t taken = std::min(size, kBlockSize - filling_);
        std::copy_n(data, taken, block.begin() + static_cast<std::ptrdiff_t>(filling_));
        filling_ += taken;
        data += taken;
        size -= taken;
        if (filling_ == kBlockSize && !Submit()) {
            return false;
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return !failed_;
}

bool BackgroundSink::Flush() {
    if (filling_ > 0 && !Submit()) {
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || written_ == submitted_; });
    if (failed_) {
        return false;
    }
    // The thread is idle until the next block, so the other sink is ours.
    return target_.Flush();
}

bool BackgroundSink::Submit() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (failed_) {
        return false;
    }
    sizes_[submitted_ % kBlocks] = filling_;
    ++submitted_;
    changed_.notify_all();
    // The next block to fill must have been written.
    changed_.wait(lock, [&] { return failed_ || submitted_ - written_ < kBlocks; });
    filling_ = 0;
    return !failed_;
}

void BackgroundSink::WriteBlocks() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || written_ < submitted_; });
        if (stopping_) {
            return;
        }
        const std::size_t size = sizes_[written_ % kBlocks];
        const auto& block = blocks_[written_ % kBlocks];
        lock.unlock();
        const bool ok = target_.Write(block.data(), size);
        lock.lock();
        failed_ = failed_ || !ok;
        ++written_;
        changed_.notify_all();
        if (failed_) {
            return;
        }
    }
}

}  // namespace skarnel
