// The scanner: the one HCI command sender, the scan session and the event parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bt_common.h"

namespace bt {

// LE Set Scan Enable with scanning off and duplicate filtering off. A plain array: the signal
// handler may still need it while static objects are destroyed.
constexpr uint8_t kLeScanDisableCommand[] = {0x0C, 0x20, 0x02, 0x00, 0x00};

// Logs the packet, hands it to the HAL and paces the stream with a 200 ms pause after each
// accepted command. Shared by the scanner and the advertiser.
bool sendHciCommandToHal(const HalLink& hal, const std::vector<uint8_t>& command);

class BluetoothScanner {
  public:
    BluetoothScanner(HalLink& hci, GlobalState& state) : hci(hci), state(state) {}
    ~BluetoothScanner();
    BluetoothScanner(const BluetoothScanner&) = delete;
    BluetoothScanner& operator=(const BluetoothScanner&) = delete;

    bool startScan(const ScanOptions& options);
    bool stopScan();
    void processEvents(const ScanOptions& options);
    const std::vector<DeviceInfo>& getDiscoveredDevices() const { return devices; }

    bool sendHciCommand(const std::vector<uint8_t>& command);
    void requestDeviceName(const uint8_t* address);
    void parseHciEvent(const uint8_t* data, size_t length);

  private:
    // Event parser helpers (bt_scanner_parser.cpp). Each gets the whole event.
    void parseInquiryResult(const uint8_t* data, size_t length);
    void parseRemoteNameComplete(const uint8_t* data, size_t length);
    void parseCommandComplete(const uint8_t* data, size_t length);
    void parseCommandStatus(const uint8_t* data, size_t length);
    void parseExtendedInquiryResult(const uint8_t* data, size_t length);
    void parseLeMetaEvent(const uint8_t* data, size_t length);
    void parseLeAdvertisingReports(const uint8_t* data, size_t length);
    // Decodes one advertising report at `report` with `available` bytes left in the
    // buffer; returns the report's size, or 0 when it does not fit.
    size_t parseLeAdvertisingReport(int index, const uint8_t* report, size_t available);
    DeviceInfo* findDevice(const uint8_t* address);
    // Threshold and look-up shared by the classic paths; true when the record was appended.
    bool addClassicDevice(const DeviceInfo& device);

    HalLink& hci;
    GlobalState& state;
    std::vector<DeviceInfo> devices;
};

}  // namespace bt
