// Host stand-in for the generated types of android.hardware.bluetooth@1.0.
#pragma once

#include <cstdint>

namespace android {
namespace hardware {
namespace bluetooth {
namespace V1_0 {

enum class Status : int32_t {
    SUCCESS = 0,
    TRANSPORT_ERROR = 1,
    INITIALIZATION_ERROR = 2,
    UNKNOWN = 3,
};

}  // namespace V1_0
}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
