// The controller transports that BT_HCI_TRANSPORT names, one file for each scheme: the HCI
// user channel (hci:), stream sockets that carry H4 (unix:, tcp:), a UART (serial:) and a
// controller played from a capture (replay:).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// A Linux Bluetooth adapter taken over whole through the kernel's HCI user channel: the bound
// channel socket, or an invalid one with `error` naming the cause and the fix.
UniqueFd openUserChannel(uint16_t index, std::string* error);

// How long a connect may wait: a TCP host that drops packets would otherwise hold the tool
// for the kernel's two minutes, a Unix socket whose owner never accepts for ever.
constexpr int kConnectTimeoutMs = 5000;

// A connected socket, or an invalid one with `error` naming the cause.
UniqueFd connectUnixSocket(const std::string& path, std::string* error,
                           int timeout_ms = kConnectTimeoutMs);
UniqueFd connectTcpSocket(const std::string& host, uint16_t port, std::string* error);

// An HCI UART (H4), raw 8N1 with RTS/CTS flow control: the configured port, or an invalid one
// with `error` naming the cause.
UniqueFd openSerialPort(const std::string& path, uint32_t baud, std::string* error);
// The speeds that openSerialPort takes.
bool isSupportedBaud(uint32_t baud);

// Reads and checks the whole capture at `path`, starts the played controller and returns the
// HAL's link to it, which stops the controller when it goes. Null, with `error` naming the
// fault, on failure. `name` is the transport as the user gave it.
std::unique_ptr<Link> openReplay(const std::string& path, const std::string& name,
                                 std::string* error);

}  // namespace host
}  // namespace orvalinquist
