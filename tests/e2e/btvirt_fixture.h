// A fixture for end-to-end runs against BlueZ's emulated controllers (btvirt): remote
// devices played by hci_peer, runs of the tool, and its results file.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
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

// The device rows of a results file, after its header lines (timestamp left out): address
// to "name|type|address type|connectable".
inline std::map<std::string, std::string> resultRows(const std::string& path) {
    std::stringstream in(testsupport::readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::map<std::string, std::string> rows;
    const bool header = lines.size() >= 5 && lines[0] == "# Bluetooth Device Scan Results" &&
                        lines[2] == "# Total devices: " + std::to_string(lines.size() - 5) &&
                        lines[4] == "# Address,Name,RSSI,Type,AddrType,Connectable";
    EXPECT_TRUE(header) << in.str();
    for (size_t i = 5; header && i < lines.size(); ++i) {
        std::vector<std::string> f;
        std::stringstream fields(lines[i]);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        EXPECT_EQ(f.size(), 6u) << lines[i];
        if (f.size() == 6) {
            rows[f[0]] = f[1].substr(1, f[1].size() - 2) + "|" + f[3] + "|" + f[4] + "|" + f[5];
        }
    }
    return rows;
}

class BtvirtTest : public ::testing::Test {
  protected:
    // Skips without btvirt; else takes the host-wide btvirt lock and starts btvirt.
    void SetUp() override {
        if (findInPath("btvirt").empty()) GTEST_SKIP() << "no btvirt (package bluez-test-tools)";
        // ctest's resource lock covers one build tree; other trees may run these tests too.
        lock_.reset(open("/tmp/orvalinquist-btvirt.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        ASSERT_TRUE(lock_.valid() && flock(lock_.get(), LOCK_EX) == 0);
        // btvirt creates these in this order; the last one means all are listening.
        const char* sockets[] = {kBtvirtSocket, "/tmp/bt-server-bredr", "/tmp/bt-server-amp",
                                 "/tmp/bt-server-le", "/tmp/bt-server-mon"};
        for (const char* path : sockets) unlink(path);
        btvirt_ = std::make_unique<ChildProcess>(std::vector<std::string>{BTVIRT_RUN_BIN, "-s"});
        struct stat st = {};
        for (int i = 0; i < 250 && stat(sockets[4], &st) != 0; ++i) {
            std::this_thread::sleep_for(milliseconds(20));
        }
        ASSERT_TRUE(S_ISSOCK(st.st_mode)) << "btvirt did not come up: " << btvirt_->output();
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

    std::unique_ptr<ChildProcess> startTool(std::vector<std::string> args,
                                            std::vector<std::string> env = {}) {
        args.insert(args.begin(), ORVALINQUIST_BINARY);
        env.push_back(std::string("BT_HCI_TRANSPORT=unix:") + kBtvirtSocket);
        return std::make_unique<ChildProcess>(args, env);
    }

    testsupport::TempDir dir_;

  private:
    orvalinquist::host::UniqueFd lock_;
    std::unique_ptr<ChildProcess> btvirt_;

  protected:
    std::vector<std::unique_ptr<ChildProcess>> peers_;  // stopped before btvirt
};

}  // namespace e2e
