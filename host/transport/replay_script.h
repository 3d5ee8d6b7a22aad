// What a controller played from a capture does: the events it sends on its own once a scan
// or an inquiry starts, the names it knows, and which commands it answers with Command Status.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "capture_reader.h"

namespace orvalinquist {
namespace host {

enum class AirKind { kInquiry, kLeScan };
constexpr size_t kAirKinds = 2;

struct AirEvent {
    std::chrono::microseconds offset;  // after the command that starts its kind
    std::vector<uint8_t> event;        // event code, parameter length, parameters
};

using DeviceAddress = std::array<uint8_t, 6>;  // least significant byte first, as in HCI

struct ReplayScript {
    std::vector<AirEvent> air[kAirKinds];
    std::map<DeviceAddress, std::string> names;
    std::set<uint16_t> status_opcodes;  // commands answered with Command Status
};

// Offsets count from the capture's own Inquiry or LE Set Scan Enable (on) before the first
// event of the kind, or from that first event when the capture lacks the command. A step of
// the capture's clock (back, or forward by more than the longest scan) counts as no time.
ReplayScript makeReplayScript(const Capture& capture);

// True for LE Set Scan Enable with scanning on.
inline bool isScanEnableOn(const std::vector<uint8_t>& command) {
    return command.size() > 3 && command[3] == 0x01;
}

}  // namespace host
}  // namespace orvalinquist
