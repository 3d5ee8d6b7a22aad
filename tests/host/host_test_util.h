// Shared pieces of the host platform's tests: a recording callbacks object, raw peer I/O
// and the platform's own log lines.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHciCallbacks.h>
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host_hal.h"
#include "host_hal_factory.h"
#include "log_sink.h"

namespace hosttest {

using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Return;
using ::android::hardware::Void;
using HalStatus = ::android::hardware::bluetooth::V1_0::Status;
using Bytes = std::vector<uint8_t>;
using namespace orvalinquist::host;

class RecordingCallbacks : public ::android::hardware::bluetooth::V1_0::IBluetoothHciCallbacks {
  public:
    Return<void> initializationComplete(HalStatus status) override {
        return record(&inits, static_cast<uint8_t>(status));
    }
    Return<void> hciEventReceived(const hidl_vec<uint8_t>& p) override {
        return record(&events, p);
    }
    Return<void> aclDataReceived(const hidl_vec<uint8_t>& p) override { return record(&acl, p); }
    Return<void> scoDataReceived(const hidl_vec<uint8_t>& p) override { return record(&sco, p); }

    // Waits until `pred` holds under the lock; false after `ms`.
    bool waitFor(const std::function<bool()>& pred, int ms = 3000) {
        std::unique_lock<std::mutex> lock(mutex);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), pred);
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Bytes> inits, events, acl, sco;
    std::thread::id thread;
    std::function<void()> on_event;  // run outside the lock after each event

  private:
    Return<void> record(std::vector<Bytes>* list, const hidl_vec<uint8_t>& packet) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            list->push_back(packet);
            thread = std::this_thread::get_id();
        }
        cv.notify_all();
        if (list == &events && on_event) on_event();
        return Void();
    }
    Return<void> record(std::vector<Bytes>* list, uint8_t status) {
        return record(list, hidl_vec<uint8_t>{status});
    }
};

inline std::pair<UniqueFd, UniqueFd> socketPair(int type = SOCK_STREAM) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0) return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

inline sp<HostHal> halOn(UniqueFd fd, Framing framing = Framing::kStream,
                         std::unique_ptr<BtSnoopWriter> snoop = nullptr) {
    std::string error;
    auto link = FdLink::create(std::move(fd), framing, &error);
    return link ? HostHal::create("test", std::move(link), std::move(snoop), &error) : nullptr;
}

// Reads exactly `size` bytes from a blocking peer, or fewer after `ms`.
inline Bytes readBytes(int fd, size_t size, int ms = 3000) {
    Bytes out;
    uint8_t buf[4096];
    while (out.size() < size) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) break;
        ssize_t n = read(fd, buf, std::min(sizeof(buf), size - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

// Reads what one wake-up brings; empty after `ms` or at the end.
inline Bytes readSome(int fd, int ms = 3000) {
    uint8_t buf[4096];
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return {};
    ssize_t n = read(fd, buf, sizeof(buf));
    return n > 0 ? Bytes(buf, buf + n) : Bytes();
}

// No SIGPIPE when the HAL's end is gone; plain write for a terminal.
inline bool writeBytes(int fd, const Bytes& bytes) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes.data(), bytes.size());
    return n == static_cast<ssize_t>(bytes.size());
}

// Texts of the host platform's own log lines, with the priority as "E " or "I " prefix.
inline std::vector<std::string> hostLog() {
    std::vector<std::string> out;
    for (const auto& line : testsupport::logLines()) {
        if (line.tag == kHostLogTag) out.push_back((line.priority == 6 ? "E " : "I ") + line.text);
    }
    return out;
}

}  // namespace hosttest
