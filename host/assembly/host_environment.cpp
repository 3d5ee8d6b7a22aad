#include "host_environment.h"

#include <android/log.h>

#include <cstdlib>
#include <cstring>

#include "hal_assembly.h"
#include "host_log.h"

namespace orvalinquist {
namespace host {

namespace {

HalKind parseHalKind(const char* value) {
    if (value == nullptr || *value == '\0' || std::strcmp(value, "hidl") == 0) {
        return HalKind::kHidl;
    }
    if (std::strcmp(value, "aidl") == 0) return HalKind::kAidl;
    __android_log_print(
        ANDROID_LOG_ERROR, kHostLogTag,
        "%s=\"%s\" names no Bluetooth HCI HAL (hidl, the default, or aidl); none is "
        "declared",
        kHalKindEnvVar, value);
    return HalKind::kNone;
}

}  // namespace

HalKind halKindFromEnvironment() {
    // Both service managers ask; the verdict, and its ERROR line, come once.
    static const HalKind kind = parseHalKind(std::getenv(kHalKindEnvVar));
    return kind;
}

::android::sp<::android::hardware::bluetooth::V1_0::IBluetoothHci> openHalFromEnvironment() {
    return openHal(std::getenv(kTransportEnvVar), std::getenv(kSnoopEnvVar));
}

}  // namespace host
}  // namespace orvalinquist
