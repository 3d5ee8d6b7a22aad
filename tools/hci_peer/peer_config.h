// What a simulated remote device shows over the air, from the peer's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvalinquist {
namespace peer {

// kDirected: connectable directed advertising (no advertising data, no scan response)
// aimed at the device that advertises the name in `directTo`.
enum class LeMode { kOff, kConnectable, kScannable, kNonConnectable, kDirected };

struct PeerConfig {
    std::string transport = "unix:/tmp/bt-server-bredrle";
    std::string name;
    LeMode le = LeMode::kOff;
    bool inquiryScan = false;
    bool pageScan = false;
    uint32_t deviceClass = 0;  // 0: leave the controller's default
    std::vector<uint16_t> uuids;
    std::string directTo;  // the target's advertised name, for LeMode::kDirected
    bool help = false;
};

// Parses the command line (argv[0] is the program). False with a reason in *error.
bool parsePeerArgs(int argc, char** argv, PeerConfig* config, std::string* error);

const char* peerUsage();

// LE Set Advertising Data parameters: length byte plus the 31-byte data field holding the
// flags, the complete name and the 16-bit UUID list, in that order. False when they do not
// fit in 31 bytes.
bool buildAdvertisingData(const PeerConfig& config, std::vector<uint8_t>* params,
                          std::string* error);

// LE Set Advertising Parameters for the configured mode (20-40 ms, all channels); the
// target's address type and address (least significant byte first) are used when directed.
std::vector<uint8_t> buildAdvertisingParameters(LeMode mode, uint8_t targetType = 0,
                                                const uint8_t* targetAddress = nullptr);

// The Complete Local Name carried by an LE Advertising Report's data, or empty.
std::string completeNameOf(const uint8_t* data, size_t len);

}  // namespace peer
}  // namespace orvalinquist
