// The host's environment variables, all read here: BT_HCI_HAL, which Bluetooth HCI HAL the
// service managers declare (HIDL, the default, or AIDL); BT_HCI_TRANSPORT, the controller;
// BT_HCI_SNOOP, a btsnoop capture of the session.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

namespace orvalinquist {
namespace host {

constexpr const char kHalKindEnvVar[] = "BT_HCI_HAL";
constexpr const char kTransportEnvVar[] = "BT_HCI_TRANSPORT";
constexpr const char kSnoopEnvVar[] = "BT_HCI_SNOOP";

enum class HalKind { kHidl, kAidl, kNone };

// Read once per process. Any value but "hidl", "aidl" or empty declares no HAL, after one
// ERROR line naming it.
HalKind halKindFromEnvironment();

// openHal on the controller that BT_HCI_TRANSPORT names, with the capture that BT_HCI_SNOOP
// names when it is set and not empty.
::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHalFromEnvironment();

}  // namespace host
}  // namespace orvalinquist
