// Host stand-in for the generated BnBluetoothHci of android.hardware.bluetooth (AIDL V1,
// NDK backend): the local side, which an implementation derives from.
#pragma once

#include <aidl/android/hardware/bluetooth/IBluetoothHci.h>
#include <android/binder_interface_utils.h>

namespace aidl {
namespace android {
namespace hardware {
namespace bluetooth {

class BnBluetoothHci : public ::ndk::BnCInterface<IBluetoothHci> {
  public:
    BnBluetoothHci();
    virtual ~BnBluetoothHci();
    ::ndk::ScopedAStatus getInterfaceVersion(int32_t* _aidl_return) final;
    ::ndk::ScopedAStatus getInterfaceHash(std::string* _aidl_return) final;

  protected:
    ::ndk::SpAIBinder createBinder() override;
};

}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
}  // namespace aidl
