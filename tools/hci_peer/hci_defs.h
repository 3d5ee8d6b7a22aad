// The HCI commands, events and advertising-data types that the peer uses, in one place.
#pragma once

#include <cstdint>

namespace orvalinquist {
namespace peer {

// Commands (OGF << 10 | OCF).
constexpr uint16_t kSetEventMask = 0x0c01;
constexpr uint16_t kReset = 0x0c03;
constexpr uint16_t kWriteLocalName = 0x0c13;
constexpr uint16_t kWriteScanEnable = 0x0c1a;
constexpr uint16_t kWriteClassOfDevice = 0x0c24;
constexpr uint16_t kReadBdAddr = 0x1009;
constexpr uint16_t kLeSetAdvertisingParameters = 0x2006;
constexpr uint16_t kLeSetAdvertisingData = 0x2008;
constexpr uint16_t kLeSetScanResponseData = 0x2009;
constexpr uint16_t kLeSetAdvertisingEnable = 0x200a;
constexpr uint16_t kLeSetScanParameters = 0x200b;
constexpr uint16_t kLeSetScanEnable = 0x200c;

// Packet type and events.
constexpr uint8_t kCommandPacket = 0x01;
constexpr uint8_t kCommandComplete = 0x0e;
constexpr uint8_t kCommandStatus = 0x0f;
constexpr uint8_t kLeMeta = 0x3e;
constexpr uint8_t kLeAdvertisingReport = 0x02;

// Advertising-data (AD) structure types.
constexpr uint8_t kAdFlags = 0x01;
constexpr uint8_t kAdCompleteUuid16 = 0x03;
constexpr uint8_t kAdCompleteName = 0x09;
constexpr size_t kAdvertisingDataMax = 31;

}  // namespace peer
}  // namespace orvalinquist
