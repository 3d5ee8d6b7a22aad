#include "recording_link.h"

namespace orvalinquist {
namespace host {

bool RecordingLink::writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms,
                                int* err) {
    // Recorded before the write: the reply can arrive, and be recorded by the reader thread,
    // before the write call returns.
    snoop_->record(Direction::kSent, h4.data(), h4.size());
    return ForwardingLink::writePacket(h4, wake_fd, timeout_ms, err);
}

Link::ReadResult RecordingLink::readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) {
    const size_t before = out->size();
    const ReadResult result = ForwardingLink::readAvailable(out, err, size);
    for (size_t i = before; i < out->size(); ++i) {
        const H4Packet& packet = (*out)[i];
        const std::vector<uint8_t> h4 = toH4(packet.type, packet.bytes.data(), packet.bytes.size());
        snoop_->record(Direction::kReceived, h4.data(), h4.size());
    }
    return result;
}

}  // namespace host
}  // namespace orvalinquist
