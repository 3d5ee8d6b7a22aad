// A scripted Bluetooth controller behind an H4 Unix stream socket, for tests that run the
// tool as a child process. Every command is recorded and answered as a controller would, and
// scripted events follow the commands that trigger them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "h4_reassembler.h"
#include "unique_fd.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

struct ReceivedCommand {
    Bytes bytes;  // opcode, parameter length, parameters; no packet-type byte
    SteadyClock::time_point time;
};

struct ScriptedEvent {
    std::chrono::milliseconds delay;  // after the command that triggers it
    Bytes event;  // event code, parameter length, parameters; empty: hang up instead
};

class H4Controller {
  public:
    // Listens at `socketPath`, replacing a stale socket file there; check ok().
    explicit H4Controller(std::string socketPath);
    ~H4Controller();
    H4Controller(const H4Controller&) = delete;
    H4Controller& operator=(const H4Controller&) = delete;

    bool ok() const { return thread_.joinable(); }
    std::string transport() const { return "unix:" + path_; }

    // When a command beginning with `prefix` arrives, `events` follow its answer on
    // the same connection, after their delays.
    void onCommand(Bytes prefix, std::vector<ScriptedEvent> events);
    // Answers the Remote Name Request for `address` with the name, 300 ms later.
    void answerNameRequest(const Bytes& address, const std::string& name);

    int connections() const;  // accepted so far
    // The well-formed H4 command packets received, in order.
    std::vector<ReceivedCommand> commands() const;
    // Index of the first command at or after `from` that begins with `prefix`, waiting up to
    // `timeout` for it; -1 when none arrived.
    int waitForCommand(const Bytes& prefix, std::chrono::milliseconds timeout,
                       size_t from = 0) const;

  private:
    using Rule = std::pair<Bytes, std::vector<ScriptedEvent>>;  // prefix, events

    // All but serve() are called with mutex_ held.
    void serve();
    bool readCommands();  // false when the peer is gone
    void handleCommand(Bytes command);
    void sendDue();
    void hangUp();

    std::string path_;
    orvalinquist::host::UniqueFd listenFd_;
    orvalinquist::host::UniqueFd connection_;  // one at a time; each run of the tool connects anew
    orvalinquist::host::H4Reassembler reassembler_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Rule> rules_;
    std::vector<std::pair<SteadyClock::time_point, Bytes>> pending_;  // in order of due time
    std::vector<ReceivedCommand> commands_;
    int connections_ = 0;
};

// One LE advertising report event; `address` least significant byte first.
Bytes leAdvertisingReport(uint8_t eventType, const Bytes& address, const Bytes& data, int8_t rssi,
                          uint8_t addressType = 0);

}  // namespace testsupport
