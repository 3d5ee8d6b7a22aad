// A fixture for end-to-end runs against BlueZ's emulated controllers (btvirt), with remote
// devices played by hci_peer.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <sstream>
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
inline std::string findInPath(const std::string& program) {
    std::stringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    }
    return std::string();
}

class BtvirtTest : public ::testing::Test {
  protected:
    // btvirt creates these in this order; the last one means all are listening.
    static constexpr const char* kSockets[] = {kBtvirtSocket, "/tmp/bt-server-bredr",
                                               "/tmp/bt-server-amp", "/tmp/bt-server-le",
                                               "/tmp/bt-server-mon"};

    // Skips without btvirt; else takes the host-wide btvirt lock and starts btvirt.
    void SetUp() override {
        if (findInPath("btvirt").empty()) GTEST_SKIP() << "no btvirt (package bluez-test-tools)";
        // ctest's resource lock covers one build tree; other trees may run these tests too.
        lock_.reset(open("/tmp/orvalinquist-btvirt.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        ASSERT_TRUE(lock_.valid() && flock(lock_.get(), LOCK_EX) == 0);
        for (const char* path : kSockets) unlink(path);
        btvirt_ = std::make_unique<ChildProcess>(std::vector<std::string>{BTVIRT_RUN_BIN, "-s"});
        struct stat st = {};
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return stat(kSockets[4], &st) == 0 && S_ISSOCK(st.st_mode); }, milliseconds(5000)))
            << "btvirt did not come up: " << btvirt_->output();
    }

    // btvirt leaves its sockets behind when it ends; they go while the lock is still held.
    void TearDown() override {
        if (!lock_.valid()) return;
        peers_.clear();
        btvirt_.reset();
        for (const char* path : kSockets) unlink(path);
    }

    // Starts an hci_peer; its address, or empty (with a failure) when it did not come up.
    std::string startPeer(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {HCI_PEER_BIN, "--transport",
                                         std::string("unix:") + kBtvirtSocket};
        argv.insert(argv.end(), args.begin(), args.end());
        peers_.push_back(std::make_unique<ChildProcess>(argv));
        peers_.back()->waitForOutput("\n", milliseconds(15000), /*fromStderr=*/false);
        std::string line = peers_.back()->output(false);
        if (line.rfind("ready ", 0) == 0 && line.size() >= 6 + 17) return line.substr(6, 17);
        ADD_FAILURE() << "peer did not come up: " << line << peers_.back()->output();
        return "";
    }

    testsupport::TempDir dir_;
    orvalinquist::host::UniqueFd lock_;
    std::unique_ptr<ChildProcess> btvirt_;
    std::vector<std::unique_ptr<ChildProcess>> peers_;  // stopped before btvirt
};

}  // namespace e2e
