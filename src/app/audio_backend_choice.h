#pragma once

#include <memory>

#include "audio/wave_out_backend.h"

namespace skarnel {

// The audio back-end of this process: the real devices through PortAudio, or,
// with SKARNEL_AUDIO=simulated, a simulated device that plays in real time
// (for machines without sound hardware, demos and tests).
std::unique_ptr<WaveOutBackend> CreateAudioBackend();

}  // namespace skarnel
