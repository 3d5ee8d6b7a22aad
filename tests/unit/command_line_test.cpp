// Command words, options and their effect on the session, through the renamed entry.
#include <fstream>

#include "unit_support.h"

namespace unit {
namespace {

struct UsageCase {
    std::vector<std::string> words;
    int status;
    Lines errors;  // ERROR lines before the usage text
};

class UsageTest : public SessionTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, LogsErrorThenUsageAndNeverTouchesTheHal) {
    const UsageCase& c = GetParam();
    EXPECT_EQ(runTool(c.words), c.status);
    EXPECT_EQ(testsupport::toolLogTexts(), concat(c.errors, usage()));
    EXPECT_EQ(linesWithPriority(6), c.errors);
    EXPECT_EQ(hal->initializeCount(), 0u);
    EXPECT_TRUE(hal->commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Words, UsageTest,
                         ::testing::Values(UsageCase{{}, 1, {}}, UsageCase{{"help"}, 0, {}},
                                           UsageCase{{"SCAN"}, 1, {"Unknown command: SCAN"}},
                                           UsageCase{{"scans"}, 1, {"Unknown command: scans"}},
                                           UsageCase{{"enable2"}, 1, {"Unknown command: enable2"}},
                                           UsageCase{{"scan", "-x"}, 1, {"Unknown option: ?"}},
                                           UsageCase{{"scan", "-f", "-t"}, 1, {"Unknown option: ?"}},
                                           UsageCase{{"scan", "--bogus"}, 1, {"Unknown option: ?"}}));

TEST_F(SessionTest, DisableInAFreshSessionFailsWithoutHalCalls) {
    EXPECT_EQ(runTool({"disable"}), 1);
    EXPECT_EQ(testsupport::toolLogTexts(), Lines{"Bluetooth not initialized"});
    EXPECT_EQ(hal->initializeCount() + hal->closeCount() + hal->commands().size(), 0u);
}

struct TimeoutCase {
    std::vector<std::string> options;
    int seconds;
};

class TimeoutTest : public SessionTest, public ::testing::WithParamInterface<TimeoutCase> {};

// The scan is cut short after its first second; only the announced length matters here.
TEST_P(TimeoutTest, ClampsTheScanLength) {
    initializeSession();
    std::thread ender([] {
        if (waitForLines("Scanning for")) bt::globalState.scanning = false;
    });
    EXPECT_EQ(runTool(concat({"scan"}, GetParam().options)), 0);
    ender.join();
    const std::string expected =
        "Scanning for " + std::to_string(GetParam().seconds) + " seconds...";
    EXPECT_EQ(countLines(expected), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Options, TimeoutTest,
    ::testing::Values(TimeoutCase{{}, 10}, TimeoutCase{{"-t", "0"}, 10},
                      TimeoutCase{{"-t", "-3"}, 10}, TimeoutCase{{"-t", "abc"}, 10},
                      TimeoutCase{{"-t", "14"}, 14}, TimeoutCase{{"-t", "15"}, 15},
                      TimeoutCase{{"-t", "99"}, 15}, TimeoutCase{{"--timeout=3"}, 3},
                      TimeoutCase{{"-t", "3", "word", "--timeout", "7"}, 7}));

Bytes inquiryResult(uint8_t last) {
    return {0x02, 0x0F, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05, last,
            0x01, 0x00, 0x00, 0x20, 0x04, 0x2C, 0x00, 0x00};
}

Bytes nonConnectableLeReport(uint8_t last) {
    return {0x3E, 0x0C, 0x02, 0x01, 0x03, 0x00, 0x11, 0x12, 0x13, 0x14, 0x15, last, 0x00, 0xC8};
}

// Hands one event to the scan and waits until the event thread has taken it.
void deliverParsed(testsupport::FakeHal& hal, Bytes event) {
    const size_t before = countLines("Processing event data");
    hal.deliverEvent(std::move(event));
    ASSERT_TRUE(waitForLines("Processing event data", before + 1));
}

// The scanner's destruction after the report switches scanning off once more.
const char kLastCommand[] = "Sending HCI command: 0c 20 02 00 00 ";

struct FilterCase {
    std::vector<std::string> options;
    Lines reportHeads;  // report lines up to the first comma
};

class FilterTest : public SessionTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(FilterTest, ReportsTheScannedDevices) {
    initializeSession();
    std::thread feeder([this] {
        ASSERT_TRUE(waitForLines("Scanning for"));
        deliverParsed(*hal, nonConnectableLeReport(0xA1));
        deliverParsed(*hal, inquiryResult(0xB1));
    });
    EXPECT_EQ(runTool(concat({"scan", "-t", "2"}, GetParam().options)), 0);
    feeder.join();
    Lines heads;
    bool inReport = false;
    for (const std::string& text : testsupport::toolLogTexts()) {
        if (text.rfind("Discovered ", 0) == 0) inReport = true;
        if (inReport) heads.push_back(text.substr(0, text.find(',')));
    }
    EXPECT_EQ(heads, GetParam().reportHeads);
    EXPECT_EQ(countLines("Saved "), 0u);
    EXPECT_EQ(hal->commandBytes().back(), scanDisable());
}

INSTANTIATE_TEST_SUITE_P(
    Options, FilterTest,
    ::testing::Values(FilterCase{{},
                                 {"Discovered 2 devices:", "1. Address: B1:05:04:03:02:01",
                                  "2. Address: A1:15:14:13:12:11", kLastCommand}},
                      FilterCase{{"-c", "-o", ""},
                                 {"Discovered 1 devices:", "1. Address: B1:05:04:03:02:01",
                                  kLastCommand}}));

TEST_F(SessionTest, FirstStopsAtTheFirstConnectableDevice) {
    initializeSession();
    std::thread feeder([this] {
        ASSERT_TRUE(waitForLines("Scanning for"));
        deliverParsed(*hal, nonConnectableLeReport(0xA1));
        deliverParsed(*hal, inquiryResult(0xB1));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runTool({"scan", "--first", "-t", "10"}), 0);
    feeder.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);  // far less than the 10 s asked
    EXPECT_EQ(countLines("Found at least one connectable device, exiting scan"), 1u);
    EXPECT_EQ(countLines("Found at least one connectable device, stopping scan"), 1u);
    EXPECT_EQ(countLines("Discovered 2 devices:"), 1u);
}

}  // namespace
}  // namespace unit
