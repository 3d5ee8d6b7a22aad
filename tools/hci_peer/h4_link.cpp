#include "h4_link.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "hci_defs.h"
#include "transports.h"
#include "transport_name.h"

namespace orvalinquist {
namespace peer {
namespace {

std::string errnoText(const char* what) {
    return std::string(what) + ": " + strerror(errno);
}

}  // namespace

bool H4Link::open(const std::string& transport, std::string* error) {
    const std::optional<host::TransportName> spec = host::parseTransport(transport.c_str(), error);
    if (!spec) return false;
    if (spec->kind == host::TransportName::Kind::kUnix) {
        fd_ = host::connectUnixSocket(spec->path, error);
    } else if (spec->kind == host::TransportName::Kind::kTcp) {
        fd_ = host::connectTcpSocket(spec->host, spec->port, error);
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

bool H4Link::readEvent(std::vector<uint8_t>* event, int timeoutMs, std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (events_.empty()) {
        if (reassembler_.failed()) {
            *error = "unknown H4 packet type " + std::to_string(reassembler_.badTypeByte());
            return false;
        }
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
        uint8_t chunk[512];
        const ssize_t n = ::read(fd_.get(), chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errnoText("read");
            return false;
        }
        if (n == 0) {
            *error = "controller closed the link";
            return false;
        }
        std::vector<host::H4Packet> packets;
        reassembler_.feed(chunk, static_cast<size_t>(n), &packets);  // failure: checked above
        // Data packets are of no interest to a peer that only configures its controller.
        for (host::H4Packet& packet : packets) {
            if (packet.type == host::H4Type::kEvent) events_.push_back(std::move(packet.bytes));
        }
    }
    *event = std::move(events_.front());
    events_.pop_front();
    return true;
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
