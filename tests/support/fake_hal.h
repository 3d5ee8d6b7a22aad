// A programmable HAL registered as the "default" service for in-process tests.
#pragma once

#include <android/hardware/bluetooth/1.0/IBluetoothHci.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
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
    void refuseAllCommands(bool refuse);
    void refuseCommandNumber(size_t n);  // 1-based count of sendHciCommand calls
    void refuseOpcode(uint16_t opcode);
    void setTransportDead(bool dead);  // every call fails at the transport level
    void setInitializeFails(bool fails);
    // Status reported by initializationComplete after `delay`; nullopt: never reported.
    void setInitializationResult(std::optional<HalStatus> status,
                                 std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    void setCloseFails(bool fails);
    // Answer each accepted command with Command Complete (status 0) from the HAL's thread.
    void setAnswerCommands(bool answer);
    // Called on the HAL's delivery thread with each accepted command, before answering.
    void setCommandHook(std::function<void(const std::vector<uint8_t>&)> hook);

    // --- events, delivered in order from the fake's own thread ---
    void deliverEvent(std::vector<uint8_t> event);
    // Waits until every queued event has been handed to the callbacks and returned.
    bool waitDelivered(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

    // --- observations ---
    std::vector<SentCommand> commands() const;
    std::vector<std::vector<uint8_t>> commandBytes() const;
    size_t closeCount() const;
    size_t initializeCount() const;
    sp<IBluetoothHciCallbacks> callbacks() const;

    // IBluetoothHci
    Return<void> initialize(const sp<IBluetoothHciCallbacks>& callback) override;
    Return<void> sendHciCommand(const hidl_vec<uint8_t>& command) override;
    Return<void> sendAclData(const hidl_vec<uint8_t>& data) override;
    Return<void> sendScoData(const hidl_vec<uint8_t>& data) override;
    Return<void> close() override;

  private:
    FakeHal();
    void deliveryLoop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    bool stopping_ = false;
    bool delivering_ = false;
    std::deque<std::function<void()>> pending_;

    bool refuseAll_ = false;
    std::set<size_t> refuseNumbers_;
    std::set<uint16_t> refuseOpcodes_;
    bool transportDead_ = false;
    bool initializeFails_ = false;
    std::optional<HalStatus> initStatus_ = HalStatus::SUCCESS;
    std::chrono::milliseconds initDelay_{0};
    bool closeFails_ = false;
    bool answerCommands_ = false;
    std::function<void(const std::vector<uint8_t>&)> commandHook_;

    size_t sendCalls_ = 0;
    size_t closeCount_ = 0;
    size_t initializeCount_ = 0;
    std::vector<SentCommand> commands_;
    sp<IBluetoothHciCallbacks> callbacks_;
    std::thread deliveryThread_;
};

// Brings the process-wide session back to its start state between tests.
void resetSession();

}  // namespace testsupport
