#include "replay_controller.h"

#include <android/log.h>
#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <cstring>

#include "command_answers.h"
#include "event_fd.h"
#include "hci_codes.h"
#include "host_log.h"
#include "thread_start.h"

namespace orvalinquist {
namespace host {

namespace {

// How long a write waits for a HAL that reads nothing.
constexpr int kSendTimeoutMs = 5000;

}  // namespace

std::unique_ptr<ReplayController> ReplayController::start(ReplayScript script, UniqueFd fd,
                                                          std::string name, std::string* error) {
    std::unique_ptr<FdLink> link = FdLink::create(std::move(fd), Framing::kStream, error);
    if (!link) return nullptr;
    UniqueFd stop = makeEventFd();
    if (!stop.valid()) {
        *error = std::string("eventfd failed: ") + strerror(errno);
        return nullptr;
    }
    std::unique_ptr<ReplayController> controller(
        new ReplayController(std::move(script), std::move(link), std::move(stop), std::move(name)));
    if (const int err = startThread(&controller->thread_, &ReplayController::run, controller.get());
        err != 0) {
        *error = std::string("cannot start the replay thread: ") + strerror(err);
        return nullptr;
    }
    return controller;
}

ReplayController::ReplayController(ReplayScript script, std::unique_ptr<FdLink> link, UniqueFd stop,
                                   std::string name)
    : script_(std::move(script)),
      link_(std::move(link)),
      stop_(std::move(stop)),
      name_(std::move(name)) {}

ReplayController::~ReplayController() {
    signalEventFd(stop_.get());              // every wait of the thread watches it
    if (thread_.joinable()) thread_.join();  // not when it never started
}

void ReplayController::run() {
    std::vector<H4Packet> packets;
    bool ok = true;
    while (ok) {
        const int wait_ms = playDue(&ok);
        if (!ok) break;
        pollfd fds[2] = {{link_->fd(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
        const int ready = poll(fds, 2, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) break;
        if (fds[0].revents == 0) continue;
        packets.clear();
        int err = 0;
        size_t size = 0;
        // The HAL sends whole packets only; anything else, or its hang-up, ends the replay.
        ok = link_->readAvailable(&packets, &err, &size) == FdLink::ReadResult::kOk;
        for (const H4Packet& p : packets) {
            if (ok && p.type == H4Type::kCommand) ok = answer(p.bytes);
        }
    }
}

bool ReplayController::answer(const std::vector<uint8_t>& command) {
    const uint16_t opcode = opcodeOf(command);
    if (!send(script_.status_opcodes.count(opcode) != 0 ? commandStatusEvent(opcode)
                                                        : commandCompleteEvent(opcode))) {
        return false;
    }
    switch (opcode) {
        case kInquiryOpcode:
        case kInquiryCancelOpcode:
            startPlayback(AirKind::kInquiry, opcode == kInquiryOpcode);
            break;
        case kLeSetScanEnableOpcode:
            startPlayback(AirKind::kLeScan, isScanEnableOn(command));
            break;
        case kResetOpcode:
            startPlayback(AirKind::kInquiry, false);
            startPlayback(AirKind::kLeScan, false);
            break;
        case kRemoteNameRequestOpcode: {
            if (command.size() < 9) break;
            DeviceAddress address;
            std::copy(command.data() + 3, command.data() + 9, address.begin());
            auto name = script_.names.find(address);
            std::vector<uint8_t> event = {kRemoteNameRequestComplete, 255,
                                          name != script_.names.end() ? uint8_t{0} : kPageTimeout};
            event.insert(event.end(), address.begin(), address.end());
            if (name != script_.names.end()) {
                event.insert(event.end(), name->second.begin(), name->second.end());
            }
            event.resize(3 + address.size() + kMaxNameSize, 0);
            return send(std::move(event));
        }
    }
    return true;
}

// A start while the kind is already playing changes nothing, as a controller would refuse it.
void ReplayController::startPlayback(AirKind kind, bool on) {
    Playback& p = playback_[static_cast<size_t>(kind)];
    if (on && p.on) return;
    p = {on, Clock::now(), 0};
}

int ReplayController::playDue(bool* ok) {
    int wait_ms = -1;
    for (size_t k = 0; k < kAirKinds; ++k) {
        Playback& p = playback_[k];
        const std::vector<AirEvent>& air = script_.air[k];
        while (p.on && p.next < air.size()) {
            const Clock::time_point due = p.start + air[p.next].offset;
            const Clock::time_point now = Clock::now();
            if (due > now) {
                // Rounded up, so that the wake-up never comes early and spins.
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
                const int ms = static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
                wait_ms = wait_ms < 0 ? ms : std::min(wait_ms, ms);
                break;
            }
            if (!send(air[p.next++].event)) {
                *ok = false;
                return -1;
            }
        }
        if (p.next >= air.size()) p.on = false;
    }
    return wait_ms;
}

bool ReplayController::send(std::vector<uint8_t> event) {
    std::vector<uint8_t> h4 = toH4(H4Type::kEvent, event.data(), event.size());
    int err = 0;
    if (link_->writePacket(h4, stop_.get(), kSendTimeoutMs, &err)) return true;
    if (err == ETIMEDOUT) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                            "HCI transport \"%s\": the HAL took no event for %d ms; replay stopped",
                            name_.c_str(), kSendTimeoutMs);
    }
    return false;  // otherwise the HAL hung up or this controller is stopping
}

}  // namespace host
}  // namespace orvalinquist
