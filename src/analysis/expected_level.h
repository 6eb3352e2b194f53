#pragma once

namespace skarnel {

// How far the RMS level of a channel's noise lies below its amplitude entry
// (the peak level), in dB, for a noise function and crest choice without
// filter or modulation: the RMS a user gets at 0 dBFS. Measured once per
// pair over kExpectedLevelSeconds of the signal, rendered by an engine of its
// own with a generator of its own, never the program's, so what the program
// plays stays exactly as it is. GUI thread only (the figures are cached).
inline constexpr int kExpectedLevelSeconds = 4;
double RmsBelowAmplitudeDb(int noiseFunction, int crestChoice);

}  // namespace skarnel
