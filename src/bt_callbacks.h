// The HAL callback logic: initialization status and the single pending event slot. It is the
// HIDL callback object itself; the HAL link hands the AIDL HAL's callbacks to it as well.
#pragma once

#include <cstddef>
#include <cstdint>

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

    // What either HAL reports, whatever its types. `status` is the HAL's own code.
    void onInitializationComplete(bool success, int status);
    void onHciEvent(const uint8_t* event, size_t size);

  private:
    GlobalState& state;
};

}  // namespace bt
