#include "h4_link.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvalinquist {
namespace peer {
namespace {

constexpr uint8_t kCommandPacket = 0x01;
constexpr uint8_t kAclPacket = 0x02;
constexpr uint8_t kScoPacket = 0x03;
constexpr uint8_t kEventPacket = 0x04;
constexpr uint8_t kIsoPacket = 0x05;
constexpr uint8_t kCommandComplete = 0x0e;
constexpr uint8_t kCommandStatus = 0x0f;

std::string errnoText(const char* what) {
    return std::string(what) + ": " + strerror(errno);
}

UniqueFd connectUnix(const std::string& path, std::string* error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof(addr.sun_path)) {
        *error = "socket path too long: " + path;
        return UniqueFd();
    }
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = errnoText("socket");
        return UniqueFd();
    }
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        *error = errnoText(("connect " + path).c_str());
        return UniqueFd();
    }
    return fd;
}

UniqueFd connectTcp(const std::string& hostPort, std::string* error) {
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) {
        *error = "expected tcp:HOST:PORT";
        return UniqueFd();
    }
    const std::string host = hostPort.substr(0, colon);
    const std::string port = hostPort.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        *error = std::string("getaddrinfo: ") + gai_strerror(rc);
        return UniqueFd();
    }
    UniqueFd result;
    for (addrinfo* ai = list; ai != nullptr && !result.valid(); ai = ai->ai_next) {
        UniqueFd fd(socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        if (fd.valid() && connect(fd.get(), ai->ai_addr, ai->ai_addrlen) == 0) {
            result = std::move(fd);
        } else {
            *error = errnoText(("connect " + hostPort).c_str());
        }
    }
    freeaddrinfo(list);
    return result;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool H4Link::open(const std::string& transport, std::string* error) {
    if (transport.rfind("unix:", 0) == 0) {
        fd_ = connectUnix(transport.substr(5), error);
    } else if (transport.rfind("tcp:", 0) == 0) {
        fd_ = connectTcp(transport.substr(4), error);
    } else {
        *error = "unsupported transport (use unix:PATH or tcp:HOST:PORT): " + transport;
        return false;
    }
    return fd_.valid();
}

bool H4Link::sendCommand(uint16_t opcode, const std::vector<uint8_t>& params, std::string* error) {
    if (params.size() > 255) {
        *error = "command parameters too long";
        return false;
    }
    std::vector<uint8_t> packet = {kCommandPacket, static_cast<uint8_t>(opcode & 0xff),
                                   static_cast<uint8_t>(opcode >> 8),
                                   static_cast<uint8_t>(params.size())};
    packet.insert(packet.end(), params.begin(), params.end());
    size_t done = 0;
    while (done < packet.size()) {
        const ssize_t n =
            ::send(fd_.get(), packet.data() + done, packet.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = errnoText("send");
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool H4Link::readExact(uint8_t* buffer, size_t len, int timeoutMs, std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < len) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd_.get(), POLLIN, 0};
        const int ready = poll(&pfd, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            *error = errnoText("poll");
            return false;
        }
        if (ready == 0) {
            *error = "timed out waiting for the controller";
            return false;
        }
        const ssize_t n = ::read(fd_.get(), buffer + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errnoText("read");
            return false;
        }
        if (n == 0) {
            *error = "controller closed the link";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool H4Link::readEvent(std::vector<uint8_t>* event, int timeoutMs, std::string* error) {
    for (;;) {
        uint8_t type = 0;
        if (!readExact(&type, 1, timeoutMs, error)) return false;
        size_t headerLen = 0;
        switch (type) {
            case kEventPacket:
                headerLen = 2;
                break;
            case kAclPacket:
                headerLen = 4;
                break;
            case kScoPacket:
                headerLen = 3;
                break;
            case kIsoPacket:
                headerLen = 4;
                break;
            default:
                *error = "unknown H4 packet type " + std::to_string(type);
                return false;
        }
        uint8_t header[4];
        if (!readExact(header, headerLen, timeoutMs, error)) return false;
        size_t payload = 0;
        if (type == kEventPacket) payload = header[1];
        if (type == kAclPacket) payload = header[2] | (header[3] << 8);
        if (type == kScoPacket) payload = header[2];
        if (type == kIsoPacket) payload = header[2] | ((header[3] & 0x3f) << 8);
        std::vector<uint8_t> body(payload);
        if (payload > 0 && !readExact(body.data(), payload, timeoutMs, error)) return false;
        if (type != kEventPacket) continue;
        event->assign(header, header + 2);
        event->insert(event->end(), body.begin(), body.end());
        return true;
    }
}

bool H4Link::command(uint16_t opcode, const std::vector<uint8_t>& params,
                     std::vector<uint8_t>* returned, std::string* error, int timeoutMs) {
    if (!sendCommand(opcode, params, error)) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> event;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readEvent(&event, static_cast<int>(left.count()), error)) {
            if (left.count() <= 0) *error = "timed out waiting for the controller";
            char prefix[32];
            snprintf(prefix, sizeof(prefix), "opcode 0x%04x: ", opcode);
            *error = prefix + *error;
            return false;
        }
        uint16_t answered = 0;
        uint8_t status = 0;
        if (event[0] == kCommandComplete && event.size() >= 6) {
            answered = static_cast<uint16_t>(event[3] | (event[4] << 8));
            status = event[5];
        } else if (event[0] == kCommandStatus && event.size() >= 6) {
            answered = static_cast<uint16_t>(event[4] | (event[5] << 8));
            status = event[2];
        } else {
            continue;  // an unrelated event, e.g. a report from the air
        }
        if (answered != opcode) continue;
        if (status != 0) {
            char text[64];
            snprintf(text, sizeof(text), "opcode 0x%04x failed with status 0x%02x", opcode, status);
            *error = text;
            return false;
        }
        if (returned != nullptr) {
            returned->clear();
            if (event[0] == kCommandComplete) {
                returned->assign(event.begin() + 5, event.end());
            }
        }
        return true;
    }
}

}  // namespace peer
}  // namespace orvalinquist
