// Types shared by every unit of the tool: the scan options, the session state and the
// device record.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>
#include <utils/StrongPointer.h>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

// The session shared by the main thread, the event thread, the HAL's threads and the
// signal handler.
struct GlobalState {
    std::mutex mutex;
    std::condition_variable cv;
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
extern sp<IBluetoothHci> hci;
extern GlobalState& globalState;

}  // namespace bt
