#include "host_hal.h"

#include <android/log.h>
#include <errno.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "deadline.h"
#include "event_fd.h"
#include "host_log.h"
#include "thread_start.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Void;
using HidlStatus = ::android::hardware::Status;
using HalStatus = ::android::hardware::bluetooth::V1_0::Status;

namespace {

// How long a sender waits for room in the link.
constexpr int kSendTimeoutMs = 2000;

HidlStatus failure(int32_t code) {
    return HidlStatus::fromExceptionCode(code);
}

// True when `h4` holds exactly one whole packet, so a stream peer stays in step.
bool isWholePacket(const std::vector<uint8_t>& h4) {
    H4Reassembler check;
    std::vector<H4Packet> packets;
    return check.feed(h4.data(), h4.size(), &packets) && packets.size() == 1 && check.idle();
}

}  // namespace

struct HalCore {
    std::string name;
    std::string silence_hint;
    std::unique_ptr<Link> link;
    UniqueFd wake;  // readable from close on
    UniqueFd done;  // readable once the reader has ended
    std::atomic<bool> closing{false};
    std::atomic<bool> broken{false};
    std::mutex send_mutex;
    // Readable once a command has waited kSilenceWarnMs with nothing received since.
    UniqueFd silence;
    std::mutex silence_mutex;  // guards awaiting_answer and the arming of silence
    bool awaiting_answer = false;

    // Before each command goes out, so that an answer faster than the write's return counts.
    void commandSent() {
        std::lock_guard<std::mutex> lock(silence_mutex);
        if (awaiting_answer) return;
        awaiting_answer = true;
        armSilence(HostHal::kSilenceWarnMs);
    }
    void packetReceived() {
        std::lock_guard<std::mutex> lock(silence_mutex);
        awaiting_answer = false;
        armSilence(0);
    }
    // One line for each silent stretch: later commands do not arm the timer again, only a
    // received packet ends the stretch.
    void warnIfSilent() {
        uint64_t expirations;
        if (read(silence.get(), &expirations, sizeof(expirations)) < 0) return;
        std::lock_guard<std::mutex> lock(silence_mutex);
        if (!awaiting_answer || broken || closing) return;
        __android_log_print(ANDROID_LOG_WARN, kHostLogTag,
                            "HCI transport %s: no answer from the controller %d ms after a "
                            "command; it may be off or not connected%s%s",
                            name.c_str(), HostHal::kSilenceWarnMs, silence_hint.empty() ? "" : ", ",
                            silence_hint.c_str());
    }
    void armSilence(int ms) {
        const itimerspec when = {{0, 0}, {ms / 1000, (ms % 1000) * 1000000L}};
        // Cannot fail for a valid timer and value; a failure only costs the warning.
        (void)timerfd_settime(silence.get(), 0, &when, nullptr);
    }

    // The first fault of the link is logged; later ones, and faults while closing, are not.
    void markBroken(const std::string& reason) {
        if (broken.exchange(true) || closing) return;
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag, "HCI transport \"%s\": %s",
                            name.c_str(), reason.c_str());
    }
};

namespace {

void deliver(const sp<HostHal::Callbacks>& callbacks, const H4Packet& packet) {
    const hidl_vec<uint8_t> bytes(packet.bytes);
    switch (packet.type) {
        case H4Type::kEvent:
            (void)callbacks->hciEventReceived(bytes).isOk();
            break;
        case H4Type::kAcl:
            (void)callbacks->aclDataReceived(bytes).isOk();
            break;
        case H4Type::kSco:
            (void)callbacks->scoDataReceived(bytes).isOk();
            break;
        case H4Type::kCommand:  // not sent by controllers
        case H4Type::kIso:      // no callback in this HAL version
            break;
    }
}

// Runs on the HAL's own thread; owns a share of the core so that it may outlive the HAL.
void readerLoop(std::shared_ptr<HalCore> core, sp<HostHal::Callbacks> callbacks) {
    (void)callbacks->initializationComplete(HalStatus::SUCCESS).isOk();
    std::vector<H4Packet> packets;
    bool running = true;
    while (running && !core->closing) {
        pollfd fds[3] = {{core->link->fd(), POLLIN, 0},
                         {core->wake.get(), POLLIN, 0},
                         {core->silence.get(), POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            core->markBroken(std::string("poll failed: ") + strerror(errno) + "; reading stopped");
            break;
        }
        if (fds[1].revents != 0) break;
        // With data waiting too, it is read first: it may be the answer.
        if (fds[2].revents != 0 && fds[0].revents == 0) core->warnIfSilent();
        if (fds[0].revents == 0) continue;
        packets.clear();
        int err = 0;
        size_t size = 0;
        Link::ReadResult result = core->link->readAvailable(&packets, &err, &size);
        if (!packets.empty()) core->packetReceived();
        for (const H4Packet& packet : packets) {
            if (core->closing) break;
            deliver(callbacks, packet);
        }
        if (result == Link::ReadResult::kOk) continue;
        core->markBroken(describeReadFailure(*core->link, result, err, size) + "; reading stopped");
        running = false;
    }
    // Dropping the callbacks may drop the last reference to the HAL, here on its own thread.
    callbacks.clear();
    signalEventFd(core->done.get());
}

}  // namespace

sp<HostHal> HostHal::create(std::string name, std::string silence_hint, std::unique_ptr<Link> link,
                            std::string* error) {
    auto core = std::make_shared<HalCore>();
    core->name = std::move(name);
    core->silence_hint = std::move(silence_hint);
    core->link = std::move(link);
    core->wake = makeEventFd();
    core->done = makeEventFd();
    if (!core->wake.valid() || !core->done.valid()) {
        *error = std::string("eventfd failed: ") + strerror(errno);
        return nullptr;
    }
    core->silence.reset(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
    if (!core->silence.valid()) {
        *error = std::string("timerfd_create failed: ") + strerror(errno);
        return nullptr;
    }
    return sp<HostHal>(new HostHal(std::move(core)));
}

HostHal::~HostHal() {
    close();
}

HostHal::Return<void> HostHal::initialize(const sp<Callbacks>& callback) {
    if (callback == nullptr) return failure(HidlStatus::EX_ILLEGAL_ARGUMENT);
    std::lock_guard<std::mutex> lock(lifecycle_mutex_);
    if (core_->closing || started_) return failure(HidlStatus::EX_ILLEGAL_STATE);
    if (core_->broken) return failure(HidlStatus::EX_TRANSACTION_FAILED);
    if (const int err = startThread(&reader_, readerLoop, core_, callback); err != 0) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                            "HCI transport \"%s\": cannot start the reader thread: %s",
                            core_->name.c_str(), strerror(err));
        return failure(HidlStatus::EX_TRANSACTION_FAILED);
    }
    started_ = true;
    return Void();
}

