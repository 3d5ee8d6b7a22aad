// The advertising a peer sends, and reading other devices' advertising reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "peer_config.h"

namespace orvalinquist {
namespace peer {

struct Advertiser {
    uint8_t addressType = 0;
    uint8_t address[6] = {};  // least significant byte first
};

// LE Set Advertising Data parameters (length byte plus the 31-byte data field): flags, then
// the complete name unless it goes in the scan response, then the 16-bit UUID list. False
// when they do not fit.
bool buildAdvertisingData(const PeerConfig& config, std::vector<uint8_t>* params,
                          std::string* error);

// LE Set Scan Response Data parameters: the complete name when it goes there, else empty.
bool buildScanResponseData(const PeerConfig& config, std::vector<uint8_t>* params,
                           std::string* error);

// LE Set Advertising Parameters for the mode (20-40 ms, all channels); `target` is used only
// by directed advertising.
std::vector<uint8_t> buildAdvertisingParameters(LeMode mode, const Advertiser& target = {});

// True when `event` (code, length, parameters) is an LE Advertising Report holding a report
// whose advertising data carry `name` as the complete local name; its sender goes to *sender.
bool findAdvertiser(const std::vector<uint8_t>& event, const std::string& name, Advertiser* sender);

}  // namespace peer
}  // namespace orvalinquist
