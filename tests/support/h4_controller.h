// A scripted Bluetooth controller behind an H4 Unix stream socket, for tests that run the
// tool as a child process. It accepts any number of connections (each run of the tool
// connects anew), records every command packet and answers it with Command Complete,
// and sends scripted or pushed events back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "unique_fd.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

struct ReceivedCommand {
    Bytes bytes;  // opcode, parameter length, parameters; no packet-type byte
    SteadyClock::time_point time;
    int connection;  // 0 for the first accepted connection, then counting up
};

struct ScriptedEvent {
    std::chrono::milliseconds delay;  // after the command that triggers it
    Bytes event;                      // event code, parameter length, parameters
};

class H4Controller {
  public:
    // Listens at `socketPath`, replacing a stale socket file there; check ok().
    explicit H4Controller(std::string socketPath);
    ~H4Controller();
    H4Controller(const H4Controller&) = delete;
    H4Controller& operator=(const H4Controller&) = delete;

    bool ok() const { return thread_.joinable(); }
    const std::string& path() const { return path_; }
    std::string transport() const { return "unix:" + path_; }

    // Command Complete (status 0) for every command, unless a rule replaces it. On by default.
    void setAutoComplete(bool on);
    // When a command beginning with `prefix` (opcode low, opcode high, length, parameters)
    // arrives, `events` follow on the same connection after their delays, after the default
    // answer unless `replaceDefault`. Rules apply in the order they were added.
    void onCommand(Bytes prefix, std::vector<ScriptedEvent> events, bool replaceDefault = false);
    // Sends one event now on the newest open connection; false when there is none or the
    // write fails.
    bool pushEvent(const Bytes& event);

    std::vector<ReceivedCommand> commands() const;
    int connectionsAccepted() const;
    int connectionsClosed() const;
    // Bytes that were not a well-formed H4 command packet.
    int protocolErrors() const;
    // Index of the first command at or after `from` that begins with `prefix`, waiting up to
    // `timeout` for it; -1 when none arrived.
    int waitForCommand(const Bytes& prefix, std::chrono::milliseconds timeout,
                       size_t from = 0) const;
    // Waits until `count` connections have been closed by the peer.
    bool waitForClosed(int count, std::chrono::milliseconds timeout) const;

  private:
    struct Connection {
        int id;
        UniqueFd fd;
        Bytes input;
    };
    struct Rule {
        Bytes prefix;
        std::vector<ScriptedEvent> events;
        bool replaceDefault;
    };
    struct Pending {
        SteadyClock::time_point due;
        uint64_t sequence;  // keeps events with the same due time in order
        int connection;
        Bytes event;
        bool operator<(const Pending& o) const {
            return due != o.due ? due < o.due : sequence < o.sequence;
        }
    };

    void serve();
    void acceptOne();
    // Returns false when the connection is finished (peer closed or error).
    bool readFrom(Connection& connection);
    void handleCommand(Connection& connection, Bytes command);
    bool writeEvent(int fd, const Bytes& event);
    void sendDue();
    int pollTimeoutMs() const;
    void wake();

    std::string path_;
    UniqueFd listenFd_;
    UniqueFd wakeFd_;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    bool autoComplete_ = true;
    std::vector<Rule> rules_;
    std::map<int, Connection> connections_;  // open ones, by id
    std::vector<Pending> pending_;           // sorted by due time
    uint64_t nextSequence_ = 0;
    std::vector<ReceivedCommand> commands_;
    int accepted_ = 0;
    int closed_ = 0;
    int protocolErrors_ = 0;
};

// Event builders, without the H4 packet-type byte.
Bytes commandComplete(uint16_t opcode, uint8_t status = 0);
Bytes commandStatus(uint16_t opcode, uint8_t status = 0);
// One LE advertising report; `address` least significant byte first.
Bytes leAdvertisingReport(uint8_t eventType, const Bytes& address, const Bytes& data, int8_t rssi);
// Flags and Complete Local Name AD structures.
Bytes adFlagsAndName(const std::string& name);
// One Inquiry Result record (no RSSI), class of device least significant byte first.
Bytes inquiryResult(const Bytes& address, const Bytes& deviceClass);
Bytes remoteNameComplete(const Bytes& address, const std::string& name);
// The Remote Name Request the tool sends for `address`.
Bytes remoteNameRequest(const Bytes& address);

}  // namespace testsupport
