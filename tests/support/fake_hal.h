// A programmable HAL registered as the "default" service for in-process tests.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Return;
using ::android::hardware::bluetooth::V1_0::IBluetoothHci;
using ::android::hardware::bluetooth::V1_0::IBluetoothHciCallbacks;
using HalStatus = ::android::hardware::bluetooth::V1_0::Status;
using Clock = std::chrono::steady_clock;

struct SentCommand {
    std::vector<uint8_t> bytes;
    Clock::time_point time;
};

class FakeHal : public IBluetoothHci {
  public:
    // Creates a fake and registers it as the "default" service of this process.
    static sp<FakeHal> install();
    ~FakeHal() override;

    // --- programming (call before the tool runs) ---
    void refuseCommandNumber(size_t n) { set(refuseNumber_, n); }    // 1-based
    void setTransportDead(bool dead) { set(transportDead_, dead); }  // every call fails
    void setInitializeFails(bool fails) { set(initializeFails_, fails); }
    // Status reported by initializationComplete after `delay`; nullopt: never reported.
    void setInitializationResult(std::optional<HalStatus> status,
                                 std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
        set(initDelay_, delay);
        set(initStatus_, status);
    }
    void setCloseFails(bool fails) { set(closeFails_, fails); }
    // Delivers `event` after each accepted `command`.
    void answerWith(std::vector<uint8_t> command, std::vector<uint8_t> event) {
        set(answer_, std::make_pair(command, event));
    }
    // Writes each command ("HAL send: 0c 20 ...") and close ("HAL close") to stderr at once.
    void setEcho(bool echo) { set(echo_, echo); }

    // Delivered in order from the fake's own thread.
    void deliverEvent(std::vector<uint8_t> event);

    // --- observations ---
    std::vector<SentCommand> commands() const;
    std::vector<std::vector<uint8_t>> commandBytes() const;
    size_t closeCount() const;
    size_t initializeCount() const;

    // IBluetoothHci
    Return<void> initialize(const sp<IBluetoothHciCallbacks>& callback) override;
    Return<void> sendHciCommand(const hidl_vec<uint8_t>& command) override;
    Return<void> sendAclData(const hidl_vec<uint8_t>& data) override;
    Return<void> sendScoData(const hidl_vec<uint8_t>& data) override;
    Return<void> close() override;

  private:
    FakeHal();
    template <class T>
    void set(T& field, T value) {
        std::lock_guard<std::mutex> lock(mutex_);
        field = std::move(value);
    }
    void post(std::function<void(IBluetoothHciCallbacks&)> job);  // call with mutex_ held
    void deliveryLoop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::deque<std::function<void(IBluetoothHciCallbacks&)>> pending_;

    size_t refuseNumber_ = 0;
    bool transportDead_ = false;
    bool initializeFails_ = false;
    std::optional<HalStatus> initStatus_ = HalStatus::SUCCESS;
    std::chrono::milliseconds initDelay_{0};
    bool closeFails_ = false;
    bool echo_ = false;
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>> answer_;  // command, event

    size_t closeCount_ = 0;
    size_t initializeCount_ = 0;
    std::vector<SentCommand> commands_;
    sp<IBluetoothHciCallbacks> callbacks_;
    std::thread deliveryThread_;
};

// Brings the process-wide session back to its start state between tests.
void resetSession();

}  // namespace testsupport
