// HIDL service look-up: when BT_HCI_HAL declares the HIDL HAL, the host HAL is opened over the
// transport that BT_HCI_TRANSPORT names.
#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <string>

#include "host_environment.h"
#include "process_setup.h"

namespace android {
namespace hardware {
namespace bluetooth {
namespace V1_0 {

namespace {

// Before main, for every program that can ask for a HAL, `help` included; the AIDL look-up
// does the same for a program that links only that one.
const bool kProcessPrepared = ::orvalinquist::host::prepareProcess();

}  // namespace

sp<IBluetoothHci> IBluetoothHci::getService(const std::string& serviceName, bool /*getStub*/) {
    using ::orvalinquist::host::HalKind;
    if (serviceName != "default" ||
        ::orvalinquist::host::halKindFromEnvironment() != HalKind::kHidl) {
        return nullptr;
    }
    return ::orvalinquist::host::openHalFromEnvironment();
}

}  // namespace V1_0
}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
