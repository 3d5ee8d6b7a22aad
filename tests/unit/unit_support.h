// Shared pieces of the in-process unit tests: running the entry, reading the log, and a
// session that starts from scratch with a fresh fake HAL.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
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
using testsupport::toolLogTexts;
const Bytes kScanOff = {0x0C, 0x20, 0x02, 0x00, 0x00};
const char kOff[] = "Sending HCI command: 0c 20 02 00 00 ";
const auto kByLabel = ::testing::PrintToStringParamName();

// Table rows print as their label: stable, readable ctest names (with kByLabel) and
// failure messages, never raw bytes with pointers. In the unnamed namespace of each test
// file, where its rows live, so that argument-dependent look-up finds it.
namespace {
template <class Row, class = decltype(Row::label)>
std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.label;
}
}  // namespace

inline int runTool(std::vector<std::string> words) {
    words.insert(words.begin(), "orvalinquist");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return orvalinquist_main(static_cast<int>(words.size()), argv.data());
}

inline Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline size_t countLines(const std::string& prefix) {
    size_t count = 0;
    for (const std::string& text : toolLogTexts()) count += text.rfind(prefix, 0) == 0;
    return count;
}

// Waits until `count` lines starting with `prefix` have been logged.
inline bool waitForLines(const std::string& prefix, size_t count = 1, std::chrono::seconds s = 10s) {
    for (auto end = std::chrono::steady_clock::now() + s; countLines(prefix) < count;) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

inline Lines errorLines() {
    Lines texts;
    for (const testsupport::LogLine& line : testsupport::logLines()) {
        if (line.nullTag && line.priority == 6) texts.push_back(line.text);
    }
    return texts;
}

// Each gap between consecutive commands is at least its bound in ms.
inline void expectGaps(const std::vector<testsupport::SentCommand>& c, std::vector<int> atLeast) {
    ASSERT_EQ(c.size(), atLeast.size() + 1);
    for (size_t i = 1; i < c.size(); ++i)
        EXPECT_GE(c[i].time - c[i - 1].time, 1ms * atLeast[i - 1]);
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
