// Shared pieces of the in-process unit tests: running the entry, reading the log, and a
// session that starts from scratch with a fresh fake HAL.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "bt_callbacks.h"
#include "bt_common.h"
#include "fake_hal.h"
#include "log_sink.h"

int orvalinquist_main(int argc, char** argv);

namespace unit {

using ::android::sp;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

inline int runTool(std::vector<std::string> words) {
    words.insert(words.begin(), "orvalinquist");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return orvalinquist_main(static_cast<int>(words.size()), argv.data());
}

inline Lines usage() {
    return {"Usage: orvalinquist <command> [options]",
            "Commands:",
            "  enable              Enable Bluetooth",
            "  scan [options]      Scan for Bluetooth devices",
            "    -t, --timeout N   Scan duration in seconds (default 10, max 15)",
            "    -o, --output FILE Save scan results to file",
            "    -f, --first       Exit when first connectable device is found",
            "    -c, --connectable Only show connectable devices",
            "  disable             Disable Bluetooth",
            "  help                Show this help message"};
}

inline Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline size_t countLines(const std::string& prefix) {
    size_t count = 0;
    for (const std::string& text : testsupport::toolLogTexts()) count += text.rfind(prefix, 0) == 0;
    return count;
}

// Waits until `count` lines starting with `prefix` have been logged.
inline bool waitForLines(const std::string& prefix, size_t count = 1,
                         std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (countLines(prefix) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Log lines with the given priority, in order.
inline Lines linesWithPriority(int priority) {
    Lines texts;
    for (const testsupport::LogLine& line : testsupport::logLines()) {
        if (line.nullTag && line.priority == priority) texts.push_back(line.text);
    }
    return texts;
}

inline Bytes scanDisable() {
    return {0x0C, 0x20, 0x02, 0x00, 0x00};
}

// Milliseconds between consecutive commands seen by the fake.
inline std::vector<long> gapsMs(const std::vector<testsupport::SentCommand>& commands) {
    std::vector<long> gaps;
    for (size_t i = 1; i < commands.size(); ++i) {
        gaps.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             commands[i].time - commands[i - 1].time)
                                             .count()));
    }
    return gaps;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetSession();
        testsupport::clearLog();
        hal = testsupport::FakeHal::install();
    }
    void TearDown() override { testsupport::resetSession(); }

    // A session that enable has already brought up, without its commands.
    void initializeSession() {
        hal->setInitializationResult(std::nullopt);
        hal->initialize(new bt::BluetoothHciCallbacks(bt::globalState));
        bt::hci = hal;
        bt::globalState.initialized = true;
    }

    sp<testsupport::FakeHal> hal;
};

}  // namespace unit
