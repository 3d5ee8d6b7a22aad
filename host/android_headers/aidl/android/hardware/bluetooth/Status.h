// Host stand-in for the generated Status of android.hardware.bluetooth (AIDL V1, NDK backend).
#pragma once

#include <cstdint>
#include <string>

namespace aidl {
namespace android {
namespace hardware {
namespace bluetooth {

enum class Status : int32_t {
    SUCCESS = 0,
    ALREADY_INITIALIZED = 1,
    UNABLE_TO_OPEN_INTERFACE = 2,
    HARDWARE_INITIALIZATION_ERROR = 3,
    UNKNOWN = 4,
};

}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
}  // namespace aidl
