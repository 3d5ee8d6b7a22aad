#include "bt_hal.h"

#include <utility>

#include "bt_callbacks.h"

#ifdef BT_HAL_HAS_AIDL
#include <aidl/android/hardware/bluetooth/BnBluetoothHciCallbacks.h>
#include <aidl/android/hardware/bluetooth/IBluetoothHci.h>
#include <android/binder_auto_utils.h>
#include <android/binder_manager.h>
#include <android/binder_process.h>

#include <chrono>
#include <string>
#include <thread>
#endif

namespace bt {

namespace hidl_bt = ::android::hardware::bluetooth::V1_0;

#ifdef BT_HAL_HAS_AIDL
namespace {

namespace aidl_bt = ::aidl::android::hardware::bluetooth;
using ::ndk::ScopedAStatus;

// A service that init is still starting, or restarting after a crash, gets this long to
// register.
constexpr auto kAidlStartWait = std::chrono::seconds(2);
constexpr auto kAidlPollInterval = std::chrono::milliseconds(100);

// The AIDL side of the one callbacks logic.
class AidlCallbacks : public aidl_bt::BnBluetoothHciCallbacks {
  public:
    explicit AidlCallbacks(::android::sp<BluetoothHciCallbacks> logic) : logic_(std::move(logic)) {}

    ScopedAStatus initializationComplete(aidl_bt::Status status) override {
        logic_->onInitializationComplete(status == aidl_bt::Status::SUCCESS,
                                         static_cast<int>(status));
        return ScopedAStatus::ok();
    }
    ScopedAStatus hciEventReceived(const std::vector<uint8_t>& event) override {
        logic_->onHciEvent(event.data(), event.size());
        return ScopedAStatus::ok();
    }
    // Data packets are not the tool's business.
    ScopedAStatus aclDataReceived(const std::vector<uint8_t>&) override {
        return ScopedAStatus::ok();
    }
    ScopedAStatus scoDataReceived(const std::vector<uint8_t>&) override {
        return ScopedAStatus::ok();
    }
    ScopedAStatus isoDataReceived(const std::vector<uint8_t>&) override {
        return ScopedAStatus::ok();
    }

  private:
    const ::android::sp<BluetoothHciCallbacks> logic_;
};

// checkService never waits; getService polls and is deprecated, waitForService waits without
// end for a service that is declared but never starts. So: a declared service gets a bounded
// wait, an undeclared one none. isDeclared is API 31; the interface's NDK library needs 33.
std::shared_ptr<aidl_bt::IBluetoothHci> findAidlService() {
    const std::string instance = std::string(aidl_bt::IBluetoothHci::descriptor) + "/default";
    if (!AServiceManager_isDeclared(instance.c_str())) return nullptr;
    const auto deadline = std::chrono::steady_clock::now() + kAidlStartWait;
    ::ndk::SpAIBinder binder(AServiceManager_checkService(instance.c_str()));
    while (binder.get() == nullptr && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kAidlPollInterval);
        binder.set(AServiceManager_checkService(instance.c_str()));
    }
    if (binder.get() == nullptr) return nullptr;
    // The HAL's callbacks are incoming calls, served only by the process's binder threads.
    ABinderProcess_startThreadPool();
    return aidl_bt::IBluetoothHci::fromBinder(binder);
}

}  // namespace
#endif

HalLink HalLink::find() {
    HalLink link;
    link.hidl_ = hidl_bt::IBluetoothHci::getService("default", false);
#ifdef BT_HAL_HAS_AIDL
    if (link.hidl_ == nullptr) link.aidl_ = findAidlService();
#endif
    return link;
}

bool HalLink::present() const {
#ifdef BT_HAL_HAS_AIDL
    if (aidl_ != nullptr) return true;
#endif
    return hidl_ != nullptr;
}

bool HalLink::initialize(const ::android::sp<BluetoothHciCallbacks>& callbacks) const {
    if (hidl_ != nullptr) return hidl_->initialize(callbacks).isOk();
#ifdef BT_HAL_HAS_AIDL
    if (aidl_ != nullptr) {
        return aidl_->initialize(::ndk::SharedRefBase::make<AidlCallbacks>(callbacks)).isOk();
    }
#endif
    return false;
}

bool HalLink::sendHciCommand(const std::vector<uint8_t>& command) const {
    if (hidl_ != nullptr) {
        const ::android::hardware::hidl_vec<uint8_t> packet(command);
        return hidl_->sendHciCommand(packet).isOk();
    }
#ifdef BT_HAL_HAS_AIDL
    if (aidl_ != nullptr) return aidl_->sendHciCommand(command).isOk();
#endif
    return false;
}

bool HalLink::close() const {
    if (hidl_ != nullptr) return hidl_->close().isOk();
#ifdef BT_HAL_HAS_AIDL
    if (aidl_ != nullptr) return aidl_->close().isOk();
#endif
    return false;
}

}  // namespace bt
