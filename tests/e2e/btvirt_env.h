// A fixture for end-to-end runs against BlueZ's emulated controllers (btvirt): remote
// devices played by hci_peer, runs of the tool, and its results file.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tool_process.h"

namespace e2e {

using testsupport::ChildProcess;
using testsupport::milliseconds;
using testsupport::ProcessResult;

// btvirt's fixed socket for dual-mode (BR/EDR + LE) controllers.
constexpr char kBtvirtSocket[] = "/tmp/bt-server-bredrle";

// The full path of a program in PATH, or empty.
std::string findInPath(const std::string& program);

struct ResultRow {
    std::string address, name;
    int rssi;
    std::string type, addrType, connectable;
};

class BtvirtTest : public ::testing::Test {
  protected:
    // Skips without btvirt; else takes the host-wide btvirt lock and starts btvirt.
    void SetUp() override;

    // Starts an hci_peer with `args`; its address, or empty (with a failure) when it did not
    // come up.
    std::string startPeer(const std::vector<std::string>& args);
    std::unique_ptr<ChildProcess> startTool(const std::vector<std::string>& args,
                                            const std::vector<std::string>& env = {});
    // Runs `scan -t seconds -o FILE options`, calls `during` once the scan runs, and expects
    // exit 0 and nothing on stdout.
    ProcessResult scan(int seconds, const std::string& file,
                       const std::vector<std::string>& options = {},
                       const std::function<void()>& during = {});
    // The rows of a results file in the test's directory, after checking its header.
    std::vector<ResultRow> results(const std::string& file);

    testsupport::TempDir dir_;

  private:
    orvalinquist::host::UniqueFd lock_;
    std::unique_ptr<ChildProcess> btvirt_;

  protected:
    std::vector<std::unique_ptr<ChildProcess>> peers_;  // stopped before btvirt
};

}  // namespace e2e
