#include "bt_scanner.h"

namespace bt {

void BluetoothScanner::parseHciEvent(const uint8_t*, size_t) {}

}  // namespace bt
