#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "fd_link.h"
#include "transport_scheme.h"

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

// A Linux Bluetooth adapter taken over whole through the kernel's HCI user channel: the bound
// channel socket, or an invalid one with `error` naming the cause and the fix.
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

class UserChannelTransport : public Transport {
  public:
    explicit UserChannelTransport(uint16_t index) : index_(index) {}

    std::unique_ptr<Link> open(const std::string&, std::string* error) const override {
        UniqueFd fd = openUserChannel(index_, error);
        if (!fd.valid()) return nullptr;
        return FdLink::create(std::move(fd), Framing::kPacketPerRead, error);
    }
    std::string describe() const override { return "hci:" + std::to_string(index_); }

  private:
    const uint16_t index_;
};

}  // namespace

// hci:N, the adapter's index.
std::unique_ptr<Transport> parseUserChannelTransport(const std::string& rest, std::string* why) {
    uint64_t index = 0;
    // 0xffff is the kernel's "no device".
    if (!parseDecimal(rest, 0xfffe, &index)) {
        *why = "adapter index must be a number 0..65534";
        return nullptr;
    }
    return std::make_unique<UserChannelTransport>(static_cast<uint16_t>(index));
}

}  // namespace host
}  // namespace orvalinquist
