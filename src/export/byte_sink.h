#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace skarnel {

// Where the WAV writer puts its bytes.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Returns false when the bytes could not be written.
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    // Pushes buffered bytes out; false on failure.
    virtual bool Flush() = 0;
};

// Writes to a POSIX file descriptor through a buffer, so the file sees large
// writes instead of one per sample. The descriptor is closed on destruction
// only when the sink owns it.
class FileDescriptorSink : public ByteSink {
public:
    static constexpr std::size_t kBufferSize = 1 << 16;

    FileDescriptorSink(int fd, bool ownsDescriptor);
    ~FileDescriptorSink() override;
    FileDescriptorSink(const FileDescriptorSink&) = delete;
    FileDescriptorSink& operator=(const FileDescriptorSink&) = delete;

    bool Write(const std::uint8_t* data, std::size_t size) override;
    bool Flush() override;
    // Flushes and closes an owned descriptor; false when either fails.
    bool Close();

    // errno of the first failure, 0 while none happened.
    int error() const noexcept { return error_; }

private:
    bool WriteAll(const std::uint8_t* data, std::size_t size);

    int fd_;
    bool ownsDescriptor_;
    int error_ = 0;
    std::vector<std::uint8_t> buffer_;
};

// Collects everything in memory; for tests and for callers that post-process.
class MemorySink : public ByteSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    bool Flush() override { return true; }

    std::vector<std::uint8_t> bytes;
};

}  // namespace skarnel
