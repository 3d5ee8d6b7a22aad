// Host stand-in for the AIDL service manager. It knows one instance, the Bluetooth HCI HAL,
// declared when BT_HCI_HAL is "aidl". Its first look-up starts it over the transport that
// BT_HCI_TRANSPORT names; a service that could not start stays down, so the transport's
// ERROR line comes once however often a client looks.
#include <android/binder_manager.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "aidl_hal_service.h"
#include "host_environment.h"
#include "process_setup.h"

namespace {

// As the HIDL look-up does: a program may link only this one.
const bool kProcessPrepared = ::orvalinquist::host::prepareProcess();

using ::orvalinquist::host::HalKind;
namespace aidl_bt = ::aidl::android::hardware::bluetooth;

bool isBluetoothHci(const char* instance) {
    return instance != nullptr && instance == aidl_bt::BnBluetoothHci::makeServiceName("default");
}

struct BluetoothService {
    std::mutex mutex;
    bool started = false;                             // guarded by mutex
    std::shared_ptr<aidl_bt::IBluetoothHci> service;  // guarded by mutex; null when down
};

BluetoothService& bluetoothService() {
    static BluetoothService* instance = new BluetoothService();  // used until exit
    return *instance;
}

// A device's HAL sees its client die and closes. Here the client is this process: at its exit
// the manager lets the service go, and the last reference closes the HAL core and joins its
// reader, whichever of the manager and the tool lets go last.
struct ReleaseAtExit {
    ~ReleaseAtExit() {
        std::shared_ptr<aidl_bt::IBluetoothHci> service;
        BluetoothService& bt = bluetoothService();
        std::lock_guard<std::mutex> lock(bt.mutex);
        std::swap(service, bt.service);
    }
} releaseAtExit;

}  // namespace

bool AServiceManager_isDeclared(const char* instance) {
    return isBluetoothHci(instance) &&
           ::orvalinquist::host::halKindFromEnvironment() == HalKind::kAidl;
}

AIBinder* AServiceManager_checkService(const char* instance) {
    if (!AServiceManager_isDeclared(instance)) return nullptr;
    BluetoothService& bt = bluetoothService();
    std::lock_guard<std::mutex> lock(bt.mutex);
    if (!bt.started) {
        bt.started = true;
        bt.service =
            ::orvalinquist::host::aidlServiceOver(::orvalinquist::host::openHalFromEnvironment());
    }
    if (bt.service == nullptr) return nullptr;
    ::ndk::SpAIBinder binder = bt.service->asBinder();
    AIBinder_incStrong(binder.get());
    return binder.get();
}
