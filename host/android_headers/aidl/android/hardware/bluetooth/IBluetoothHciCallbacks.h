// Host stand-in for the generated IBluetoothHciCallbacks of android.hardware.bluetooth
// (AIDL V1, NDK backend).
#pragma once

#include <aidl/android/hardware/bluetooth/Status.h>
#include <android/binder_interface_utils.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace aidl {
namespace android {
namespace hardware {
namespace bluetooth {

class IBluetoothHciCallbacks : public ::ndk::ICInterface {
  public:
    static const char* descriptor;
    IBluetoothHciCallbacks();
    virtual ~IBluetoothHciCallbacks();

    static inline const int32_t version = 1;
    static inline const std::string hash = "f0eb2eb6d3b970cef8fb1b6e22c4ec39a4da5119";

    static std::shared_ptr<IBluetoothHciCallbacks> fromBinder(const ::ndk::SpAIBinder& binder);
    virtual ::ndk::ScopedAStatus aclDataReceived(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus hciEventReceived(const std::vector<uint8_t>& in_event) = 0;
    virtual ::ndk::ScopedAStatus initializationComplete(
        ::aidl::android::hardware::bluetooth::Status in_status) = 0;
    virtual ::ndk::ScopedAStatus isoDataReceived(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus scoDataReceived(const std::vector<uint8_t>& in_data) = 0;
    virtual ::ndk::ScopedAStatus getInterfaceVersion(int32_t* _aidl_return) = 0;
    virtual ::ndk::ScopedAStatus getInterfaceHash(std::string* _aidl_return) = 0;
};

}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
}  // namespace aidl
