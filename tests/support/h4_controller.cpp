#include "h4_controller.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace testsupport {

namespace {

constexpr uint8_t kH4Command = 0x01;
constexpr uint8_t kH4Event = 0x04;
constexpr size_t kCommandHeader = 4;  // type byte, opcode, parameter length

bool startsWith(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

H4Controller::H4Controller(std::string socketPath) : path_(std::move(socketPath)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path)) {
        std::fprintf(stderr, "h4_controller: socket path too long: %s\n", path_.c_str());
        return;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) {
        std::perror("h4_controller: unlink");
        return;
    }
    listenFd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    wakeFd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listenFd_.valid() || !wakeFd_.valid()) {
        std::perror("h4_controller: socket/eventfd");
        return;
    }
    if (::bind(listenFd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFd_.get(), 8) != 0) {
        std::perror("h4_controller: bind/listen");
        return;
    }
    thread_ = std::thread(&H4Controller::serve, this);
}

H4Controller::~H4Controller() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake();
        thread_.join();
    }
    if (listenFd_.valid()) ::unlink(path_.c_str());
}

void H4Controller::wake() {
    uint64_t one = 1;
    if (::write(wakeFd_.get(), &one, sizeof(one)) != sizeof(one) && errno != EAGAIN) {
        std::perror("h4_controller: eventfd write");
    }
}

void H4Controller::setAutoComplete(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    autoComplete_ = on;
}

void H4Controller::onCommand(Bytes prefix, std::vector<ScriptedEvent> events, bool replaceDefault) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(Rule{std::move(prefix), std::move(events), replaceDefault});
}

bool H4Controller::pushEvent(const Bytes& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (connections_.empty()) return false;
    return writeEvent(connections_.rbegin()->second.fd.get(), event);
}

std::vector<ReceivedCommand> H4Controller::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int H4Controller::connectionsAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

int H4Controller::connectionsClosed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

int H4Controller::protocolErrors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return protocolErrors_;
}

int H4Controller::waitForCommand(const Bytes& prefix, std::chrono::milliseconds timeout,
                                 size_t from) const {
    std::unique_lock<std::mutex> lock(mutex_);
    int found = -1;
    changed_.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < commands_.size(); ++i) {
            if (startsWith(commands_[i].bytes, prefix)) {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    });
    return found;
}

bool H4Controller::waitForClosed(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return closed_ >= count; });
}

// Called with mutex_ held. The socket is non-blocking; a peer that stops reading gets a
// bounded grace period instead of hanging the controller.
bool H4Controller::writeEvent(int fd, const Bytes& event) {
    Bytes packet;
    packet.reserve(event.size() + 1);
    packet.push_back(kH4Event);
    packet.insert(packet.end(), event.begin(), event.end());
    size_t done = 0;
    while (done < packet.size()) {
        ssize_t n = ::send(fd, packet.data() + done, packet.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) > 0) continue;
        }
        return false;
    }
    return true;
}

int H4Controller::pollTimeoutMs() const {
    if (pending_.empty()) return -1;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(pending_.front().due -
                                                                      SteadyClock::now());
    return static_cast<int>(std::max<int64_t>(0, wait.count() + 1));
}

void H4Controller::sendDue() {
    auto now = SteadyClock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
        Pending next = std::move(pending_.front());
        pending_.erase(pending_.begin());
        auto it = connections_.find(next.connection);
        if (it != connections_.end()) writeEvent(it->second.fd.get(), next.event);
    }
}

void H4Controller::serve() {
    std::vector<pollfd> fds;
    std::vector<int> ids;
    for (;;) {
        int timeout;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
            sendDue();
            timeout = pollTimeoutMs();
            fds.assign({{wakeFd_.get(), POLLIN, 0}, {listenFd_.get(), POLLIN, 0}});
            ids.assign(2, -1);
            for (auto& [id, connection] : connections_) {
                fds.push_back({connection.fd.get(), POLLIN, 0});
                ids.push_back(id);
            }
        }
        int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::perror("h4_controller: poll");
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            if (::read(wakeFd_.get(), &count, sizeof(count)) < 0 && errno != EAGAIN) {
                std::perror("h4_controller: eventfd read");
            }
        }
        if (fds[1].revents & POLLIN) acceptOne();
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            auto it = connections_.find(ids[i]);
            if (it == connections_.end()) continue;
            if (!readFrom(it->second)) {
                connections_.erase(it);
                ++closed_;
                changed_.notify_all();
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.clear();
}

