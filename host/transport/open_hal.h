// Opens the host HAL on the controller that BT_HCI_TRANSPORT names.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

namespace orvalinquist {
namespace host {

constexpr const char kTransportEnvVar[] = "BT_HCI_TRANSPORT";
constexpr const char kSnoopEnvVar[] = "BT_HCI_SNOOP";

// Empty, after one ERROR line naming the transport and the reason, when the controller
// cannot be reached or when BT_HCI_SNOOP names the file that replay:FILE plays.
// BT_HCI_SNOOP, when set, names a btsnoop capture file.
::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHalFromEnvironment();

// The same for explicit values; null `transport` selects hci:0, null `snoop_path` no capture.
::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHal(const char* transport,
                                                                           const char* snoop_path);

}  // namespace host
}  // namespace orvalinquist
