// The event parser against hand-built controller events, each in a buffer of its exact size:
// the device records they leave, the connectable flag and the name requests. And the HAL
// callbacks' single pending event with its log dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "bt_callbacks.h"
#include "bt_scanner.h"
#include "log_sink.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
// With no HAL each name request fails at once with this line.
const char kNameRequested[] = "Bluetooth HCI service not available";

// Hex bytes; the letters A to E stand for six address bytes, A: 01..06, B: 11..16 and so on,
// and *N for N bytes of the letter a.
Bytes hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    for (std::string token; in >> token;) {
        if (token.size() == 1) {
            for (uint8_t b = 1; b <= 6; ++b) bytes.push_back((token[0] - 'A') * 0x10 + b);
        } else if (token[0] == '*') {
            bytes.insert(bytes.end(), std::stoul(token.substr(1)), 'a');
        } else {
            bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
        }
    }
    return bytes;
}

std::string describe(const bt::DeviceInfo& d) {
    char text[96];
    snprintf(text, sizeof(text),
             "%02x%02x%02x%02x%02x%02x le%d et%d at%d cls%02x%02x%02x rssi%d c%d '", d.address[5],
             d.address[4], d.address[3], d.address[2], d.address[1], d.address[0], d.isLe,
             d.eventType, d.addressType, d.deviceClass[0], d.deviceClass[1], d.deviceClass[2],
             d.rssi, d.connectable);
    std::string result = text + d.name + "' [";
    for (const bt::AdField& field : d.adFields) {
        result += (snprintf(text, sizeof(text), " %02x:", field.first), text);
        for (uint8_t b : field.second) result += (snprintf(text, sizeof(text), "%02x", b), text);
    }
    return result + "]";
}

struct Case {
    const char* label;
    Lines events;
    Lines devices;
    bool connectableFound;
    size_t nameRequests;
    Lines lines = {};  // when given: the log, without the parsing lines
};

// clang-format off
const Case kCases[] = {
    {"CommandCompleteAndStatus",  // the second pair is one byte short of the minimum
     {"0e 04 05 0b 20 0c", "0f 04 0c 05 19 04", "0e 03 01 02 03 04", "0f 03 00 01 02 03", "01 01 00"}, {}, false, 0,
     {"Command Complete: opcode=0x200b, status=12, num_packets=5",
      "Command Status: opcode=0x0419, status=12, num_packets=5", "Inquiry Complete"}},
    {"InquiryResult",  // 14-byte records; a repeat; 11-byte records, the second cut short; 1-byte records
     {"02 05", "02 1d 02 A a1 a2 a3 0c 02 5a b1 b2 B a1 a2 a3 04 01 20 b1 b2", "02 0f 01 A a1 a2 a3 0c 02 5a b1 b2",
      "02 17 02 C a1 a2 a3 0c 02 D a1", "02 03 02 01 02"},
     {"060504030201 le0 et0 at0 cls0c025a rssi0 c1 '' []", "161514131211 le0 et0 at0 cls040120 rssi0 c1 '' []",
      "262524232221 le0 et0 at0 cls000000 rssi0 c1 '' []"}, true, 3},
    {"RemoteName",  // unknown address; up to a zero; empty; failed; one byte short
     {"02 0d 02 A B", "07 0b 00 E 41 42 00 43", "07 0b 00 A 41 42 00 43", "07 08 00 A 00", "07 0b 00 B 43 44 00 00",
      "07 0b 04 B 45 46 00 00", "07 06 00 B"},
     {"060504030201 le0 et0 at0 cls000000 rssi0 c1 '' []", "161514131211 le0 et0 at0 cls000000 rssi0 c1 'CD' []"}, true, 2},
    {"RemoteNameAtMost248Bytes",  // and at most what the buffer holds
     {"02 0d 02 A B", "07 ff 00 A *250", "07 ff 00 B *20"},
     {"060504030201 le0 et0 at0 cls000000 rssi0 c1 '" + std::string(248, 'a') + "' []",
      "161514131211 le0 et0 at0 cls000000 rssi0 c1 '" + std::string(20, 'a') + "' []"}, true, 2},
    {"ExtendedInquiryResult",  // the last name ends past the data; a repeat; -91; -90; one byte
                               // short; data cut by the buffer; cut before the RSSI
     {"2f 24 01 A 01 00 0c 02 5a 34 12 c4 02 0a 04 01 09 04 09 41 42 43 03 08 53 48 03 09 58 59 03 09 5a ee",
      "2f 0f 01 A 01 00 0c 02 5a 34 12 b0", "2f 0f 01 B 01 00 0c 02 5a 34 12 a5", "2f 0f 01 C 01 00 0c 02 5a 34 12 a6",
      "2f 0e 01 D 01 00 0c 02 5a 34 12 c4", "2f 24 01 E 01 00 0c 02 5a 34 12 c4 02 0a 04 01 05 04 09 41 42 43 03 08",
      "2f 24 01 A 01 00"},
     {"060504030201 le0 et0 at0 cls000000 rssi-60 c1 'XY' []", "262524232221 le0 et0 at0 cls000000 rssi-90 c1 '' []",
      "464544434241 le0 et0 at0 cls000000 rssi-60 c1 'ABC' []"}, true, 0},
    {"LeTwoReports",  // flags, UUID lists, shortened then complete name, a type without data
     {"3e 32 02 02 00 01 A 1c 02 01 06 05 03 0d 18 0f 18 04 02 aa bb cc 02 03 ee 03 08 53 68 "
      "04 09 46 6f 6f 01 09 c4 03 00 B 00 b5"},
     {"060504030201 le1 et0 at1 cls000000 rssi-60 c1 'Foo' [ 01:06 03:0d180f18 02:aabbcc 03:ee 08:5368 09:466f6f 09:]",
      "161514131211 le1 et3 at0 cls000000 rssi-75 c0 '' []"}, true, 0},
    {"LeEventTypes",  // 0 to 2 connectable; a complete name then a shortened one
     {"3e 3d 02 05 00 00 A 00 c4 01 01 B 09 04 09 46 6f 6f 03 08 53 68 c4 02 00 C 00 c4 03 00 D 00 c4 04 00 E 00 c4"},
     {"060504030201 le1 et0 at0 cls000000 rssi-60 c1 '' []",
      "161514131211 le1 et1 at1 cls000000 rssi-60 c1 'Foo' [ 09:466f6f 08:5368]",
      "262524232221 le1 et2 at0 cls000000 rssi-60 c1 '' []", "363534333231 le1 et3 at0 cls000000 rssi-60 c0 '' []",
      "464544434241 le1 et4 at0 cls000000 rssi-60 c0 '' []"}, true, 2},
    {"LeThreshold",  // three reports declared, two held
     {"3e 30 02 03 03 00 A 00 a5 03 00 B 00 a6"}, {"161514131211 le1 et3 at0 cls000000 rssi-90 c0 '' []"}, false, 0},
    {"LeKnownDeviceUpdates",  // RSSI 0 keeps, a name fills only an empty one, connectable sticks, weak is dropped
     {"3e 0f 02 01 04 01 A 03 02 01 06 c4", "3e 15 02 01 00 00 A 09 04 09 46 6f 6f 03 08 53 68 b0",
      "3e 10 02 01 03 00 A 04 03 08 53 68 00", "3e 0c 02 01 00 00 A 00 a5"},
     {"060504030201 le1 et4 at1 cls000000 rssi-80 c1 'Foo' [ 01:06]"}, false, 0},
    {"ClassicThenLeSameAddress", {"02 0f 01 A a1 a2 a3 0c 02 5a b1 b2", "3e 10 02 01 00 01 A 04 03 08 53 68 c4"},
     {"060504030201 le0 et0 at0 cls0c025a rssi-60 c1 'Sh' []"}, true, 1},
    {"LeCutShort",  // too short; one byte short; no room for a report; the second report's fixed part
                    // or data cut; data past its length and no RSSI; walks ending at a zero length and
                    // before a structure that would take the RSSI byte
     {"3e 00", "3e 01 02 01 00 00 A 00 c4", "3e 05 02", "3e 02 02 00", "3e 02 02 01", "3e 30 02 02 03 00 B 00 c4 03 00 11 12",
      "3e 30 02 02 03 00 C 00 c4 03 00 B 05 02 01", "3e 0f 02 01 03 00 E 05 02 01 06 05 09",
      "3e 23 02 02 03 00 A 08 02 01 06 00 03 09 41 42 c4 03 00 D 05 02 01 06 02 09 b0"},
     {"161514131211 le1 et3 at0 cls000000 rssi-60 c0 '' []", "262524232221 le1 et3 at0 cls000000 rssi-60 c0 '' []",
      "464544434241 le1 et3 at0 cls000000 rssi0 c0 '' [ 01:06]", "060504030201 le1 et3 at0 cls000000 rssi-60 c0 '' [ 01:06]",
      "363534333231 le1 et3 at0 cls000000 rssi-80 c0 '' [ 01:06]"}, false, 0},
};
// clang-format on

