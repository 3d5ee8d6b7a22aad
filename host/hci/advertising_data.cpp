#include "advertising_data.h"

#include "hci_codes.h"

namespace orvalinquist {
namespace host {

std::vector<AdvertisingReport> advertisingReports(const std::vector<uint8_t>& event) {
    std::vector<AdvertisingReport> reports;
    if (event.size() < 4 || event[0] != kLeMeta || event[2] != kLeAdvertisingReport) {
        return reports;
    }
    // Reports one after the other: type, address type, address, length, data, RSSI.
    size_t at = 4;
    for (int i = 0; i < event[3] && at + 9 <= event.size(); ++i) {
        const size_t data_size = event[at + 8];
        if (at + 10 + data_size > event.size()) break;
        reports.push_back({event[at + 1], &event[at + 2], event.data() + at + 9, data_size});
        at += 10 + data_size;
    }
    return reports;
}

std::vector<AdStructure> adStructures(const uint8_t* data, size_t size) {
    std::vector<AdStructure> structures;
    // Each structure: its length (type included), type, value.
    for (size_t at = 0; at < size && data[at] != 0 && at + 1 + data[at] <= size;
         at += 1 + data[at]) {
        structures.push_back({data[at + 1], data + at + 2, static_cast<size_t>(data[at] - 1)});
    }
    return structures;
}

}  // namespace host
}  // namespace orvalinquist
