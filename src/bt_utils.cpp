#include "bt_utils.h"

#include <android/log.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>

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

namespace {

// Connectable devices first, then the strongest signal (0, unknown, counts as strongest).
bool reportsBefore(const DeviceInfo& a, const DeviceInfo& b) {
    if (a.connectable != b.connectable) return a.connectable > b.connectable;
    return a.rssi > b.rssi;
}

std::string reportLine(size_t number, const DeviceInfo& device) {
    std::string line = std::to_string(number) + ". Address: " + bdAddrToString(device.address);
    if (!device.name.empty()) line += ", Name: " + device.name;
    if (device.rssi != 0) line += ", RSSI: " + std::to_string(device.rssi) + " dBm";
    line += device.isLe != 0 ? ", Type: LE" : ", Type: Classic";
    if (device.isLe == 1) {
        line += device.addressType != 0 ? ", Addr Type: Random" : ", Addr Type: Public";
    }
    line += device.connectable != 0 ? ", Connectable: Yes" : ", Connectable: No";
    return line;
}

std::string csvLine(const DeviceInfo& device) {
    std::string name = device.name;
    std::replace(name.begin(), name.end(), ',', ';');  // keeps the field count fixed
    return bdAddrToString(device.address) + ",\"" + name + "\"," + std::to_string(device.rssi) +
           (device.isLe != 0 ? ",LE" : ",Classic") +
           (device.addressType != 0 ? ",Random" : ",Public") +
           (device.connectable != 0 ? ",Yes" : ",No");
}

}  // namespace

void printDevices(const std::vector<DeviceInfo>& devices, const std::string& outputFile) {
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Discovered %zu devices:", devices.size());
    std::vector<DeviceInfo> sorted = devices;
    std::sort(sorted.begin(), sorted.end(), reportsBefore);
    size_t number = 1;
    for (const DeviceInfo& device : sorted) {
        __android_log_print(ANDROID_LOG_INFO, nullptr, "%s", reportLine(number++, device).c_str());
    }
    if (!outputFile.empty()) saveDevicesToFile(devices, outputFile);
}

bool saveDevicesToFile(const std::vector<DeviceInfo>& devices, const std::string& path) {
    if (path.empty()) return false;
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to open file for writing: %s",
                            path.c_str());
        return false;
    }
    file << "# Bluetooth Device Scan Results" << std::endl;
    file << "# Timestamp: " << static_cast<long long>(std::time(nullptr)) << std::endl;
    file << "# Total devices: " << devices.size() << std::endl;
    file << "#" << std::endl;
    file << "# Address,Name,RSSI,Type,AddrType,Connectable" << std::endl;
    for (const DeviceInfo& device : devices) file << csvLine(device) << std::endl;
    file.close();
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Saved %zu devices to file: %s", devices.size(),
                        path.c_str());
    return true;
}

}  // namespace utils
}  // namespace bt
