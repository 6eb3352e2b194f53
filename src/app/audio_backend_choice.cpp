#include "app/audio_backend_choice.h"

#include <cstdlib>
#include <string_view>

#include "audio/portaudio_backend.h"
#include "audio/simulated_backend.h"

namespace skarnel {

std::unique_ptr<WaveOutBackend> CreateAudioBackend() {
    const char* choice = std::getenv("SKARNEL_AUDIO");
    if (choice != nullptr && std::string_view(choice) == "simulated") {
        auto simulated = std::make_unique<SimulatedBackend>(
            std::vector<std::string>{"Simulated Output (real time)"});
        simulated->SetPaced(true);
        simulated->SetRecording(false);
        return simulated;
    }
    return std::make_unique<PortAudioBackend>();
}

}  // namespace skarnel