void H4Controller::acceptOne() {
    UniqueFd fd(::accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd.valid()) {
        if (errno != EAGAIN && errno != EINTR) std::perror("h4_controller: accept");
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    int id = accepted_++;
    connections_.emplace(id, Connection{id, std::move(fd), {}});
    changed_.notify_all();
}

// Called with mutex_ held.
bool H4Controller::readFrom(Connection& connection) {
    uint8_t buffer[4096];
    ssize_t n = ::recv(connection.fd.get(), buffer, sizeof(buffer), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;
    connection.input.insert(connection.input.end(), buffer, buffer + n);
    Bytes& in = connection.input;
    while (!in.empty()) {
        if (in[0] != kH4Command) {
            // Nothing else is expected from the tool; drop what cannot be framed.
            ++protocolErrors_;
            in.clear();
            break;
        }
        if (in.size() < kCommandHeader) break;
        size_t total = kCommandHeader + in[3];
        if (in.size() < total) break;
        Bytes command(in.begin() + 1, in.begin() + total);
        in.erase(in.begin(), in.begin() + total);
        handleCommand(connection, std::move(command));
    }
    return true;
}

// Called with mutex_ held.
void H4Controller::handleCommand(Connection& connection, Bytes command) {
    auto now = SteadyClock::now();
    uint16_t opcode = static_cast<uint16_t>(command[0] | (command[1] << 8));
    bool answer = autoComplete_;
    for (const Rule& rule : rules_) {
        if (!startsWith(command, rule.prefix)) continue;
        if (rule.replaceDefault) answer = false;
        for (const ScriptedEvent& scripted : rule.events) {
            pending_.push_back(
                Pending{now + scripted.delay, nextSequence_++, connection.id, scripted.event});
        }
    }
    std::sort(pending_.begin(), pending_.end());
    commands_.push_back(ReceivedCommand{std::move(command), now, connection.id});
    changed_.notify_all();
    if (answer) writeEvent(connection.fd.get(), commandComplete(opcode));
    sendDue();
}

Bytes commandComplete(uint16_t opcode, uint8_t status) {
    return {0x0E,  0x04, 0x01, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8),
            status};
}

Bytes commandStatus(uint16_t opcode, uint8_t status) {
    return {
        0x0F, 0x04, status, 0x01, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8)};
}

Bytes leAdvertisingReport(uint8_t eventType, const Bytes& address, const Bytes& data, int8_t rssi) {
    Bytes event = {0x3E, 0, 0x02, 0x01, eventType, 0x00};
    event.insert(event.end(), address.begin(), address.end());
    event.push_back(static_cast<uint8_t>(data.size()));
    event.insert(event.end(), data.begin(), data.end());
    event.push_back(static_cast<uint8_t>(rssi));
    event[1] = static_cast<uint8_t>(event.size() - 2);
    return event;
}

Bytes adFlagsAndName(const std::string& name) {
    Bytes data = {0x02, 0x01, 0x06, static_cast<uint8_t>(name.size() + 1), 0x09};
    data.insert(data.end(), name.begin(), name.end());
    return data;
}

Bytes inquiryResult(const Bytes& address, const Bytes& deviceClass) {
    // Num_Responses, address, page scan repetition mode, two reserved, class, clock offset.
    Bytes event = {0x02, 0x0F, 0x01};
    event.insert(event.end(), address.begin(), address.end());
    event.insert(event.end(), {0x01, 0x00, 0x00});
    event.insert(event.end(), deviceClass.begin(), deviceClass.end());
    event.insert(event.end(), {0x00, 0x00});
    return event;
}

Bytes remoteNameComplete(const Bytes& address, const std::string& name) {
    Bytes event = {0x07, 0xFF, 0x00};
    event.insert(event.end(), address.begin(), address.end());
    event.insert(event.end(), name.begin(), name.end());
    event.resize(2 + 0xFF, 0x00);
    return event;
}

Bytes remoteNameRequest(const Bytes& address) {
    Bytes command = {0x19, 0x04, 0x0A};
    command.insert(command.end(), address.begin(), address.end());
    command.insert(command.end(), {0x01, 0x00, 0x00, 0x00});
    return command;
}

}  // namespace testsupport
