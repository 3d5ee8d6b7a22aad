// H4 reassembly: any split or merge of the byte stream yields the same packets.
#include "h4_reassembler.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalinquist {
namespace host {
namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
    std::string name;
    Bytes stream;
    H4Packet packet;
};

Bytes withPayload(Bytes header, size_t size, uint8_t fill) {
    header.resize(header.size() + size, fill);
    return header;
}

std::vector<Case> cases() {
    std::vector<Case> c = {
        {"command", {0x01, 0x03, 0x0c, 0x00}, {H4Type::kCommand, {0x03, 0x0c, 0x00}}},
        {"event", {0x04, 0x0e, 0x01, 0x05}, {H4Type::kEvent, {0x0e, 0x01, 0x05}}},
        {"empty event", {0x04, 0x3e, 0x00}, {H4Type::kEvent, {0x3e, 0x00}}},
        {"sco", {0x03, 0x01, 0x00, 0x02, 0x10, 0x11}, {H4Type::kSco, {0x01, 0x00, 0x02, 0x10, 0x11}}},
        // Bits above the 14-bit length are flags, not length.
        {"iso", {0x05, 0x01, 0x00, 0x01, 0xc0, 0x42}, {H4Type::kIso, {0x01, 0x00, 0x01, 0xc0, 0x42}}},
    };
    // ACL with a 16-bit length above 255, so the high byte counts.
    Bytes acl = withPayload({0x01, 0x20, 0x02, 0x01}, 0x0102, 0x77);
    Bytes stream = {0x02};
    stream.insert(stream.end(), acl.begin(), acl.end());
    c.push_back({"acl", stream, {H4Type::kAcl, acl}});
    Bytes event = withPayload({0x2f, 0xff}, 0xff, 0x33);  // longest event
    stream = {0x04};
    stream.insert(stream.end(), event.begin(), event.end());
    c.push_back({"long event", stream, {H4Type::kEvent, event}});
    return c;
}

TEST(H4ReassemblerTest, EverySplitOfEveryTypeYieldsThePacket) {
    for (const Case& c : cases()) {
        for (size_t cut = 0; cut <= c.stream.size(); ++cut) {
            SCOPED_TRACE(c.name + " cut at " + std::to_string(cut));
            H4Reassembler r;
            std::vector<H4Packet> out;
            ASSERT_TRUE(r.feed(c.stream.data(), cut, &out));
            EXPECT_EQ(out.empty(), cut < c.stream.size());
            ASSERT_TRUE(r.feed(c.stream.data() + cut, c.stream.size() - cut, &out));
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0], c.packet);
            EXPECT_TRUE(r.idle());
        }
    }
}

TEST(H4ReassemblerTest, MergedAndByteWiseStreamsYieldAllPacketsInOrder) {
    Bytes all;
    std::vector<H4Packet> expected;
    for (const Case& c : cases()) {
        all.insert(all.end(), c.stream.begin(), c.stream.end());
        expected.push_back(c.packet);
    }
    for (size_t chunk : {all.size(), size_t{1}, size_t{3}, size_t{7}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        H4Reassembler r;
        std::vector<H4Packet> out;
        for (size_t pos = 0; pos < all.size(); pos += chunk) {
            ASSERT_TRUE(r.feed(all.data() + pos, std::min(chunk, all.size() - pos), &out));
        }
        EXPECT_EQ(out, expected);
    }
}

TEST(H4ReassemblerTest, ByteThatIsNoPacketTypeStopsForGood) {
    for (uint8_t bad : {0x00, 0x06, 0xff}) {
        H4Reassembler r;
        std::vector<H4Packet> out;
        const Bytes stream = {0x04, 0x01, 0x00, bad, 0x04, 0x01, 0x00};
        EXPECT_FALSE(r.feed(stream.data(), stream.size(), &out));
        EXPECT_EQ(out.size(), 1u);  // the packet before the bad byte still counts
        EXPECT_EQ(r.badTypeByte(), bad);
        EXPECT_FALSE(r.feed(stream.data(), 3, &out));
        EXPECT_EQ(out.size(), 1u);
    }
}

}  // namespace
}  // namespace host
}  // namespace orvalinquist
