// Which Bluetooth HCI HAL the host's service managers declare: the HIDL one (the default) or
// the AIDL one, as BT_HCI_HAL says.
#pragma once

namespace orvalinquist {
namespace host {

constexpr const char kHalKindEnvVar[] = "BT_HCI_HAL";

enum class HalKind { kHidl, kAidl, kNone };

// Read once per process. Any value but "hidl", "aidl" or empty declares no HAL, after one
// ERROR line naming it.
HalKind halKindFromEnvironment();

}  // namespace host
}  // namespace orvalinquist