TEST(Parser, EventsLeaveTheseDevices) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        bt::globalState.foundConnectable = false;
        testsupport::clearLog();
        bt::BluetoothScanner scanner(bt::hci, bt::globalState);
        for (const std::string& event : c.events) {
            const Bytes bytes = hex(event);
            scanner.parseHciEvent(bytes.data(), bytes.size());
        }
        Lines devices, log = testsupport::logTexts(), lines;
        for (const bt::DeviceInfo& d : scanner.getDiscoveredDevices())
            devices.push_back(describe(d));
        EXPECT_EQ(devices, c.devices);
        EXPECT_EQ(bt::globalState.foundConnectable.load(), c.connectableFound);
        EXPECT_EQ(std::count(log.begin(), log.end(), kNameRequested), c.nameRequests);
        for (const std::string& line : log) {
            if (line != kNameRequested && line.rfind("Parsing event", 0) != 0)
                lines.push_back(line);
        }
        EXPECT_TRUE(c.lines.empty() || lines == c.lines) << ::testing::PrintToString(lines);
    }
}

// A second event replaces one not yet taken; the dump shows at most 16 bytes.
TEST(Callbacks, KeepOnlyTheLatestEvent) {
    testsupport::clearLog();
    android::sp<bt::BluetoothHciCallbacks> callbacks =
        new bt::BluetoothHciCallbacks(bt::globalState);
    const Bytes second = hex("0f 04 00 01 19 04 b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba");
    callbacks->hciEventReceived(hex("0e 04 01 03 0c 00 a0 a1 a2 a3 a4 a5 a6 a7 a8 a9"));
    callbacks->hciEventReceived(second);
    callbacks->hciEventReceived(Bytes{});
    EXPECT_EQ(bt::globalState.eventData, second);
    EXPECT_EQ(
        testsupport::logTexts(),
        (Lines{
            "Received HCI event, size: 16, data: 0e 04 01 03 0c 00 a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 ",
            "Received HCI event, size: 17, data: 0f 04 00 01 19 04 b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 "
            "..."}));
}

}  // namespace
