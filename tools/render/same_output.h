#pragma once

#include <string>

namespace skarnel::render {

// Whether two output names reach one file, so that writing both would leave
// only the last: the same name, a symbolic or hard link to it, or a
// /dev/fd/N or /dev/stdout path of it ("-" is standard output). Files that
// do not exist yet are compared by their paths with the folders' links
// resolved. /dev/null takes any number of outputs.
bool SameOutputFile(const std::string& first, const std::string& second);

}  // namespace skarnel::render
