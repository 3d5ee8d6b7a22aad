// SIGINT and SIGTERM at each moment of a scan, under either HAL kind, also after the controller
// hung up and with a 32-bit sigset_t; and a process whose threads cannot all start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <thread>
#include <tuple>

#include "h4_controller.h"
#include "session_script.h"
#include "stalled_listener.h"
#include "tool_process.h"

namespace testsupport {
namespace {

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
        // The tool's connect blocks (up to its 5 s bound): the signal comes before it has a
        // controller link.
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
