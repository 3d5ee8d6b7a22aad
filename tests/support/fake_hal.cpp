#include "fake_hal.h"

#include "bt_common.h"

namespace testsupport {

using ::android::hardware::Status;
using ::android::hardware::Void;

FakeHal::FakeHal() : deliveryThread_([this] { deliveryLoop(); }) {}

FakeHal::~FakeHal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (deliveryThread_.joinable()) {
        if (deliveryThread_.get_id() == std::this_thread::get_id()) {
            deliveryThread_.detach();  // last reference dropped inside a callback
        } else {
            deliveryThread_.join();
        }
    }
}

sp<FakeHal> FakeHal::install() {
    sp<FakeHal> hal(new FakeHal());
    hal->registerAsService("default");
    return hal;
}

void FakeHal::refuseAllCommands(bool refuse) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuseAll_ = refuse;
}
void FakeHal::refuseCommandNumber(size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuseNumbers_.insert(n);
}
void FakeHal::refuseOpcode(uint16_t opcode) {
    std::lock_guard<std::mutex> lock(mutex_);
    refuseOpcodes_.insert(opcode);
}
void FakeHal::setTransportDead(bool dead) {
    std::lock_guard<std::mutex> lock(mutex_);
    transportDead_ = dead;
}
void FakeHal::setInitializeFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    initializeFails_ = fails;
}
void FakeHal::setInitializationResult(std::optional<HalStatus> status,
                                      std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    initStatus_ = status;
    initDelay_ = delay;
}
void FakeHal::setCloseFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    closeFails_ = fails;
}
void FakeHal::setAnswerCommands(bool answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answerCommands_ = answer;
}
void FakeHal::setCommandHook(std::function<void(const std::vector<uint8_t>&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    commandHook_ = std::move(hook);
}

void FakeHal::deliverEvent(std::vector<uint8_t> event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back([this, event = std::move(event)] {
            sp<IBluetoothHciCallbacks> cb = callbacks();
            if (cb != nullptr) cb->hciEventReceived(hidl_vec<uint8_t>(event));
        });
    }
    wake_.notify_all();
}

bool FakeHal::waitDelivered(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return pending_.empty() && !delivering_; });
}

void FakeHal::deliveryLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        std::function<void()> job = std::move(pending_.front());
        pending_.pop_front();
        delivering_ = true;
        lock.unlock();
        job();
        lock.lock();
        delivering_ = false;
        idle_.notify_all();
    }
}

std::vector<SentCommand> FakeHal::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::vector<uint8_t>> FakeHal::commandBytes() const {
    std::vector<std::vector<uint8_t>> bytes;
    for (const SentCommand& command : commands()) bytes.push_back(command.bytes);
    return bytes;
}

size_t FakeHal::closeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closeCount_;
}

size_t FakeHal::initializeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return initializeCount_;
}

sp<IBluetoothHciCallbacks> FakeHal::callbacks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return callbacks_;
}

Return<void> FakeHal::initialize(const sp<IBluetoothHciCallbacks>& callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++initializeCount_;
    if (transportDead_ || initializeFails_) {
        return Status::fromExceptionCode(Status::EX_TRANSACTION_FAILED);
    }
    callbacks_ = callback;
    if (initStatus_) {
        HalStatus status = *initStatus_;
        auto delay = initDelay_;
        pending_.push_back([this, status, delay] {
            std::this_thread::sleep_for(delay);
            sp<IBluetoothHciCallbacks> cb = callbacks();
            if (cb != nullptr) cb->initializationComplete(status);
        });
        wake_.notify_all();
    }
    return Void();
}

Return<void> FakeHal::sendHciCommand(const hidl_vec<uint8_t>& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++sendCalls_;
    std::vector<uint8_t> bytes(command.begin(), command.end());
    commands_.push_back({bytes, Clock::now()});
    uint16_t opcode = bytes.size() >= 2 ? static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)) : 0;
    if (transportDead_ || refuseAll_ || refuseNumbers_.count(sendCalls_) ||
        refuseOpcodes_.count(opcode)) {
        return Status::fromExceptionCode(Status::EX_TRANSACTION_FAILED);
    }
    if (commandHook_ || answerCommands_) {
        auto hook = commandHook_;
        bool answer = answerCommands_;
        pending_.push_back([this, hook, answer, bytes] {
            if (hook) hook(bytes);
            if (!answer) return;
            sp<IBluetoothHciCallbacks> cb = callbacks();
            uint8_t low = bytes.size() > 0 ? bytes[0] : uint8_t{0};
            uint8_t high = bytes.size() > 1 ? bytes[1] : uint8_t{0};
            std::vector<uint8_t> complete = {0x0E, 0x04, 0x01, low, high, 0x00};
            if (cb != nullptr) cb->hciEventReceived(hidl_vec<uint8_t>(complete));
        });
        wake_.notify_all();
    }
    return Void();
}

Return<void> FakeHal::sendAclData(const hidl_vec<uint8_t>&) {
    return Void();
}
Return<void> FakeHal::sendScoData(const hidl_vec<uint8_t>&) {
    return Void();
}

Return<void> FakeHal::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++closeCount_;
    if (transportDead_ || closeFails_) {
        return Status::fromExceptionCode(Status::EX_TRANSACTION_FAILED);
    }
    return Void();
}

void resetSession() {
    bt::GlobalState& state = bt::globalState;
    state.scanning = false;
    state.cv.notify_all();
    if (state.eventThread.joinable()) state.eventThread.join();
    bt::hci = nullptr;
    state.initialized = false;
    state.foundConnectable = false;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.eventData.clear();
}

}  // namespace testsupport
