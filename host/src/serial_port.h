// An HCI UART (H4): raw 8N1 with RTS/CTS flow control.
#pragma once

#include <cstdint>
#include <string>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// The configured port, or an invalid one with `error` naming the cause.
UniqueFd openSerialPort(const std::string& path, uint32_t baud, std::string* error);

}  // namespace host
}  // namespace orvalinquist