HostHal::Return<void> HostHal::sendHciCommand(const Bytes& command) {
    return send(H4Type::kCommand, command);
}

HostHal::Return<void> HostHal::sendAclData(const Bytes& data) {
    return send(H4Type::kAcl, data);
}

HostHal::Return<void> HostHal::sendScoData(const Bytes& data) {
    return send(H4Type::kSco, data);
}

HostHal::Return<void> HostHal::send(H4Type type, const Bytes& packet) {
    if (core_->closing) return failure(HidlStatus::EX_ILLEGAL_STATE);
    if (core_->broken) return failure(HidlStatus::EX_TRANSACTION_FAILED);
    const std::vector<uint8_t> h4 = toH4(type, packet.data(), packet.size());
    if (!isWholePacket(h4)) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                            "HCI transport \"%s\": refusing a malformed packet of type 0x%02x and "
                            "%zu bytes",
                            core_->name.c_str(), static_cast<unsigned>(type), packet.size());
        return failure(HidlStatus::EX_ILLEGAL_ARGUMENT);
    }
    // Each holder gives up after kSendTimeoutMs, so the wait here is bounded too.
    std::lock_guard<std::mutex> lock(core_->send_mutex);
    if (core_->closing) return failure(HidlStatus::EX_ILLEGAL_STATE);
    if (core_->broken) return failure(HidlStatus::EX_TRANSACTION_FAILED);
    if (type == H4Type::kCommand) core_->commandSent();
    int err = 0;
    if (!core_->link->writePacket(h4, core_->wake.get(), kSendTimeoutMs, &err)) {
        if (err == ECANCELED) return failure(HidlStatus::EX_ILLEGAL_STATE);
        // A partly written packet leaves the stream out of step: the link is done.
        core_->markBroken(err == ETIMEDOUT ? "write failed: the controller took no data for " +
                                                 std::to_string(kSendTimeoutMs) + " ms"
                                           : std::string("write failed: ") + strerror(err));
        return failure(HidlStatus::EX_TRANSACTION_FAILED);
    }
    return Void();
}

HostHal::Return<void> HostHal::close() {
    if (!core_->closing.exchange(true)) {
        signalEventFd(core_->wake.get());
        // The controller sees the host go now, not only when the last reference does.
        core_->link->hangUp();
    }
    std::thread reader;
    {
        std::lock_guard<std::mutex> lock(lifecycle_mutex_);
        if (!reader_.joinable()) return Void();
        if (reader_.get_id() == std::this_thread::get_id()) {
            // Called from a callback: the reader ends once the callback returns.
            reader_.detach();
            return Void();
        }
        reader = std::move(reader_);
    }
    // A reader stuck in a callback (say, on a lock that our caller holds) must not hang us.
    const SteadyClock::time_point deadline = deadlineIn(kCloseWaitMs);
    int ready = 0;
    while (true) {
        pollfd fd = {core_->done.get(), POLLIN, 0};
        ready = poll(&fd, 1, msUntil(deadline));
        if (ready >= 0 || errno != EINTR) break;
    }
    if (ready > 0) {
        reader.join();
    } else {
        __android_log_print(ANDROID_LOG_INFO, kHostLogTag,
                            "HCI transport %s: reader still busy in a callback after %d ms; "
                            "left to finish on its own",
                            core_->name.c_str(), kCloseWaitMs);
        reader.detach();
    }
    return Void();
}

}  // namespace host
}  // namespace orvalinquist
