// The pieces of an end-to-end run against BlueZ's emulated controllers: the btvirt server,
// remote-device peers, runs of the tool, and readers for its log and results file.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "child_process.h"

namespace e2e {

// btvirt's fixed socket for dual-mode (BR/EDR + LE) controllers.
constexpr const char kBtvirtSocket[] = "/tmp/bt-server-bredrle";

// Empty when btvirt can be run, else the reason to skip.
std::string btvirtMissing();

// A fresh directory for the current test's files, under the build tree.
std::string testDir();

// btvirt -s, started through the launcher that supplies crypto where the kernel has none.
// Holds a host-wide lock while it runs, since the socket path is fixed.
class BtvirtServer {
  public:
    BtvirtServer() = default;
    BtvirtServer(const BtvirtServer&) = delete;
    BtvirtServer& operator=(const BtvirtServer&) = delete;
    ~BtvirtServer();

    bool start(const std::string& dir, std::string* error);

  private:
    int lockFd_ = -1;
    ChildProcess process_;
};

// One hci_peer process: a remote device on its own emulated controller.
class Peer {
  public:
    // Starts the peer with `args` and waits until it reports its address.
    bool start(const std::string& dir, const std::string& label,
               const std::vector<std::string>& args, std::string* error);
    const std::string& address() const { return address_; }
    int stop() { return process_.stop(); }

  private:
    ChildProcess process_;
    std::string address_;
};

// One run of the tool against btvirt; its log (stderr) is kept in the test directory.
class ToolRun {
  public:
    bool start(const std::string& dir, const std::string& label,
               const std::vector<std::string>& args, std::string* error,
               const std::vector<std::string>& extraEnv = {});
    bool waitForLog(const std::string& text, std::chrono::milliseconds timeout);
    // Exit status, or -1 when the run had to be killed after `timeout`.
    int finish(std::chrono::milliseconds timeout);

    // The tool's own log messages, in order, without the log's line header.
    std::vector<std::string> messages() const;
    std::string stdoutText() const { return readFile(stdoutPath_); }
    double seconds() const { return seconds_; }

  private:
    ChildProcess process_;
    std::string logPath_;
    std::string stdoutPath_;
    std::chrono::steady_clock::time_point started_;
    double seconds_ = 0;
};

struct ResultRow {
    std::string address;
    std::string name;
    int rssi = 0;
    std::string type;
    std::string addrType;
    std::string connectable;
};

// Reads a results file, checking its five header lines. False with *error when malformed.
bool readResults(const std::string& path, std::vector<ResultRow>* rows, std::string* error);

const ResultRow* findRow(const std::vector<ResultRow>& rows, const std::string& address);

size_t countContaining(const std::vector<std::string>& messages, const std::string& text);

// The address as it stands in the tool's hexadecimal dumps (lower case, LSB first), e.g.
// "42 00 01 01 aa 00" for 00:AA:01:01:00:42.
std::string dumpBytesOf(const std::string& address);

// How many delivered events reached the parser: logs and records the counts. The scan
// window starts when LE scanning is switched on; events delivered before it (replies to the
// bring-up) have no event thread to go to.
struct Delivery {
    size_t received = 0;      // "Received HCI event" lines
    size_t scanReceived = 0;  // of those, delivered in the scan window
    size_t processed = 0;     // "Processing event data" lines
};
Delivery measureDelivery(const ToolRun& run, const std::string& label);

}  // namespace e2e
