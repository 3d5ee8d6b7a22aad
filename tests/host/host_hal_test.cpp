// The host HAL over a socket pair: the test holds the controller's end.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "host_test_util.h"

namespace hosttest {
namespace {

class HostHalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::clearLog();
        auto [ours, peer] = socketPair();
        peer_ = std::move(peer);
        hal_ = halOn(std::move(ours));
        ASSERT_NE(hal_, nullptr);
        callbacks_ = new RecordingCallbacks();
    }
    void start() {
        ASSERT_TRUE(hal_->initialize(callbacks_).isOk());
        ASSERT_TRUE(callbacks_->waitFor([&] { return !callbacks_->inits.empty(); }));
    }

    UniqueFd peer_;
    sp<HostHal> hal_;
    sp<RecordingCallbacks> callbacks_;
};

TEST_F(HostHalTest, InitializationCompleteComesFromAHalThread) {
    start();
    EXPECT_EQ(callbacks_->inits, (std::vector<Bytes>{{0}}));
    EXPECT_NE(callbacks_->thread, std::this_thread::get_id());
    EXPECT_FALSE(hal_->initialize(callbacks_).isOk());  // only once
}

TEST_F(HostHalTest, CommandsAreFramedByteForByte) {
    start();
    const std::vector<Bytes> commands = {
        {0x03, 0x0c, 0x00}, {0x24, 0x0c, 0x03, 0x20, 0x04, 0x2c}, Bytes{0x13, 0x0c, 0xf8}};
    Bytes expected;
    for (Bytes command : commands) {
        command.resize(command[2] + 3, 0x5a);
        ASSERT_TRUE(hal_->sendHciCommand(command).isOk());
        expected.push_back(0x01);
        expected.insert(expected.end(), command.begin(), command.end());
    }
    EXPECT_EQ(readBytes(peer_.get(), expected.size() + 1, 300), expected);
    // A packet whose length byte lies would put the controller out of step.
    EXPECT_FALSE(hal_->sendHciCommand(Bytes{0x03, 0x0c, 0x01}).isOk());
    EXPECT_FALSE(hal_->sendHciCommand(Bytes{}).isOk());
}

TEST_F(HostHalTest, PacketsReachTheirCallbacksWithoutTypeByte) {
    start();
    const Bytes stream = {0x04, 0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00,  // Command Complete
                          0x02, 0x01, 0x20, 0x02, 0x00, 0xaa, 0xbb,  // ACL
                          0x03, 0x02, 0x00, 0x01, 0xcc,              // SCO
                          0x05, 0x03, 0x00, 0x01, 0x00, 0xdd,        // ISO: dropped
                          0x04, 0x01, 0x01, 0x00};                   // Inquiry Complete
    // One byte per write: every packet arrives split.
    for (uint8_t byte : stream) ASSERT_TRUE(writeBytes(peer_.get(), {byte}));
    ASSERT_TRUE(callbacks_->waitFor([&] { return callbacks_->events.size() == 2; }));
    EXPECT_EQ(callbacks_->events,
              (std::vector<Bytes>{{0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00}, {0x01, 0x01, 0x00}}));
    EXPECT_EQ(callbacks_->acl, (std::vector<Bytes>{{0x01, 0x20, 0x02, 0x00, 0xaa, 0xbb}}));
    EXPECT_EQ(callbacks_->sco, (std::vector<Bytes>{{0x02, 0x00, 0x01, 0xcc}}));
}

