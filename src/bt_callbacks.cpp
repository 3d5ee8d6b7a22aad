#include "bt_callbacks.h"

#include <android/log.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace bt {

using ::android::hardware::Void;

namespace {

// The first 16 bytes as "%02x " each, then "..." when the packet is longer.
std::string dumpText(const uint8_t* packet, size_t size) {
    constexpr size_t kShownBytes = 16;
    const size_t shown = std::min(size, kShownBytes);
    std::string text;
    text.reserve(shown * 3 + 3);
    char byteText[4];
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(byteText, sizeof(byteText), "%02x ", packet[i]);
        text += byteText;
    }
    if (size > kShownBytes) text += "...";
    return text;
}

}  // namespace

Return<void> BluetoothHciCallbacks::initializationComplete(Status status) {
    onInitializationComplete(status == Status::SUCCESS, static_cast<int>(status));
    return Void();
}

void BluetoothHciCallbacks::onInitializationComplete(bool success, int status) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (success) {
        __android_log_print(ANDROID_LOG_INFO, nullptr, "Bluetooth initialized successfully");
        state.initialized = true;
    } else {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to initialize Bluetooth: %d",
                            status);
    }
    state.cv.notify_all();
}

Return<void> BluetoothHciCallbacks::hciEventReceived(const hidl_vec<uint8_t>& event) {
    onHciEvent(event.data(), event.size());
    return Void();
}

void BluetoothHciCallbacks::onHciEvent(const uint8_t* event, size_t size) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (size == 0) return;
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Received HCI event, size: %zu, data: %s", size,
                        dumpText(event, size).c_str());
    // A single slot: an event still pending is replaced by the newer one.
    state.eventData.assign(event, event + size);
    state.cv.notify_all();
}

Return<void> BluetoothHciCallbacks::aclDataReceived(const hidl_vec<uint8_t>&) {
    return Void();
}

Return<void> BluetoothHciCallbacks::scoDataReceived(const hidl_vec<uint8_t>& data) {
    return aclDataReceived(data);
}

}  // namespace bt
