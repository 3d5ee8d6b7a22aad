#include "h4_link.h"

#include <errno.h>
#include <poll.h>

#include <cstdio>
#include <cstring>

#include "deadline.h"
#include "hci_codes.h"
#include "host_environment.h"
#include "transport_scheme.h"

namespace orvalinquist {
namespace peer {
namespace {

// How long a command may wait for room in the link.
constexpr int kSendTimeoutMs = 2000;

std::string errnoText(const char* what, int err) {
    return std::string(what) + ": " + strerror(err);
}

}  // namespace

bool H4Link::open(const std::string& transport, std::string* error) {
    // Parsed as the host parses BT_HCI_TRANSPORT, and worded so in its errors.
    const std::unique_ptr<host::Transport> parsed =
        host::parseTransport(transport.c_str(), host::kTransportEnvVar, error);
    if (!parsed) return false;
    if (!parsed->reachesSharedController()) {
        *error = "unsupported transport (use unix:PATH or tcp:HOST:PORT): " + transport;
        return false;
    }
    link_ = parsed->open(transport, error);
    return link_ != nullptr;
}

bool H4Link::sendCommand(uint16_t opcode, const std::vector<uint8_t>& params, std::string* error) {
    if (params.size() > 255) {
        *error = "command parameters too long";
        return false;
    }
    std::vector<uint8_t> command = {static_cast<uint8_t>(opcode & 0xff),
                                    static_cast<uint8_t>(opcode >> 8),
                                    static_cast<uint8_t>(params.size())};
    command.insert(command.end(), params.begin(), params.end());
    int err = 0;
    if (!link_->writePacket(host::toH4(host::H4Type::kCommand, command.data(), command.size()), -1,
                            kSendTimeoutMs, &err)) {
        *error = errnoText("send", err);
        return false;
    }
    return true;
}

bool H4Link::readEvent(std::vector<uint8_t>* event, int timeoutMs, std::string* error) {
    const host::SteadyClock::time_point deadline = host::deadlineIn(timeoutMs);
    while (events_.empty()) {
        if (!read_failure_.empty()) {
            *error = read_failure_;
            return false;
        }
        pollfd pfd{link_->fd(), POLLIN, 0};
        const int ready = poll(&pfd, 1, host::msUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            *error = errnoText("poll", errno);
            return false;
        }
        if (ready == 0) {
            *error = "timed out waiting for the controller";
            return false;
        }
        std::vector<host::H4Packet> packets;
        int err = 0;
        size_t size = 0;
        // The events before a fault are still returned; the fault comes after them, above.
        read_failure_ = host::describeReadFailure(
            *link_, link_->readAvailable(&packets, &err, &size), err, size);
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
    const host::SteadyClock::time_point deadline = host::deadlineIn(timeoutMs);
    std::vector<uint8_t> event;
    for (;;) {
        const int left = host::msUntil(deadline);
        if (left == 0 || !readEvent(&event, left, error)) {
            if (left == 0) *error = "timed out waiting for the controller";
            char prefix[32];
            snprintf(prefix, sizeof(prefix), "opcode 0x%04x: ", opcode);
            *error = prefix + *error;
            return false;
        }
        uint16_t answered = 0;
        uint8_t status = 0;
        if (event[0] == host::kCommandComplete && event.size() >= 6) {
            answered = static_cast<uint16_t>(event[3] | (event[4] << 8));
            status = event[5];
        } else if (event[0] == host::kCommandStatus && event.size() >= 6) {
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
            if (event[0] == host::kCommandComplete) {
                returned->assign(event.begin() + 5, event.end());
            }
        }
        return true;
    }
}

}  // namespace peer
}  // namespace orvalinquist
