// hci_peer: plays a remote Bluetooth device on a controller reached over H4 (for example
// one of btvirt's emulated controllers), so that scans have something to find.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "advertising.h"
#include "deadline.h"
#include "h4_link.h"
#include "hci_codes.h"
#include "peer_config.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace peer {
namespace {

using Clock = host::SteadyClock;
using host::msUntil;
using std::chrono::milliseconds;

constexpr milliseconds kTargetSearch{10000};

// Listens passively for an advertisement carrying `name` and returns its sender.
bool findTarget(H4Link& link, const std::string& name, Advertiser* target, std::string* error) {
    // Default mask plus LE Meta, which carries the advertising reports.
    const std::vector<uint8_t> mask = {0xff, 0xff, 0xff, 0xff, 0xff, 0x1f, 0x00, 0x20};
    if (!link.command(host::kSetEventMaskOpcode, mask, nullptr, error) ||
        !link.command(host::kLeSetScanParametersOpcode, {0x00, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00},
                      nullptr, error) ||
        !link.command(host::kLeSetScanEnableOpcode, {0x01, 0x00}, nullptr, error)) {
        return false;
    }
    const auto deadline = Clock::now() + kTargetSearch;
    std::vector<uint8_t> event;
    do {
        if (Clock::now() >= deadline) {
            *error = "no advertisement named " + name;
            return false;
        }
        if (!link.readEvent(&event, msUntil(deadline), error)) return false;
    } while (!findAdvertiser(event, name, target));
    return link.command(host::kLeSetScanEnableOpcode, {0x00, 0x00}, nullptr, error);
}

bool startAdvertising(H4Link& link, const PeerConfig& config, std::string* error) {
    if (config.le == LeMode::kDirected) {
        Advertiser target;
        return findTarget(link, config.directTo, &target, error) &&
               link.command(host::kLeSetAdvertisingParametersOpcode,
                            buildAdvertisingParameters(config.le, target), nullptr, error) &&
               link.command(host::kLeSetAdvertisingEnableOpcode, {0x01}, nullptr, error);
    }
    std::vector<uint8_t> data, response;
    return buildAdvertisingData(config, &data, error) &&
           buildScanResponseData(config, &response, error) &&
           link.command(host::kLeSetAdvertisingParametersOpcode,
                        buildAdvertisingParameters(config.le), nullptr, error) &&
           link.command(host::kLeSetAdvertisingDataOpcode, data, nullptr, error) &&
           link.command(host::kLeSetScanResponseDataOpcode, response, nullptr, error) &&
           link.command(host::kLeSetAdvertisingEnableOpcode, {0x01}, nullptr, error);
}

bool setUp(H4Link& link, const PeerConfig& config, std::string* address, std::string* error) {
    std::vector<uint8_t> returned;
    if (!link.command(host::kResetOpcode, {}, nullptr, error) ||
        !link.command(host::kReadBdAddrOpcode, {}, &returned, error)) {
        return false;
    }
    if (returned.size() < 7) {
        *error = "short Read_BD_ADDR answer";
        return false;
    }
    char text[18];
    snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", returned[6], returned[5],
             returned[4], returned[3], returned[2], returned[1]);
    *address = text;

    std::vector<uint8_t> name(config.name.begin(), config.name.end());
    name.resize(host::kMaxNameSize, 0);
    if (!link.command(host::kWriteLocalNameOpcode, name, nullptr, error)) return false;

    if (config.deviceClass != 0) {
        const uint32_t c = config.deviceClass;
        const std::vector<uint8_t> cod = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                                          static_cast<uint8_t>(c >> 16)};
        if (!link.command(host::kWriteClassOfDeviceOpcode, cod, nullptr, error)) return false;
    }

    // Classic scans first: a scanner that hears our advertising may page us at once for
    // our name.
    const uint8_t scan =
        static_cast<uint8_t>((config.inquiryScan ? 0x01 : 0) | (config.pageScan ? 0x02 : 0));
    if (!link.command(host::kWriteScanEnableOpcode, {scan}, nullptr, error)) return false;
    return config.le == LeMode::kOff || startAdvertising(link, config, error);
}

// Keeps the link (and so the emulated controller) alive, draining events, until a signal.
// Advertising is switched off and on again every interval plus a random 0-10 ms (a real
// advertiser's advDelay): an emulated controller reports an advertiser to its scanners only
// when it starts, while a real one is heard again and again.
int stayUp(H4Link& link, const PeerConfig& config, int signalFd) {
    const bool repeat = config.le != LeMode::kOff && config.intervalMs > 0;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> advDelay(0, 10);
    auto nextRestart = Clock::now();
    auto scheduleRestart = [&] {
        nextRestart = Clock::now() + milliseconds(config.intervalMs + advDelay(random));
    };
    scheduleRestart();
    std::vector<uint8_t> event;
    std::string error;
    for (;;) {
        pollfd fds[2] = {{signalFd, POLLIN, 0}, {link.fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, repeat ? msUntil(nextRestart) : -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            perror("hci_peer: poll");
            return 1;
        }
        if (fds[0].revents & POLLIN) return 0;
        bool ok = true;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
            ok = link.readEvent(&event, 1000, &error);
        if (ok && repeat && Clock::now() >= nextRestart) {
            ok = link.command(host::kLeSetAdvertisingEnableOpcode, {0x00}, nullptr, &error) &&
                 link.command(host::kLeSetAdvertisingEnableOpcode, {0x01}, nullptr, &error);
            scheduleRestart();
        }
        if (!ok) {
            fprintf(stderr, "hci_peer: %s\n", error.c_str());
            return 1;
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
    return stayUp(link, config, signalFd.get());
}

}  // namespace
}  // namespace peer
}  // namespace orvalinquist

int main(int argc, char** argv) {
    return orvalinquist::peer::run(argc, argv);
}
