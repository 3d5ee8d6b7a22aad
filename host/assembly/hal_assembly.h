// Puts the host HAL together: the link that a transport names, a recording link around it when
// a capture is asked for, and the HAL core over them.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

namespace orvalinquist {
namespace host {

// Null `transport` selects hci:0, null `snoop_path` no capture. Empty, after one ERROR line
// naming the transport and the reason, when the controller cannot be reached or when
// `snoop_path` names the file that replay:FILE plays.
::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHal(const char* transport,
                                                                           const char* snoop_path);

}  // namespace host
}  // namespace orvalinquist
