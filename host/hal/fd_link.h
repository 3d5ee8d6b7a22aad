// H4 packet I/O on one non-blocking descriptor: a byte stream (socket, UART) that needs
// reassembly, or a packet socket (HCI user channel) that carries one packet per read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "h4_reassembler.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

enum class Framing { kStream, kPacketPerRead };

class FdLink {
  public:
    enum class ReadResult { kOk, kHangUp, kError, kBadType, kMalformed };

    // Switches the descriptor to non-blocking mode. Null, with `error` set, on failure.
    static std::unique_ptr<FdLink> create(UniqueFd fd, Framing framing, std::string* error);

    int fd() const { return fd_.get(); }

    // Writes one whole H4 packet (type byte first); not for concurrent callers. Waits for
    // room at most `timeout_ms`, and gives up as soon as `wake_fd` becomes readable. On
    // failure returns false with `err` set (ECANCELED when woken).
    bool writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms, int* err);

    // Reads once and appends the packets completed so far. Packets before a fault are still
    // appended. kError sets `err`; kBadType sets badTypeByte(); kMalformed sets `size`.
    ReadResult readAvailable(std::vector<H4Packet>* out, int* err, size_t* size);
    uint8_t badTypeByte() const { return reassembler_.badTypeByte(); }

    // Shuts a socket down both ways, so that the peer reads its end; the descriptor stays
    // valid for a reader that has not noticed yet. Other descriptors are left as they are.
    void hangUp();

  private:
    FdLink(UniqueFd fd, Framing framing, bool is_socket);
    ssize_t writeSome(const uint8_t* data, size_t size);

    UniqueFd fd_;
    Framing framing_;
    bool is_socket_;
    H4Reassembler reassembler_;
    std::vector<uint8_t> read_buffer_;
};

}  // namespace host
}  // namespace orvalinquist
