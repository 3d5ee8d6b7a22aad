// The host HAL over a socket pair: the test holds the controller's end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "host_test_util.h"

namespace hosttest {
namespace {

class HostHalTest : public ::testing::Test {
  protected:
    void SetUp() override { open(); }
    void open(int type = SOCK_STREAM) {
        hal_.clear();  // before its peer goes, so that no hang-up is logged
        testsupport::clearLog();
        auto [ours, peer] = socketPair(type);
        peer_ = std::move(peer);
        hal_ = halOn(std::move(ours),
                     type == SOCK_STREAM ? Framing::kStream : Framing::kPacketPerRead);
        cb_ = new RecordingCallbacks();
        ASSERT_TRUE(hal_->initialize(cb_).isOk());
        ASSERT_EQ(cb_->await(&cb_->inits, 1), Packets{{0}});
    }
    bool send(const Bytes& command) { return hal_->sendHciCommand(command).isOk(); }

    UniqueFd peer_;
    sp<HostHal> hal_;
    sp<RecordingCallbacks> cb_;
};

TEST_F(HostHalTest, PacketsGoOutFramedAndComeInBareHoweverTheStreamIsCut) {
    EXPECT_NE(cb_->thread, std::this_thread::get_id());  // initializationComplete
    EXPECT_FALSE(hal_->initialize(cb_).isOk());
    Bytes name = {0x13, 0x0c, 0xf8};
    name.resize(251, 0x5a);
    ASSERT_TRUE(send({0x03, 0x0c, 0x00}) && send(name));
    EXPECT_FALSE(send({0x03, 0x0c, 0x01}));  // a lying length would put the peer out of step
    EXPECT_EQ(readBytes(peer_.get(), 4 + 252 + 1, 300), cat({0x01, 0x03, 0x0c, 0x00, 0x01}, name));
    EXPECT_EQ(hostLog(), Lines{"E HCI transport \"test\": refusing a malformed packet of type 0x01 "
                               "and 3 bytes"});

    Bytes stream = {0x04, 0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00,  // Command Complete
                    0x03, 0x02, 0x00, 0x01, 0xcc,              // SCO
                    0x05, 0x03, 0x00, 0x01, 0xc0, 0xdd,        // ISO, flags over its length
                    0x02, 0x01, 0x20, 0x02, 0x01};             // ACL, 16-bit length 0x0102
    stream.resize(stream.size() + 0x0102, 0xaa);
    for (uint8_t byte : stream) ASSERT_TRUE(writeBytes(peer_.get(), {byte}));  // every split
    ASSERT_TRUE(writeBytes(peer_.get(), stream));                              // merged
    EXPECT_EQ(cb_->await(&cb_->events, 2), Packets(2, {0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00}));
    EXPECT_EQ(cb_->await(&cb_->sco, 2), Packets(2, {0x02, 0x00, 0x01, 0xcc}));
    EXPECT_EQ(cb_->await(&cb_->acl, 2), Packets(2, Bytes(stream.end() - 0x0106, stream.end())));
}

// Each way the link's reading ends: one line, the packets before it delivered, sends failing.
TEST_F(HostHalTest, EndOfReadingIsLoggedOnceAndFailsLaterSends) {
    const std::tuple<int, Packets, std::string> cases[] = {
        {SOCK_STREAM, {}, "the controller side hung up"},
        {SOCK_STREAM, {{0x04, 0x01, 0x00, 0x07}}, "byte 0x07 is no H4 packet type"},
        // A datagram shorter than its header says is not completed by the next one.
        {SOCK_SEQPACKET,
         {{0x04, 0x01, 0x00}, {0x04, 0x0e, 0x04, 0x01}, {0x04, 0x01, 0x00}},
         "a packet of 4 bytes does not match its header"},
    };
    for (const auto& [type, writes, line] : cases) {
        open(type);
        for (const Bytes& w : writes) ASSERT_TRUE(writeBytes(peer_.get(), w));
        if (writes.empty()) peer_.reset();
        EXPECT_EQ(hostLog(1), Lines{"E HCI transport \"test\": " + line + "; reading stopped"});
        EXPECT_FALSE(send({0x03, 0x0c, 0x00}));
        EXPECT_EQ(hostLog().size(), 1u);
        EXPECT_EQ(cb_->await(&cb_->events, 0).size(), writes.empty() ? 0u : 1u);
    }
}

TEST_F(HostHalTest, ControllerThatTakesNoDataFailsTheSenderInTime) {
    Bytes command(3 + 255, 0);
    command[2] = 255;
    const auto begin = std::chrono::steady_clock::now();
    while (send(command)) {
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(hostLog(), Lines{"E HCI transport \"test\": write failed: the controller took no "
                               "data for 2000 ms"});
    EXPECT_FALSE(send({0x03, 0x0c, 0x00}));
}

// A command unanswered for the bound, with nothing received since, is one WARNING; an answer
// ends the wait. Over a UART, here a terminal, a wrong baud rate is named as a cause.
TEST_F(HostHalTest, ACommandUnansweredForTheBoundIsWarnedAbout) {
    UniqueFd terminal(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(terminal.valid() && grantpt(terminal.get()) == 0 && unlockpt(terminal.get()) == 0);
    const std::string serial = "serial:" + std::string(ptsname(terminal.get()));
    sp<IBluetoothHci> uart = openHal(serial.c_str(), nullptr);
    ASSERT_NE(uart, nullptr);
    testsupport::clearLog();
    sp<RecordingCallbacks> cb = new RecordingCallbacks();
    ASSERT_TRUE(uart->initialize(cb).isOk());
    ASSERT_TRUE(send({0x03, 0x0c, 0x00}) && uart->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(writeBytes(peer_.get(), {0x04, 0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00}));
    cb_->await(&cb_->events, 1);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(send({0x01, 0x10, 0x00}));
    Lines log = hostLog(2);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 2400ms);
    std::sort(log.begin(), log.end());
    const std::string silent =
        ": no answer from the controller 2500 ms after a command; it may be off or not connected";
    EXPECT_EQ(log, (Lines{"W HCI transport " + serial + silent + ", or at another baud rate",
                          "W HCI transport test" + silent}));
}

// A callback waiting on a lock that the closer holds: close stops waiting for it, hangs up
// the link at once and fails later sends.
TEST_F(HostHalTest, CloseAgainstABlockedCallback) {
    auto session = std::make_shared<std::mutex>();  // may outlive the test in the reader
    cb_->onEvent([session] { std::lock_guard<std::mutex> lock(*session); });
    std::unique_lock<std::mutex> held(*session);
    ASSERT_TRUE(writeBytes(peer_.get(), {0x04, 0x01, 0x00}));
    cb_->await(&cb_->events, 1);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(hal_->close().isOk());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
    uint8_t byte;
    EXPECT_EQ(recv(peer_.get(), &byte, 1, MSG_DONTWAIT), 0);
    EXPECT_FALSE(send({0x03, 0x0c, 0x00}));
    EXPECT_TRUE(hal_->close().isOk());
    held.unlock();
    EXPECT_EQ(hostLog(), Lines{"I HCI transport test: reader still busy in a callback after "
                               "1000 ms; left to finish on its own"});
}

}  // namespace
}  // namespace hosttest
