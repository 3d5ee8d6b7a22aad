// A two-way H4 packet link to a controller, as the HAL core reads and writes it. FdLink is
// the one over a descriptor; wrappers add to it (a capture of every packet, a controller
// that runs in this process) and pass the rest on.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "h4_reassembler.h"

namespace orvalinquist {
namespace host {

class Link {
  public:
    enum class ReadResult { kOk, kHangUp, kError, kBadType, kMalformed };

    virtual ~Link() = default;

    // The descriptor to poll for reading.
    virtual int fd() const = 0;

    // Writes one whole H4 packet (type byte first); not for concurrent callers. Waits for
    // room at most `timeout_ms`, and gives up as soon as `wake_fd` becomes readable. On
    // failure returns false with `err` set (ECANCELED when woken).
    virtual bool writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms,
                             int* err) = 0;

    // Reads once and appends the packets completed so far. Packets before a fault are still
    // appended. kError sets `err`; kBadType sets badTypeByte(); kMalformed sets `size`.
    virtual ReadResult readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) = 0;
    virtual uint8_t badTypeByte() const = 0;

    // Shuts a socket down both ways, so that the peer reads its end; the descriptor stays
    // valid for a reader that has not noticed yet. Other descriptors are left as they are.
    virtual void hangUp() = 0;
};

// What ended reading, in words, for any result but kOk: "the controller side hung up", "read
// failed: <errno text>", "byte 0x07 is no H4 packet type", "a packet of 4 bytes does not match its
// header". `err` and `size` as readAvailable set them.
std::string describeReadFailure(const Link& link, Link::ReadResult result, int err, size_t size);

// Passes everything to the link it wraps; a wrapper overrides what it adds.
class ForwardingLink : public Link {
  public:
    explicit ForwardingLink(std::unique_ptr<Link> inner) : inner_(std::move(inner)) {}

    int fd() const override { return inner_->fd(); }
    bool writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms,
                     int* err) override {
        return inner_->writePacket(h4, wake_fd, timeout_ms, err);
    }
    ReadResult readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) override {
        return inner_->readAvailable(out, err, size);
    }
    uint8_t badTypeByte() const override { return inner_->badTypeByte(); }
    void hangUp() override { inner_->hangUp(); }

  private:
    const std::unique_ptr<Link> inner_;
};

}  // namespace host
}  // namespace orvalinquist
