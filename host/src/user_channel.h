// A Linux Bluetooth adapter taken over whole through the kernel's HCI user channel.
#pragma once

#include <cstdint>
#include <string>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// The bound channel socket, or an invalid one with `error` naming the cause and the fix.
UniqueFd openUserChannel(uint16_t index, std::string* error);

// The text for a failure of `step` ("socket" or "bind") with `err` on adapter `index`.
std::string describeUserChannelError(const char* step, int err, uint16_t index);

}  // namespace host
}  // namespace orvalinquist
