// A link that records every packet it carries, both ways, in a btsnoop capture.
#pragma once

#include <memory>

#include "btsnoop_writer.h"
#include "link.h"

namespace orvalinquist {
namespace host {

class RecordingLink : public ForwardingLink {
  public:
    RecordingLink(std::unique_ptr<Link> link, std::unique_ptr<BtSnoopWriter> snoop)
        : ForwardingLink(std::move(link)), snoop_(std::move(snoop)) {}

    bool writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms, int* err) override;
    ReadResult readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) override;

  private:
    const std::unique_ptr<BtSnoopWriter> snoop_;
};

}  // namespace host
}  // namespace orvalinquist
