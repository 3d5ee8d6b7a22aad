#include "advertising.h"

#include <algorithm>

#include "advertising_data.h"
#include "hci_codes.h"

namespace orvalinquist {
namespace peer {
namespace {

using host::kAdCompleteName;
using host::kMaxAdvertisingDataSize;

void appendField(std::vector<uint8_t>* data, uint8_t type, const std::vector<uint8_t>& value) {
    data->push_back(static_cast<uint8_t>(value.size() + 1));
    data->push_back(type);
    data->insert(data->end(), value.begin(), value.end());
}

// The command parameters for 31 bytes of advertising data: used length, then the data.
bool toParams(const std::vector<uint8_t>& data, std::vector<uint8_t>* params, std::string* error) {
    if (data.size() > kMaxAdvertisingDataSize) {
        *error = "advertising data exceed " + std::to_string(kMaxAdvertisingDataSize) +
                 " bytes: shorten the name or drop UUIDs";
        return false;
    }
    params->assign(1, static_cast<uint8_t>(data.size()));
    params->insert(params->end(), data.begin(), data.end());
    params->resize(1 + kMaxAdvertisingDataSize, 0);
    return true;
}

std::string completeNameOf(const uint8_t* data, size_t len) {
    for (const host::AdStructure& field : host::adStructures(data, len)) {
        if (field.size > 0 && field.type == kAdCompleteName) {
            return std::string(reinterpret_cast<const char*>(field.value), field.size);
        }
    }
    return std::string();
}

}  // namespace

bool buildAdvertisingData(const PeerConfig& config, std::vector<uint8_t>* params,
                          std::string* error) {
    // General discoverable; "BR/EDR not supported" only when the classic side stays dark.
    const bool classic = config.inquiryScan || config.pageScan;
    std::vector<uint8_t> data;
    appendField(&data, host::kAdFlags, {static_cast<uint8_t>(classic ? 0x02 : 0x06)});
    if (!config.name.empty() && !config.nameInScanResponse) {
        appendField(&data, kAdCompleteName, {config.name.begin(), config.name.end()});
    }
    if (!config.uuids.empty()) {
        std::vector<uint8_t> list;
        for (uint16_t uuid : config.uuids) {
            list.push_back(static_cast<uint8_t>(uuid & 0xff));
            list.push_back(static_cast<uint8_t>(uuid >> 8));
        }
        appendField(&data, host::kAdCompleteUuid16, list);
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
    for (const host::AdvertisingReport& report : host::advertisingReports(event)) {
        if (completeNameOf(report.data, report.data_size) == name) {
            sender->addressType = report.address_type;
            std::copy(report.address, report.address + 6, sender->address);
            return true;
        }
    }
    return false;
}

}  // namespace peer
}  // namespace orvalinquist
