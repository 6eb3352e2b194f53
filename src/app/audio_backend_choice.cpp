#include "app/audio_backend_choice.h"

#include <cstdlib>
#include <string_view>

#include "audio/portaudio_backend.h"
#include "audio/pulse_backend.h"
#include "audio/simulated_backend.h"

namespace skarnel {

std::unique_ptr<WaveOutBackend> CreateAudioBackend() {
    const char* variable = std::getenv("SKARNEL_AUDIO");
    const std::string_view choice = variable != nullptr ? variable : "";
    if (choice == "simulated") {
        auto simulated = std::make_unique<SimulatedBackend>(
            std::vector<std::string>{"Simulated Output (real time)"});
        simulated->SetPaced(true);
        simulated->SetRecording(false);
        return simulated;
    }
    if (choice != "portaudio") {
        // A sound server (PulseAudio, or PipeWire's pulse service) knows the
        // desktop's sinks by the names users know, follows the default sink
        // and mixes several windows; PortAudio would reach it only through
        // ALSA's plug-ins. Asked for by name, the server back-end is kept
        // even when no server answers yet: it connects when one starts.
        auto pulse = std::make_unique<PulseBackend>();
        if (pulse->Connected() || choice == "pulse") {
            return pulse;
        }
    }
    // No server: ALSA's devices (hardware by name) and JACK.
    return std::make_unique<PortAudioBackend>();
}

}  // namespace skarnel
