#include "h4_controller.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_answers.h"

namespace testsupport {

using orvalinquist::host::H4Packet;
using orvalinquist::host::H4Type;
using std::chrono::milliseconds;

namespace {

bool startsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

H4Controller::H4Controller(std::string socketPath) : path_(std::move(socketPath)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path)) return;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    ::unlink(path_.c_str());
    listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listenFd_.valid() ||
        ::bind(listenFd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_.get(), 8) != 0) {
        std::perror("h4_controller: socket");
        return;
    }
    thread_ = std::thread(&H4Controller::serve, this);
}

H4Controller::~H4Controller() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    ::unlink(path_.c_str());
}

void H4Controller::onCommand(Bytes prefix, std::vector<ScriptedEvent> events) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.emplace_back(std::move(prefix), std::move(events));
}

void H4Controller::answerNameRequest(const Bytes& address, const std::string& name) {
    Bytes complete = {0x07, 0xFF, 0x00};
    complete.insert(complete.end(), address.begin(), address.end());
    complete.insert(complete.end(), name.begin(), name.end());
    complete.resize(2 + 0xFF, 0x00);
    Bytes request = {0x19, 0x04, 0x0A};  // Remote Name Request for this address
    request.insert(request.end(), address.begin(), address.end());
    onCommand(request, {{milliseconds(300), complete}});
}

int H4Controller::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::vector<ReceivedCommand> H4Controller::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int H4Controller::waitForCommand(const Bytes& prefix, milliseconds timeout, size_t from) const {
    std::unique_lock<std::mutex> lock(mutex_);
    int found = -1;
    changed_.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < commands_.size() && found < 0; ++i) {
            if (startsWith(commands_[i].bytes, prefix)) found = static_cast<int>(i);
        }
        return found >= 0;
    });
    return found;
}

void H4Controller::serve() {
    while (!stopping_) {
        int timeout = 50;  // also how soon the loop sees stopping_
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sendDue();
            if (!pending_.empty()) {
                auto wait = std::chrono::duration_cast<milliseconds>(pending_.front().first -
                                                                     SteadyClock::now());
                timeout = static_cast<int>(std::clamp<int64_t>(wait.count() + 1, 0, timeout));
            }
        }
        pollfd fd = {connection_.valid() ? connection_.get() : listenFd_.get(), POLLIN, 0};
        if (::poll(&fd, 1, timeout) <= 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!connection_.valid()) {
            connection_.reset(::accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            // A peer that stops reading gets a grace period instead of hanging the controller.
            timeval sendTimeout{1, 0};
            ::setsockopt(connection_.get(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof(timeval));
            connections_ += connection_.valid() ? 1 : 0;
            reassembler_ = {};
        } else if (!readCommands()) {
            hangUp();
        }
        changed_.notify_all();
    }
}

bool H4Controller::readCommands() {
    uint8_t buffer[4096];
    ssize_t n = ::recv(connection_.get(), buffer, sizeof(buffer), 0);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    std::vector<H4Packet> packets;
    // After a byte that is no packet type nothing can be framed any more: start afresh.
    if (!reassembler_.feed(buffer, static_cast<size_t>(n), &packets)) reassembler_ = {};
    for (H4Packet& packet : packets) {
        if (packet.type == H4Type::kCommand) handleCommand(std::move(packet.bytes));
    }
    return true;
}

void H4Controller::handleCommand(Bytes command) {
    const auto now = SteadyClock::now();
    // The answer is due at once, ahead of everything scripted: Command Status for the commands
    // that a controller carries on with (Inquiry, Remote Name Request), else Command Complete.
    const bool carriesOn = command[1] == 0x04 && (command[0] == 0x01 || command[0] == 0x19);
    const uint16_t opcode = orvalinquist::host::opcodeOf(command);
    pending_.emplace(pending_.begin(), now,
                     carriesOn ? orvalinquist::host::commandStatusEvent(opcode)
                               : orvalinquist::host::commandCompleteEvent(opcode));
    for (const auto& [prefix, events] : rules_) {
        if (!startsWith(command, prefix)) continue;
        for (const ScriptedEvent& e : events) pending_.emplace_back(now + e.delay, e.event);
    }
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    commands_.push_back(ReceivedCommand{std::move(command), now});
    sendDue();
}

void H4Controller::sendDue() {
    auto due = pending_.begin();
    for (; due != pending_.end() && due->first <= SteadyClock::now(); ++due) {
        if (due->second.empty()) return hangUp();
        Bytes packet =
            orvalinquist::host::toH4(H4Type::kEvent, due->second.data(), due->second.size());
        ::send(connection_.get(), packet.data(), packet.size(), MSG_NOSIGNAL);
    }
    pending_.erase(pending_.begin(), due);
}

void H4Controller::hangUp() {
    connection_.reset();
    pending_.clear();
}

Bytes leAdvertisingReport(uint8_t eventType, const Bytes& address, const Bytes& data, int8_t rssi,
                          uint8_t addressType) {
    Bytes event = {0x3E, 0, 0x02, 0x01, eventType, addressType};
    event.insert(event.end(), address.begin(), address.end());
    event.push_back(static_cast<uint8_t>(data.size()));
    event.insert(event.end(), data.begin(), data.end());
    event.push_back(static_cast<uint8_t>(rssi));
    event[1] = static_cast<uint8_t>(event.size() - 2);
    return event;
}

}  // namespace testsupport
