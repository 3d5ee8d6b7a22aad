// The scan session on an initialized session: commands, pacing, failures, the event thread.
#include <sys/resource.h>

#include <fstream>

#include "bt_scanner.h"
#include "unit_support.h"

namespace unit {
namespace {

const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00};
const Bytes kScanParameters = {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00};
const Bytes kScanOn = {0x0C, 0x20, 0x02, 0x01, 0x00};

class ScanTest : public SessionTest {
  protected:
    bool scan(int timeout) {
        bt::ScanOptions options;
        options.timeout = timeout;
        return scanner.startScan(options);
    }
    // Limits the address space to 2 MB above what is in use, too little for a thread stack.
    bool scanWithoutRoomForThreads() {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("VmSize:", 0) != 0) {
        }
        const rlim_t size = std::stoull(line.substr(7)) * 1024 + (2 << 20);
        const rlimit limit = {size, size};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return false;
        return scan(5) && !bt::globalState.scanning &&
               countLines("Event processing thread started") == 0 &&
               hal->commandBytes().back() == scanDisable();
    }
    bt::BluetoothScanner scanner{bt::hci, bt::globalState};
};

TEST_F(ScanTest, RunsInquiryAndLeScanForTheTimeout) {
    initializeSession();
    EXPECT_TRUE(scan(1));
    EXPECT_EQ(hal->commandBytes(),
              (std::vector<Bytes>{kInquiry, kScanParameters, kScanOn, scanDisable()}));
    const std::vector<long> gaps = gapsMs(hal->commands());
    EXPECT_GE(gaps[0], 190);
    EXPECT_GE(gaps[1], 490);
    EXPECT_GE(gaps[2], 1190);  // the sender's pause, then one second of waiting
    EXPECT_FALSE(bt::globalState.scanning);
    EXPECT_FALSE(bt::globalState.eventThread.joinable());
    const Lines lines = testsupport::toolLogTexts();
    const Lines tail(lines.end() - 4, lines.end());
    EXPECT_EQ(tail.front(), "Scanning for 1 seconds...");
    EXPECT_EQ(countLines("Event processing thread started"), 1u);
    EXPECT_EQ(lines.back(), "Event processing thread exiting");
}

struct ScanFailureCase {
    int refusedOpcode;  // 0: none refused; -1: no HAL at all
    bool result;
    std::vector<Bytes> commands;
    Lines errors;
};

class ScanFailureTest : public ScanTest, public ::testing::WithParamInterface<ScanFailureCase> {};

TEST_P(ScanFailureTest, ReportsTheFailedStep) {
    initializeSession();
    if (GetParam().refusedOpcode > 0) hal->refuseOpcode(GetParam().refusedOpcode);
    if (GetParam().refusedOpcode < 0) bt::hci = nullptr;
    EXPECT_EQ(scan(1), GetParam().result);
    EXPECT_EQ(hal->commandBytes(), GetParam().commands);
    EXPECT_EQ(linesWithPriority(6), GetParam().errors);
    EXPECT_EQ(countLines("Event processing thread started"), GetParam().result ? 1u : 0u);
    EXPECT_FALSE(bt::globalState.scanning);
}

const char kRefused[] = "Failed to send HCI command";
const char kNoHal[] = "Bluetooth HCI service not available";

INSTANTIATE_TEST_SUITE_P(
    Steps, ScanFailureTest,
    ::testing::Values(ScanFailureCase{0x0401,
                                      true,
                                      {kInquiry, kScanParameters, kScanOn, scanDisable()},
                                      {kRefused, "Failed to start inquiry"}},
                      ScanFailureCase{0x200B,
                                      false,
                                      {kInquiry, kScanParameters},
                                      {kRefused, "Failed to set scan parameters"}},
                      ScanFailureCase{-1,
                                      false,
                                      {},
                                      {kNoHal, "Failed to start inquiry", kNoHal,
                                       "Failed to set scan parameters"}}));

