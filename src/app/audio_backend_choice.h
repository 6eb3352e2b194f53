#pragma once

#include <memory>

#include "audio/wave_out_backend.h"

namespace skarnel {

// The audio back-end of this process, chosen by SKARNEL_AUDIO:
// - unset: the sound server's sinks (PulseAudio or PipeWire) when a server
//   answers at start, PortAudio's devices (ALSA, JACK) otherwise;
// - "pulse": the sound server's sinks, waiting for a server if none runs;
// - "portaudio": PortAudio's devices even when a server runs;
// - "simulated": a simulated device that plays in real time (machines
//   without sound hardware, demos and tests).
std::unique_ptr<WaveOutBackend> CreateAudioBackend();

}  // namespace skarnel
