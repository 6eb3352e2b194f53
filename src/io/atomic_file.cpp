#include "io/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

#include "io/temporary_files.h"

namespace skarnel {

namespace {

namespace fs = std::filesystem;

// Creates ".<name>.<six characters>" beside `target` with the permissions a new
// file gets (0666 less the umask) and returns its descriptor, or -1 with errno
// from the last attempt.
int CreateTemporary(const std::string& target, std::string& temporary) {
    const fs::path folder = fs::path(target).parent_path();
    // The name stays within the 255 bytes a file name may have.
    const std::string file = fs::path(target).filename().string();
    const std::string name = "." + (file.size() <= 200 ? file : "skarnel-file") + ".";
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::minstd_rand letters(device());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, ' ');
        for (char& c : suffix) {
            c = kLetters[letters() % (sizeof kLetters - 1)];
        }
        temporary = (folder / (name + suffix)).string();
        // Remembered before it exists: a termination signal that comes just
        // after the file was made must find it on the list, or the file
        // would outlive the process. (A name that turns out to be taken is
        // forgotten at once.)
        temporary_files::Remember(temporary.c_str());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        const int error = errno;
        temporary_files::Forget(temporary.c_str());
        if (error != EEXIST) {
            errno = error;
            return fd;
        }
    }
    return -1;
}

// Makes a rename in the folder of `file` last; a failure loses nothing written.
void SyncFolderOf(const std::string& file) {
    fs::path folder = fs::path(file).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string FileFailure::Message(const std::string& path) const {
    const char* what = step == FileStep::kCreate  ? "Cannot create file"
                       : step == FileStep::kWrite ? "Cannot write file"
                                                  : "Cannot replace file";
    return std::string(what) + " \"" + path + "\". " + std::strerror(error) + ".";
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

AtomicFile::~AtomicFile() {
    Discard();
}

std::optional<FileFailure> AtomicFile::Open(const std::string& path, Sync sync) {
    Discard();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT || ::lstat(path.c_str(), &info) == 0) {
            return OpenInPlace(path);  // a dangling link, or a path that cannot be examined
        }
        target_ = path;
        replacing_ = false;
    } else if (S_ISDIR(info.st_mode)) {
        return FileFailure{FileStep::kReplace, EISDIR};
    } else if (!S_ISREG(info.st_mode)) {
        return OpenInPlace(path);
    } else {
        std::error_code error;
        const fs::path resolved = fs::canonical(path, error);  // a link stays a link
        target_ = error ? path : resolved.string();
        replacing_ = true;
        // A file that may not be written is not replaced behind its back either.
        if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
            return FileFailure{FileStep::kCreate, errno};
        }
    }
    fd_ = CreateTemporary(target_, temporary_);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        return FileFailure{FileStep::kCreate, error};
    }
    if (replacing_) {
        // Best effort: some file systems have no permissions.
        ::fchmod(fd_, static_cast<mode_t>(info.st_mode & 07777));
    }
    sync_ = sync == Sync::kAlways || replacing_;
    return std::nullopt;
}

std::optional<FileFailure> AtomicFile::OpenInPlace(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        return FileFailure{FileStep::kCreate, errno};
    }
    target_ = path;
    // Only a file of our own making is removed, never a device.
    struct stat made {};
    removable_ = ::fstat(fd_, &made) == 0 && S_ISREG(made.st_mode);
    sync_ = false;
    return std::nullopt;
}

std::optional<FileFailure> AtomicFile::Commit() {
    std::optional<FileFailure> failure;
    if (sync_ && ::fsync(fd_) != 0) {
        failure = FileFailure{FileStep::kWrite, errno};
    }
    if (::close(std::exchange(fd_, -1)) != 0 && !failure) {
        failure = FileFailure{FileStep::kWrite, errno};
    }
    if (!failure && !temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        failure = FileFailure{FileStep::kReplace, errno};
    }
    if (failure) {
        Discard();
        return failure;
    }
    temporary_files::Forget(temporary_.c_str());
    temporary_.clear();
    removable_ = false;
    if (sync_) {
        SyncFolderOf(target_);
    }
    return std::nullopt;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        ::close(std::exchange(fd_, -1));
    }
    if (!temporary_.empty()) {
        temporary_files::Forget(temporary_.c_str());
        ::unlink(temporary_.c_str());
        temporary_.clear();
    } else if (removable_) {
        std::error_code ignored;
        const fs::path made = fs::canonical(target_, ignored);  // through a link, its file
        ::unlink(ignored ? target_.c_str() : made.c_str());
    }
    removable_ = false;
}

}  // namespace skarnel
