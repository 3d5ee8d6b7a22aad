#include "btvirt_env.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <thread>

namespace e2e {

std::string findInPath(const std::string& program) {
    std::stringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    }
    return std::string();
}

void BtvirtTest::SetUp() {
    if (findInPath("btvirt").empty()) GTEST_SKIP() << "no btvirt (Debian package bluez-test-tools)";
    // ctest's resource lock covers one build tree; other trees may run these tests too.
    lock_.reset(open("/tmp/orvalinquist-btvirt.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    ASSERT_TRUE(lock_.valid());
    ASSERT_EQ(flock(lock_.get(), LOCK_EX), 0);
    // btvirt creates these in this order; the last one means all are listening.
    const char* sockets[] = {kBtvirtSocket, "/tmp/bt-server-bredr", "/tmp/bt-server-amp",
                             "/tmp/bt-server-le", "/tmp/bt-server-mon"};
    for (const char* path : sockets) unlink(path);
    btvirt_ = std::make_unique<ChildProcess>(std::vector<std::string>{BTVIRT_RUN_BIN, "-s"});
    auto up = [&] {
        struct stat st;
        return stat(sockets[4], &st) == 0 && S_ISSOCK(st.st_mode);
    };
    for (int i = 0; i < 250 && !up(); ++i) {
        ASSERT_TRUE(btvirt_->running()) << btvirt_->output();
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(up()) << "btvirt did not come up: " << btvirt_->output();
}

std::string BtvirtTest::startPeer(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {HCI_PEER_BIN, "--transport",
                                     std::string("unix:") + kBtvirtSocket};
    argv.insert(argv.end(), args.begin(), args.end());
    peers_.push_back(std::make_unique<ChildProcess>(argv));
    ChildProcess& peer = *peers_.back();
    std::string line =
        peer.waitForOutput("\n", milliseconds(15000), false) ? peer.output(false) : "";
    if (line.rfind("ready ", 0) != 0 || line.size() < 6 + 17) {
        ADD_FAILURE() << "peer did not come up: " << line << peer.output();
        return "";
    }
    return line.substr(6, 17);
}

std::unique_ptr<ChildProcess> BtvirtTest::startTool(const std::vector<std::string>& args,
                                                    const std::vector<std::string>& env) {
    std::vector<std::string> argv = {ORVALINQUIST_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> fullEnv = {std::string("BT_HCI_TRANSPORT=unix:") + kBtvirtSocket};
    fullEnv.insert(fullEnv.end(), env.begin(), env.end());
    return std::make_unique<ChildProcess>(argv, fullEnv);
}

ProcessResult BtvirtTest::scan(int seconds, const std::string& file,
                               const std::vector<std::string>& options,
                               const std::function<void()>& during) {
    std::vector<std::string> args = {"scan", "-t", std::to_string(seconds), "-o", dir_.file(file)};
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

std::vector<ResultRow> BtvirtTest::results(const std::string& file) {
    std::stringstream in(testsupport::readFile(dir_.file(file)));
    std::vector<std::string> lines;
    std::vector<ResultRow> rows;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    bool header = lines.size() >= 5 && lines[0] == "# Bluetooth Device Scan Results" &&
                  lines[1].rfind("# Timestamp: ", 0) == 0 &&
                  lines[2] == "# Total devices: " + std::to_string(lines.size() - 5) &&
                  lines[3] == "#" && lines[4] == "# Address,Name,RSSI,Type,AddrType,Connectable";
    EXPECT_TRUE(header) << in.str();
    for (size_t i = 5; header && i < lines.size(); ++i) {
        std::vector<std::string> f;
        std::stringstream fields(lines[i]);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        if (f.size() != 6 || f[1].size() < 2 || f[1].front() != '"' || f[1].back() != '"') {
            ADD_FAILURE() << "bad line: " << lines[i];
            continue;
        }
        rows.push_back(
            {f[0], f[1].substr(1, f[1].size() - 2), atoi(f[2].c_str()), f[3], f[4], f[5]});
    }
    return rows;
}

}  // namespace e2e
