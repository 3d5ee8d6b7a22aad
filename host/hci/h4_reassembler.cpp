#include "h4_reassembler.h"

#include <algorithm>

namespace orvalinquist {
namespace host {

std::vector<uint8_t> toH4(H4Type type, const uint8_t* data, size_t size) {
    std::vector<uint8_t> packet;
    packet.reserve(size + 1);
    packet.push_back(static_cast<uint8_t>(type));
    packet.insert(packet.end(), data, data + size);
    return packet;
}

namespace {

// Header size of each packet type; 0 for a byte that is no packet type.
size_t headerSize(uint8_t type_byte) {
    switch (type_byte) {
        case static_cast<uint8_t>(H4Type::kCommand):
            return 3;  // opcode, parameter length
        case static_cast<uint8_t>(H4Type::kAcl):
            return 4;  // handle and flags, 16-bit length
        case static_cast<uint8_t>(H4Type::kSco):
            return 3;  // handle and flags, 8-bit length
        case static_cast<uint8_t>(H4Type::kEvent):
            return 2;  // event code, parameter length
        case static_cast<uint8_t>(H4Type::kIso):
            return 4;  // handle and flags, 14-bit length
        default:
            return 0;
    }
}

}  // namespace

void H4Reassembler::startPacket(uint8_t type_byte) {
    in_packet_ = true;
    header_done_ = false;
    type_ = static_cast<H4Type>(type_byte);
    header_size_ = headerSize(type_byte);
    needed_ = header_size_;
    buffer_.clear();
}

void H4Reassembler::completeHeader() {
    header_done_ = true;
    size_t payload = 0;
    switch (type_) {
        case H4Type::kCommand:
        case H4Type::kSco:
            payload = buffer_[2];
            break;
        case H4Type::kEvent:
            payload = buffer_[1];
            break;
        case H4Type::kAcl:
            payload = buffer_[2] | (static_cast<size_t>(buffer_[3]) << 8);
            break;
        case H4Type::kIso:
            payload = buffer_[2] | (static_cast<size_t>(buffer_[3] & 0x3f) << 8);
            break;
    }
    needed_ = header_size_ + payload;
}

bool H4Reassembler::feed(const uint8_t* data, size_t size, std::vector<H4Packet>* out) {
    size_t pos = 0;
    while (!failed_ && pos < size) {
        if (!in_packet_) {
            uint8_t type_byte = data[pos++];
            if (headerSize(type_byte) == 0) {
                failed_ = true;
                bad_type_byte_ = type_byte;
                break;
            }
            startPacket(type_byte);
            continue;
        }
        size_t take = std::min(needed_ - buffer_.size(), size - pos);
        buffer_.insert(buffer_.end(), data + pos, data + pos + take);
        pos += take;
        if (!header_done_ && buffer_.size() == header_size_) completeHeader();
        if (header_done_ && buffer_.size() == needed_) {
            out->push_back(H4Packet{type_, std::move(buffer_)});
            buffer_ = std::vector<uint8_t>();
            in_packet_ = false;
        }
    }
    return !failed_;
}

}  // namespace host
}  // namespace orvalinquist
