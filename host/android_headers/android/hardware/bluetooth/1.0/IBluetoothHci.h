// Host stand-in for the generated IBluetoothHci of android.hardware.bluetooth@1.0.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHciCallbacks.h>
#include <android/hardware/bluetooth/1.0/types.h>
#include <android/hidl/base/1.0/IBase.h>
#include <hidl/HidlSupport.h>
#include <hidl/Status.h>
#include <utils/StrongPointer.h>

#include <cstdint>
#include <string>

namespace android {
namespace hardware {
namespace bluetooth {
namespace V1_0 {

struct IBluetoothHci : public ::android::hidl::base::V1_0::IBase {
    virtual ::android::hardware::Return<void> initialize(
            const ::android::sp<IBluetoothHciCallbacks>& callback) = 0;
    virtual ::android::hardware::Return<void> sendHciCommand(
            const ::android::hardware::hidl_vec<uint8_t>& command) = 0;
    virtual ::android::hardware::Return<void> sendAclData(
            const ::android::hardware::hidl_vec<uint8_t>& data) = 0;
    virtual ::android::hardware::Return<void> sendScoData(
            const ::android::hardware::hidl_vec<uint8_t>& data) = 0;
    virtual ::android::hardware::Return<void> close() = 0;

    // The host platform opens the controller named by BT_HCI_TRANSPORT. Empty when it
    // cannot, or when BT_HCI_HAL declares no HIDL HAL.
    static ::android::sp<IBluetoothHci> getService(const std::string& serviceName = "default",
                                                   bool getStub = false);
};

}  // namespace V1_0
}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
