// Stream sockets that carry H4 to a controller or an emulator: Unix and TCP.
#pragma once

#include <cstdint>
#include <string>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// A connected socket, or an invalid one with `error` naming the cause.
UniqueFd connectUnixSocket(const std::string& path, std::string* error);
UniqueFd connectTcpSocket(const std::string& host, uint16_t port, std::string* error);

}  // namespace host
}  // namespace orvalinquist
