// Builds the host HAL for the controller that BT_HCI_TRANSPORT names.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

namespace orvalinquist {
namespace host {

// Tag of the host platform's own log lines.
constexpr const char kHostLogTag[] = "hci_host";

// Empty, after one ERROR line naming the transport and the reason, when the controller
// cannot be reached.
::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHalFromEnvironment();

}  // namespace host
}  // namespace orvalinquist
