// Decoding of the HCI events that the controller sends during a scan.
//
// The HAL hands over whole events, but the length bytes inside them are the controller's
// word only: nothing here reads a byte at or past `length`, whatever they claim. Where an
// event or report is cut short, decoding stops at the first byte that is missing and keeps
// what was decoded before it.
#include <android/log.h>

#include <cstring>
#include <string>

#include "bt_scanner.h"
#include "bt_utils.h"

// Every line of the parser is INFO with the default tag; a macro keeps the format checked.
#define LOG_INFO(...) __android_log_print(ANDROID_LOG_INFO, nullptr, __VA_ARGS__)

namespace bt {

namespace {

constexpr size_t kAddressSize = 6;
constexpr int kWeakestRssi = -90;  // dBm; anything weaker is dropped
constexpr size_t kMaxRemoteNameSize = 248;

constexpr uint8_t kEventInquiryComplete = 0x01;
constexpr uint8_t kEventInquiryResult = 0x02;
constexpr uint8_t kEventRemoteNameComplete = 0x07;
constexpr uint8_t kEventCommandComplete = 0x0E;
constexpr uint8_t kEventCommandStatus = 0x0F;
constexpr uint8_t kEventExtendedInquiryResult = 0x2F;
constexpr uint8_t kEventLeMeta = 0x3E;
constexpr uint8_t kLeSubeventAdvertisingReport = 0x02;

constexpr uint8_t kAdIncomplete16BitUuids = 0x02;
constexpr uint8_t kAdComplete16BitUuids = 0x03;
constexpr uint8_t kAdShortenedLocalName = 0x08;
constexpr uint8_t kAdCompleteLocalName = 0x09;

// Fixed part of an LE advertising report: event type, address type, address, data length.
constexpr size_t kLeReportHeaderSize = 9;
// Extended Inquiry Result: address at event byte 3, RSSI at 16, response data from 17.
constexpr size_t kEirRssiOffset = 16;
constexpr size_t kEirDataOffset = 17;
constexpr size_t kEirFixedParamLength = 15;

uint16_t readLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

bool isWeak(int8_t rssi) {
    if (rssi >= kWeakestRssi) return false;
    LOG_INFO("  Skipping device with weak signal: %d dBm", rssi);
    return true;
}

const char* nameOpen(const DeviceInfo& device) {
    return device.name.empty() ? "" : " (";
}

std::string nameClose(const DeviceInfo& device) {
    return device.name.empty() ? std::string() : device.name + ")";
}

}  // namespace

void BluetoothScanner::parseHciEvent(const uint8_t* data, size_t length) {
    if (length <= 2) {
        LOG_INFO("Event too short: %zu bytes", length);
        return;
    }
    const uint8_t code = data[0];
    LOG_INFO("Parsing event: code=0x%02x, param_len=%d", code, data[1]);
    switch (code) {
        case kEventInquiryComplete:
            LOG_INFO("Inquiry Complete");
            return;
        case kEventInquiryResult:
            return parseInquiryResult(data, length);
        case kEventRemoteNameComplete:
            return parseRemoteNameComplete(data, length);
        case kEventCommandComplete:
            return parseCommandComplete(data, length);
        case kEventCommandStatus:
            return parseCommandStatus(data, length);
        case kEventExtendedInquiryResult:
            return parseExtendedInquiryResult(data, length);
        case kEventLeMeta:
            return parseLeMetaEvent(data, length);
        default:
            LOG_INFO("Unhandled event code: 0x%02x", code);
            return;
    }
}

DeviceInfo* BluetoothScanner::findDevice(const uint8_t* address) {
    for (DeviceInfo& device : devices) {
        if (std::memcmp(device.address, address, kAddressSize) == 0) return &device;
    }
    return nullptr;
}

bool BluetoothScanner::addClassicDevice(const DeviceInfo& device) {
    if (isWeak(device.rssi) || findDevice(device.address) != nullptr) return false;
    devices.push_back(device);
    state.foundConnectable.store(true);
    return true;
}

void BluetoothScanner::parseInquiryResult(const uint8_t* data, size_t length) {
    const uint8_t paramLength = data[1];
    if (paramLength < 3) return;
    const uint8_t numResponses = data[2];
    LOG_INFO("Inquiry Result: num_responses=%d", numResponses);
    if (numResponses == 0) return;
    const size_t recordSize = (paramLength - 1) / numResponses;
    for (size_t i = 0; i < numResponses; ++i) {
        const size_t start = 3 + i * recordSize;
        // A record that does not fit ends the event. Records shorter than an address
        // (a parameter length too small for Num_Responses) must not be read past the end.
        if (start + recordSize > length || start + kAddressSize > length) return;
        const uint8_t* record = data + start;
        DeviceInfo device;
        std::memcpy(device.address, record, kAddressSize);
        device.connectable = 1;
        const std::string addressText = utils::bdAddrToString(device.address);
        LOG_INFO("Response %d: addr=%s", static_cast<int>(i), addressText.c_str());
        if (recordSize >= 12) {
            std::memcpy(device.deviceClass, record + 9, sizeof(device.deviceClass));
            LOG_INFO("  Device Class: %02x:%02x:%02x", device.deviceClass[0], device.deviceClass[1],
                     device.deviceClass[2]);
        }
        if (addClassicDevice(device)) {
            LOG_INFO("Found new device: %s", addressText.c_str());
            requestDeviceName(device.address);
        }
    }
}

void BluetoothScanner::parseRemoteNameComplete(const uint8_t* data, size_t length) {
    // Every line names the address; an event cut short before its end logs nothing more.
    if (data[1] < 7 || length < 3 + kAddressSize) return;
    const uint8_t status = data[2];
    const uint8_t* address = data + 3;
    const std::string addressText = utils::bdAddrToString(address);
    if (status != 0) {
        LOG_INFO("Remote Name Request failed: addr=%s, status=%d", addressText.c_str(), status);
        return;
    }
    const uint8_t* nameStart = data + 9;
    const size_t available = length > 9 ? length - 9 : 0;
    const size_t limit = available < kMaxRemoteNameSize ? available : kMaxRemoteNameSize;
    size_t nameLength = 0;
    while (nameLength < limit && nameStart[nameLength] != 0) ++nameLength;
    const std::string name(reinterpret_cast<const char*>(nameStart), nameLength);
    LOG_INFO("Remote Name Request Complete: addr=%s, name=%s", addressText.c_str(), name.c_str());
    if (DeviceInfo* device = findDevice(address)) {
        device->name = name;
        LOG_INFO("Updated device name: %s -> %s", addressText.c_str(), name.c_str());
    }
}

// Command Complete and Command Status: a line with a missing field would be wrong, so an
// event whose buffer ends before byte 5 logs nothing beyond the parsing line.
void BluetoothScanner::parseCommandComplete(const uint8_t* data, size_t length) {
    if (data[1] < 4 || length < 6) return;
    LOG_INFO("Command Complete: opcode=0x%04x, status=%d, num_packets=%d", readLe16(data + 3),
             data[5], data[2]);
}

void BluetoothScanner::parseCommandStatus(const uint8_t* data, size_t length) {
    if (data[1] < 4 || length < 6) return;
    LOG_INFO("Command Status: opcode=0x%04x, status=%d, num_packets=%d", readLe16(data + 4),
             data[2], data[3]);
}

void BluetoothScanner::parseExtendedInquiryResult(const uint8_t* data, size_t length) {
    const uint8_t paramLength = data[1];
    // Cut short before the end of its address, the event names no device: nothing to log.
    if (paramLength < kEirFixedParamLength || length < 3 + kAddressSize) return;
    DeviceInfo device;
    std::memcpy(device.address, data + 3, kAddressSize);
    device.connectable = 1;
    const std::string addressText = utils::bdAddrToString(device.address);
    LOG_INFO("Extended Inquiry Result: addr=%s", addressText.c_str());

    // The walk is clamped to the buffer: structures that end inside what arrived count.
    size_t dataLength = paramLength - kEirFixedParamLength;
    const size_t available = length > kEirDataOffset ? length - kEirDataOffset : 0;
    if (dataLength > available) dataLength = available;
    const uint8_t* eir = data + kEirDataOffset;
    for (size_t p = 0; p < dataLength;) {
        const uint8_t fieldLength = eir[p];
        if (fieldLength == 0 || p + fieldLength >= dataLength) break;
        if (fieldLength > 1 && eir[p + 1] == kAdCompleteLocalName) {
            device.name.assign(reinterpret_cast<const char*>(eir + p + 2), fieldLength - 1);
            LOG_INFO("  Name: %s", device.name.c_str());
        }
        p += fieldLength + 1;
    }

    // Without its RSSI byte the response cannot be judged, so it is not added.
    if (length <= kEirRssiOffset) return;
    device.rssi = static_cast<int8_t>(data[kEirRssiOffset]);
    LOG_INFO("  RSSI: %d dBm", device.rssi);
    if (addClassicDevice(device)) {
        LOG_INFO("Found new device: %s%s%s, RSSI: %d dBm", addressText.c_str(), nameOpen(device),
                 nameClose(device).c_str(), device.rssi);
    }
}

void BluetoothScanner::parseLeMetaEvent(const uint8_t* data, size_t length) {
    const uint8_t paramLength = data[1];
    if (paramLength == 0) return;
    const uint8_t subevent = data[2];
    LOG_INFO("LE Meta Event: subevent=0x%02x", subevent);
    if (paramLength == 1 || subevent != kLeSubeventAdvertisingReport) return;
    parseLeAdvertisingReports(data, length);
}

void BluetoothScanner::parseLeAdvertisingReports(const uint8_t* data, size_t length) {
    if (length < 4) return;  // Num_Reports itself is missing
    const uint8_t numReports = data[3];
    LOG_INFO("LE Advertising Report: num_reports=%d", numReports);
    if (numReports == 0 || length < 5) return;
    size_t offset = 4;
    for (int index = 0; index < numReports && offset < length; ++index) {
        const size_t reportSize = parseLeAdvertisingReport(index, data + offset, length - offset);
        if (reportSize == 0) return;
        offset += reportSize;
    }
}

size_t BluetoothScanner::parseLeAdvertisingReport(int index, const uint8_t* report,
                                                  size_t available) {
    // Reports are found only by walking the ones before, so one that is cut short in its
    // fixed part or its data ends the event; the reports before it stand.
    if (available < kLeReportHeaderSize) return 0;
    DeviceInfo device;
    device.eventType = report[0];
    device.addressType = report[1];
    std::memcpy(device.address, report + 2, kAddressSize);
    device.isLe = 1;
    device.connectable = utils::isDeviceConnectable(device.eventType) ? 1 : 0;
    const std::string addressText = utils::bdAddrToString(device.address);
    LOG_INFO("Report %d: type=0x%02x, addr_type=0x%02x, addr=%s", index, device.eventType,
             device.addressType, addressText.c_str());
    const uint8_t adLength = report[8];
    LOG_INFO("  Data length: %d", adLength);
    if (kLeReportHeaderSize + adLength > available) return 0;

    const uint8_t* ad = report + kLeReportHeaderSize;
    for (size_t p = 0; p < adLength;) {
        const uint8_t fieldLength = ad[p];
        if (fieldLength == 0 || p + fieldLength >= adLength) break;
        const uint8_t type = ad[p + 1];
        const uint8_t* field = ad + p + 2;
        const size_t fieldDataLength = fieldLength - 1;
        LOG_INFO("  Field: type=0x%02x, length=%d", type, fieldLength);
        device.adFields.emplace_back(type, std::vector<uint8_t>(field, field + fieldDataLength));
        if (fieldLength != 1) {
            const char* text = reinterpret_cast<const char*>(field);
            if (type == kAdIncomplete16BitUuids || type == kAdComplete16BitUuids) {
                for (size_t k = 0; k + 1 < fieldDataLength; k += 2) {
                    LOG_INFO("    Service UUID: 0x%04x", readLe16(field + k));
                }
            } else if (type == kAdShortenedLocalName && device.name.empty()) {
                device.name.assign(text, fieldDataLength);
                LOG_INFO("    Short Name: %s", device.name.c_str());
            } else if (type == kAdCompleteLocalName) {
                device.name.assign(text, fieldDataLength);
                LOG_INFO("    Name: %s", device.name.c_str());
            }
        }
        p += fieldLength + 1;
    }

    // The RSSI byte may be missing after data that end with the buffer; it then stays 0.
    const size_t rssiOffset = kLeReportHeaderSize + adLength;
    if (rssiOffset < available) {
        device.rssi = static_cast<int8_t>(report[rssiOffset]);
        LOG_INFO("  RSSI: %d dBm", device.rssi);
    }
    const size_t reportSize = rssiOffset + 1;
    if (isWeak(device.rssi)) return reportSize;

    if (DeviceInfo* known = findDevice(device.address)) {
        if (device.rssi != 0) known->rssi = device.rssi;
        if (known->name.empty() && !device.name.empty()) known->name = device.name;
        if (device.connectable) known->connectable = 1;
        return reportSize;
    }
    devices.push_back(device);
    LOG_INFO("Found new device: %s%s%s, RSSI: %d dBm, Connectable: %s", addressText.c_str(),
             nameOpen(device), nameClose(device).c_str(), device.rssi,
             device.connectable ? "Yes" : "No");
    if (device.connectable) {
        state.foundConnectable.store(true);
        requestDeviceName(device.address);
    }
    return reportSize;
}

}  // namespace bt
