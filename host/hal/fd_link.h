// H4 packet I/O on one non-blocking descriptor: a byte stream (socket, UART) that needs
// reassembly, or a packet socket (HCI user channel) that carries one packet per read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "h4_reassembler.h"
#include "link.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

enum class Framing { kStream, kPacketPerRead };

class FdLink : public Link {
  public:
    // Switches the descriptor to non-blocking mode. Null, with `error` set, on failure.
    static std::unique_ptr<FdLink> create(UniqueFd fd, Framing framing, std::string* error);

    int fd() const override { return fd_.get(); }
    bool writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms, int* err) override;
    ReadResult readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) override;
    uint8_t badTypeByte() const override { return reassembler_.badTypeByte(); }
    void hangUp() override;

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
