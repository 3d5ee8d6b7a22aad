#include "bt_callbacks.h"

#include <android/log.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace bt {

using ::android::hardware::Void;

namespace {

// The first 16 bytes as "%02x " each, then "..." when the packet is longer.
std::string dumpText(const hidl_vec<uint8_t>& packet) {
    constexpr size_t kShownBytes = 16;
    const size_t shown = std::min(packet.size(), kShownBytes);
    std::string text;
    text.reserve(shown * 3 + 3);
    char byteText[4];
    for (size_t i = 0; i < shown; ++i) {
        std::snprintf(byteText, sizeof(byteText), "%02x ", packet[i]);
        text += byteText;
    }
    if (packet.size() > kShownBytes) text += "...";
    return text;
}

}  // namespace

Return<void> BluetoothHciCallbacks::initializationComplete(Status status) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (status == Status::SUCCESS) {
        __android_log_print(ANDROID_LOG_INFO, nullptr, "Bluetooth initialized successfully");
        state.initialized = true;
    } else {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to initialize Bluetooth: %d",
                            static_cast<int>(status));
    }
    state.cv.notify_all();
    return Void();
}

Return<void> BluetoothHciCallbacks::hciEventReceived(const hidl_vec<uint8_t>& event) {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (event.size() == 0) return Void();
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Received HCI event, size: %zu, data: %s",
                        event.size(), dumpText(event).c_str());
    // A single slot: an event still pending is replaced by the newer one.
    state.eventData.assign(event.begin(), event.end());
    state.cv.notify_all();
    return Void();
}

Return<void> BluetoothHciCallbacks::aclDataReceived(const hidl_vec<uint8_t>&) {
    return Void();
}

Return<void> BluetoothHciCallbacks::scoDataReceived(const hidl_vec<uint8_t>& data) {
    return aclDataReceived(data);
}

}  // namespace bt
