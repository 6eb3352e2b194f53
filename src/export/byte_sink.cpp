#include "export/byte_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/atomic_file.h"

namespace skarnel {

FileDescriptorSink::FileDescriptorSink(int fd, bool ownsDescriptor)
    : fd_(fd), ownsDescriptor_(ownsDescriptor) {
    buffer_.reserve(kBufferSize);
}

FileDescriptorSink::~FileDescriptorSink() {
    Close();
}

bool FileDescriptorSink::Write(const std::uint8_t* data, std::size_t size) {
    if (error_ != 0) {
        return false;
    }
    if (buffer_.size() + size > kBufferSize) {
        if (!Flush()) {
            return false;
        }
        if (size >= kBufferSize) {
            return WriteAll(data, size);
        }
    }
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
}

bool FileDescriptorSink::Flush() {
    if (error_ != 0) {
        return false;
    }
    const bool ok = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool FileDescriptorSink::Close() {
    if (fd_ < 0) {
        return error_ == 0;
    }
    const bool flushed = Flush();
    bool closed = true;
    if (ownsDescriptor_) {
        closed = ::close(fd_) == 0;
        if (!closed && error_ == 0) {
            error_ = errno;
        }
    }
    fd_ = -1;
    return flushed && closed;
}

bool FileDescriptorSink::WriteAll(const std::uint8_t* data, std::size_t size) {
    if (!skarnel::WriteAll(fd_, data, size)) {
        error_ = errno;
        return false;
    }
    return true;
}

}  // namespace skarnel
