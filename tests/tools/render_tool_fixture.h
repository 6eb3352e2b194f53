#pragma once

// skarnel-render run as a process: each test gets a folder of its own (ctest
// runs them in parallel), and a run's exit code, standard output and
// standard error.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace skarnel::render_test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t Le(const Bytes& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    }
    return v;
}

inline std::string Tag(const Bytes& b, std::size_t at) {
    return std::string(b.begin() + at, b.begin() + at + 4);
}

// A command line's words; the tests' option texts hold no blanks.
inline std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

struct ProcessRun {
    int exitCode = -1;
    Bytes out;
    std::string err;
};

// Each test gets a folder of its own: ctest runs them in parallel.
class RenderTool : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "skarnel-render-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    // Runs skarnel-render with the options and the output (none when empty),
    // standard output and error caught in files.
    ProcessRun Render(const std::string& options, const std::string& output) const {
        const pid_t pid = Start(options, output);
        ProcessRun run;
        if (pid > 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        run.out = ReadBytes(Path("stdout"));
        const Bytes e = ReadBytes(Path("stderr"));
        run.err.assign(e.begin(), e.end());
        return run;
    }

    // Starts skarnel-render as Render does; the process, or -1.
    pid_t Start(const std::string& options, const std::string& output) const {
        std::vector<std::string> args = Words(options);
        args.insert(args.begin(), SKARNEL_RENDER_PATH);
        if (!output.empty()) {
            args.push_back(output);
        }
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const std::string out = Path("stdout").string();
        const std::string err = Path("stderr").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    fs::path dir_;
};

}  // namespace skarnel::render_test
