#include "host_hal_factory.h"

#include <android/log.h>

#include <cstdlib>

namespace orvalinquist {
namespace host {

::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHalFromEnvironment() {
    const char* transport = std::getenv("BT_HCI_TRANSPORT");
    __android_log_print(ANDROID_LOG_ERROR, kHostLogTag, "No HCI transport: %s is not supported yet",
                        transport ? transport : "(unset)");
    return nullptr;
}

}  // namespace host
}  // namespace orvalinquist
