#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace skarnel {

// Where writing a file failed.
enum class FileStep {
    kCreate,   // the file (or its temporary) could not be created or may not be written
    kWrite,    // writing, syncing or closing it failed
    kReplace,  // the target could not be replaced (a folder stands in its place)
};

struct FileFailure {
    FileStep step;
    int error;  // errno

    // "Cannot create file", "Cannot write file" or "Cannot replace file", the
    // path in quotes and the system's reason: "Cannot write file "a.wav". No
    // space left on device."
    std::string Message(const std::string& path) const;
};

// Writes all `size` bytes to `fd`, going on after interruptions and partial
// writes. False, with errno set, when a write fails.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size);

// A file written so that its name shows either what it held before or the
// whole new contents, never a part.
//
// A regular file, new or existing, is written under a hidden name beside its
// target and renamed over it by Commit; through a symbolic link the file the
// link leads to is replaced and the link stays. An existing file keeps its
// permissions, and one that may not be written is refused. A folder in the
// target's place is refused before anything is written. Anything else (a
// device such as /dev/null, a pipe, a dangling link, a path that cannot be
// examined) is written in place, where it fails or goes where it always went,
// and is never removed.
//
// A file that is not committed is discarded when the object goes: the
// temporary is removed, and in place only a regular file is (one the dangling
// link led to, made by this write). A process that installs
// temporary_files::RemoveOnTerminationSignals also loses the temporary when a
// signal ends it.
class AtomicFile {
public:
    enum class Sync {
        kAlways,         // the data is on the disk before the rename
        kWhenReplacing,  // only when it replaces an existing file
    };

    AtomicFile() = default;
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Opens `path` for writing as described above; the failure otherwise.
    std::optional<FileFailure> Open(const std::string& path, Sync sync);
    // The descriptor to write to, while open.
    int fd() const noexcept { return fd_; }
    // Syncs the data as asked, closes it and renames the temporary over the
    // target, then syncs the folder (when the data was synced) so that the
    // rename lasts too. On failure the file is discarded.
    std::optional<FileFailure> Commit();
    // Closes and removes what was written; nothing after a commit.
    void Discard();

private:
    std::optional<FileFailure> OpenInPlace(const std::string& path);

    int fd_ = -1;
    std::string target_;      // the file replaced, or the path written in place
    std::string temporary_;   // empty when writing in place
    bool replacing_ = false;  // an existing file is replaced
    bool removable_ = false;  // written in place, but a regular file of our making
    bool sync_ = false;
};

}  // namespace skarnel
