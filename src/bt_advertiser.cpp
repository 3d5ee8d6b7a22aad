// LE advertising as a connectable, discoverable device carrying its name, plus BR/EDR
// inquiry scan and page scan.
#include "bt_advertiser.h"

#include <android/log.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bt_scanner.h"

namespace bt {

namespace {

constexpr std::chrono::milliseconds kSetupPause{300};
constexpr size_t kAdvertisingPacketSize = 35;  // header, length byte, 31-byte data field

std::vector<uint8_t> advertisingParameters() {
    return {0x06, 0x20, 0x0F, 0x20, 0x00,        // interval min 20 ms
            0x40, 0x00,                          // interval max 40 ms
            0x00,                                // ADV_IND
            0x00,                                // public own address
            0x00,                                // peer address type (unused)
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // peer address (unused)
            0x07,                                // channels 37, 38, 39
            0x00};                               // no filter
}

std::vector<uint8_t> advertisingData() {
    std::vector<uint8_t> packet = {0x08, 0x20, 0x20};
    packet.push_back(static_cast<uint8_t>(5 + DEVICE_NAME.size()));
    packet.insert(packet.end(), {0x02, 0x01, 0x06});  // flags: LE general discoverable
    packet.push_back(static_cast<uint8_t>(DEVICE_NAME.size() + 1));
    packet.push_back(0x09);  // complete local name
    packet.insert(packet.end(), DEVICE_NAME.begin(), DEVICE_NAME.end());
    packet.resize(kAdvertisingPacketSize, 0x00);
    return packet;
}

std::vector<uint8_t> emptyScanResponse() {
    std::vector<uint8_t> packet = {0x09, 0x20, 0x20, 0x00};
    packet.resize(kAdvertisingPacketSize, 0x00);
    return packet;
}

}  // namespace

bool BluetoothAdvertiser::enableAdvertising() {
    if (!state.initialized) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth not initialized");
        return false;
    }
    struct Step {
        std::vector<uint8_t> command;
        const char* failure;
        bool pauseAfter;
    };
    const Step steps[] = {
        {advertisingParameters(), "Failed to set advertising parameters", true},
        {advertisingData(), "Failed to set advertising data", true},
        {emptyScanResponse(), "Failed to set scan response data", true},
        {{0x0A, 0x20, 0x01, 0x01}, "Failed to enable advertising", false},
        {{0x1A, 0x0C, 0x01, 0x03}, "Failed to enable device discoverability", false},
    };
    for (const Step& step : steps) {
        // hci is read afresh for every command.
        if (!sendHciCommandToHal(hci, step.command)) {
            __android_log_print(ANDROID_LOG_ERROR, nullptr, "%s", step.failure);
            return false;
        }
        if (step.pauseAfter) std::this_thread::sleep_for(kSetupPause);
    }
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Bluetooth advertising enabled successfully");
    return true;
}

}  // namespace bt
