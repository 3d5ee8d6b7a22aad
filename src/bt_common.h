// Types shared by every unit of the tool: the scan options, the session state and the
// device record.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <utils/StrongPointer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bt_hal.h"

namespace bt {

using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Return;
using ::android::hardware::bluetooth::V1_0::IBluetoothHci;
using ::android::hardware::bluetooth::V1_0::IBluetoothHciCallbacks;

// Local name and advertised name of the controller. Each unit holds its own copy.
const std::string DEVICE_NAME = "Orvalinquist";

// Options of one `scan` command.
struct ScanOptions {
    int32_t timeout = 10;
    bool connectableOnly = false;
    std::string outputFile;
    bool stopOnFirst = false;
};

// A joinable thread handle like std::thread, except that a failed start is a false result
// rather than an exception: the tool's code neither throws nor catches.
class EventThread {
  public:
    EventThread() = default;
    // Never abort on a thread still running: the process may be ending with it.
    ~EventThread() {
        if (running_) pthread_detach(thread_);
    }
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    // Starts `body` on a new thread; false when no thread could be made. Only on a handle
    // that is not joinable.
    bool start(std::function<void()> body) {
        if (running_) return false;
        auto* task = new std::function<void()>(std::move(body));
        if (pthread_create(&thread_, nullptr, &EventThread::run, task) != 0) {
            delete task;
            return false;
        }
        running_ = true;
        return true;
    }
    bool joinable() const { return running_; }
    bool isCurrentThread() const { return running_ && pthread_equal(thread_, pthread_self()); }
    void join() {
        if (running_ && pthread_join(thread_, nullptr) == 0) running_ = false;
    }

  private:
    static void* run(void* task) {
        auto* body = static_cast<std::function<void()>*>(task);
        (*body)();
        delete body;
        return nullptr;
    }

    pthread_t thread_{};
    bool running_ = false;
};

// A condition variable that waits on the monotonic clock at every API level. The C++
// library's steady-clock wait falls back to the wall clock on older C libraries, where setting
// the clock stretches or cuts the wait, and it hides a wait that failed.
class MonotonicConditionVariable {
  public:
    MonotonicConditionVariable() {
        pthread_condattr_t attributes;
        if (pthread_condattr_init(&attributes) != 0) return;
        valid_ = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                 pthread_cond_init(&cond_, &attributes) == 0;
        pthread_condattr_destroy(&attributes);
    }
    ~MonotonicConditionVariable() {
        if (valid_) pthread_cond_destroy(&cond_);
    }
    MonotonicConditionVariable(const MonotonicConditionVariable&) = delete;
    MonotonicConditionVariable& operator=(const MonotonicConditionVariable&) = delete;

    void notify_all() {
        if (valid_) pthread_cond_broadcast(&cond_);
    }

    // Waits, with `lock` held, for a notification, a spurious wake-up or `deadline`. Returns 0,
    // ETIMEDOUT, or the error of a wait that failed. steady_clock reads CLOCK_MONOTONIC in
    // libstdc++ and libc++ alike.
    int waitUntil(std::unique_lock<std::mutex>& lock,
                  std::chrono::steady_clock::time_point deadline) {
        if (!valid_) return EINVAL;
        const auto sinceStart = deadline.time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceStart);
        timespec at;
        at.tv_sec = static_cast<time_t>(seconds.count());
        at.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(sinceStart - seconds).count());
        return pthread_cond_timedwait(&cond_, lock.mutex()->native_handle(), &at);
    }

  private:
    pthread_cond_t cond_;
    bool valid_ = false;
};

// The session shared by the main thread, the event thread, the HAL's threads and the
// signal handler.
struct GlobalState {
    std::mutex mutex;
    MonotonicConditionVariable cv;
    std::atomic<bool> initialized{false};
    std::atomic<bool> scanning{false};
    std::vector<uint8_t> eventData;  // the latest event not yet taken; guarded by mutex
    EventThread eventThread;
    std::atomic<bool> foundConnectable{false};
};

// One advertising-data structure: its type and the bytes after the type byte.
using AdField = std::pair<uint8_t, std::vector<uint8_t>>;

// One discovered device. Identity is the six address bytes.
struct DeviceInfo {
    uint8_t address[6] = {};      // least significant byte first, as in HCI
    uint8_t deviceClass[3] = {};  // least significant byte first
    int8_t rssi = 0;              // dBm; 0 when unknown
    std::string name;
    uint8_t addressType = 0;
    uint8_t isLe = 0;
    uint8_t eventType = 0;
    uint8_t connectable = 0;
    std::vector<AdField> adFields;
};

// The process-wide session, defined by the entry unit.
extern HalLink hci;
extern GlobalState& globalState;

}  // namespace bt
