#include "aidl_hal_service.h"

#include <android/binder_process.h>

#include <utility>
#include <vector>

namespace orvalinquist {
namespace host {

namespace {

namespace aidl_bt = ::aidl::android::hardware::bluetooth;
namespace hidl_bt = ::android::hardware::bluetooth::V1_0;
using ::android::sp;
using ::android::hardware::hidl_vec;
using ::android::hardware::Return;
using ::android::hardware::Void;
using ::ndk::ScopedAStatus;

// A failed HIDL call as a binder status: a broken link is a dead object.
ScopedAStatus statusOf(const Return<void>& result) {
    if (result.isOk()) return ScopedAStatus::ok();
    if (result.isDeadObject()) return ScopedAStatus::fromStatus(STATUS_DEAD_OBJECT);
    return ScopedAStatus::fromExceptionCode(EX_ILLEGAL_STATE);
}

// Hands the core's callbacks to the client's AIDL callbacks. Without a running thread pool a
// device would never serve them, so neither does the host.
class CallbacksToAidl : public hidl_bt::IBluetoothHciCallbacks {
  public:
    explicit CallbacksToAidl(std::shared_ptr<aidl_bt::IBluetoothHciCallbacks> client)
        : client_(std::move(client)) {}

    Return<void> initializationComplete(hidl_bt::Status status) override {
        if (served()) {
            (void)client_->initializationComplete(
                status == hidl_bt::Status::SUCCESS ? aidl_bt::Status::SUCCESS
                                                   : aidl_bt::Status::HARDWARE_INITIALIZATION_ERROR);
        }
        return Void();
    }
    Return<void> hciEventReceived(const hidl_vec<uint8_t>& event) override {
        if (served()) (void)client_->hciEventReceived(event);
        return Void();
    }
    Return<void> aclDataReceived(const hidl_vec<uint8_t>& data) override {
        if (served()) (void)client_->aclDataReceived(data);
        return Void();
    }
    Return<void> scoDataReceived(const hidl_vec<uint8_t>& data) override {
        if (served()) (void)client_->scoDataReceived(data);
        return Void();
    }

  private:
    static bool served() { return ABinderProcess_isThreadPoolStarted(); }

    const std::shared_ptr<aidl_bt::IBluetoothHciCallbacks> client_;
};

class AidlHalService : public aidl_bt::BnBluetoothHci {
  public:
    explicit AidlHalService(sp<hidl_bt::IBluetoothHci> hal) : hal_(std::move(hal)) {}

    ScopedAStatus close() override { return statusOf(hal_->close()); }
    ScopedAStatus initialize(
        const std::shared_ptr<aidl_bt::IBluetoothHciCallbacks>& callback) override {
        if (callback == nullptr) return ScopedAStatus::fromStatus(STATUS_BAD_VALUE);
        return statusOf(hal_->initialize(new CallbacksToAidl(callback)));
    }
    ScopedAStatus sendHciCommand(const std::vector<uint8_t>& command) override {
        return statusOf(hal_->sendHciCommand(command));
    }
    ScopedAStatus sendAclData(const std::vector<uint8_t>& data) override {
        return statusOf(hal_->sendAclData(data));
    }
    ScopedAStatus sendScoData(const std::vector<uint8_t>& data) override {
        return statusOf(hal_->sendScoData(data));
    }
    // The host transports carry no ISO channel.
    ScopedAStatus sendIsoData(const std::vector<uint8_t>&) override {
        return ScopedAStatus::fromExceptionCode(EX_UNSUPPORTED_OPERATION);
    }

  private:
    const sp<hidl_bt::IBluetoothHci> hal_;
};

}  // namespace

std::shared_ptr<aidl_bt::IBluetoothHci> aidlServiceOver(sp<hidl_bt::IBluetoothHci> hal) {
    if (hal == nullptr) return nullptr;
    return ::ndk::SharedRefBase::make<AidlHalService>(std::move(hal));
}

}  // namespace host
}  // namespace orvalinquist
