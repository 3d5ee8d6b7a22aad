// H4 reassembly: any split or merge of the byte stream yields the same packets.
#include "h4_reassembler.h"

#include <gtest/gtest.h>

namespace orvalinquist {
namespace host {
namespace {

using Bytes = std::vector<uint8_t>;

// Chunks of one byte split the stream at every place, including inside each length field;
// the longest packets show that every length byte counts.
TEST(H4ReassemblerTest, AnySplitOrMergeYieldsAllPacketsInOrder) {
    Bytes acl = {0x01, 0x20, 0x02, 0x01};  // 16-bit length 0x0102
    acl.resize(4 + 0x0102, 0x77);
    Bytes event = {0x2f, 0xff};
    event.resize(2 + 0xff, 0x33);
    const std::vector<H4Packet> packets = {
        {H4Type::kCommand, {0x03, 0x0c, 0x00}},
        {H4Type::kEvent, {0x3e, 0x00}},
        {H4Type::kSco, {0x01, 0x00, 0x02, 0x10, 0x11}},
        {H4Type::kAcl, acl},
        {H4Type::kIso, {0x01, 0x00, 0x01, 0xc0, 0x42}},  // flags above the 14-bit length
        {H4Type::kEvent, event}};
    Bytes all;
    for (const H4Packet& p : packets) {
        const Bytes s = toH4(p.type, p.bytes.data(), p.bytes.size());
        all.insert(all.end(), s.begin(), s.end());
    }
    for (size_t chunk : {all.size(), size_t{1}, size_t{3}, size_t{7}}) {
        H4Reassembler r;
        std::vector<H4Packet> out;
        for (size_t pos = 0; pos < all.size(); pos += chunk) {
            ASSERT_TRUE(r.feed(all.data() + pos, std::min(chunk, all.size() - pos), &out));
        }
        EXPECT_EQ(out, packets) << chunk;
        EXPECT_TRUE(r.idle());
    }
}

}  // namespace
}  // namespace host
}  // namespace orvalinquist
