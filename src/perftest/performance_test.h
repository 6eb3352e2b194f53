#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "platform/dialogs.h"

namespace skarnel {

// What the performance test needs of the generator window.
class PerformanceTestHost {
public:
    virtual ~PerformanceTestHost() = default;

    // The folder of the program's executable.
    virtual QString ProgramFolder() const = 0;
    // Loads a preset file into the memory slots and shows the names on the
    // memory buttons; "" or the message of the failure.
    virtual std::string LoadPresetFile(const QString& path) = 0;
    virtual void RecallMemory(int slot) = 0;
    // The current item of the Output Settings' sampling-frequency list.
    virtual int SampleRateChoice() const = 0;
    // Selects that item and handles it as the user's pick: OFF, then the
    // program's sampling frequency becomes the item's.
    virtual void SelectSampleRateChoice(int item) = 0;
    // The item of the list that holds `hz`.
    virtual int SampleRateChoiceOf(int hz) const = 0;
    // One period of the current signal into `path`, with the progress window.
    virtual void WriteWaveFile(const QString& path) = 0;
    // Starts playback and handles events until the output has stopped (the
    // period has ended, or the start failed).
    virtual void Play() = 0;
    // The text of the output-device selector.
    virtual QString OutputDeviceText() const = 0;
};

// A millisecond tick counter; it wraps around after 2^32 ms.
class MillisecondClock {
public:
    virtual ~MillisecondClock() = default;
    virtual std::uint32_t Now() = 0;
};

class SteadyMillisecondClock : public MillisecondClock {
public:
    std::uint32_t Now() override;
};

// The preset file of the test signals, in the program's folder.
inline constexpr const char* kCompatibilityTestFile = "Compatibility Test.vlm";
// Where the timed rendering goes, so that nothing is stored.
inline constexpr const char* kNullDevice = "/dev/null";

// The guided test of Tools > Performance Test: times the rendering of slot 4
// of the test file, then plays slots 1 and 2 or 2 and 3 and asks what was
// heard, leaving the sampling frequency at 44100 Hz, 22050 Hz or (after some
// cancels) as it was. Returns when the test ends.
void CompatibilityTest(PerformanceTestHost& host, Dialogs& dialogs, MillisecondClock& clock);

}  // namespace skarnel
