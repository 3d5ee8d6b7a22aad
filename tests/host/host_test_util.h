// Shared pieces of the host platform's tests: recording callbacks, the peer's raw I/O, the
// platform's own log lines and btsnoop files built in memory.
#pragma once

#include <errno.h>
#include <gtest/gtest.h>
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

#include "host_hal.h"
#include "host_hal_factory.h"
#include "log_sink.h"

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

// Up to `size` bytes: what arrives until then or until `ms` pass without a byte.
inline Bytes readBytes(int fd, size_t size = 4096, int ms = 3000) {
    Bytes out;
    uint8_t buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (out.size() < size && poll(&p, 1, ms) > 0) {
        ssize_t n = read(fd, buf, std::min(sizeof(buf), size - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

// No SIGPIPE when the HAL's end is gone; plain write for a terminal.
inline bool writeBytes(int fd, const Bytes& bytes) {
    ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = write(fd, bytes.data(), bytes.size());
    return n == static_cast<ssize_t>(bytes.size());
}

// The host platform's own log lines, "E " or "I " before each text, once there are `n`
// of them or after 3 s.
inline Lines hostLog(size_t n = 0) {
    Lines out;
    for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(10ms)) {
        out.clear();
        for (const auto& line : testsupport::logLines()) {
            if (line.tag == kHostLogTag)
                out.push_back((line.priority == 6 ? "E " : "I ") + line.text);
        }
        if (out.size() >= n) break;
    }
    return out;
}

// A btsnoop file: the header, then records added one by one.
struct Capture {
    explicit Capture(uint32_t datalink) : bytes{'b', 't', 's', 'n', 'o', 'o', 'p', 0} {
        be(1, 4), be(datalink, 4);
    }
    Capture& be(uint64_t value, int size) {
        while (size-- > 0) bytes.push_back(static_cast<uint8_t>(value >> 8 * size));
        return *this;
    }
    Capture& add(uint32_t flags, uint64_t micros, const Bytes& packet) {
        be(packet.size(), 4).be(packet.size(), 4).be(flags, 4).be(0, 4).be(micros, 8);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
        return *this;
    }
    std::string save(const std::string& name) const {
        const std::string path = testing::TempDir() + "/" + name + std::to_string(getpid());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    Bytes bytes;
};

}  // namespace hosttest
