// SIGINT and SIGTERM at different moments of a scan: the tool always ends with status 1,
// promptly, and with a controller link turns LE scanning off and lets go of the link.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "h4_controller.h"
#include "tool_process.h"

namespace testsupport {
namespace {

using orvalinquist::host::UniqueFd;

const Bytes kScanEnableOn = {0x0C, 0x20, 0x02, 0x01, 0x00};
const Bytes kScanEnableOff = {0x0C, 0x20, 0x02, 0x00, 0x00};
constexpr int kTrialsPerCase = 4;  // run side by side, each shifted a little later
constexpr milliseconds kStepTimeout(15000);

// A moment of the run: after the commands beginning with `after` (each found after the one
// before it), plus a delay that grows with the trial so that the trials land at different
// points of the same phase. No commands: before the tool has a link, once it handles signals.
struct Moment {
    std::vector<Bytes> after;
    int delayMs;
    int stepMs;
};

const Moment kBeforeConnect{{}, 0, 30};            // blocked in connect, or on its way there
const Moment kBringUp{{{0x24, 0x0C}}, 0, 60};      // between class of device and advertising
const Moment kNameRequest{{{0x19, 0x04}}, 0, 40};  // the event thread sleeps, mutex held
const Moment kScan{{kScanEnableOn}, 450, 200};
const Moment kReport{{kScanEnableOn, kScanEnableOff}, 0, 50};  // after the scan's own disable

struct SignalCase {
    const char* name;
    int signal;
    const Moment* moment;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

// A listening socket whose accept queue is full and never served: the tool's connect to it
// blocks, so the signal is sure to come before the tool has a controller link.
struct StalledListener {
    explicit StalledListener(const std::string& path) {
        sockaddr_un address{AF_UNIX, {}};
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        if (!listener.valid() || ::bind(listener.get(), raw, sizeof(address)) != 0 ||
            ::listen(listener.get(), 0) != 0) {
            return;
        }
        while (!full && fillers.size() < 8) {
            fillers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            full = ::connect(fillers.back().get(), raw, sizeof(address)) != 0 && errno == EAGAIN;
        }
    }
    UniqueFd listener{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    std::vector<UniqueFd> fillers;
    bool full = false;
};

// False when the moment never came.
bool reachMoment(const Moment& moment, int trial, ChildProcess& tool,
                 const H4Controller* controller) {
    int index = -1;
    for (const Bytes& prefix : moment.after) {
        index = controller->waitForCommand(prefix, kStepTimeout, index + 1);
        if (index < 0) return false;
    }
    auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
    while (!controller && !tool.signalHandlingArmed()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    std::this_thread::sleep_for(milliseconds(moment.delayMs + moment.stepMs * trial));
    return true;
}

// One run of the tool against a controller scripted to find a device that needs a name, or
// against a stalled listener.
void runTrial(const SignalCase& c, int trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    TempDir dir;
    std::string socket = dir.file("hci.sock");
    std::unique_ptr<StalledListener> stalled;
    std::unique_ptr<H4Controller> controller;
    if (c.moment == &kBeforeConnect) {
        stalled = std::make_unique<StalledListener>(socket);
        ASSERT_TRUE(stalled->full) << "could not fill the accept queue";
    } else {
        controller = std::make_unique<H4Controller>(socket);
        const Bytes address = {0x10, 0x20, 0x30, 0x40, 0x50, static_cast<uint8_t>(0xC0 + trial)};
        controller->onCommand(kScanEnableOn,
                              {{milliseconds(100), leAdvertisingReport(0x00, address, {}, -50)}});
        controller->answerNameRequest(address, "Peer");
    }
    ChildProcess tool({ORVALINQUIST_BINARY, "scan", "-t", c.moment == &kReport ? "1" : "3"},
                      {"BT_HCI_TRANSPORT=unix:" + socket});
    ASSERT_TRUE(tool.started());
    EXPECT_TRUE(reachMoment(*c.moment, trial, tool, controller.get())) << "moment not reached";
    size_t sentBefore = controller ? controller->commands().size() : 0;
    tool.signal(c.signal);
    ProcessResult result = tool.wait(milliseconds(10000));

    std::vector<std::string> log = toolTexts(result.err);
    EXPECT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(result.sanitizerReport()) << result.err;
    EXPECT_TRUE(contains(log, "Received signal " + std::to_string(c.signal) + ", cleaning up..."))
        << result.err;
    if (!controller) {
        EXPECT_FALSE(contains(log, "Bluetooth initialized successfully")) << "had a link";
        return;
    }
    EXPECT_GE(controller->waitForCommand(kScanEnableOff, milliseconds(2000), sentBefore), 0)
        << "no scan disable after the signal";
    EXPECT_TRUE(controller->waitForClosed(1, milliseconds(2000))) << "link not closed";
}

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalTest, EndsWithStatusOneAndStopsScanning) {
    std::vector<std::thread> trials;
    for (int i = 0; i < kTrialsPerCase; ++i) trials.emplace_back(runTrial, GetParam(), i);
    for (auto& trial : trials) trial.join();
}

INSTANTIATE_TEST_SUITE_P(
    Moments, SignalTest,
    ::testing::Values(SignalCase{"IntBeforeConnect", SIGINT, &kBeforeConnect},
                      SignalCase{"TermBeforeConnect", SIGTERM, &kBeforeConnect},
                      SignalCase{"IntDuringBringUp", SIGINT, &kBringUp},
                      SignalCase{"TermDuringBringUp", SIGTERM, &kBringUp},
                      SignalCase{"IntDuringNameRequest", SIGINT, &kNameRequest},
                      SignalCase{"TermDuringNameRequest", SIGTERM, &kNameRequest},
                      SignalCase{"IntDuringScan", SIGINT, &kScan},
                      SignalCase{"TermDuringScan", SIGTERM, &kScan},
                      SignalCase{"IntDuringReport", SIGINT, &kReport},
                      SignalCase{"TermDuringReport", SIGTERM, &kReport}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

}  // namespace
}  // namespace testsupport
