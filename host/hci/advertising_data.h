// Walks the reports of an LE Advertising Report event and the AD structures of advertising or
// extended inquiry response data. Each walk ends at the first element that runs past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvalinquist {
namespace host {

struct AdvertisingReport {
    uint8_t address_type;
    const uint8_t* address;  // 6 bytes, least significant first
    const uint8_t* data;     // the advertising data
    size_t data_size;
};

// The whole reports of `event` (event code, parameter length, parameters) when it is an LE
// Advertising Report; none for any other event. They point into `event`.
std::vector<AdvertisingReport> advertisingReports(const std::vector<uint8_t>& event);

struct AdStructure {
    uint8_t type;
    const uint8_t* value;
    size_t size;
};

// The structures up to the first of length 0, which pads the rest. They point into `data`.
std::vector<AdStructure> adStructures(const uint8_t* data, size_t size);

}  // namespace host
}  // namespace orvalinquist
