#include "advertising.h"

#include <algorithm>

#include "hci_defs.h"

namespace orvalinquist {
namespace peer {
namespace {

void appendField(std::vector<uint8_t>* data, uint8_t type, const std::vector<uint8_t>& value) {
    data->push_back(static_cast<uint8_t>(value.size() + 1));
    data->push_back(type);
    data->insert(data->end(), value.begin(), value.end());
}

// The command parameters for 31 bytes of advertising data: used length, then the data.
bool toParams(const std::vector<uint8_t>& data, std::vector<uint8_t>* params, std::string* error) {
    if (data.size() > kAdvertisingDataMax) {
        *error = "advertising data exceed 31 bytes: shorten the name or drop UUIDs";
        return false;
    }
    params->assign(1, static_cast<uint8_t>(data.size()));
    params->insert(params->end(), data.begin(), data.end());
    params->resize(1 + kAdvertisingDataMax, 0);
    return true;
}

std::string completeNameOf(const uint8_t* data, size_t len) {
    size_t pos = 0;
    while (pos < len && data[pos] != 0 && pos + data[pos] < len) {
        const uint8_t fieldLen = data[pos];
        if (fieldLen >= 2 && data[pos + 1] == kAdCompleteName) {
            return std::string(reinterpret_cast<const char*>(&data[pos + 2]), fieldLen - 1);
        }
        pos += fieldLen + 1;
    }
    return std::string();
}

}  // namespace

bool buildAdvertisingData(const PeerConfig& config, std::vector<uint8_t>* params,
                          std::string* error) {
    // General discoverable; "BR/EDR not supported" only when the classic side stays dark.
    const bool classic = config.inquiryScan || config.pageScan;
    std::vector<uint8_t> data;
    appendField(&data, kAdFlags, {static_cast<uint8_t>(classic ? 0x02 : 0x06)});
    if (!config.name.empty() && !config.nameInScanResponse) {
        appendField(&data, kAdCompleteName, {config.name.begin(), config.name.end()});
    }
    if (!config.uuids.empty()) {
        std::vector<uint8_t> list;
        for (uint16_t uuid : config.uuids) {
            list.push_back(static_cast<uint8_t>(uuid & 0xff));
            list.push_back(static_cast<uint8_t>(uuid >> 8));
        }
        appendField(&data, kAdCompleteUuid16, list);
    }
    return toParams(data, params, error);
}

bool buildScanResponseData(const PeerConfig& config, std::vector<uint8_t>* params,
                           std::string* error) {
    std::vector<uint8_t> data;
    if (config.nameInScanResponse) {
        appendField(&data, kAdCompleteName, {config.name.begin(), config.name.end()});
    }
    return toParams(data, params, error);
}

std::vector<uint8_t> buildAdvertisingParameters(LeMode mode, const Advertiser& target) {
    uint8_t type = 0x00;                               // ADV_IND
    if (mode == LeMode::kScannable) type = 0x02;       // ADV_SCAN_IND
    if (mode == LeMode::kNonConnectable) type = 0x03;  // ADV_NONCONN_IND
    if (mode == LeMode::kDirected) type = 0x04;        // ADV_DIRECT_IND, low duty cycle
    const bool directed = mode == LeMode::kDirected;
    std::vector<uint8_t> params = {
        0x20, 0x00, 0x40, 0x00, type, 0x00, directed ? target.addressType : uint8_t{0}};
    for (uint8_t byte : target.address) params.push_back(directed ? byte : 0);
    params.push_back(0x07);  // all three channels
    params.push_back(0x00);  // no filter
    return params;
}

bool findAdvertiser(const std::vector<uint8_t>& event, const std::string& name, Advertiser* sender) {
    if (event.size() < 5 || event[0] != kLeMeta || event[2] != kLeAdvertisingReport) return false;
    // Each report: event type, address type, address, data length, data, RSSI.
    size_t pos = 4;
    for (uint8_t i = 0; i < event[3] && pos + 9 <= event.size(); ++i) {
        const size_t dataLen = event[pos + 8];
        if (pos + 10 + dataLen > event.size()) break;
        if (completeNameOf(&event[pos + 9], dataLen) == name) {
            sender->addressType = event[pos + 1];
            std::copy(&event[pos + 2], &event[pos + 8], sender->address);
            return true;
        }
        pos += 10 + dataLen;
    }
    return false;
}

}  // namespace peer
}  // namespace orvalinquist
