#pragma once

// Runs part of a test in a forked child and brings its result back as text.
// Root is not denied anything by permission bits, so a test of a refused
// access runs its operation as the user "nobody".

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>

namespace skarnel::testing {

inline constexpr uid_t kNobodyId = 65534;

// What `body` returned in a child process, after `prepare` has run there;
// when `prepare` returns false the child reports nothing and the result is
// nullopt. A child that dies answers "child ended without a result".
inline std::optional<std::string> InChild(
    const std::function<std::string()>& body,
    const std::function<bool()>& prepare = [] { return true; }) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return "pipe failed";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeEnds[0]);
        std::string report = "-";
        if (prepare()) {
            report = "+" + body();
        }
        for (std::size_t done = 0; done < report.size();) {
            const ssize_t n = ::write(pipeEnds[1], report.data() + done, report.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string report;
    char chunk[512];
    ssize_t n = 0;
    while (pid > 0 && (n = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0) {
        report.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (pid > 0) {
        ::waitpid(pid, nullptr, 0);
    }
    if (report == "-") {
        return std::nullopt;
    }
    return report.empty() ? "child ended without a result" : report.substr(1);
}

// As InChild, with the child running as "nobody" (no supplementary groups)
// when the tests run as root; an unprivileged test process runs `body` as
// itself. nullopt when root cannot give up its rights (the caller skips).
inline std::optional<std::string> AsUnprivileged(const std::function<std::string()>& body) {
    return InChild(body, [] {
        if (::geteuid() != 0) {
            return true;
        }
        return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobodyId, kNobodyId, kNobodyId) == 0 &&
               ::setresuid(kNobodyId, kNobodyId, kNobodyId) == 0 && ::geteuid() == kNobodyId;
    });
}

// Everything under `folder`, to compare before and after: each entry's
// permissions and kind, a file's size and a hash of its bytes, a link's
// target.
inline std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> contents;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const fs::file_status status = entry.symlink_status();
        std::string& shown = contents[entry.path().string()];
        shown = std::to_string(static_cast<int>(status.permissions())) + " ";
        if (fs::is_symlink(status)) {
            shown += "link to " + fs::read_symlink(entry.path()).string();
        } else if (fs::is_directory(status)) {
            shown += "folder";
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes(std::istreambuf_iterator<char>(in), {});
            shown += std::to_string(bytes.size()) + " bytes, hash " +
                     std::to_string(std::hash<std::string>()(bytes));
        }
    }
    return contents;
}

}  // namespace skarnel::testing
