#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "transports.h"

namespace orvalinquist {
namespace host {

namespace {

// The kernel's Bluetooth socket ABI, declared here so that no BlueZ headers are needed.
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoHci = 1;
constexpr unsigned short kHciChannelUser = 1;

struct SockaddrHci {
    sa_family_t hci_family;
    unsigned short hci_dev;
    unsigned short hci_channel;
};

// The text for a failure of `step` ("socket" or "bind") with `err` on adapter `index`.
std::string describeUserChannelError(const char* step, int err, uint16_t index) {
    const std::string adapter = "hci" + std::to_string(index);
    const std::string cause = std::string(step) + ": " + strerror(err);
    switch (err) {
        case EAFNOSUPPORT:
            return "no Bluetooth in this kernel (" + cause +
                   "); load the bluetooth module, or use unix:PATH, tcp:HOST:PORT, "
                   "serial:PATH or replay:FILE";
        case ENODEV:
            return "no such adapter " + adapter + " (" + cause +
                   "); list adapters with `btmgmt info` or `hciconfig`";
        case EBUSY:
        case EALREADY:
            return "adapter " + adapter + " is up and owned by the Bluetooth stack (" + cause +
                   "); power it off first, e.g. `btmgmt --index " + std::to_string(index) +
                   " power off` or `hciconfig " + adapter + " down`";
        case EUSERS:
            return "adapter " + adapter + " is already held by another program (" + cause +
                   "); end that program first";
        case EPERM:
        case EACCES:
            return "missing CAP_NET_ADMIN for the HCI user channel (" + cause +
                   "); run as root or grant the capability, e.g. `setcap cap_net_admin+ep`";
        default:
            return "cannot open the HCI user channel of " + adapter + " (" + cause + ")";
    }
}

}  // namespace

UniqueFd openUserChannel(uint16_t index, std::string* error) {
    UniqueFd fd(socket(kAfBluetooth, SOCK_RAW | SOCK_CLOEXEC, kBtProtoHci));
    if (!fd.valid()) {
        *error = describeUserChannelError("socket", errno, index);
        return UniqueFd();
    }
    SockaddrHci addr{};
    addr.hci_family = kAfBluetooth;
    addr.hci_dev = index;
    addr.hci_channel = kHciChannelUser;
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        *error = describeUserChannelError("bind", errno, index);
        return UniqueFd();
    }
    return fd;
}

}  // namespace host
}  // namespace orvalinquist
