// The built tool against the scripted controller. Sessions: every command byte for byte with
// its pause as a lower bound, the log lines, the results file and the exit status. Command
// lines that end before any HCI traffic. SIGINT and SIGTERM at each moment of a scan. Sessions
// and signals run under either HAL the host can declare (BT_HCI_HAL), with the same outcome.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <regex>
#include <thread>
#include <tuple>

#include "h4_controller.h"
#include "tool_process.h"

namespace testsupport {
namespace {

using Lines = std::vector<std::string>;

Bytes padded(Bytes head, const std::string& text, size_t size) {
    head.insert(head.end(), text.begin(), text.end());
    head.resize(size, 0x00);
    return head;
}

// F1 F2 .. F6, least significant first: F6:F5:F4:F3:F2:F1.
Bytes address(uint8_t high) {
    return {uint8_t(high + 1), uint8_t(high + 2), uint8_t(high + 3),
            uint8_t(high + 4), uint8_t(high + 5), uint8_t(high + 6)};
}

// clang-format off
const Bytes kReset = {0x03, 0x0C, 0x00}, kClassOfDevice = {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C};
const Bytes kAdvParameters = {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x07, 0x00};
const Bytes kAdvData = padded({0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09}, "Orvalinquist", 35);
const Bytes kScanResponse = padded({0x09, 0x20, 0x20, 0x00}, "", 35);
const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00};
const Bytes kScanParameters = {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00};
const Bytes kScanOn = {0x0C, 0x20, 0x02, 0x01, 0x00}, kScanOff = {0x0C, 0x20, 0x02, 0x00, 0x00};
const Bytes kNameRequest = {0x19, 0x04, 0x0A};  // then the address, 01 00 00 00
// Everything `enable` sends, ending with the command sender's scan disable.
const std::vector<Bytes> kBringUp = {
    kReset, {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D}, kClassOfDevice,
    padded({0x13, 0x0C, 0xF8}, "Orvalinquist", 251), kAdvParameters, kAdvData, kScanResponse,
    {0x0A, 0x20, 0x01, 0x01}, {0x1A, 0x0C, 0x01, 0x03}, kScanOff};
const Bytes kA = address(0xA0), kB = address(0xB0), kC = address(0xC0), kD = address(0xD0), kE = address(0xE0);
// clang-format on

// The sender's 200 ms after every command; 300 ms more after the reset, the first three
// advertising commands and the scan parameters. After the scan enable or a name request the
// next command waits for the scan's events or its end instead.
long leastGapAfter(const Bytes& c) {
    if (c == kScanOn || c[0] == kNameRequest[0]) return 0;
    for (const Bytes& longer : {kReset, kAdvParameters, kAdvData, kScanResponse, kScanParameters}) {
        if (c == longer) return 480;
    }
    return 180;
}

long msBetween(const ReceivedCommand& a, const ReceivedCommand& b) {
    return std::chrono::duration_cast<milliseconds>(b.time - a.time).count();
}

std::string hex(const Bytes& packet) {
    std::string text;
    char byte[4];
    for (uint8_t b : packet) text += (std::snprintf(byte, 4, "%02x ", b), byte);
    return text;
}

Bytes inquiryResult(const Bytes& address) {
    Bytes event = address;
    event.insert(event.begin(), {0x02, 0x0F, 0x01});
    event.insert(event.end(), {0x01, 0x00, 0x00, 0x20, 0x04, 0x2C, 0x00, 0x00});
    return event;
}

Lines hexAll(const std::vector<Bytes>& packets) {
    Lines texts;
    for (const Bytes& packet : packets) texts.push_back(hex(packet));
    return texts;
}

// The commands of a scan that asks for the names of `unnamed`.
Lines scanOf(const std::vector<Bytes>& unnamed) {
    Lines all = hexAll(kBringUp);
    for (const Bytes& command : {kInquiry, kScanParameters, kScanOn}) all.push_back(hex(command));
    for (const Bytes& address : unnamed)
        all.push_back(hex(kNameRequest) + hex(address) + "01 00 00 00 ");
    all.insert(all.end(), 2, hex(kScanOff));  // the scan's end, the scanner's destruction
    return all;
}

std::string withPath(std::string text, const std::string& path) {
    size_t at = text.find("FILE");
    return at == std::string::npos ? text : text.replace(at, 4, path);
}

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

// Each case under the HIDL HAL and under the AIDL one.
const std::string kHalKinds[] = {"hidl", "aidl"};

template <typename Case>
std::string caseAndHal(const ::testing::TestParamInfo<std::tuple<Case, std::string>>& info) {
    return std::string(std::get<0>(info.param).label) + "_" + std::get<1>(info.param);
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

// `orvalinquist ... 2>&1 | head -1`: a log reader that left must not end the tool. Its stderr
// is a pipe without a reader from the start, so the first log line meets it.
TEST(CommandLineTest, ALogReaderThatLeftDoesNotEndTheTool) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);  // inherited: the shell makes the write end the tool's stderr
    ::close(ends[0]);
    orvalinquist::host::UniqueFd writeEnd(ends[1]);
    const std::string toStderr = "exec \"$0\" help 2>&" + std::to_string(ends[1]);
    ProcessResult result =
        ChildProcess({"/bin/sh", "-c", toStderr, ORVALINQUIST_BINARY}).wait(milliseconds(5000));
    EXPECT_TRUE(result.exitedWith(0)) << result.describe();
}

