// Host stand-in for the generated code of android.hardware.bluetooth-V1-ndk: descriptors,
// binder conversion and the version of the local sides.
#include <aidl/android/hardware/bluetooth/BnBluetoothHci.h>
#include <aidl/android/hardware/bluetooth/BnBluetoothHciCallbacks.h>

#include "local_binder.h"

namespace aidl {
namespace android {
namespace hardware {
namespace bluetooth {

using ::orvalinquist::host::localObject;
using ::orvalinquist::host::newLocalBinder;

const char* IBluetoothHci::descriptor = "android.hardware.bluetooth.IBluetoothHci";
const char* IBluetoothHciCallbacks::descriptor =
    "android.hardware.bluetooth.IBluetoothHciCallbacks";

IBluetoothHci::IBluetoothHci() {}
IBluetoothHci::~IBluetoothHci() {}
IBluetoothHciCallbacks::IBluetoothHciCallbacks() {}
IBluetoothHciCallbacks::~IBluetoothHciCallbacks() {}

std::shared_ptr<IBluetoothHci> IBluetoothHci::fromBinder(const ::ndk::SpAIBinder& binder) {
    return std::static_pointer_cast<IBluetoothHci>(localObject(binder.get(), descriptor));
}

std::shared_ptr<IBluetoothHciCallbacks> IBluetoothHciCallbacks::fromBinder(
    const ::ndk::SpAIBinder& binder) {
    return std::static_pointer_cast<IBluetoothHciCallbacks>(localObject(binder.get(), descriptor));
}

// The local side of each interface: version, hash and its binder.
#define HOST_BN_SIDE(Bn, I)                                                              \
    Bn::Bn() {}                                                                          \
    Bn::~Bn() {}                                                                         \
    ::ndk::ScopedAStatus Bn::getInterfaceVersion(int32_t* _aidl_return) {                \
        *_aidl_return = I::version;                                                      \
        return ::ndk::ScopedAStatus::ok();                                               \
    }                                                                                    \
    ::ndk::ScopedAStatus Bn::getInterfaceHash(std::string* _aidl_return) {               \
        *_aidl_return = I::hash;                                                         \
        return ::ndk::ScopedAStatus::ok();                                               \
    }                                                                                    \
    ::ndk::SpAIBinder Bn::createBinder() {                                               \
        return ::ndk::SpAIBinder(                                                        \
            newLocalBinder(std::weak_ptr<::ndk::ICInterface>(ref<I>()), I::descriptor)); \
    }

HOST_BN_SIDE(BnBluetoothHci, IBluetoothHci)
HOST_BN_SIDE(BnBluetoothHciCallbacks, IBluetoothHciCallbacks)

#undef HOST_BN_SIDE

}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
}  // namespace aidl
