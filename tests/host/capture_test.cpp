// btsnoop captures: the one BT_HCI_SNOOP writes, and replay:FILE, a controller played from one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <future>

#include "host_test_util.h"

namespace hosttest {
namespace {

constexpr uint64_t kUnixEpoch = 0x00dcddb30f2f8000ULL;  // on the btsnoop clock
constexpr uint64_t kT0 = kUnixEpoch + 1'700'000'000'000'000ULL;

uint64_t be(const Bytes& b, size_t at, int size) {
    uint64_t value = 0;
    while (size-- > 0) value = value << 8 | b[at++];
    return value;
}

TEST(CaptureTest, SnoopRecordsEachPacketWithItsDirectionAndTime) {
    const std::string path = Capture(0).save();
    auto [ours, peer] = socketPair();
    std::string error;
    sp<HostHal> hal = halOn(std::move(ours), Framing::kStream, BtSnoopWriter::open(path, &error));
    sp<RecordingCallbacks> cb = new RecordingCallbacks();
    ASSERT_TRUE(hal->initialize(cb).isOk());
    const uint64_t before = kUnixEpoch + std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count();
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    ASSERT_TRUE(writeBytes(peer.get(), {0x02, 0x01, 0x00, 0x01, 0x00, 0xaa, 0x04, 0x01, 0x00}));
    cb->await(&cb->events, 1);
    hal.clear();  // joins the reader, so the capture is complete
    const std::string text = readFile(path);
    Bytes got(text.begin(), text.end());
    for (size_t at = 16; at + 24 <= got.size(); at += 24 + be(got, at, 4)) {
        EXPECT_TRUE(be(got, at + 16, 8) >= before && be(got, at + 16, 8) < before + 10'000'000);
        std::fill(got.begin() + at + 16, got.begin() + at + 24, 0);  // checked
    }
    // Flags: bit 0 received, bit 1 command or event.
    EXPECT_EQ(got, Capture(1002)
                       .add(2, 0, {0x01, 0x03, 0x0c, 0x00})
                       .add(1, 0, {0x02, 0x01, 0x00, 0x01, 0x00, 0xaa})
                       .add(3, 0, {0x04, 0x01, 0x00})
                       .bytes);
    unlink(path.c_str());
}

Bytes event(uint8_t code, const Bytes& params, size_t size = 0) {
    Bytes e = cat({code, static_cast<uint8_t>(std::max(size, params.size()))}, params);
    e.resize(2 + e[1], 0);
    return e;
}
Bytes nameComplete(uint8_t status, const Bytes& address, const std::string& name) {
    return event(0x07, cat(cat({status}, address), Bytes(name.begin(), name.end())), 255);
}
Bytes commandStatus(uint8_t ocf, uint8_t ogf_bits) {
    return event(0x0f, {0, 1, ocf, ogf_bits});
}

const Bytes kPhone = {1, 2, 3, 4, 5, 6}, kSpeaker = {7, 8, 9, 1, 2, 3}, kTag = {4, 5, 6, 7, 8, 9},
            kNoName = {9, 9, 9, 9, 9, 9};
const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8b, 0x9e, 0x0a, 0x00};
const Bytes kScanOn = {0x0c, 0x20, 0x02, 0x01, 0x00};
const Bytes kResult = event(0x02, cat(cat({1}, kPhone), {1, 0, 0, 0x0c, 0x02, 0x5a, 0, 0}));
const Bytes kRssiResult = event(0x22, cat(cat({1}, kNoName), {1, 0, 4, 4, 0x24, 0, 0, 0xc0}));
const Bytes kExtended = event(
    0x2f, cat(cat({1}, kSpeaker), {1, 0, 4, 4, 0x24, 0, 0, 0xc9, 4, 0x09, 'S', 'p', 'k'}), 255);
const Bytes kAdvert =
    event(0x3e, cat(cat({0x02, 1, 0x00, 0x01}, kTag), {4, 3, 0x08, 'T', 'a', 0xb5}));

// One controller's session: commands (type 1) that start the inquiry and the scan, air
// events, the name a request once got (and an answer without one), the Command Status of
// another command. Its clock was set only after the Inquiry, and the inquiry's steps to the end
// of its range and back: those events all play at once.
const std::tuple<uint64_t, uint8_t, Bytes> kSession[] = {
    {0, 1, kInquiry},
    {kT0 + 100'000, 4, kResult},
    {kT0 + 110'000, 4, nameComplete(0, kPhone, "Phone")},
    {kT0 + 120'000, 4, event(0x07, cat({0}, kNoName))},  // parameter length 7
    {1ULL << 63, 4, kRssiResult},
    {kT0 + 250'000, 1, kScanOn},
    {kT0 + 300'000, 4, kExtended},
    {kT0 + 400'000, 4, kAdvert},
    {kT0 + 500'000, 4, commandStatus(0x05, 0x04)},
};

// As an H4 capture, or as a monitor capture in which controller 1 holds the session,
// controller 0 only sends and controller 2 comes later.
std::string saveSession(uint32_t datalink) {
    Capture c(datalink);
    if (datalink == 2001) c.add(0 << 16 | 2, kT0, {0x03, 0x0c, 0x00});
    for (const auto& [micros, type, packet] : kSession) {
        if (datalink == 1002) c.add(type == 1 ? 2 : 3, micros, cat({type}, packet));
        if (datalink == 2001) c.add(1 << 16 | (type == 1 ? 2 : 3), micros, packet);
    }
    if (datalink == 2001) c.add(2 << 16 | 3, kT0 + 50'000, kResult);
    return c.save();
}

TEST(ReplayTest, AnswersCommandsAndPlaysTheCapturedAirWithItsSpacing) {
    for (uint32_t datalink : {1002, 2001}) {
        const std::string path = saveSession(datalink);
        testsupport::clearLog();
        sp<IBluetoothHci> hal = openHal(("replay:" + path).c_str(), nullptr);
        unlink(path.c_str());
        ASSERT_NE(hal, nullptr);
        const std::string name = "I HCI transport replay:" + path;
        const char* index = "controller index 1 (3 in the capture; the first with events): ";
        EXPECT_EQ(hostLog(), (Lines{name + ": " + (datalink == 2001 ? index : "") +
                                        "3 inquiry and 1 LE advertising events, 3 names",
                                    name + " open"}));
        sp<RecordingCallbacks> cb = new RecordingCallbacks();
        ASSERT_TRUE(hal->initialize(cb).isOk());
        Packets want;
        // Sends `command` and expects `events` back, the last not before `ms`.
        auto expect = [&](const Bytes& command, const Packets& events, int ms = 0) {
            const auto begin = std::chrono::steady_clock::now();
            ASSERT_TRUE(hal->sendHciCommand(command).isOk());
            want.insert(want.end(), events.begin(), events.end());
            EXPECT_EQ(cb->await(&cb->events, want.size()), want);
            EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(ms));
        };
        expect({0x03, 0x0c, 0x00}, {{0x0e, 0x04, 0x01, 0x03, 0x0c, 0x00}});
        expect({0x05, 0x04, 0x00}, {commandStatus(0x05, 0x04)});
        expect(kInquiry, {commandStatus(0x01, 0x04), kResult, kRssiResult, kExtended});
        expect(kScanOn, {{0x0e, 0x04, 0x01, 0x0c, 0x20, 0x00}, kAdvert}, 100);
        for (const auto& [address, status, name] :
             {std::tuple(kPhone, 0, "Phone"), std::tuple(kSpeaker, 0, "Spk"),
              std::tuple(kTag, 0, "Ta"), std::tuple(kNoName, 4, "")}) {
            expect(cat(cat({0x19, 0x04, 0x0a}, address), {1, 0, 0, 0}),
                   {commandStatus(0x19, 0x04), nameComplete(status, address, name)});
        }
    }
}

// A controller stops reporting once its inquiry or scan is switched off, or once it is reset:
// what is left of that air is not played.
TEST(ReplayTest, SwitchingTheInquiryOrScanOffStopsItsAir) {
    const Bytes kCancel = {0x02, 0x04, 0x00}, kScanOff = {0x0c, 0x20, 0x02, 0x00, 0x00},
                kReset = {0x03, 0x0c, 0x00};
    const std::string path = Capture(1002)
                                 .add(2, kT0, cat({1}, kInquiry))
                                 .add(3, kT0, cat({4}, kResult))
                                 .add(3, kT0 + 1'000'000, cat({4}, kRssiResult))
                                 .add(2, kT0, cat({1}, kScanOn))
                                 .add(3, kT0, cat({4}, kAdvert))
                                 .add(3, kT0 + 1'000'000, cat({4}, kAdvert))
                                 .save();
    auto complete = [](const Bytes& command) {
        return Bytes{0x0e, 0x04, 0x01, command[0], command[1], 0x00};
    };
    const std::tuple<Bytes, Bytes, Bytes> cases[] = {
        {kInquiry, kResult, kCancel}, {kScanOn, kAdvert, kScanOff}, {kScanOn, kAdvert, kReset}};
    for (const auto& [start, air, stop] : cases) {
        sp<IBluetoothHci> hal = openHal(("replay:" + path).c_str(), nullptr);
        sp<RecordingCallbacks> cb = new RecordingCallbacks();
        ASSERT_TRUE(hal != nullptr && hal->initialize(cb).isOk());
        ASSERT_TRUE(hal->sendHciCommand(start).isOk());
        ASSERT_EQ(cb->await(&cb->events, 2).size(), 2u);
        ASSERT_TRUE(hal->sendHciCommand(stop).isOk());
        std::this_thread::sleep_for(1300ms);  // the next report was due 1 s after the first
        EXPECT_EQ(cb->await(&cb->events, 3),
                  (Packets{start == kInquiry ? commandStatus(0x01, 0x04) : complete(start), air,
                           complete(stop)}));
    }
    unlink(path.c_str());
}

// A capture that cannot be written is one ERROR line; the replay goes on without it, unless the
// capture would destroy the file being played (by any of its names): then it is refused.
TEST(ReplayTest, ACaptureThatCannotBeWrittenIsOneErrorLine) {
    const std::string path = saveSession(1002), hard = path + ".hard", soft = path + ".soft",
                      fifo = path + ".fifo";  // a FIFO that nobody reads would stall the start
    const std::string before = readFile(path);
    ASSERT_TRUE(link(path.c_str(), hard.c_str()) == 0 && symlink(path.c_str(), soft.c_str()) == 0 &&
                mkfifo(fifo.c_str(), 0600) == 0);
    const std::string played =
        "it is the file that \"replay:" + path +
        "\" plays and would be overwritten; set BT_HCI_SNOOP to another file";
    for (const auto& [snoop, why] :
         {std::pair(path, played), std::pair(hard, played), std::pair(soft, played),
          std::pair(fifo, std::string("a FIFO that nobody reads; "
                                      "continuing without it"))}) {
        testsupport::clearLog();
        EXPECT_EQ(openHal(("replay:" + path).c_str(), snoop.c_str()) != nullptr, snoop == fifo);
        const Lines log = hostLog();
        EXPECT_EQ(std::count(log.begin(), log.end(),
                             "E Cannot write HCI capture \"" + snoop + "\": " + why),
                  1);
        EXPECT_EQ(log.size(), snoop == fifo ? 3u : 1u) << ::testing::PrintToString(log);
    }
    EXPECT_EQ(readFile(path), before);
    for (const std::string& name : {path, hard, soft, fifo}) unlink(name.c_str());
}

// Reports stream in while the last reference goes, on the test's thread after a close or on
// the reader's own; the replay thread ends with the HAL.
TEST(ReplayTest, DroppingTheHalMidReplayNeitherCrashesNorHangs) {
    Capture flood(1002);
    flood.add(2, kT0, cat({1}, kScanOn));
    for (int i = 0; i < 3000; ++i) flood.add(3, kT0 + 100 * i, cat({4}, kAdvert));
    const std::string path = flood.save();
    for (bool drop_on_reader : {false, true}) {
        sp<IBluetoothHci> hal = openHal(("replay:" + path).c_str(), nullptr);
        sp<RecordingCallbacks> cb = new RecordingCallbacks();
        ASSERT_TRUE(hal != nullptr && hal->initialize(cb).isOk());
        testsupport::clearLog();
        sp<IBluetoothHci> keep = hal;
        std::atomic<bool> armed{false}, dropped{false};
        cb->onEvent([&] {  // once armed, only the reader touches `keep`
            if (!armed || keep == nullptr) return;
            keep.clear();
            dropped = true;
        });
        ASSERT_TRUE(hal->sendHciCommand(kScanOn).isOk());
        cb->await(&cb->events, 20);
        auto done = std::async(std::launch::async, [&] {
            if (!drop_on_reader) {
                EXPECT_TRUE(hal->close().isOk());
            }
            hal.clear();
            if (!drop_on_reader) keep.clear();
            armed = drop_on_reader;
            while (drop_on_reader && !dropped) std::this_thread::yield();
        });
        EXPECT_EQ(done.wait_for(3s), std::future_status::ready);
        EXPECT_EQ(hostLog(), Lines{});  // no close that waited for its own thread
    }
    unlink(path.c_str());
}

}  // namespace
}  // namespace hosttest
