// The commands a session of the tool sends, byte for byte, and what the black-box tests make
// of them: hex text as the tool logs it, the least pause after each, a whole scan's list.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "h4_controller.h"

namespace testsupport {

using Lines = std::vector<std::string>;

inline Bytes padded(Bytes head, const std::string& text, size_t size) {
    head.insert(head.end(), text.begin(), text.end());
    head.resize(size, 0x00);
    return head;
}

// F1 F2 .. F6, least significant first: F6:F5:F4:F3:F2:F1.
inline Bytes address(uint8_t high) {
    return {uint8_t(high + 1), uint8_t(high + 2), uint8_t(high + 3),
            uint8_t(high + 4), uint8_t(high + 5), uint8_t(high + 6)};
}

// clang-format off
const Bytes kReset = {0x03, 0x0C, 0x00}, kClassOfDevice = {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C};
const Bytes kAdvParameters = {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x07, 0x00};
const Bytes kAdvData = padded({0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09}, "Orvalinquist", 35);
const Bytes kScanResponse = padded({0x09, 0x20, 0x20, 0x00}, "", 35);
const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00};
const Bytes kScanParameters = {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00};
const Bytes kScanOn = {0x0C, 0x20, 0x02, 0x01, 0x00}, kScanOff = {0x0C, 0x20, 0x02, 0x00, 0x00};
const Bytes kNameRequest = {0x19, 0x04, 0x0A};  // then the address, 01 00 00 00
// Everything `enable` sends, ending with the command sender's scan disable.
const std::vector<Bytes> kBringUp = {
    kReset, {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D}, kClassOfDevice,
    padded({0x13, 0x0C, 0xF8}, "Orvalinquist", 251), kAdvParameters, kAdvData, kScanResponse,
    {0x0A, 0x20, 0x01, 0x01}, {0x1A, 0x0C, 0x01, 0x03}, kScanOff};
const Bytes kA = address(0xA0), kB = address(0xB0), kC = address(0xC0), kD = address(0xD0), kE = address(0xE0);
// clang-format on

// The sender's 200 ms after every command; 300 ms more after the reset, the first three
// advertising commands and the scan parameters. After the scan enable or a name request the
// next command waits for the scan's events or its end instead.
inline long leastGapAfter(const Bytes& c) {
    if (c == kScanOn || c[0] == kNameRequest[0]) return 0;
    for (const Bytes& longer : {kReset, kAdvParameters, kAdvData, kScanResponse, kScanParameters}) {
        if (c == longer) return 480;
    }
    return 180;
}

inline long msBetween(const ReceivedCommand& a, const ReceivedCommand& b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b.time - a.time).count();
}

inline std::string hex(const Bytes& packet) {
    std::string text;
    char byte[4];
    for (uint8_t b : packet) text += (std::snprintf(byte, 4, "%02x ", b), byte);
    return text;
}

inline Bytes inquiryResult(const Bytes& address) {
    Bytes event = address;
    event.insert(event.begin(), {0x02, 0x0F, 0x01});
    event.insert(event.end(), {0x01, 0x00, 0x00, 0x20, 0x04, 0x2C, 0x00, 0x00});
    return event;
}

inline Lines hexAll(const std::vector<Bytes>& packets) {
    Lines texts;
    for (const Bytes& packet : packets) texts.push_back(hex(packet));
    return texts;
}

// The commands of a scan that asks for the names of `unnamed`.
inline Lines scanOf(const std::vector<Bytes>& unnamed) {
    Lines all = hexAll(kBringUp);
    for (const Bytes& command : {kInquiry, kScanParameters, kScanOn}) all.push_back(hex(command));
    for (const Bytes& address : unnamed)
        all.push_back(hex(kNameRequest) + hex(address) + "01 00 00 00 ");
    all.insert(all.end(), 2, hex(kScanOff));  // the scan's end, the scanner's destruction
    return all;
}

inline std::string withPath(std::string text, const std::string& path) {
    size_t at = text.find("FILE");
    return at == std::string::npos ? text : text.replace(at, 4, path);
}

// Each case under the HIDL HAL and under the AIDL one.
const std::string kHalKinds[] = {"hidl", "aidl"};

template <typename Case>
inline std::string caseAndHal(const ::testing::TestParamInfo<std::tuple<Case, std::string>>& info) {
    return std::string(std::get<0>(info.param).label) + "_" + std::get<1>(info.param);
}

}  // namespace testsupport
