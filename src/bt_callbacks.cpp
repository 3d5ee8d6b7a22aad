#include "bt_callbacks.h"

namespace bt {

using ::android::hardware::Void;

Return<void> BluetoothHciCallbacks::initializationComplete(Status) { return Void(); }
Return<void> BluetoothHciCallbacks::hciEventReceived(const hidl_vec<uint8_t>&) { return Void(); }
Return<void> BluetoothHciCallbacks::aclDataReceived(const hidl_vec<uint8_t>&) { return Void(); }
Return<void> BluetoothHciCallbacks::scoDataReceived(const hidl_vec<uint8_t>&) { return Void(); }

}  // namespace bt