// cron, a daemon or `2>&-` start the tool with standard streams closed. Its controller link
// must not take their numbers: liblog writes to descriptor 2 whatever it is.
TEST(CommandLineTest, ClosedStandardStreamsLeaveTheLinkAlone) {
    const Bytes desk = leAdvertisingReport(0x00, kD, {0x05, 0x09, 'D', 'e', 's', 'k'}, -45);
    auto scanWith = [&](const std::string& closing) {
        SCOPED_TRACE(closing);
        TempDir dir;
        H4Controller controller(dir.file("hci.sock"));
        ASSERT_TRUE(controller.ok());
        controller.onCommand(kScanOn, {{milliseconds(100), desk}});
        const std::string results = dir.file("results.csv");
        const std::string script = "exec \"$0\" scan -t 1 -o \"$1\" " + closing;
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
    for (const char* closing : {"2>&-", ">&- 2>&-", "<&- >&- 2>&-"})
        runs.emplace_back(scanWith, closing);
    for (std::thread& run : runs) run.join();
}

// A listening socket whose accept queue is full and never served: the tool's connect to it
// blocks (up to its 5 s bound), so the signal comes before the tool has a controller link.
struct StalledListener {
    explicit StalledListener(const std::string& path) {
        sockaddr_un address{AF_UNIX, {}};
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (::bind(listener.get(), raw, sizeof(address)) != 0 || ::listen(listener.get(), 0) != 0)
            return;
        while (!full && fillers.size() < 8) {
            fillers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            full = ::connect(fillers.back().get(), raw, sizeof(address)) != 0 && errno == EAGAIN;
        }
    }
    orvalinquist::host::UniqueFd listener{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    std::vector<orvalinquist::host::UniqueFd> fillers;
    bool full = false;
};

// limits_preload.c with `limit` (NAME=VALUE); ASan must not refuse it for coming first.
Lines limitedEnv(const std::string& limit, const std::string& transport) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"BT_HCI_TRANSPORT=" + transport, "LD_PRELOAD=" LIMITS_PRELOAD, limit,
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

enum class Link { kStalled, kLive, kBroken };  // kBroken: hung up 300 ms into the scan

struct SignalCase {
    const char* label;
    int signal;
    Link link;
    Bytes after;  // the signal follows this command, or the link-up when empty
    int delayMs;  // and this long after it
    Lines options;
    const char* scanning;  // the scan's "Scanning for N seconds..." line, when it gets there
    const char* sigset = "LIMIT_SIGADDSET_MAX=64";  // =32: signals above 32 refused, 32-bit bionic
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.label;
}

void runSignalTrial(const SignalCase& c, const std::string& hal, int trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    TempDir dir;
    const std::string socket = dir.file("hci.sock");
    std::unique_ptr<StalledListener> stalled;
    std::unique_ptr<H4Controller> controller;
    if (c.link == Link::kStalled) {
        stalled = std::make_unique<StalledListener>(socket);
        ASSERT_TRUE(stalled->full) << "could not fill the accept queue";
    } else {
        // A connectable device without a name keeps the event thread busy with its request.
        controller = std::make_unique<H4Controller>(socket);
        controller->onCommand(kScanOn, {{milliseconds(100), leAdvertisingReport(0, kA, {}, -50)}});
        controller->answerNameRequest(kA, "Peer");
        if (c.link == Link::kBroken) controller->onCommand(kScanOn, {{milliseconds(300), {}}});
    }
    Lines argv = {toolBinary(), "scan"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    Lines env = limitedEnv(c.sigset, "unix:" + socket);
    env.push_back("BT_HCI_HAL=" + hal);
    ChildProcess tool(argv, env);
    const milliseconds limit(15000);
    EXPECT_TRUE(!controller ? waitUntil([&] { return tool.hasThread("signal watcher"); }, limit)
                : c.after.empty() ? waitUntil([&] { return controller->connections() > 0; }, limit)
                                  : controller->waitForCommand(c.after, limit) >= 0)
        << "moment not reached";
    EXPECT_TRUE(waitUntil([&] { return tool.hasThread("signal watcher"); }, limit));
    std::this_thread::sleep_for(milliseconds(c.delayMs + 100 * trial));
    const size_t sentBefore = controller ? controller->commands().size() : 0;
    tool.signal(c.signal);
    ProcessResult result = tool.wait(milliseconds(10000));

    const Lines log = toolTexts(result.err);
    EXPECT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_EQ(result.out, "");
    const std::string received = "Received signal " + std::to_string(c.signal) + ", cleaning up...";
    EXPECT_EQ(countContaining(log, received), 1u);
    EXPECT_EQ(countContaining(log, c.scanning ? c.scanning : received), 1u);
    // The premises: the link was never up, or it broke before the signal.
    EXPECT_TRUE(c.link != Link::kStalled || countContaining(log, "Bluetooth initialized") == 0);
    EXPECT_EQ(result.err.find("hung up") != std::string::npos, c.link == Link::kBroken);
    // With the link up, the handler switches scanning off itself.
    EXPECT_TRUE(c.link != Link::kLive || c.after.empty() ||
                controller->waitForCommand(kScanOff, milliseconds(2000), sentBefore) >= 0);
}

class SignalTest : public ::testing::TestWithParam<std::tuple<SignalCase, std::string>> {};

// Two runs side by side, the second a little later in the same phase.
TEST_P(SignalTest, EndsWithStatusOne) {
    const auto& [c, hal] = GetParam();
    std::thread later(runSignalTrial, c, hal, 1);
    runSignalTrial(c, hal, 0);
    later.join();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Moments, SignalTest, ::testing::Combine(::testing::Values(
    SignalCase{"IntBeforeLink", SIGINT, Link::kStalled, {}, 0, {}, nullptr},
    SignalCase{"TermAtLinkUp", SIGTERM, Link::kLive, {}, 0, {}, nullptr},
    SignalCase{"IntInBringUp", SIGINT, Link::kLive, kClassOfDevice, 0, {}, nullptr},
    SignalCase{"TermInScanWait", SIGTERM, Link::kLive, kScanOn, 450, {"-t", "4294967297"}, "Scanning for 15 seconds..."},
    SignalCase{"IntInNameRequestSigset32", SIGINT, Link::kLive, kNameRequest, 0, {"--timeout", "abc"}, "Scanning for 10 seconds...", "LIMIT_SIGADDSET_MAX=32"},
    SignalCase{"IntAfterLinkBroke", SIGINT, Link::kBroken, kScanOn, 700, {"-t", "14"}, "Scanning for 14 seconds..."},
    SignalCase{"TermAfterLinkBroke", SIGTERM, Link::kBroken, kScanOn, 700, {"-t", "-4294967295"}, "Scanning for 10 seconds..."}),
    ::testing::ValuesIn(kHalKinds)), caseAndHal<SignalCase>);
// clang-format on

// A starved process: the Nth thread cannot start (1 the signal watcher, 2 the replay, 3 the
// HAL's reader, 4 the scan's event thread): one ERROR line, and only a HAL or a scan without its
// threads fails the run.
TEST(StarvedProcessTest, AThreadThatCannotStartIsOneErrorLine) {
    TempDir dir;
    const std::string capture = dir.file("empty.btsnoop"), transport = "replay:" + capture;
    std::ofstream(capture, std::ios::binary).write("btsnoop\0\0\0\0\1\0\0\x03\xea", 16);
    const std::tuple<int, int, std::string, std::string> rows[] = {
        {1, 0, "Signal watcher not started (pthread_create: Resource temporarily unavailable)", ""},
        {2, 1, "Failed to get Bluetooth HCI service", "\": cannot start the replay thread: "},
        {3, 1, "Failed to initialize Bluetooth HCI", "\": cannot start the reader thread: "},
        {4, 1, "Failed to start event thread", " open"}};
    for (const auto& [thread, exitCode, toolLine, hostLine] : rows) {
        const ProcessResult result =
            ChildProcess({ORVALINQUIST_BINARY, "scan", "-t", "1"},
                         limitedEnv("LIMIT_FAIL_THREAD=" + std::to_string(thread), transport))
                .wait(milliseconds(10000));
        EXPECT_TRUE(result.exitedWith(exitCode)) << result.describe();
        EXPECT_EQ(countContaining(toolTexts(result.err), toolLine), 1u) << result.err;
        EXPECT_EQ(countContaining({result.err}, transport + hostLine), 1u) << result.err;
    }
}

}  // namespace
}  // namespace testsupport
