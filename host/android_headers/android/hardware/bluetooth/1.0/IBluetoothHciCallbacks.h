// Host stand-in for the generated IBluetoothHciCallbacks of android.hardware.bluetooth@1.0.
#pragma once

#include <android/hardware/bluetooth/1.0/types.h>
#include <android/hidl/base/1.0/IBase.h>
#include <hidl/HidlSupport.h>
#include <hidl/Status.h>

#include <cstdint>

namespace android {
namespace hardware {
namespace bluetooth {
namespace V1_0 {

struct IBluetoothHciCallbacks : public ::android::hidl::base::V1_0::IBase {
    virtual ::android::hardware::Return<void> initializationComplete(Status status) = 0;
    virtual ::android::hardware::Return<void> hciEventReceived(
            const ::android::hardware::hidl_vec<uint8_t>& event) = 0;
    virtual ::android::hardware::Return<void> aclDataReceived(
            const ::android::hardware::hidl_vec<uint8_t>& data) = 0;
    virtual ::android::hardware::Return<void> scoDataReceived(
            const ::android::hardware::hidl_vec<uint8_t>& data) = 0;
};

}  // namespace V1_0
}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
