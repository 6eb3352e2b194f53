#pragma once

// An ALSA configuration of the test's own, for tests that open sound devices.
//
// ALSA reads the system's configuration first, and on a desktop that loads
// the PipeWire, PulseAudio and JACK plug-ins from /etc/alsa/conf.d; probing
// those prints warnings and can pick another default device. The copy of the
// system's top-level file leaves out that pre-load step (and ~/.asoundrc),
// then adds the test's own definitions. ALSA reads its configuration once per
// process, so the file must be in place before the first device is opened.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace skarnel::testing {

// Writes the configuration to `file` and points ALSA_CONFIG_PATH at it.
inline void UsePrivateAlsaConfig(const std::filesystem::path& file,
                                 const std::string& definitions) {
    std::ifstream system("/usr/share/alsa/alsa.conf");
    std::ofstream config(file);
    std::string line;
    int skip = 0;  // 1 inside the first @hooks block, 2 after it
    while (std::getline(system, line)) {
        if (skip == 0 && line.starts_with("@hooks [")) {
            skip = 1;
        } else if (skip == 1) {
            skip = line.starts_with("]") ? 2 : 1;
        } else {
            config << line << "\n";
        }
    }
    config << definitions << "\n";
    config.close();
    setenv("ALSA_CONFIG_PATH", file.c_str(), 1);
}

}  // namespace skarnel::testing
