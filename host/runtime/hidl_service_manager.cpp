// HIDL service look-up: when BT_HCI_HAL declares the HIDL HAL, the host HAL is opened over the
// transport that BT_HCI_TRANSPORT names.
#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <csignal>
#include <string>

#include "hal_kind.h"
#include "open_hal.h"

namespace android {
namespace hardware {
namespace bluetooth {
namespace V1_0 {

namespace {

// On a host, Debian's liblog writes the log to stderr, which users pipe into grep or head; on
// a device it goes to logd. A reader that left must not kill the process half-way through a
// scan (its results file unwritten): a write to it fails with EPIPE instead, and liblog drops
// the line. Set before main, from this unit because every program that asks for a HAL links
// it, so even `help` is covered. The host's own sockets send with MSG_NOSIGNAL regardless.
const bool kBrokenPipeIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;

}  // namespace

sp<IBluetoothHci> IBluetoothHci::getService(const std::string& serviceName, bool /*getStub*/) {
    using ::orvalinquist::host::HalKind;
    if (serviceName != "default" ||
        ::orvalinquist::host::halKindFromEnvironment() != HalKind::kHidl) {
        return nullptr;
    }
    return ::orvalinquist::host::openHalFromEnvironment();
}

}  // namespace V1_0
}  // namespace bluetooth
}  // namespace hardware
}  // namespace android
