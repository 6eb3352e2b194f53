#include "render/same_output.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <system_error>

namespace skarnel::render {

namespace {

std::string PathOf(const std::string& name) {
    return name == "-" ? std::string("/dev/stdout") : name;
}

bool IsNullDevice(const struct stat& file) {
    struct stat null {};
    return S_ISCHR(file.st_mode) && ::stat("/dev/null", &null) == 0 && file.st_rdev == null.st_rdev;
}

}  // namespace

bool SameOutputFile(const std::string& first, const std::string& second) {
    const std::string a = PathOf(first);
    const std::string b = PathOf(second);
    struct stat fileA {};
    struct stat fileB {};
    const bool aExists = ::stat(a.c_str(), &fileA) == 0;
    const bool bExists = ::stat(b.c_str(), &fileB) == 0;
    if (aExists && bExists) {
        return fileA.st_dev == fileB.st_dev && fileA.st_ino == fileB.st_ino && !IsNullDevice(fileA);
    }
    if (aExists != bExists) {
        return false;
    }
    std::error_code errorA;
    std::error_code errorB;
    const std::filesystem::path pathA = std::filesystem::weakly_canonical(a, errorA);
    const std::filesystem::path pathB = std::filesystem::weakly_canonical(b, errorB);
    return !errorA && !errorB && pathA == pathB;
}

}  // namespace skarnel::render