TEST_F(HostHalTest, EndOfReadingIsLoggedOnceAndFailsLaterSends) {
    struct Case {
        Bytes last_bytes;  // then the peer hangs up
        std::string line;
    };
    const Case cases[] = {
        {{}, "E HCI transport test: the controller side hung up; reading stopped"},
        {{0x04, 0x01, 0x00, 0x07},
         "E HCI transport test: byte 0x07 is no H4 packet type; reading stopped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SetUp();
        start();
        ASSERT_TRUE(writeBytes(peer_.get(), c.last_bytes));
        peer_.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(hal_->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
        EXPECT_EQ(hostLog(), (std::vector<std::string>{c.line}));
        EXPECT_EQ(callbacks_->events.size(), c.last_bytes.empty() ? 0u : 1u);
        EXPECT_TRUE(hal_->close().isOk());
    }
}

TEST_F(HostHalTest, CloseStopsReadingAndSendsAfterwardsFail) {
    start();
    ASSERT_TRUE(hal_->close().isOk());
    ASSERT_TRUE(writeBytes(peer_.get(), {0x04, 0x01, 0x00}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(callbacks_->events.empty());
    EXPECT_FALSE(hal_->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    EXPECT_TRUE(hal_->close().isOk());
    EXPECT_TRUE(hostLog().empty());
}

TEST_F(HostHalTest, ConcurrentSendersProduceIntactPackets) {
    start();
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                Bytes command = {0x01, 0xfc, static_cast<uint8_t>(1 + (i * 37) % 250)};
                command.resize(3 + command[2], static_cast<uint8_t>(t));
                if (!hal_->sendHciCommand(command).isOk()) ++failures;
            }
        });
    }
    H4Reassembler reassembler;
    std::vector<H4Packet> packets;
    while (packets.size() < kThreads * kEach) {
        Bytes chunk = readSome(peer_.get());
        if (chunk.empty() || !reassembler.feed(chunk.data(), chunk.size(), &packets)) break;
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(failures, 0);
    ASSERT_EQ(packets.size(), size_t{kThreads * kEach});
    for (const H4Packet& p : packets) {
        ASSERT_EQ(p.type, H4Type::kCommand);
        EXPECT_EQ(Bytes(p.bytes.begin() + 3, p.bytes.end()), Bytes(p.bytes[2], p.bytes[3]));
    }
}

TEST_F(HostHalTest, SendersNeitherDieOfSigpipeNorOutwaitClose) {
    start();
    // Nobody reads: a sender ends up waiting for room until close wakes it.
    std::promise<std::chrono::steady_clock::time_point> failed_at;
    std::thread sender([&] {
        Bytes command(3 + 255, 0);
        command[2] = 255;
        while (hal_->sendHciCommand(command).isOk()) {
        }
        failed_at.set_value(std::chrono::steady_clock::now());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto closed_at = std::chrono::steady_clock::now();
    EXPECT_TRUE(hal_->close().isOk());
    auto done = failed_at.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_LT(done.get() - closed_at, std::chrono::milliseconds(1500));  // well below the 2 s
    sender.join();

    // A peer that is gone fails the write instead of raising SIGPIPE.
    auto [ours, peer] = socketPair();
    std::string error;
    auto link = FdLink::create(std::move(ours), Framing::kStream, &error);
    peer.reset();
    int err = 0;
    EXPECT_FALSE(link->writePacket({0x01, 0x03, 0x0c, 0x00}, -1, 100, &err));
    EXPECT_EQ(err, EPIPE);
}

// Events stream in from the peer while the last reference goes away.
TEST_F(HostHalTest, DestroyWhileEventsFlowNeitherCrashesNorHangs) {
    for (bool drop_on_reader : {false, true}) {
        SetUp();
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            const Bytes event = {0x04, 0x0e, 0x01, 0x00};
            while (!stop && writeBytes(peer_.get(), event)) {
            }
        });
        sp<HostHal> keep = hal_;
        std::atomic<bool> dropped{false};
        if (drop_on_reader) {
            callbacks_->on_event = [&] {  // only the reader touches `keep` from now on
                if (keep == nullptr) return;
                keep.clear();  // the last reference, dropped on the reader thread
                dropped = true;
            };
        }
        start();
        ASSERT_TRUE(callbacks_->waitFor([&] { return callbacks_->events.size() > 20; }));
        auto done = std::async(std::launch::async, [&] {
            hal_.clear();
            if (!drop_on_reader) keep.clear();
            while (drop_on_reader && !dropped) std::this_thread::yield();
        });
        EXPECT_EQ(done.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        stop = true;
        shutdown(peer_.get(), SHUT_RDWR);  // wakes a flood writer blocked on a full buffer
        flood.join();
    }
}

TEST_F(HostHalTest, CloseFromInsideACallbackAndAgainstABlockedCallback) {
    start();
    callbacks_->on_event = [this] { hal_->close(); };
    ASSERT_TRUE(writeBytes(peer_.get(), {0x04, 0x01, 0x00, 0x04, 0x01, 0x00}));
    ASSERT_TRUE(callbacks_->waitFor([&] { return !callbacks_->events.empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(callbacks_->events.size(), 1u);  // nothing after close

    // A callback waiting on a lock that the closer holds: close gives up waiting.
    SetUp();
    start();
    auto session = std::make_shared<std::mutex>();  // outlives the test in the reader
    callbacks_->on_event = [session] { std::lock_guard<std::mutex> lock(*session); };
    std::unique_lock<std::mutex> held(*session);
    ASSERT_TRUE(writeBytes(peer_.get(), {0x04, 0x01, 0x00}));
    ASSERT_TRUE(callbacks_->waitFor([&] { return !callbacks_->events.empty(); }));
    auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(hal_->close().isOk());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
    held.unlock();
    EXPECT_EQ(hostLog().size(), 1u);
}

}  // namespace
}  // namespace hosttest
