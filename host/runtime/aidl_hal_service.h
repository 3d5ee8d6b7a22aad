// The AIDL Bluetooth HCI service of the host: the same HAL core as the HIDL one, seen
// through the AIDL interface.
#pragma once

#include <aidl/android/hardware/bluetooth/BnBluetoothHci.h>
#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <memory>

namespace orvalinquist {
namespace host {

// Null when `hal` is.
std::shared_ptr<::aidl::android::hardware::bluetooth::IBluetoothHci> aidlServiceOver(
    ::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> hal);

}  // namespace host
}  // namespace orvalinquist
