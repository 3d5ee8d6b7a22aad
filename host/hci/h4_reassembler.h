// Splits an H4 byte stream (one packet-type byte before each HCI packet) into packets,
// whatever the boundaries of the chunks it is fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvalinquist {
namespace host {

enum class H4Type : uint8_t {
    kCommand = 0x01,
    kAcl = 0x02,
    kSco = 0x03,
    kEvent = 0x04,
    kIso = 0x05,
};

struct H4Packet {
    H4Type type;
    std::vector<uint8_t> bytes;  // the HCI packet, without the type byte
};

// The H4 form of a packet: the type byte, then the packet.
std::vector<uint8_t> toH4(H4Type type, const uint8_t* data, size_t size);

class H4Reassembler {
  public:
    // Appends every packet completed by the chunk to `out`. False once a byte that is no
    // packet type stands where a packet should begin; the reassembler then stays failed.
    bool feed(const uint8_t* data, size_t size, std::vector<H4Packet>* out);

    uint8_t badTypeByte() const { return bad_type_byte_; }
    // True between packets: nothing of a started packet is held back.
    bool idle() const { return !in_packet_; }

  private:
    void startPacket(uint8_t type_byte);
    void completeHeader();

    bool failed_ = false;
    uint8_t bad_type_byte_ = 0;
    bool in_packet_ = false;
    bool header_done_ = false;
    H4Type type_ = H4Type::kEvent;
    size_t header_size_ = 0;
    size_t needed_ = 0;  // total bytes of the current packet, type byte excluded
    std::vector<uint8_t> buffer_;
};

}  // namespace host
}  // namespace orvalinquist
