// Command words and options, through the renamed entry.
#include "unit_support.h"

namespace unit {
namespace {

const Lines kUsage = {"Usage: orvalinquist <command> [options]",
                      "Commands:",
                      "  enable              Enable Bluetooth",
                      "  scan [options]      Scan for Bluetooth devices",
                      "    -t, --timeout N   Scan duration in seconds (default 10, max 15)",
                      "    -o, --output FILE Save scan results to file",
                      "    -f, --first       Exit when first connectable device is found",
                      "    -c, --connectable Only show connectable devices",
                      "  disable             Disable Bluetooth",
                      "  help                Show this help message"};

struct WordsCase {
    const char* label;
    std::vector<std::string> words;
    int status;
    Lines lines;  // the ERROR line, if any, then the usage text, if any
};

class WordsTest : public SessionTest, public ::testing::WithParamInterface<WordsCase> {};

TEST_P(WordsTest, LogsErrorAndUsageWithoutTouchingTheHal) {
    EXPECT_EQ(runTool(GetParam().words), GetParam().status);
    EXPECT_EQ(toolLogTexts(), GetParam().lines);
    EXPECT_EQ(errorLines(), GetParam().lines[0] == kUsage[0] ? Lines{} : Lines{GetParam().lines[0]});
    EXPECT_EQ(hal->initializeCount() + hal->closeCount() + hal->commands().size(), 0u);
}

const Lines kOption = concat({"Unknown option: ?"}, kUsage);
// clang-format off
INSTANTIATE_TEST_SUITE_P(Words, WordsTest, ::testing::Values(
    WordsCase{"None", {}, 1, kUsage}, WordsCase{"Help", {"help"}, 0, kUsage},
    WordsCase{"Case", {"SCAN"}, 1, concat({"Unknown command: SCAN"}, kUsage)},
    WordsCase{"Prefix", {"scans"}, 1, concat({"Unknown command: scans"}, kUsage)},
    WordsCase{"Short", {"scan", "-x"}, 1, kOption}, WordsCase{"Long", {"scan", "--bogus"}, 1, kOption},
    WordsCase{"NoArgument", {"scan", "-f", "-t"}, 1, kOption},
    WordsCase{"FreshDisable", {"disable"}, 1, {"Bluetooth not initialized"}}), kByLabel);
// clang-format on

struct ScanCase {
    const char* label;
    std::vector<std::string> options;
    Lines reportHeads;  // "Scanning ..." and the report lines up to the first comma
};

class ScanWordsTest : public SessionTest, public ::testing::WithParamInterface<ScanCase> {};

// A non-connectable LE device, then a connectable classic one; a report of "-" cuts the
// scan short once announced.
TEST_P(ScanWordsTest, ClampsTheLengthAndReportsTheScannedDevices) {
    initializeSession();
    const bool cut = GetParam().reportHeads.back() == "-";
    std::thread feeder([this, cut] {
        ASSERT_TRUE(waitForLines("Scanning for"));
        if (cut) return void(bt::globalState.scanning = false);
        for (Bytes event :
             {Bytes{0x3E, 0x0C, 2, 1, 3, 0, 0x11, 0x12, 0x13, 0x14, 0x15, 0xA1, 0, 0xC8},
              Bytes{2, 0x0F, 1, 1, 2, 3, 4, 5, 0xB1, 1, 0, 0, 0x20, 0x04, 0x2C, 0, 0}}) {
            const size_t before = countLines("Processing event data");
            hal->deliverEvent(event);  // taken by the event thread before the next one
            ASSERT_TRUE(waitForLines("Processing event data", before + 1));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runTool(concat({"scan"}, GetParam().options)), 0);
    feeder.join();
    Lines heads;
    for (const std::string& text : toolLogTexts()) {
        if (text.rfind("Scanning for", 0) == 0 || text.rfind("Discovered ", 0) == 0 ||
            heads.size() > 1) {
            heads.push_back(text.substr(0, text.find(',')));
        }
    }
    if (cut) heads.resize(1);
    EXPECT_EQ(concat(heads, cut ? Lines{"-"} : Lines{}), GetParam().reportHeads);
    EXPECT_EQ(countLines("Saved "), 0u);
    EXPECT_EQ(hal->commandBytes().back(), kScanOff);
    const bool first = !GetParam().options.empty() && GetParam().options.back() == "-f";
    // "..., stopping scan" from the event thread and "..., exiting scan" from the wait.
    EXPECT_EQ(countLines("Found at least one connectable device, "), first ? 2u : 0u);
    EXPECT_TRUE(!first || std::chrono::steady_clock::now() - start < 6s);  // not the 10 s asked
}

// The scanner's destruction after the report switches scanning off once more.
const Lines kAll = {"Scanning for 2 seconds...",
                    "Discovered 2 devices:", "1. Address: B1:05:04:03:02:01",
                    "2. Address: A1:15:14:13:12:11", kOff};
// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, ScanWordsTest, ::testing::Values(
    ScanCase{"Default", {}, {"Scanning for 10 seconds...", "-"}},
    ScanCase{"Zero", {"-t", "0"}, {"Scanning for 10 seconds...", "-"}},
    ScanCase{"Fourteen", {"-t", "14"}, {"Scanning for 14 seconds...", "-"}},
    ScanCase{"Big", {"-t", "99"}, {"Scanning for 15 seconds...", "-"}},
    ScanCase{"LastWins", {"-t", "3", "word", "--timeout=2"}, kAll},
    ScanCase{"Connectable", {"-t", "2", "-c", "-o", ""}, {"Scanning for 2 seconds...",
             "Discovered 1 devices:", "1. Address: B1:05:04:03:02:01", kOff}},
    ScanCase{"First", {"--timeout", "10", "-f"}, concat({"Scanning for 10 seconds..."},
             Lines(kAll.begin() + 1, kAll.end()))}), kByLabel);
// clang-format on

}  // namespace
}  // namespace unit
