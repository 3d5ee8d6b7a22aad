#include "bt_scanner.h"

namespace bt {

bool sendHciCommandToHal(const sp<IBluetoothHci>&, const std::vector<uint8_t>&) { return false; }

BluetoothScanner::~BluetoothScanner() { stopScan(); }
bool BluetoothScanner::startScan(const ScanOptions&) { return false; }
bool BluetoothScanner::stopScan() { return true; }
void BluetoothScanner::processEvents(const ScanOptions&) {}
bool BluetoothScanner::sendHciCommand(const std::vector<uint8_t>& command) {
    return sendHciCommandToHal(hci, command);
}
void BluetoothScanner::requestDeviceName(const uint8_t*) {}

}  // namespace bt
