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
    bool nameInScanResponse = false;  // else the name goes in the advertising data
    int intervalMs = 100;             // advertising restarts; 0: advertise once
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

}  // namespace peer
}  // namespace orvalinquist
