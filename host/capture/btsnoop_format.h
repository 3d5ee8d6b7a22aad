// The btsnoop file format, as the capture writer and reader share it: a 16-byte file header
// ("btsnoop\0", version, datalink), then records of a 24-byte header and the packet.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvalinquist {
namespace host {

constexpr char kBtSnoopMagic[8] = {'b', 't', 's', 'n', 'o', 'o', 'p', '\0'};
constexpr size_t kFileHeaderSize = 16;
constexpr size_t kRecordHeaderSize = 24;
constexpr uint32_t kDatalinkH4 = 1002;       // each packet with its H4 type byte
constexpr uint32_t kDatalinkMonitor = 2001;  // Linux monitor (btmon -w)

}  // namespace host
}  // namespace orvalinquist
