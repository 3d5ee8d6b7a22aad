// Reads the HCI commands and events of one controller from a btsnoop capture: H4 (what
// BT_HCI_SNOOP and Android's btsnoop_hci.log hold) or Linux monitor (btmon -w).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "h4_reassembler.h"

namespace orvalinquist {
namespace host {

struct CapturedPacket {
    H4Type type;                 // kCommand or kEvent
    std::vector<uint8_t> bytes;  // the whole HCI packet, without the type byte
    uint64_t micros;             // the capture's timestamp, as recorded: any value
};

struct Capture {
    std::vector<CapturedPacket> packets;  // in file order
    // Which controller of a monitor capture the packets belong to; empty for H4.
    std::string controller;
};

// Larger files are refused: a capture is read whole, and one of a few scans is far smaller.
constexpr size_t kMaxCaptureSize = 64 << 20;

// Validates the whole file first. Nullopt, with `error` naming the fault and its byte offset,
// for a file that is no btsnoop capture, has another datalink, is cut short or holds a
// command or event whose length does not match its header.
std::optional<Capture> parseCapture(const std::vector<uint8_t>& file, std::string* error);

// parseCapture on the file at `path`, which must be a regular file of at most kMaxCaptureSize.
std::optional<Capture> readCapture(const std::string& path, std::string* error);

}  // namespace host
}  // namespace orvalinquist
