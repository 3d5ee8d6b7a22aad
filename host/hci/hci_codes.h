// The HCI values that the host platform and the tools speak, each written here once: command
// opcodes (OGF << 10 | OCF), event codes, advertising-data types, a status and field sizes.
// The tool in src/ keeps its own, so that it builds alone in an Android tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvalinquist {
namespace host {

constexpr uint16_t kInquiryOpcode = 0x0401;
constexpr uint16_t kInquiryCancelOpcode = 0x0402;
constexpr uint16_t kRemoteNameRequestOpcode = 0x0419;
constexpr uint16_t kSetEventMaskOpcode = 0x0c01;
constexpr uint16_t kResetOpcode = 0x0c03;
constexpr uint16_t kWriteLocalNameOpcode = 0x0c13;
constexpr uint16_t kWriteScanEnableOpcode = 0x0c1a;
constexpr uint16_t kWriteClassOfDeviceOpcode = 0x0c24;
constexpr uint16_t kReadBdAddrOpcode = 0x1009;
constexpr uint16_t kLeSetAdvertisingParametersOpcode = 0x2006;
constexpr uint16_t kLeSetAdvertisingDataOpcode = 0x2008;
constexpr uint16_t kLeSetScanResponseDataOpcode = 0x2009;
constexpr uint16_t kLeSetAdvertisingEnableOpcode = 0x200a;
constexpr uint16_t kLeSetScanParametersOpcode = 0x200b;
constexpr uint16_t kLeSetScanEnableOpcode = 0x200c;

// Event codes, and the one LE Meta subevent in use.
constexpr uint8_t kInquiryResult = 0x02;
constexpr uint8_t kRemoteNameRequestComplete = 0x07;
constexpr uint8_t kCommandComplete = 0x0e;
constexpr uint8_t kCommandStatus = 0x0f;
constexpr uint8_t kInquiryResultWithRssi = 0x22;
constexpr uint8_t kExtendedInquiryResult = 0x2f;
constexpr uint8_t kLeMeta = 0x3e;
constexpr uint8_t kLeAdvertisingReport = 0x02;

// Advertising-data (AD) structure types, also those of extended inquiry response data.
constexpr uint8_t kAdFlags = 0x01;
constexpr uint8_t kAdCompleteUuid16 = 0x03;
constexpr uint8_t kAdShortName = 0x08;
constexpr uint8_t kAdCompleteName = 0x09;

constexpr uint8_t kPageTimeout = 0x04;  // a status: the remote device did not answer

// A local name, and the name field of Remote Name Request Complete.
constexpr size_t kMaxNameSize = 248;
constexpr size_t kMaxAdvertisingDataSize = 31;

// The opcode of a command packet (no type byte), which holds at least its 3-byte header.
inline uint16_t opcodeOf(const std::vector<uint8_t>& command) {
    return static_cast<uint16_t>(command[0] | command[1] << 8);
}

}  // namespace host
}  // namespace orvalinquist
