#include "bt_utils.h"

#include <android/log.h>

#include <cstdio>

namespace bt {
namespace utils {

void printUsage() {
    static const char* const kUsageLines[] = {
            "Usage: orvalinquist <command> [options]",
            "Commands:",
            "  enable              Enable Bluetooth",
            "  scan [options]      Scan for Bluetooth devices",
            "    -t, --timeout N   Scan duration in seconds (default 10, max 15)",
            "    -o, --output FILE Save scan results to file",
            "    -f, --first       Exit when first connectable device is found",
            "    -c, --connectable Only show connectable devices",
            "  disable             Disable Bluetooth",
            "  help                Show this help message",
    };
    for (const char* line : kUsageLines) {
        __android_log_print(ANDROID_LOG_INFO, nullptr, "%s", line);
    }
}

std::string bdAddrToString(const uint8_t* address) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", address[5], address[4],
                  address[3], address[2], address[1], address[0]);
    return text;
}

bool isDeviceConnectable(uint8_t eventType) {
    return eventType < 3;
}

void printDevices(const std::vector<DeviceInfo>&, const std::string&) {}

bool saveDevicesToFile(const std::vector<DeviceInfo>&, const std::string&) {
    return false;
}

}  // namespace utils
}  // namespace bt
