#include "audio/device_result.h"

namespace skarnel {

std::string StandardErrorText(std::uint32_t code) {
    switch (code) {
        case kDeviceOk:
            return "The operation completed successfully.";
        case kDeviceError:
            return "Unspecified error.";
        case kDeviceBadId:
            return "The device identifier is out of range.";
        case kDeviceAllocated:
            return "The specified device is already in use. Wait until it is free, and then try "
                   "again.";
        case kDeviceInvalidHandle:
            return "The device handle is invalid.";
        case kDeviceNoDriver:
            return "There is no driver installed on your system.";
        case kDeviceNoMemory:
            return "There is not enough memory available for this task.";
        case kDeviceInvalidFlag:
            return "An invalid flag was passed to a system function.";
        case kDeviceInvalidParameter:
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
