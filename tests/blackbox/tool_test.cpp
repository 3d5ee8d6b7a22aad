// The built tool against the scripted controller. Sessions: every command byte for byte with
// its pause as a lower bound, the log lines, the results file and the exit status. Command
// lines that end before any HCI traffic, also with standard streams closed. Sessions run
// under either HAL the host can declare (BT_HCI_HAL), with the same outcome.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <regex>
#include <thread>
#include <tuple>

#include "h4_controller.h"
#include "session_script.h"
#include "tool_process.h"

namespace testsupport {
namespace {

struct Session {
    const char* label;
    Lines args;  // FILE: a results file in the test's directory, filled with junk before
    std::vector<std::pair<Bytes, std::vector<ScriptedEvent>>> script;  // after these commands
    std::vector<std::pair<Bytes, std::string>> names;  // name requests the controller answers
    Lines commands;                                    // everything sent, in order
    long scanMs;                                       // least time from scan enable to disable
    Lines lines;                                       // each logged exactly once, in this order
    std::string file;  // the results file, with T for the timestamp; empty: left alone
    int exitCode;
};

void PrintTo(const Session& s, std::ostream* os) {
    *os << s.label;
}

class SessionTest : public ::testing::TestWithParam<std::tuple<Session, std::string>> {};

TEST_P(SessionTest, SendsLogsAndWrites) {
    const Session& s = std::get<0>(GetParam());
    TempDir dir;
    H4Controller controller(dir.file("hci.sock"));
    ASSERT_TRUE(controller.ok());
    for (const auto& [command, events] : s.script) controller.onCommand(command, events);
    for (const auto& [address, name] : s.names) controller.answerNameRequest(address, name);
    const std::string path = dir.file("results.csv"), junk(4096, 'x');
    std::ofstream(path) << junk;
    Lines args;
    for (const std::string& arg : s.args) args.push_back(withPath(arg, path));

    ProcessResult result =
        runTool(args, controller.transport(), milliseconds(30000), std::get<1>(GetParam()));
    EXPECT_TRUE(result.exitedWith(s.exitCode)) << result.describe();
    EXPECT_EQ(result.out, "");
    const std::vector<ReceivedCommand> sent = controller.commands();
    Lines commands;
    for (const ReceivedCommand& command : sent) commands.push_back(hex(command.bytes));
    EXPECT_EQ(commands, s.commands);
    for (size_t i = 1; i < sent.size(); ++i) {
        EXPECT_GE(msBetween(sent[i - 1], sent[i]), leastGapAfter(sent[i - 1].bytes)) << i;
    }
    const int on = controller.waitForCommand(kScanOn, milliseconds(0));
    const int off = on < 0 ? -1 : controller.waitForCommand(kScanOff, milliseconds(0), on + 1);
    EXPECT_GE(off < 0 ? s.scanMs : msBetween(sent[on], sent[off]), s.scanMs);

    // The expected lines, each once and in this order, and no failure on the way to exit 0.
    Lines expected, seen;
    for (const std::string& line : s.lines) expected.push_back(withPath(line, path));
    for (const std::string& line : toolTexts(result.err)) {
        if (std::count(expected.begin(), expected.end(), line) != 0 ||
            (s.exitCode == 0 && line.find("Failed") != std::string::npos)) {
            seen.push_back(line);
        }
    }
    EXPECT_EQ(seen, expected) << result.err;
    // Seconds since the epoch have had ten digits since 2001.
    const std::regex stamp("(# Timestamp: )[0-9]{10}\n");
    EXPECT_EQ(std::regex_replace(readFile(path), stamp, "$1T\n"), s.file.empty() ? junk : s.file);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sessions, SessionTest, ::testing::Combine(::testing::Values(
    // Five devices: connectable and named by its name request; not connectable, random address;
    // classic and named by its name request; named in its advertisement; a scan response.
    // A word that is not an option is ignored.
    Session{"ReportAndResultsFile", {"scan", "-t", "2", "word", "-o", "FILE"},
        {{kScanOn, {{milliseconds(100), leAdvertisingReport(0x00, kA, {}, -80)},
                    {milliseconds(700), leAdvertisingReport(0x03, kB, {0x08, 0x08, 'B', 0x1b, '\n', 0x1f, ' ', 0x7f, 'a'}, -30, 0x01)},
                    {milliseconds(1000), inquiryResult(kC)},
                    {milliseconds(1500), leAdvertisingReport(0x00, kD, {0x06, 0x09, 'D', 0xc3, 0xa9, 's', 'k'}, -45)},
                    {milliseconds(1700), leAdvertisingReport(0x04, kE, {}, -60)}}}},
        {{kA, "a,b\"c"}, {kC, "Car"}}, scanOf({kA, kC}), 1900,
        {"Sending HCI command: 01 04 05 33 8b 9e 0a 00 ", "Scanning for 2 seconds...", "Discovered 5 devices:",
         "1. Address: C6:C5:C4:C3:C2:C1, Name: Car, Type: Classic, Connectable: Yes",
         "2. Address: D6:D5:D4:D3:D2:D1, Name: D\xc3\xa9sk, RSSI: -45 dBm, Type: LE, Addr Type: Public, Connectable: Yes",
         "3. Address: A6:A5:A4:A3:A2:A1, Name: a,b\"c, RSSI: -80 dBm, Type: LE, Addr Type: Public, Connectable: Yes",
         "4. Address: B6:B5:B4:B3:B2:B1, Name: B\\x1b\\x0a\\x1f \\x7fa, RSSI: -30 dBm, Type: LE, Addr Type: Random, Connectable: No",
         "5. Address: E6:E5:E4:E3:E2:E1, RSSI: -60 dBm, Type: LE, Addr Type: Public, Connectable: No",
         "Saved 5 devices to file: FILE"},
        "# Bluetooth Device Scan Results\n# Timestamp: T\n# Total devices: 5\n#\n# Address,Name,RSSI,Type,AddrType,Connectable\n"
        "A6:A5:A4:A3:A2:A1,\"a;b\"c\",-80,LE,Public,Yes\nB6:B5:B4:B3:B2:B1,\"B\x1b\n\x1f \x7f" "a\",-30,LE,Random,No\n"
        "C6:C5:C4:C3:C2:C1,\"Car\",0,Classic,Public,Yes\nD6:D5:D4:D3:D2:D1,\"D\xc3\xa9sk\",-45,LE,Public,Yes\n"
        "E6:E5:E4:E3:E2:E1,\"\",-60,LE,Public,No\n", 0},
    // The last timeout wins; an empty output path writes nothing.
    Session{"FirstConnectableOnly", {"scan", "-t", "5", "--timeout=3", "-f", "-c", "-o", ""},
        {{kScanOn, {{milliseconds(100), leAdvertisingReport(0x03, kB, {}, -50)},
                    {milliseconds(400), leAdvertisingReport(0x02, kD, {0x05, 0x09, 'D', 'e', 's', 'k'}, -61)}}}},
        {}, scanOf({}), 900,
        {"Scanning for 3 seconds...", "Found at least one connectable device, exiting scan",
         "Found at least one connectable device, stopping scan", "Discovered 1 devices:",
         "1. Address: D6:D5:D4:D3:D2:D1, Name: Desk, RSSI: -61 dBm, Type: LE, Addr Type: Public, Connectable: Yes"},
        "", 0},
    Session{"Enable", {"enable"}, {}, {}, hexAll(kBringUp), 0,
        {"Bluetooth enabled successfully", "Bluetooth advertising enabled successfully"}, "", 0},
    Session{"LinkLostInBringUp", {"scan"}, {{kReset, {{milliseconds(0), {}}}}}, {}, {hex(kReset)}, 0,
        {"Failed to set event mask"}, "", 1}), ::testing::ValuesIn(kHalKinds)),
    caseAndHal<Session>);

TEST(CommandLineTest, EndsWithoutHciTraffic) {
    TempDir dir;
    H4Controller controller(dir.file("hci.sock"));
    ASSERT_TRUE(controller.ok());
    // The words, the exit status, the error line and whether the usage text follows it.
    const std::tuple<Lines, int, Lines, bool> rows[] = {
        {{"help"}, 0, {}, true},  // first: its usage text is the one the others must show
        {{}, 1, {}, true}, {{"SCAN"}, 1, {"Unknown command: SCAN"}, true},
        {{"scans"}, 1, {"Unknown command: scans"}, true}, {{"enable2"}, 1, {"Unknown command: enable2"}, true},
        {{"scan", "-x"}, 1, {"Unknown option: ?"}, true}, {{"scan", "--bogus"}, 1, {"Unknown option: ?"}, true},
        {{"scan", "-f", "-t"}, 1, {"Unknown option: ?"}, true}, {{"disable"}, 1, {"Bluetooth not initialized"}, false}};
    Lines usage;
    for (auto [args, exitCode, expected, usageFollows] : rows) {
        SCOPED_TRACE(args.empty() ? "" : args.back());
        ProcessResult result = runTool(args, controller.transport());
        EXPECT_TRUE(result.exitedWith(exitCode)) << result.describe();
        EXPECT_EQ(result.out, "");
        const Lines log = toolTexts(result.err);
        if (usage.empty()) usage = log;
        if (usageFollows) expected.insert(expected.end(), usage.begin(), usage.end());
        EXPECT_EQ(log, expected);
    }
    ASSERT_EQ(usage.size(), 10u);
    EXPECT_EQ(usage.front(), "Usage: orvalinquist <command> [options]");
    EXPECT_EQ(usage.back(), "  help                Show this help message");
    // No service: the tool's one line under either HAL, without an endless wait for it. A kind
    // that is none declares nothing, after one host line naming it, and opens no transport.
    const std::tuple<const char*, std::string, const char*> noService[] = {
        {"hidl", "unix:" + dir.file("nothing"), "connect failed"},
        {"aidl", "unix:" + dir.file("nothing"), "connect failed"},
        {"hidl2", controller.transport(), "BT_HCI_HAL=\"hidl2\" names no"}};
    for (const auto& [hal, transport, hostText] : noService) {
        ProcessResult result = runTool({"scan"}, transport, milliseconds(10000), hal);
        EXPECT_TRUE(result.exitedWith(1)) << result.describe();
        EXPECT_EQ(toolTexts(result.err), Lines{"Failed to get Bluetooth HCI service"});
        const size_t at = result.err.find(hostText);
        EXPECT_LT(at, result.err.find("Failed to get")) << result.err;
        EXPECT_EQ(result.err.find(hostText, at + 1), std::string::npos) << result.err;
    }
    EXPECT_EQ(controller.connections(), 0);
}
// clang-format on

// cron, a daemon or `2>&-` start the tool with standard streams closed: its controller link
// must not take their numbers, as liblog writes to descriptor 2 whatever it is. And in
// `orvalinquist ... 2>&1 | head -1` a log reader that left must not end the tool: here its
// stderr is a pipe without a reader from the start, so the first log line meets it.
TEST(CommandLineTest, ClosedStandardStreamsOrAGoneLogReaderLeaveTheScanAlone) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);  // inherited: the shell makes the write end the tool's stderr
    ::close(ends[0]);
    orvalinquist::host::UniqueFd writeEnd(ends[1]);
    const Bytes desk = leAdvertisingReport(0x00, kD, {0x05, 0x09, 'D', 'e', 's', 'k'}, -45);
    auto scanWith = [&](const std::string& redirections) {
        SCOPED_TRACE(redirections);
        TempDir dir;
        H4Controller controller(dir.file("hci.sock"));
        ASSERT_TRUE(controller.ok());
        controller.onCommand(kScanOn, {{milliseconds(100), desk}});
        const std::string results = dir.file("results.csv");
        const std::string script = "exec \"$0\" scan -t 1 -o \"$1\" " + redirections;
        ProcessResult result = ChildProcess({"/bin/sh", "-c", script, toolBinary(), results},
                                            {"BT_HCI_TRANSPORT=" + controller.transport()})
                                   .wait(milliseconds(20000));
        EXPECT_TRUE(result.exitedWith(0)) << result.describe();
        Lines commands;
        for (const ReceivedCommand& command : controller.commands())
            commands.push_back(hex(command.bytes));
        EXPECT_EQ(commands, scanOf({}));
        EXPECT_NE(readFile(results).find("# Total devices: 1\n"), std::string::npos);
    };
    std::vector<std::thread> runs;
    for (const std::string& redirections :
         Lines{"2>&-", ">&- 2>&-", "<&- >&- 2>&-", "2>&" + std::to_string(ends[1])})
        runs.emplace_back(scanWith, redirections);
    for (std::thread& run : runs) run.join();
}

}  // namespace
}  // namespace testsupport
