#include "btvirt_env.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

constexpr const char kLockPath[] = "/tmp/orvalinquist-btvirt.lock";
constexpr auto kLockWait = std::chrono::seconds(300);
constexpr auto kStartWait = std::chrono::seconds(5);
// btvirt creates these in this order; the last one means all are listening.
const char* const kBtvirtSockets[] = {"/tmp/bt-server-bredrle", "/tmp/bt-server-bredr",
                                      "/tmp/bt-server-amp", "/tmp/bt-server-le",
                                      "/tmp/bt-server-mon"};

bool isSocket(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISSOCK(st.st_mode);
}

std::string transportVariable() {
    return std::string("BT_HCI_TRANSPORT=unix:") + kBtvirtSocket;
}

}  // namespace

std::string btvirtMissing() {
    const char* path = getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (access((dir + "/btvirt").c_str(), X_OK) == 0) return std::string();
    }
    return "btvirt not found (Debian package bluez-test-tools)";
}

std::string testDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
    const std::string dir = std::string(E2E_OUTPUT_DIR) + "/" + name;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    return dir;
}

BtvirtServer::~BtvirtServer() {
    process_.stop();
    if (lockFd_ >= 0) close(lockFd_);  // releases the flock
}

bool BtvirtServer::start(const std::string& dir, std::string* error) {
    lockFd_ = open(kLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd_ < 0) {
        *error = std::string("open ") + kLockPath + ": " + strerror(errno);
        return false;
    }
    // Other build trees may run these tests at the same time; ctest's resource lock only
    // covers one tree.
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            *error = "btvirt lock still held after 300 s";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const char* path : kBtvirtSockets) unlink(path);
    if (!process_.start({BTVIRT_RUN_BIN, "-s"}, {}, dir + "/btvirt.out", dir + "/btvirt.err",
                        error)) {
        return false;
    }
    const auto ready = std::chrono::steady_clock::now() + kStartWait;
    while (!isSocket(kBtvirtSockets[4])) {
        if (!process_.running() || std::chrono::steady_clock::now() >= ready) {
            *error = "btvirt did not come up: " + readFile(dir + "/btvirt.err");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Peer::start(const std::string& dir, const std::string& label,
                 const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> argv = {HCI_PEER_BIN, "--transport",
                                     std::string("unix:") + kBtvirtSocket};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = dir + "/" + label + ".out";
    const std::string err = dir + "/" + label + ".err";
    if (!process_.start(argv, {}, out, err, error)) return false;
    if (!waitForText(out, "\n", std::chrono::seconds(15))) {
        *error = label + " did not come up: " + readFile(err);
        return false;
    }
    const std::string line = readFile(out);
    if (line.rfind("ready ", 0) != 0 || line.size() < 6 + 17) {
        *error = label + " printed: " + line;
        return false;
    }
    address_ = line.substr(6, 17);
    return true;
}

bool ToolRun::start(const std::string& dir, const std::string& label,
                    const std::vector<std::string>& args, std::string* error,
                    const std::vector<std::string>& extraEnv) {
    std::vector<std::string> argv = {ORVALINQUIST_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {transportVariable()};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    logPath_ = dir + "/" + label + ".log";
    stdoutPath_ = dir + "/" + label + ".stdout";
    started_ = std::chrono::steady_clock::now();
    return process_.start(argv, env, stdoutPath_, logPath_, error);
}

bool ToolRun::waitForLog(const std::string& text, std::chrono::milliseconds timeout) {
    return waitForText(logPath_, text, timeout);
}

int ToolRun::finish(std::chrono::milliseconds timeout) {
    int status = -1;
    if (!process_.wait(timeout, &status)) {
        process_.stop();
        status = -1;
    }
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return status;
}

std::vector<std::string> ToolRun::messages() const {
    // Debian's liblog: "TAG P MM-DD HH:MM:SS  PID  TID message"; the tool logs under the
    // default tag, the host HAL under its own.
    static const std::regex kLine(R"(^orvalinquist [VDIWEF] \S+ \S+\s+\d+\s+\d+ (.*)$)");
    std::vector<std::string> result;
    std::stringstream log(readFile(logPath_));
    std::string line;
    std::smatch match;
    while (std::getline(log, line)) {
        if (std::regex_match(line, match, kLine)) result.push_back(match[1]);
    }
    return result;
}

bool readResults(const std::string& path, std::vector<ResultRow>* rows, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "no results file " + path;
        return false;
    }
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    if (lines.size() < 5 || lines[0] != "# Bluetooth Device Scan Results" ||
        lines[1].rfind("# Timestamp: ", 0) != 0 || lines[2].rfind("# Total devices: ", 0) != 0 ||
        lines[3] != "#" || lines[4] != "# Address,Name,RSSI,Type,AddrType,Connectable") {
        *error = "bad header in " + path;
        return false;
    }
    rows->clear();
    for (size_t i = 5; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        std::stringstream fieldStream(lines[i]);
        std::string field;
        while (std::getline(fieldStream, field, ',')) fields.push_back(field);
        if (fields.size() != 6 || fields[1].size() < 2 || fields[1].front() != '"' ||
            fields[1].back() != '"') {
            *error = "bad line: " + lines[i];
            return false;
        }
        ResultRow row;
        row.address = fields[0];
        row.name = fields[1].substr(1, fields[1].size() - 2);
        row.rssi = atoi(fields[2].c_str());
        row.type = fields[3];
        row.addrType = fields[4];
        row.connectable = fields[5];
        rows->push_back(row);
    }
    if (lines[2] != "# Total devices: " + std::to_string(rows->size())) {
        *error = "device count does not match the lines in " + path;
        return false;
    }
    return true;
}

const ResultRow* findRow(const std::vector<ResultRow>& rows, const std::string& address) {
    for (const auto& row : rows) {
        if (row.address == address) return &row;
    }
    return nullptr;
}

size_t countContaining(const std::vector<std::string>& messages, const std::string& text) {
    size_t n = 0;
    for (const auto& m : messages) n += m.find(text) != std::string::npos ? 1 : 0;
    return n;
}

std::string dumpBytesOf(const std::string& address) {
    std::string bytes;
    for (int i = 5; i >= 0; --i) {
        bytes += address.substr(static_cast<size_t>(i) * 3, 2);
        if (i > 0) bytes += ' ';
    }
    for (char& c : bytes) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return bytes;
}

Delivery measureDelivery(const ToolRun& run, const std::string& label) {
    const auto messages = run.messages();
    Delivery d;
    bool inScan = false;
    for (const auto& m : messages) {
        if (m.rfind("Sending HCI command: 0c 20 02 01 00", 0) == 0) inScan = true;
        if (m == "Event processing thread exiting") inScan = false;
        if (m.rfind("Received HCI event, size: ", 0) == 0) {
            ++d.received;
            if (inScan) ++d.scanReceived;
        }
        if (m.rfind("Processing event data, size: ", 0) == 0) ++d.processed;
    }
    std::cout << "[delivery] " << label << " received=" << d.received
              << " scan_received=" << d.scanReceived << " processed=" << d.processed << std::endl;
    ::testing::Test::RecordProperty(label + "_received", static_cast<int>(d.received));
    ::testing::Test::RecordProperty(label + "_scan_received", static_cast<int>(d.scanReceived));
    ::testing::Test::RecordProperty(label + "_processed", static_cast<int>(d.processed));
    return d;
}

}  // namespace e2e
