// Shared pieces of the host platform's tests: recording callbacks, the peer's raw I/O and
// the platform's own log lines.
#pragma once

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_builder.h"
#include "fd_link.h"
#include "hal_assembly.h"
#include "host_environment.h"
#include "host_hal.h"
#include "host_log.h"
#include "log_sink.h"
#include "recording_link.h"
#include "tool_process.h"

namespace hosttest {

using namespace orvalinquist::host;
using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Return;
using ::android::hardware::bluetooth::V1_0::IBluetoothHci;
using Bytes = std::vector<uint8_t>;
using Packets = std::vector<Bytes>;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;
using testsupport::Capture;
using testsupport::readFile;

class RecordingCallbacks : public ::android::hardware::bluetooth::V1_0::IBluetoothHciCallbacks {
  public:
    Return<void> initializationComplete(::android::hardware::bluetooth::V1_0::Status s) override {
        return add(&inits, {static_cast<uint8_t>(s)});
    }
    Return<void> hciEventReceived(const hidl_vec<uint8_t>& p) override { return add(&events, p); }
    Return<void> aclDataReceived(const hidl_vec<uint8_t>& p) override { return add(&acl, p); }
    Return<void> scoDataReceived(const hidl_vec<uint8_t>& p) override { return add(&sco, p); }

    // A copy of `list` once it holds `n` packets, or after 3 s.
    Packets await(const Packets* list, size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, 3s, [&] { return list->size() >= n; });
        return *list;
    }
    // Runs after each later event, outside the lock.
    void onEvent(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        on_event_ = std::move(hook);
    }

    Packets inits, events, acl, sco;  // read through await
    std::thread::id thread;

  private:
    Return<void> add(Packets* list, const hidl_vec<uint8_t>& packet) {
        std::unique_lock<std::mutex> lock(mutex_);
        list->push_back(packet);
        thread = std::this_thread::get_id();
        std::function<void()> hook = list == &events ? on_event_ : nullptr;
        lock.unlock();
        cv_.notify_all();
        if (hook) hook();
        return ::android::hardware::Void();
    }
    std::function<void()> on_event_;
    std::mutex mutex_;
    std::condition_variable cv_;
};

inline Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::pair<UniqueFd, UniqueFd> socketPair(int type = SOCK_STREAM) {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0) return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

inline sp<HostHal> halOn(UniqueFd fd, Framing framing = Framing::kStream,
                         std::unique_ptr<BtSnoopWriter> snoop = nullptr,
                         const std::string& name = "test") {
    std::string error;
    std::unique_ptr<Link> link = FdLink::create(std::move(fd), framing, &error);
    if (link && snoop) link = std::make_unique<RecordingLink>(std::move(link), std::move(snoop));
    return link ? HostHal::create(name, "", std::move(link), &error) : nullptr;
}

// Up to `size` bytes: what arrives until then or until `ms` pass without a byte.
inline Bytes readBytes(int fd, size_t size, int ms = 3000) {
    Bytes out(size);
    size_t got = 0;
    for (pollfd p{fd, POLLIN, 0}; got < size && poll(&p, 1, ms) > 0;) {
        ssize_t n = read(fd, out.data() + got, size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    return out;
}

// No SIGPIPE when the HAL's end is gone; plain write for a terminal.
inline bool writeBytes(int fd, const Bytes& bytes) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes.data(), bytes.size());
    return n == static_cast<ssize_t>(bytes.size());
}

// The platform's own lines, "E ", "W " or "I " first, once there are `n` or after 3 s.
inline Lines hostLog(size_t n = 0) {
    Lines lines;
    testsupport::waitUntil(
        [&] { return (lines = testsupport::logTexts(kHostLogTag, true)).size() >= n; }, 3s);
    return lines;
}

}  // namespace hosttest
