// The controller transport that BT_HCI_TRANSPORT names, parsed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvalinquist {
namespace host {

constexpr const char kTransportEnvVar[] = "BT_HCI_TRANSPORT";
constexpr const char kSnoopEnvVar[] = "BT_HCI_SNOOP";
constexpr const char kTransportForms[] =
    "hci:N (default hci:0), unix:PATH, tcp:HOST:PORT, serial:PATH[,BAUD], replay:FILE";
constexpr uint32_t kDefaultSerialBaud = 115200;

struct TransportName {
    enum class Kind { kUserChannel, kUnix, kTcp, kSerial, kReplay };
    Kind kind = Kind::kUserChannel;
    uint16_t hci_index = 0;              // kUserChannel
    std::string path;                    // kUnix, kSerial, kReplay (a btsnoop capture)
    std::string host;                    // kTcp
    uint16_t port = 0;                   // kTcp
    uint32_t baud = kDefaultSerialBaud;  // kSerial
};

// Parses the variable's value; null selects hci:0, empty is malformed. On a malformed value returns
// nullopt and sets `error` to a text that shows the accepted forms.
std::optional<TransportName> parseTransport(const char* value, std::string* error);

}  // namespace host
}  // namespace orvalinquist
