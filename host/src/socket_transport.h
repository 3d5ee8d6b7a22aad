// Stream sockets that carry H4 to a controller or an emulator: Unix and TCP.
#pragma once

#include <cstdint>
#include <string>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// How long a connect may wait: a TCP host that drops packets would otherwise hold the tool
// for the kernel's two minutes, a Unix socket whose owner never accepts for ever.
constexpr int kConnectTimeoutMs = 5000;

// A connected socket, or an invalid one with `error` naming the cause.
UniqueFd connectUnixSocket(const std::string& path, std::string* error,
                           int timeout_ms = kConnectTimeoutMs);
UniqueFd connectTcpSocket(const std::string& host, uint16_t port, std::string* error);

}  // namespace host
}  // namespace orvalinquist
