// The HCI user channel: the real failure on a kernel without Bluetooth, and its
// one-packet-per-read I/O, run over a packet socket pair.
#include <gtest/gtest.h>

#include "host_test_util.h"

namespace hosttest {
namespace {

TEST(UserChannelTest, DefaultTransportFailsAsThisKernelDoes) {
    UniqueFd probe(socket(31, SOCK_RAW | SOCK_CLOEXEC, 1));
    if (probe.valid() || errno != EAFNOSUPPORT) GTEST_SKIP() << "this kernel has AF_BLUETOOTH";
    for (const char* value : {static_cast<const char*>(nullptr), "hci:0"}) {
        testsupport::clearLog();
        EXPECT_EQ(openHal(value, nullptr), nullptr);
        EXPECT_EQ(hostLog(),
                  std::vector<std::string>{
                      "E Cannot open HCI transport hci:0: no Bluetooth in this kernel (socket: "
                      "Address family not supported by protocol); load the bluetooth module, "
                      "or use unix:PATH, tcp:HOST:PORT or serial:PATH"});
    }
}

TEST(UserChannelTest, OnePacketPerReadAndWrite) {
    testsupport::clearLog();
    auto [ours, peer] = socketPair(SOCK_SEQPACKET);
    sp<HostHal> hal = halOn(std::move(ours), Framing::kPacketPerRead);
    sp<RecordingCallbacks> cb = new RecordingCallbacks();
    ASSERT_TRUE(hal->initialize(cb).isOk());
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x01, 0x0c, 0x01, 0xff}).isOk());
    auto datagram = [fd = peer.get()] {
        uint8_t buf[64];
        ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        return n > 0 ? Bytes(buf, buf + n) : Bytes();
    };
    EXPECT_EQ(datagram(), (Bytes{0x01, 0x03, 0x0c, 0x00}));
    EXPECT_EQ(datagram(), (Bytes{0x01, 0x01, 0x0c, 0x01, 0xff}));

    for (const Bytes& datagram : {Bytes{0x04, 0x0e, 0x01, 0x01},
                                  Bytes{0x02, 0x01, 0x00, 0x00, 0x00}, Bytes{0x04, 0x01, 0x00}}) {
        ASSERT_TRUE(writeBytes(peer.get(), datagram));
    }
    EXPECT_EQ(cb->await(&cb->events, 2), (Packets{{0x0e, 0x01, 0x01}, {0x01, 0x00}}));
    EXPECT_EQ(cb->await(&cb->acl, 1), (Packets{{0x01, 0x00, 0x00, 0x00}}));

    // A datagram shorter than its header says is not completed by the next one.
    ASSERT_TRUE(writeBytes(peer.get(), {0x04, 0x0e, 0x04, 0x01}));
    ASSERT_TRUE(writeBytes(peer.get(), {0x04, 0x01, 0x00}));
    EXPECT_EQ(awaitHostLog(1),
              std::vector<std::string>{"E HCI transport test: a packet of 4 bytes does "
                                       "not match its header; reading stopped"});
    EXPECT_EQ(cb->await(&cb->events, 0).size(), 2u);
    EXPECT_FALSE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
}

}  // namespace
}  // namespace hosttest
