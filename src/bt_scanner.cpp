// The HCI command sender, name requests and the scan session with its event thread.
#include "bt_scanner.h"

#include <android/log.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>

namespace bt {

namespace {

constexpr std::chrono::milliseconds kCommandPause{200};
constexpr std::chrono::milliseconds kScanSetupPause{300};
constexpr std::chrono::milliseconds kEventWaitSlice{100};
constexpr int kMaxScanSeconds = 15;
const std::vector<uint8_t> kScanEnableOn = {0x0C, 0x20, 0x02, 0x01, 0x00};
const std::vector<uint8_t> kScanEnableOff(std::begin(kLeScanDisableCommand),
                                          std::end(kLeScanDisableCommand));

enum class WaitOutcome { kReady, kTimedOut, kFailed };

// Waits on the session's condition variable, with `lock` held, until an event is pending
// or scanning has ended, but not past 100 ms; the predicate is evaluated once more after the
// deadline.
WaitOutcome waitForEvent(GlobalState& state, std::unique_lock<std::mutex>& lock) {
    auto ready = [&state] { return !state.eventData.empty() || !state.scanning; };
    const auto deadline = std::chrono::steady_clock::now() + kEventWaitSlice;
    while (!ready()) {
        const int result = state.cv.waitUntil(lock, deadline);
        if (result == ETIMEDOUT) return ready() ? WaitOutcome::kReady : WaitOutcome::kTimedOut;
        if (result != 0) return WaitOutcome::kFailed;
    }
    return WaitOutcome::kReady;
}

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

bool sendHciCommandToHal(const HalLink& hal, const std::vector<uint8_t>& command) {
    if (hal == nullptr) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth HCI service not available");
        return false;
    }
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Sending HCI command: %s",
                        hexText(command).c_str());
    if (!hal.sendHciCommand(command)) {
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

bool BluetoothScanner::startScan(const ScanOptions& options) {
    if (!state.initialized) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth not initialized");
        return false;
    }
    devices.clear();
    state.foundConnectable = false;

    // General inquiry access code, 12.8 s, unlimited responses.
    if (!sendHciCommand({0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00})) {
        // LE scanning alone still makes a useful scan.
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to start inquiry");
    }
    // Active scanning, interval and window 11.25 ms, public own address, no filter.
    if (!sendHciCommand({0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00})) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to set scan parameters");
        return false;
    }
    std::this_thread::sleep_for(kScanSetupPause);
    if (!sendHciCommand(kScanEnableOn)) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to enable scanning");
        return false;
    }
    state.scanning = true;

    if (state.eventThread.joinable()) state.eventThread.join();
    if (!state.eventThread.start([this, options] { processEvents(options); })) {
        // Nobody would take the events: a scan without them would report nothing as found.
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to start event thread");
        stopScan();
        return false;
    }

    const int seconds = std::min(options.timeout, kMaxScanSeconds);
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Scanning for %d seconds...", seconds);
    for (int i = 0; i < seconds; ++i) {
        if (!state.scanning) break;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (options.stopOnFirst && state.foundConnectable) {
            __android_log_print(ANDROID_LOG_INFO, nullptr,
                                "Found at least one connectable device, stopping scan");
            break;
        }
    }
    stopScan();
    return true;
}

bool BluetoothScanner::stopScan() {
    state.scanning = false;
    if (!sendHciCommand(kScanEnableOff)) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to disable scanning");
    }
    state.cv.notify_all();
    // A thread cannot join itself; the event thread never stops a scan this way.
    if (state.eventThread.joinable() && !state.eventThread.isCurrentThread()) {
        state.eventThread.join();
    }
    return true;
}

void BluetoothScanner::processEvents(const ScanOptions& options) {
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Event processing thread started");
    while (state.scanning) {
        std::unique_lock<std::mutex> lock(state.mutex);
        const WaitOutcome outcome = waitForEvent(state, lock);
        if (outcome == WaitOutcome::kFailed) {
            // Without a working wait the thread could only spin; end the scan instead.
            state.scanning = false;
            break;
        }
        if (outcome == WaitOutcome::kTimedOut) continue;
        if (!state.scanning) break;  // a pending event stays unparsed

        __android_log_print(ANDROID_LOG_INFO, nullptr, "Processing event data, size: %zu",
                            state.eventData.size());
        parseHciEvent(state.eventData.data(), state.eventData.size());
        state.eventData.clear();
        if (options.stopOnFirst && state.foundConnectable) {
            __android_log_print(ANDROID_LOG_INFO, nullptr,
                                "Found at least one connectable device, exiting scan");
            state.scanning = false;
            break;
        }
    }
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Event processing thread exiting");
}

}  // namespace bt
