// The HAL callback object: initialization status and the single pending event slot.
#pragma once

#include "bt_common.h"

namespace bt {

using ::android::hardware::bluetooth::V1_0::Status;

class BluetoothHciCallbacks : public IBluetoothHciCallbacks {
  public:
    explicit BluetoothHciCallbacks(GlobalState& state) : state(state) {}
    ~BluetoothHciCallbacks() override = default;

    Return<void> initializationComplete(Status status) override;
    Return<void> hciEventReceived(const hidl_vec<uint8_t>& event) override;
    Return<void> aclDataReceived(const hidl_vec<uint8_t>& data) override;
    Return<void> scoDataReceived(const hidl_vec<uint8_t>& data) override;

  private:
    GlobalState& state;
};

}  // namespace bt
