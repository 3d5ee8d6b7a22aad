// libFuzzer target for the HCI event parser: any byte string as one event, twice on the
// same scanner so that the second pass takes the paths for devices already known.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

#include "bt_scanner.h"

namespace bt {

// A null HAL: name requests fail at once instead of pausing 200 ms each.
sp<IBluetoothHci> hci;

namespace {
alignas(GlobalState) unsigned char globalStateStorage[sizeof(GlobalState)];
}  // namespace
GlobalState& globalState = *new (globalStateStorage) GlobalState();

}  // namespace bt

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
