// Stateless helpers of the command line and the output: usage text, the scan's options,
// address text, device report and results file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bt_common.h"

namespace bt {
namespace utils {

void printUsage();
// The options after `scan` (argv[2] on). False, after an ERROR line and the usage, for an
// unknown option or a missing argument.
bool parseScanOptions(int argc, char** argv, ScanOptions* options);
std::string bdAddrToString(const uint8_t* address);
bool isDeviceConnectable(uint8_t eventType);
void printDevices(const std::vector<DeviceInfo>& devices, const std::string& outputFile);
bool saveDevicesToFile(const std::vector<DeviceInfo>& devices, const std::string& path);

}  // namespace utils
}  // namespace bt
