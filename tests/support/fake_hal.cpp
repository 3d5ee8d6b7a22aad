#include "fake_hal.h"

#include <cstdio>
#include <string>

#include "bt_common.h"

namespace testsupport {

using ::android::hardware::Status;
using ::android::hardware::Void;

namespace {
Return<void> failed() {
    return Status::fromExceptionCode(Status::EX_TRANSACTION_FAILED);
}
}  // namespace

FakeHal::FakeHal() : deliveryThread_([this] { deliveryLoop(); }) {}

FakeHal::~FakeHal() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (deliveryThread_.get_id() == std::this_thread::get_id()) {
        deliveryThread_.detach();  // last reference dropped inside a callback
    } else {
        deliveryThread_.join();
    }
}

sp<FakeHal> FakeHal::install() {
    sp<FakeHal> hal(new FakeHal());
    hal->registerAsService("default");
    return hal;
}

void FakeHal::deliverEvent(std::vector<uint8_t> event) {
    std::lock_guard<std::mutex> lock(mutex_);
    post([event](IBluetoothHciCallbacks& cb) { cb.hciEventReceived(hidl_vec<uint8_t>(event)); });
}

void FakeHal::post(std::function<void(IBluetoothHciCallbacks&)> job) {
    pending_.push_back(std::move(job));
    wake_.notify_all();
}

void FakeHal::deliveryLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (stopping_) return;
        auto job = std::move(pending_.front());
        pending_.pop_front();
        sp<IBluetoothHciCallbacks> cb = callbacks_;
        lock.unlock();
        if (cb != nullptr) job(*cb);
        lock.lock();
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

Return<void> FakeHal::initialize(const sp<IBluetoothHciCallbacks>& callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++initializeCount_;
    if (transportDead_ || initializeFails_) return failed();
    callbacks_ = callback;
    if (initStatus_) {
        post([status = *initStatus_, delay = initDelay_](IBluetoothHciCallbacks& cb) {
            std::this_thread::sleep_for(delay);
            cb.initializationComplete(status);
        });
    }
    return Void();
}

Return<void> FakeHal::sendHciCommand(const hidl_vec<uint8_t>& command) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(command.begin(), command.end());
    if (echo_) {
        std::string text;
        char hex[4];
        for (uint8_t byte : bytes) text += (std::snprintf(hex, sizeof(hex), "%02x ", byte), hex);
        std::fprintf(stderr, "HAL send: %s\n", text.c_str());
    }
    commands_.push_back({bytes, Clock::now()});
    if (transportDead_ || commands_.size() == refuseNumber_) return failed();
    if (!answer_.first.empty() && bytes == answer_.first) {
        post([e = answer_.second](IBluetoothHciCallbacks& cb) {
            cb.hciEventReceived(hidl_vec<uint8_t>(e));
        });
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
    if (echo_) std::fprintf(stderr, "HAL close\n");
    return transportDead_ || closeFails_ ? failed() : Void();
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
