// Stateless output helpers: usage text, address text, device report and results file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bt_common.h"

namespace bt {
namespace utils {

void printUsage();
std::string bdAddrToString(const uint8_t* address);
bool isDeviceConnectable(uint8_t eventType);
void printDevices(const std::vector<DeviceInfo>& devices, const std::string& outputFile);
bool saveDevicesToFile(const std::vector<DeviceInfo>& devices, const std::string& path);

}  // namespace utils
}  // namespace bt
