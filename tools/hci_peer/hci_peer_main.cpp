// hci_peer: plays a remote Bluetooth device on a controller reached over H4 (for example
// one of btvirt's emulated controllers), so that scans have something to find.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "h4_link.h"
#include "peer_config.h"

namespace orvalinquist {
namespace peer {
namespace {

constexpr uint16_t kSetEventMask = 0x0c01;
constexpr uint16_t kReset = 0x0c03;
constexpr uint16_t kWriteLocalName = 0x0c13;
constexpr uint16_t kWriteScanEnable = 0x0c1a;
constexpr uint16_t kWriteClassOfDevice = 0x0c24;
constexpr uint16_t kReadBdAddr = 0x1009;
constexpr uint16_t kLeSetAdvertisingParameters = 0x2006;
constexpr uint16_t kLeSetAdvertisingData = 0x2008;
constexpr uint16_t kLeSetScanResponseData = 0x2009;
constexpr uint16_t kLeSetAdvertisingEnable = 0x200a;
constexpr uint16_t kLeSetScanParameters = 0x200b;
constexpr uint16_t kLeSetScanEnable = 0x200c;
constexpr int kTargetSearchMs = 10000;

struct Target {
    uint8_t type = 0;
    uint8_t address[6] = {};
};

// Listens passively for an advertisement carrying `name` and returns its sender.
bool findTarget(H4Link& link, const std::string& name, Target* target, std::string* error) {
    // Default mask plus LE Meta, which carries the advertising reports.
    const std::vector<uint8_t> mask = {0xff, 0xff, 0xff, 0xff, 0xff, 0x1f, 0x00, 0x20};
    if (!link.command(kSetEventMask, mask, nullptr, error) ||
        !link.command(kLeSetScanParameters, {0x00, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00}, nullptr,
                      error) ||
        !link.command(kLeSetScanEnable, {0x01, 0x00}, nullptr, error)) {
        return false;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kTargetSearchMs);
    std::vector<uint8_t> event;
    bool found = false;
    while (!found) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            *error = "no advertisement named " + name;
            return false;
        }
        if (!link.readEvent(&event, static_cast<int>(left.count()), error)) return false;
        if (event.size() < 5 || event[0] != 0x3e || event[2] != 0x02) continue;
        // Reports: type, address type, address, data length, data, RSSI.
        size_t pos = 4;
        for (uint8_t i = 0; i < event[3] && !found && pos + 9 <= event.size(); ++i) {
            const size_t dataLen = event[pos + 8];
            if (pos + 9 + dataLen > event.size()) break;
            if (completeNameOf(&event[pos + 9], dataLen) == name) {
                target->type = event[pos + 1];
                std::copy(&event[pos + 2], &event[pos + 8], target->address);
                found = true;
            }
            pos += 10 + dataLen;
        }
    }
    return link.command(kLeSetScanEnable, {0x00, 0x00}, nullptr, error);
}

bool setUp(H4Link& link, const PeerConfig& config, std::string* address, std::string* error) {
    if (!link.command(kReset, {}, nullptr, error)) return false;

    std::vector<uint8_t> returned;
    if (!link.command(kReadBdAddr, {}, &returned, error)) return false;
    if (returned.size() < 7) {
        *error = "short Read_BD_ADDR answer";
        return false;
    }
    char text[18];
    snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", returned[6], returned[5],
             returned[4], returned[3], returned[2], returned[1]);
    *address = text;

    std::vector<uint8_t> name(config.name.begin(), config.name.end());
    name.resize(248, 0);
    if (!link.command(kWriteLocalName, name, nullptr, error)) return false;

    if (config.deviceClass != 0) {
        const uint32_t c = config.deviceClass;
        const std::vector<uint8_t> cod = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                                          static_cast<uint8_t>(c >> 16)};
        if (!link.command(kWriteClassOfDevice, cod, nullptr, error)) return false;
    }

    // Classic scans first: a scanner that hears our advertising may page us at once for
    // our name.
    const uint8_t scan =
        static_cast<uint8_t>((config.inquiryScan ? 0x01 : 0) | (config.pageScan ? 0x02 : 0));
    if (!link.command(kWriteScanEnable, {scan}, nullptr, error)) return false;

    if (config.le == LeMode::kDirected) {
        Target target;
        if (!findTarget(link, config.directTo, &target, error) ||
            !link.command(kLeSetAdvertisingParameters,
                          buildAdvertisingParameters(config.le, target.type, target.address),
                          nullptr, error) ||
            !link.command(kLeSetAdvertisingEnable, {0x01}, nullptr, error)) {
            return false;
        }
    } else if (config.le != LeMode::kOff) {
        std::vector<uint8_t> data;
        if (!buildAdvertisingData(config, &data, error)) return false;
        if (!link.command(kLeSetAdvertisingParameters, buildAdvertisingParameters(config.le),
                          nullptr, error) ||
            !link.command(kLeSetAdvertisingData, data, nullptr, error) ||
            !link.command(kLeSetScanResponseData, std::vector<uint8_t>(32, 0), nullptr, error) ||
            !link.command(kLeSetAdvertisingEnable, {0x01}, nullptr, error)) {
            return false;
        }
    }

    return true;
}

// Keeps the link (and so the emulated controller) alive, draining events, until a signal.
int stayUp(H4Link& link, int signalFd) {
    std::vector<uint8_t> event;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {link.fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            perror("hci_peer: poll");
            return 1;
        }
        if (fds[0].revents & POLLIN) return 0;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            std::string error;
            if (!link.readEvent(&event, 1000, &error)) {
                fprintf(stderr, "hci_peer: %s\n", error.c_str());
                return 1;
            }
        }
    }
}

int run(int argc, char** argv) {
    PeerConfig config;
    std::string error;
    if (!parsePeerArgs(argc, argv, &config, &error)) {
        fprintf(stderr, "hci_peer: %s\n%s", error.c_str(), peerUsage());
        return 2;
    }
    if (config.help) {
        fputs(peerUsage(), stdout);
        return 0;
    }
    // Signals are taken from a descriptor so that shutdown is an ordinary return.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        perror("hci_peer: sigprocmask");
        return 1;
    }
    host::UniqueFd signalFd(signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signalFd.valid()) {
        perror("hci_peer: signalfd");
        return 1;
    }

    H4Link link;
    std::string address;
    if (!link.open(config.transport, &error) || !setUp(link, config, &address, &error)) {
        fprintf(stderr, "hci_peer: %s\n", error.c_str());
        return 1;
    }
    printf("ready %s\n", address.c_str());
    fflush(stdout);
    return stayUp(link, signalFd.get());
}

}  // namespace
}  // namespace peer
}  // namespace orvalinquist

int main(int argc, char** argv) {
    return orvalinquist::peer::run(argc, argv);
}
