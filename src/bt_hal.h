// The HAL link: the one place that knows which Bluetooth HCI HAL serves the session. The HIDL
// HAL (android.hardware.bluetooth@1.0) is looked up first; when it is absent and the build has
// the AIDL interface (Android 14 and later), the AIDL HAL (android.hardware.bluetooth V1).
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>
#include <utils/StrongPointer.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Only bt_hal.cpp includes the AIDL and binder headers: they bring bionic's <syslog.h>, whose
// LOG_* macros other units define for themselves.
#if __has_include(<aidl/android/hardware/bluetooth/IBluetoothHci.h>)
#define BT_HAL_HAS_AIDL 1
namespace aidl::android::hardware::bluetooth {
class IBluetoothHci;
}  // namespace aidl::android::hardware::bluetooth
#endif

namespace bt {

class BluetoothHciCallbacks;

// A handle on the HAL service, or on none. Copies share the service. Every call is one HAL
// call and reports whether it went through: a failed HIDL Return and a failed binder status
// are both a false result.
class HalLink {
  public:
    HalLink() = default;
    HalLink(std::nullptr_t) {}  // NOLINT: the empty link, as an empty sp was

    // The service, or an empty link when neither HAL has one. The AIDL look-up waits at most
    // 2 s; libhidl's waits without end for a HIDL service declared but not running.
    static HalLink find();

    bool operator==(std::nullptr_t) const { return !present(); }
    bool operator!=(std::nullptr_t) const { return present(); }

    bool initialize(const ::android::sp<BluetoothHciCallbacks>& callbacks) const;
    bool sendHciCommand(const std::vector<uint8_t>& command) const;
    bool close() const;

  private:
    bool present() const;

    ::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> hidl_;
#ifdef BT_HAL_HAS_AIDL
    std::shared_ptr<::aidl::android::hardware::bluetooth::IBluetoothHci> aidl_;
#endif
};

}  // namespace bt
