#include "audio/mm_result.h"

namespace skarnel {

std::string StandardErrorText(std::uint32_t code) {
    switch (code) {
        case kMmNoError:
            return "The operation completed successfully.";
        case kMmError:
            return "Unspecified error.";
        case kMmBadDeviceId:
            return "The device identifier is out of range.";
        case kMmAllocated:
            return "The specified device is already in use. Wait until it is free, and then try "
                   "again.";
        case kMmInvalidHandle:
            return "The device handle is invalid.";
        case kMmNoDriver:
            return "There is no driver installed on your system.";
        case kMmNoMemory:
            return "There is not enough memory available for this task.";
        case kMmInvalidFlag:
            return "An invalid flag was passed to a system function.";
        case kMmInvalidParameter:
            return "An invalid parameter was passed to a system function.";
        case kWaveBadFormat:
            return "The specified format is not supported or cannot be translated.";
        case kWaveStillPlaying:
            return "Cannot perform this operation while media data is still playing. Reset the "
                   "device, or wait until the data is finished playing.";
        case kWaveUnprepared:
            return "The wave header was not prepared.";
        default:
            return "";
    }
}

}  // namespace skarnel
