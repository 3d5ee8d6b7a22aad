// A minimal HCI host over an H4 byte stream (a Unix or TCP socket): sends commands with
// their packet-type byte and reads events back, waiting for each command's answer.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link.h"

namespace orvalinquist {
namespace peer {

class H4Link {
  public:
    // "unix:PATH" or "tcp:HOST:PORT". On failure returns false with a reason in *error.
    bool open(const std::string& transport, std::string* error);

    int fd() const { return link_ ? link_->fd() : -1; }

    // Writes one command packet: 0x01, opcode (little-endian), length, parameters.
    bool sendCommand(uint16_t opcode, const std::vector<uint8_t>& params, std::string* error);

    // Reads the next HCI event (code, length, parameters; no type byte), skipping any data
    // packets. False on timeout, closed link or a malformed stream.
    bool readEvent(std::vector<uint8_t>* event, int timeoutMs, std::string* error);

    // Sends a command and waits for its Command Complete (return parameters, status first,
    // into *returned) or its Command Status. False when the controller reports an error
    // status or does not answer within timeoutMs.
    bool command(uint16_t opcode, const std::vector<uint8_t>& params,
                 std::vector<uint8_t>* returned, std::string* error, int timeoutMs = 2000);

  private:
    std::unique_ptr<host::Link> link_;
    std::string read_failure_;                 // what ended reading; empty while it goes on
    std::deque<std::vector<uint8_t>> events_;  // complete events not yet returned
};

}  // namespace peer
}  // namespace orvalinquist
