// libFuzzer target for the HCI event parser: any byte string as one event, twice on the same
// scanner so that the second pass takes the paths for devices already known. The session
// state is the entry unit's own; no HAL service exists, so name requests fail at once.
#include <android/binder_manager.h>

#include <cstdarg>
#include <cstdio>

#include "bt_scanner.h"

android::sp<bt::IBluetoothHci> bt::IBluetoothHci::getService(const std::string&, bool) {
    return nullptr;
}
bool AServiceManager_isDeclared(const char*) {
    return false;
}
AIBinder* AServiceManager_checkService(const char*) {
    return nullptr;
}

// Formats every line, so that each argument is really read, and throws the text away.
extern "C" int __android_log_print(int, const char*, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    const int size = std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bt::BluetoothScanner scanner(bt::hci, bt::globalState);
    scanner.parseHciEvent(data, size);
    scanner.parseHciEvent(data, size);
    return 0;
}
