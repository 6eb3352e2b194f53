#pragma once

#include <cstdint>
#include <string>

#include "analysis/level_meter.h"

namespace skarnel {

// Figures as the view and skarnel-render print them: "-15.3" (dBFS, one
// decimal), "5.84:1" (crest factor), "15.3 dB"; a silent channel reads "—"
// in the view and "silence" in skarnel-render's table, never -inf or NaN.
std::string DbfsText(double db, int decimals = 1);
std::string CrestRatioText(double ratio);
// A frequency for an axis or a band: "20", "1.25k", "16k".
std::string FrequencyText(double hz);
// The nominal IEC label of a third-octave band centre (20, 25, 31.5, ...
// 1k, 1.25k, ...).
std::string NominalBandText(double centreHz);
// A count with thousands separators: "1,234,567".
std::string GroupedCount(std::uint64_t count);
// What an export or a render that clipped tells the user: "1,234 samples
// were clipped: lower the amplitude or the filter gain".
std::string ClippedMessage(std::uint64_t clippedSamples);

}  // namespace skarnel
