// A fixture for end-to-end runs against BlueZ's emulated controllers (btvirt): remote
// devices played by hci_peer, runs of the tool, and its results file.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
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

struct ResultRow {
    std::string address, name;
    int rssi;
    std::string type, addrType, connectable;
};

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

    // Runs `scan -t seconds -o FILE options`, calls `during` once the scan runs, and expects
    // exit 0 and nothing on stdout.
    ProcessResult scan(int seconds, const std::string& file,
                       const std::vector<std::string>& options = {},
                       const std::function<void()>& during = {}) {
        std::vector<std::string> args = {"scan", "-t", std::to_string(seconds), "-o",
                                         dir_.file(file)};
        args.insert(args.end(), options.begin(), options.end());
        auto tool = startTool(args);
        std::string scanning = "Scanning for " + std::to_string(seconds) + " seconds...";
        EXPECT_TRUE(tool->waitForOutput(scanning, milliseconds(20000))) << tool->output();
        if (during) during();
        ProcessResult result = tool->wait(milliseconds(40000));
        EXPECT_TRUE(result.exitedWith(0)) << result.describe();
        EXPECT_EQ(result.out, "");
        return result;
    }

    // The rows of a results file in the test's directory, after checking its header.
    std::vector<ResultRow> results(const std::string& file) {
        std::stringstream in(testsupport::readFile(dir_.file(file)));
        std::vector<std::string> lines;
        std::vector<ResultRow> rows;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        bool header = lines.size() >= 5 && lines[0] == "# Bluetooth Device Scan Results" &&
                      lines[1].rfind("# Timestamp: ", 0) == 0 &&
                      lines[2] == "# Total devices: " + std::to_string(lines.size() - 5) &&
                      lines[3] == "#" &&
                      lines[4] == "# Address,Name,RSSI,Type,AddrType,Connectable";
        EXPECT_TRUE(header) << in.str();
        for (size_t i = 5; header && i < lines.size(); ++i) {
            std::vector<std::string> f;
            std::stringstream fields(lines[i]);
            for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
            if (f.size() != 6 || f[1].size() < 2 || f[1].front() != '"' || f[1].back() != '"') {
                ADD_FAILURE() << "bad line: " << lines[i];
            } else {
                rows.push_back(
                    {f[0], f[1].substr(1, f[1].size() - 2), atoi(f[2].c_str()), f[3], f[4], f[5]});
            }
        }
        return rows;
    }

    testsupport::TempDir dir_;

  private:
    orvalinquist::host::UniqueFd lock_;
    std::unique_ptr<ChildProcess> btvirt_;

  protected:
    std::vector<std::unique_ptr<ChildProcess>> peers_;  // stopped before btvirt
};

}  // namespace e2e
