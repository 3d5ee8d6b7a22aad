// The events with which a controller answers a command: Command Complete, or Command Status
// for a command that it carries on with (Inquiry, Remote Name Request).
#pragma once

#include <cstdint>
#include <vector>

#include "hci_codes.h"

namespace orvalinquist {
namespace host {

// Success, one command credit, and no return parameters but the status.
inline std::vector<uint8_t> commandCompleteEvent(uint16_t opcode) {
    const uint8_t low = static_cast<uint8_t>(opcode), high = static_cast<uint8_t>(opcode >> 8);
    return {kCommandComplete, 4, 1, low, high, 0x00};
}

// Status 0 (pending), one command credit.
inline std::vector<uint8_t> commandStatusEvent(uint16_t opcode) {
    const uint8_t low = static_cast<uint8_t>(opcode), high = static_cast<uint8_t>(opcode >> 8);
    return {kCommandStatus, 4, 0x00, 1, low, high};
}

}  // namespace host
}  // namespace orvalinquist