TEST_F(ScanTest, RefusedScanEnableStartsNoThreadAndRefusedDisableStillJoins) {
    initializeSession();
    hal->refuseCommandNumber(3);
    EXPECT_FALSE(scan(1));
    EXPECT_EQ(linesWithPriority(6), (Lines{kRefused, "Failed to enable scanning"}));
    EXPECT_FALSE(bt::globalState.eventThread.joinable());

    testsupport::clearLog();
    hal->refuseCommandNumber(7);  // the disable at the end of the next scan
    EXPECT_TRUE(scan(1));
    EXPECT_EQ(linesWithPriority(6), (Lines{kRefused, "Failed to disable scanning"}));
    EXPECT_FALSE(bt::globalState.eventThread.joinable());
}

TEST_F(ScanTest, NotInitializedSendsNothing) {
    EXPECT_FALSE(scan(1));
    EXPECT_EQ(testsupport::toolLogTexts(), Lines{"Bluetooth not initialized"});
    EXPECT_TRUE(hal->commands().empty());
}

TEST_F(ScanTest, TimeoutIsCappedAndZeroWaitsNoSecond) {
    initializeSession();
    std::thread ender([] {
        if (waitForLines("Scanning for")) bt::globalState.scanning = false;
    });
    EXPECT_TRUE(scan(20));
    ender.join();
    EXPECT_EQ(countLines("Scanning for 15 seconds..."), 1u);
    EXPECT_TRUE(scan(0));
    EXPECT_EQ(countLines("Scanning for 0 seconds..."), 1u);
}

TEST_F(ScanTest, DestroyingAScannerSwitchesScanningOff) {
    initializeSession();
    { bt::BluetoothScanner idle(bt::hci, bt::globalState); }
    EXPECT_EQ(hal->commandBytes(), std::vector<Bytes>{scanDisable()});
    EXPECT_EQ(testsupport::toolLogTexts(), Lines{"Sending HCI command: 0c 20 02 00 00 "});
}

TEST_F(ScanTest, EventThreadWithScanningOffOnlyLogsStartAndEnd) {
    bt::globalState.eventData = {0x0E, 0x04, 0x01, 0x03, 0x0C, 0x00};
    scanner.processEvents(bt::ScanOptions());
    EXPECT_EQ(testsupport::toolLogTexts(),
              (Lines{"Event processing thread started", "Event processing thread exiting"}));
    EXPECT_EQ(bt::globalState.eventData.size(), 6u);
}

// No room for another thread's stack: the scan switches scanning off and still returns.
TEST_F(ScanTest, EventThreadThatCannotStartEndsTheScan) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    initializeSession();
    EXPECT_EXIT(std::_Exit(scanWithoutRoomForThreads() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A stop without notification is noticed by the next 100 ms slice of the wait.
TEST_F(ScanTest, EventThreadNoticesAStopWithoutNotification) {
    bt::globalState.scanning = true;
    std::thread events([this] { scanner.processEvents(bt::ScanOptions()); });
    ASSERT_TRUE(waitForLines("Event processing thread started"));
    std::this_thread::sleep_for(150ms);
    bt::globalState.scanning = false;
    EXPECT_TRUE(waitForLines("Event processing thread exiting", 1, 1s));
    events.join();
}

TEST_F(ScanTest, NameRequestOnlyForDevicesWithoutName) {
    initializeSession();
    const uint8_t address[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    scanner.requestDeviceName(address);
    EXPECT_EQ(hal->commandBytes(), (std::vector<Bytes>{{0x19, 0x04, 0x0A, 0x01, 0x02, 0x03, 0x04,
                                                        0x05, 0x06, 0x01, 0x00, 0x00, 0x00}}));
    // A connectable LE report that names the device.
    const Bytes report = {0x3E, 0x10, 0x02, 0x01, 0x00, 0x00, 0x01, 0x02, 0x03,
                          0x04, 0x05, 0x06, 0x04, 0x03, 0x09, 'A',  'B',  0xC8};
    scanner.parseHciEvent(report.data(), report.size());
    ASSERT_EQ(scanner.getDiscoveredDevices().size(), 1u);
    const size_t before = hal->commands().size();
    scanner.requestDeviceName(address);
    EXPECT_EQ(hal->commands().size(), before);
}

}  // namespace
}  // namespace unit
