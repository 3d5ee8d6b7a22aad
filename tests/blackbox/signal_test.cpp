// SIGINT and SIGTERM at different moments of a scan: the tool always ends with status 1,
// promptly, and with a controller session turns LE scanning off and lets go of the link.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox_support.h"
#include "h4_controller.h"
#include "tool_process.h"

namespace blackbox {
namespace {

using std::chrono::milliseconds;

enum class Moment { kBeforeConnect, kBringUp, kNameRequest, kScan, kReport };

struct SignalCase {
    const char* name;
    int signal;
    Moment moment;
};

constexpr int kTrialsPerCase = 4;  // run side by side; each case is one ctest
constexpr milliseconds kStepTimeout(15000);

// A listening socket whose accept queue is full and never served: the tool's connect to it
// blocks, so a signal is sure to arrive before the tool has a controller link.
class StalledListener {
  public:
    explicit StalledListener(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!listener_.valid() || ::bind(listener_.get(), raw, sizeof(address)) != 0 ||
            ::listen(listener_.get(), 0) != 0) {
            return;
        }
        for (int i = 0; i < 8; ++i) {
            testsupport::UniqueFd client(
                ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            if (::connect(client.get(), raw, sizeof(address)) != 0) {
                full_ = errno == EAGAIN;
                return;
            }
            fillers_.push_back(std::move(client));
        }
    }
    bool ok() const { return full_; }

  private:
    testsupport::UniqueFd listener_;
    std::vector<testsupport::UniqueFd> fillers_;
    bool full_ = false;
};

// Waits for the moment of `moment`, shifted by a per-trial delay so that the trials land
// at different points of the same phase. False when the moment never came.
bool reachMoment(Moment moment, int trial, const ToolProcess& tool,
                 const testsupport::H4Controller* controller) {
    int index = -1;
    milliseconds shift(0);
    switch (moment) {
        case Moment::kBeforeConnect: {  // blocked in connect, or on its way there
            auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
            while (!tool.signalHandlingArmed()) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(milliseconds(1));
            }
            std::this_thread::sleep_for(milliseconds(30 * trial));
            return true;
        }
        case Moment::kBringUp:  // between the class of device and the advertising
            index = controller->waitForCommand({0x24, 0x0C}, kStepTimeout);
            shift = milliseconds(60 * trial);
            break;
        case Moment::kNameRequest:  // the event thread sleeps after the request, mutex held
            index = controller->waitForCommand({0x19, 0x04}, kStepTimeout);
            shift = milliseconds(40 * trial);
            break;
        case Moment::kScan:
            index = controller->waitForCommand(kScanEnableOn, kStepTimeout);
            shift = milliseconds(450 + 200 * trial);
            break;
        case Moment::kReport: {  // after the scan's own disable, before the scanner is gone
            int on = controller->waitForCommand(kScanEnableOn, kStepTimeout);
            if (on < 0) return false;
            index = controller->waitForCommand(kScanEnableOff, kStepTimeout, on + 1);
            shift = milliseconds(50 * trial);
            break;
        }
    }
    if (index < 0) return false;
    std::this_thread::sleep_for(shift);
    return true;
}

// Signals the tool at its moment and checks how it ended; returns a description of what
// went wrong, empty when all is well.
// `controller` is null when the tool never gets a link.
std::string check(const SignalCase& c, int trial, ToolProcess& tool,
                  const testsupport::H4Controller* controller) {
    if (!tool.started()) return "tool did not start";
    bool reached = reachMoment(c.moment, trial, tool, controller);
    size_t sentBefore = controller ? controller->commands().size() : 0;
    tool.signal(c.signal);
    ToolResult result = tool.wait(milliseconds(10000));

    std::ostringstream failure;
    if (!reached) failure << "moment not reached; ";
    if (!result.exitedWith(1)) failure << "status is not exit 1; ";
    if (!result.out.empty()) failure << "stdout not empty; ";
    if (hasSanitizerReport(result.err)) failure << "sanitizer report; ";
    std::string line = "Received signal " + std::to_string(c.signal) + ", cleaning up...";
    if (!contains(toolTexts(result.err), line)) failure << "no '" << line << "'; ";
    if (controller == nullptr) {
        if (contains(toolTexts(result.err), "Bluetooth initialized successfully")) {
            failure << "had a link after all; ";
        }
    } else {
        if (controller->waitForCommand(kScanEnableOff, milliseconds(2000), sentBefore) < 0) {
            failure << "no scan disable after the signal; ";
        }
        if (!controller->waitForClosed(1, milliseconds(2000))) failure << "link not closed; ";
    }
    if (failure.str().empty()) return "";
    return "trial " + std::to_string(trial) + ": " + failure.str() + result.describe();
}

// One run of the tool against a controller scripted to find a device that needs a name.
std::string runTrial(const SignalCase& c, int trial) {
    TempDir dir;
    if (c.moment == Moment::kBeforeConnect) {
        StalledListener listener(dir.file("hci.sock"));
        if (!listener.ok()) return "could not fill the accept queue";
        ToolProcess tool({"scan"}, "unix:" + dir.file("hci.sock"));
        return check(c, trial, tool, nullptr);
    }
    testsupport::H4Controller controller(dir.file("hci.sock"));
    if (!controller.ok()) return "controller did not start";
    const Bytes address = {0x10, 0x20, 0x30, 0x40, 0x50, static_cast<uint8_t>(0xC0 + trial)};
    controller.onCommand(
        kScanEnableOn,
        {{milliseconds(100), testsupport::leAdvertisingReport(0x00, address, {}, -50)}});
    controller.onCommand(testsupport::remoteNameRequest(address),
                         {{milliseconds(0), testsupport::commandStatus(0x0419)},
                          {milliseconds(300), testsupport::remoteNameComplete(address, "Peer")}},
                         /*replaceDefault=*/true);
    ToolProcess tool({"scan", "-t", c.moment == Moment::kReport ? "1" : "3"},
                     controller.transport());
    return check(c, trial, tool, &controller);
}
// Keeps the ctest names readable and the same from build to build.
void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalTest, EndsWithStatusOneAndStopsScanning) {
    std::vector<std::string> failures(kTrialsPerCase);
    std::vector<std::thread> trials;
    for (int i = 0; i < kTrialsPerCase; ++i) {
        trials.emplace_back([&, i] { failures[i] = runTrial(GetParam(), i); });
    }
    for (auto& trial : trials) trial.join();
    for (const std::string& failure : failures) EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(
    Moments, SignalTest,
    ::testing::Values(SignalCase{"IntBeforeConnect", SIGINT, Moment::kBeforeConnect},
                      SignalCase{"TermBeforeConnect", SIGTERM, Moment::kBeforeConnect},
                      SignalCase{"IntDuringBringUp", SIGINT, Moment::kBringUp},
                      SignalCase{"TermDuringBringUp", SIGTERM, Moment::kBringUp},
                      SignalCase{"IntDuringNameRequest", SIGINT, Moment::kNameRequest},
                      SignalCase{"TermDuringNameRequest", SIGTERM, Moment::kNameRequest},
                      SignalCase{"IntDuringScan", SIGINT, Moment::kScan},
                      SignalCase{"TermDuringScan", SIGTERM, Moment::kScan},
                      SignalCase{"IntDuringReport", SIGINT, Moment::kReport},
                      SignalCase{"TermDuringReport", SIGTERM, Moment::kReport}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

}  // namespace
}  // namespace blackbox
