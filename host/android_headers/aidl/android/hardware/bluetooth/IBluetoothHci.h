// Host stand-in for the generated IBluetoothHci of android.hardware.bluetooth (AIDL V1, NDK
// backend). The instance is "android.hardware.bluetooth.IBluetoothHci/default".
#pragma once

#include <aidl/android/hardware/bluetooth/IBluetoothHciCallbacks.h>
#include <android/binder_interface_utils.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace aidl {
namespace android {
namespace hardware {
namespace bluetooth {

class IBluetoothHci : public ::ndk::ICInterface {
  public:
    static const char* descriptor;
    IBluetoothHci();
    virtual ~IBluetoothHci();

    static inline const int32_t version = 1;
    static inline const std::string hash = "f0eb2eb6d3b970cef8fb1b6e22c4ec39a4da5119";

    // Null for a null binder or one of another interface.
    static std::shared_ptr<IBluetoothHci> fromBinder(const ::ndk::SpAIBinder& binder);
    virtual ::ndk::ScopedAStatus close() = 0;
    virtual ::ndk::ScopedAStatus initialize(
        const std::shared_ptr<::aidl::android::hardware::bluetooth::IBluetoothHciCallbacks>&
            in_callback) = 0;
    virtual ::ndk::ScopedAStatus sendAclData(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus sendHciCommand(const std::vector<uint8_t>& in_command) = 0;
    virtual ::ndk::ScopedAStatus sendIsoData(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus sendScoData(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus getInterfaceVersion(int32_t* _aidl_return) = 0;
    virtual ::ndk::ScopedAStatus getInterfaceHash(std::string* _aidl_return) = 0;
};

}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
}  // namespace aidl
