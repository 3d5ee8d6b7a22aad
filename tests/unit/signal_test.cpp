// SIGINT and SIGTERM at different moments of a run: the handler's line, scanning switched
// off straight at the HAL, the HAL closed, exit status 1. Each case runs in a child process.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "main.h"
#include "unit_support.h"

namespace unit {
namespace {

struct SignalCase {
    const char* label;
    std::vector<std::string> words;  // a last word "FIFO" becomes a fifo that blocks the report
    bool withHal, initialized;       // initialized: as after an earlier enable
    const char* trigger;  // log line prefix after which the signal is sent; "" sends it first
    int signal;
};

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

// Runs in the child: the signals are blocked before any thread exists, as in the tool, so
// that only the tool's watcher takes them. The fake echoes its calls to stderr.
void runUntilSignal(const SignalCase& c) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    testsupport::setLogEcho(true);
    unsetenv("BT_HCI_TRANSPORT");
    std::vector<std::string> words = c.words;
    const std::string fifo = ::testing::TempDir() + "orvalinquist_fifo_" + std::to_string(getpid());
    if (words.back() == "FIFO") words.back() = fifo;
    mkfifo(fifo.c_str(), 0600);
    if (c.withHal) {
        sp<testsupport::FakeHal> hal = testsupport::FakeHal::install();
        hal->setEcho(true);
        // A classic device answers the scan; the scan asks for its name.
        hal->answerWith({0x0C, 0x20, 0x02, 0x01, 0x00},
                        {0x02, 0x0F, 0x01, 1, 2, 3, 4, 5, 6, 0x01, 0, 0, 0x20, 0x04, 0x2C, 0, 0});
        if (c.initialized) {
            hal->initialize(new bt::BluetoothHciCallbacks(bt::globalState));
            bt::hci = hal;
        }
    }
    const std::string trigger = c.trigger;
    if (trigger.empty()) kill(getpid(), c.signal);
    std::thread([trigger, signal = c.signal, fifo] {
        if (!trigger.empty() && !waitForLines(trigger, 1, 20s)) std::_Exit(43);  // never hang
        unlink(fifo.c_str());
        if (!trigger.empty()) kill(getpid(), signal);
    }).detach();
    runTool(words);
    std::_Exit(42);  // the run ended without the signal ending it
}

TEST_P(SignalTest, EndsWithStatusOneAfterSwitchingScanningOff) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const SignalCase& c = GetParam();
    std::string expected =
        "\\[4 -\\] Received signal " + std::to_string(c.signal) + ", cleaning up\\.\\.\\.\n";
    if (c.withHal) expected += ".*HAL send: 0c 20 02 00 00 \nHAL close\n";
    EXPECT_EXIT(runUntilSignal(c), ::testing::ExitedWithCode(1), expected);
}

const std::vector<std::string> kScan = {"scan", "-t", "5"};
// clang-format off
INSTANTIATE_TEST_SUITE_P(Moments, SignalTest, ::testing::Values(
    SignalCase{"BeforeTheHalExists", {"enable"}, false, false, "", SIGINT},
    SignalCase{"DuringBringUp", {"enable"}, true, false, "Sending HCI command: 24 0c 03", SIGTERM},
    SignalCase{"DuringANameRequest", kScan, true, true, "Sending HCI command: 19 04 0a", SIGINT},
    SignalCase{"DuringTheScanWait", kScan, true, true, "Scanning for 5 seconds...", SIGTERM},
    SignalCase{"DuringTheReport", {"scan", "-t", "1", "-o", "FIFO"}, true, true,
               "Discovered 1 devices:", SIGTERM}), kByLabel);
// clang-format on

TEST(SignalWatcher, EachRunStopsItsWatcherAndRestoresTheMask) {
    auto threads = [] {
        size_t count = 0;
        for (DIR* tasks = opendir("/proc/self/task"); tasks != nullptr; tasks = nullptr) {
            while (readdir(tasks) != nullptr) ++count;
            closedir(tasks);
        }
        return count;
    };
    testsupport::resetSession();
    // The first run may start a sanitizer runtime's own background thread.
    EXPECT_EQ(runTool({"help"}), 0);
    const size_t before = threads();
    for (int run = 0; run < 3; ++run) EXPECT_EQ(runTool({"help"}), 0);
    EXPECT_EQ(threads(), before);
    sigset_t mask;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &mask), 0);
    EXPECT_FALSE(sigismember(&mask, SIGINT) || sigismember(&mask, SIGTERM));
    struct sigaction action;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, &bt::signal_handler);
}

}  // namespace
}  // namespace unit
