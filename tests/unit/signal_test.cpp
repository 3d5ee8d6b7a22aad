// SIGINT and SIGTERM at different moments of a run: the handler's line, scanning switched
// off straight at the HAL, the HAL closed, exit status 1. Each case runs in a child process.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "main.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::android::hardware::Return;
using ::android::hardware::Void;

// Writes every call to stderr at once: the child ends with _exit, so the parent learns
// what reached the HAL only from there.
class TranscriptHal : public testsupport::IBluetoothHci {
  public:
    Return<void> initialize(const sp<testsupport::IBluetoothHciCallbacks>& callbacks) override {
        callbacks_ = callbacks;
        callbacks->initializationComplete(testsupport::HalStatus::SUCCESS);
        return Void();
    }
    Return<void> sendHciCommand(const testsupport::hidl_vec<uint8_t>& command) override {
        std::string text;
        for (uint8_t byte : command) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), "%02x ", byte);
            text += hex;
        }
        std::fprintf(stderr, "HAL send: %s\n", text.c_str());
        if (text == "0c 20 02 01 00 ") {
            // A classic device answers the inquiry; the scan asks for its name.
            sp<testsupport::IBluetoothHciCallbacks> callbacks = callbacks_;
            std::thread([callbacks] {
                std::this_thread::sleep_for(100ms);
                callbacks->hciEventReceived(
                    Bytes{0x02, 0x0F, 0x01, 1, 2, 3, 4, 5, 6, 0x01, 0, 0, 0x20, 0x04, 0x2C, 0, 0});
            }).detach();  // the child process ends with _exit
        }
        return Void();
    }
    Return<void> sendAclData(const testsupport::hidl_vec<uint8_t>&) override { return Void(); }
    Return<void> sendScoData(const testsupport::hidl_vec<uint8_t>&) override { return Void(); }
    Return<void> close() override {
        std::fprintf(stderr, "HAL close\n");
        return Void();
    }

  private:
    sp<testsupport::IBluetoothHciCallbacks> callbacks_;
};

struct SignalCase {
    const char* name;
    std::vector<std::string> words;
    bool withHal;
    bool initialized;     // the session is up before the run, as after an earlier enable
    const char* trigger;  // log line prefix after which the signal is sent; "" sends it first
    int signal;
};

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

// Runs in the child: the signals are blocked before any thread exists, as in the tool, so
// that only the tool's watcher takes them.
void runUntilSignal(const SignalCase& c) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    testsupport::setLogEcho(true);
    unsetenv("BT_HCI_TRANSPORT");
    std::vector<std::string> words = c.words;
    std::string fifo;
    if (words.back() == "FIFO") {
        words.back() = ::testing::TempDir() + "orvalinquist_fifo_" + std::to_string(getpid());
        fifo = words.back();
        mkfifo(fifo.c_str(), 0600);  // opening it for writing blocks the report
    }
    if (c.withHal) {
        sp<TranscriptHal> hal = new TranscriptHal();
        hal->registerAsService("default");
        if (c.initialized) {
            hal->initialize(new bt::BluetoothHciCallbacks(bt::globalState));
            bt::hci = hal;
        }
    }
    const std::string trigger = c.trigger;
    const int signal = c.signal;
    if (trigger.empty()) {
        kill(getpid(), signal);
    } else {
        std::thread([trigger, signal, fifo] {
            if (!waitForLines(trigger, 1, 20s)) std::_Exit(43);  // never hang the parent
            if (!fifo.empty()) unlink(fifo.c_str());
            kill(getpid(), signal);
        }).detach();
    }
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

INSTANTIATE_TEST_SUITE_P(
    Moments, SignalTest,
    ::testing::Values(
        SignalCase{"BeforeTheHalExists", {"enable"}, false, false, "", SIGINT},
        SignalCase{
            "DuringBringUp", {"enable"}, true, false, "Sending HCI command: 24 0c 03", SIGTERM},
        SignalCase{"DuringANameRequest",
                   {"scan", "-t", "5"},
                   true,
                   true,
                   "Sending HCI command: 19 04 0a",
                   SIGINT},
        SignalCase{
            "DuringTheScanWait", {"scan", "-t", "5"}, true, true, "Scanning for 5 seconds...", SIGTERM},
        SignalCase{"DuringTheReport",
                   {"scan", "-t", "1", "-o", "FIFO"},
                   true,
                   true,
                   "Discovered 1 devices:",
                   SIGTERM}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

size_t threadCount() {
    size_t count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (readdir(tasks) != nullptr) ++count;
    closedir(tasks);
    return count;
}

TEST(SignalWatcher, EachRunStopsItsWatcherAndRestoresTheMask) {
    testsupport::resetSession();
    const size_t threads = threadCount();
    for (int run = 0; run < 3; ++run) EXPECT_EQ(runTool({"help"}), 0);
    sigset_t mask;
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &mask), 0);
    EXPECT_FALSE(sigismember(&mask, SIGINT));
    EXPECT_FALSE(sigismember(&mask, SIGTERM));
    EXPECT_EQ(threadCount(), threads);
    struct sigaction action;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, &bt::signal_handler);
}

}  // namespace
}  // namespace unit
