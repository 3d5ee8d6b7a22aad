// The event parser against hand-built controller events: log text, device list, flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "bt_scanner.h"
#include "fake_hal.h"
#include "log_sink.h"

namespace {

using Bytes = std::vector<uint8_t>;
const char kNoHal[] = "Bluetooth HCI service not available";
#define A_ "06:05:04:03:02:01"
#define B_ "16:15:14:13:12:11"

// Hex bytes; "A" and "B" stand for the addresses above, least significant byte first.
Bytes hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    for (std::string token; in >> token;) {
        if (token == "A" || token == "B") {
            for (uint8_t b = 1; b <= 6; ++b) bytes.push_back((token == "A" ? 0 : 0x10) + b);
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
        Bytes entry = {field.first};
        entry.insert(entry.end(), field.second.begin(), field.second.end());
        for (size_t i = 0; i < entry.size(); ++i) {
            snprintf(text, sizeof(text), i == 0 ? " %02x:" : "%02x", entry[i]);
            result += text;
        }
    }
    return result + "]";
}

class ParserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetSession();
        testsupport::clearLog();
    }
    void parse(const std::string& event) {
        Bytes bytes = hex(event);
        scanner.parseHciEvent(bytes.data(), bytes.size());
    }
    std::vector<std::string> parserLines() {
        std::vector<std::string> texts;
        for (const std::string& text : testsupport::toolLogTexts()) {
            if (text != kNoHal) texts.push_back(text);
        }
        for (const testsupport::LogLine& line : testsupport::logLines()) {
            if (line.text != kNoHal) {
                EXPECT_EQ(line.priority, 4) << line.text;
            }
        }
        return texts;
    }
    std::vector<std::string> devices() {
        std::vector<std::string> texts;
        for (const bt::DeviceInfo& d : scanner.getDiscoveredDevices()) texts.push_back(describe(d));
        return texts;
    }
    bt::BluetoothScanner scanner{bt::hci, bt::globalState};
};

struct Case {
    const char* label;
    std::vector<std::string> events;
    std::vector<std::string> lines;  // empty: not checked
    std::vector<std::string> devices;
    bool connectableFound;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.label;
}

class ParserCases : public ParserTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ParserCases, LogsAndDevices) {
    for (const std::string& event : GetParam().events) parse(event);
    if (!GetParam().lines.empty()) {
        EXPECT_EQ(parserLines(), GetParam().lines);
    }
    EXPECT_EQ(devices(), GetParam().devices);
    // Every appended device, and only that, is announced once.
    const std::vector<std::string> texts = testsupport::toolLogTexts();
    EXPECT_EQ(
        std::count_if(texts.begin(), texts.end(),
                      [](const std::string& t) { return t.rfind("Found new device: ", 0) == 0; }),
        static_cast<long>(GetParam().devices.size()));
    EXPECT_EQ(bt::globalState.foundConnectable.load(), GetParam().connectableFound);
}

// clang-format off
const Case kCases[] = {
    {"Dispatch", {"3e 00", "01 01 00", "22 01 00", "00 01 00", "ff 00 00"},
     {"Event too short: 2 bytes", "Parsing event: code=0x01, param_len=1", "Inquiry Complete",
      "Parsing event: code=0x22, param_len=1", "Unhandled event code: 0x22",
      "Parsing event: code=0x00, param_len=1", "Unhandled event code: 0x00",
      "Parsing event: code=0xff, param_len=0", "Unhandled event code: 0xff"}, {}, false},
    {"BelowMinimumParamLength",
     {"02 02 01 00", "07 06 00 A", "0e 03 01 02 03 04", "0f 03 00 01 02 03",
      "2f 0e 01 A 01 00 0c 02 5a 00 00 c4", "3e 00 02", "3e 01 02 01 00 00 A 00 c4", "3e 02 01 00"},
     {"Parsing event: code=0x02, param_len=2", "Parsing event: code=0x07, param_len=6",
      "Parsing event: code=0x0e, param_len=3", "Parsing event: code=0x0f, param_len=3",
      "Parsing event: code=0x2f, param_len=14", "Parsing event: code=0x3e, param_len=0",
      "Parsing event: code=0x3e, param_len=1", "LE Meta Event: subevent=0x02",
      "Parsing event: code=0x3e, param_len=2", "LE Meta Event: subevent=0x01"}, {}, false},
    {"CommandCompleteAndStatusFields", {"0e 04 05 0b 20 0c", "0f 04 0c 05 19 04", "0e 04 05 0b 20"},
     {"Parsing event: code=0x0e, param_len=4", "Command Complete: opcode=0x200b, status=12, num_packets=5",
      "Parsing event: code=0x0f, param_len=4", "Command Status: opcode=0x0419, status=12, num_packets=5",
      "Parsing event: code=0x0e, param_len=4"}, {}, false},
    {"InquiryResult14ByteRecordsThenRepeat",
     {"02 1d 02 A a1 a2 a3 0c 02 5a b1 b2 B a1 a2 a3 04 01 20 b1 b2", "02 0f 01 A a1 a2 a3 0c 02 5a b1 b2"},
     {"Parsing event: code=0x02, param_len=29", "Inquiry Result: num_responses=2",
      "Response 0: addr=" A_, "  Device Class: 0c:02:5a", "Found new device: " A_,
      "Response 1: addr=" B_, "  Device Class: 04:01:20", "Found new device: " B_,
      "Parsing event: code=0x02, param_len=15", "Inquiry Result: num_responses=1",
      "Response 0: addr=" A_, "  Device Class: 0c:02:5a"},
     {"060504030201 le0 et0 at0 cls0c025a rssi0 c1 '' []", "161514131211 le0 et0 at0 cls040120 rssi0 c1 '' []"}, true},
    {"InquiryResult11ByteRecordsSecondCutShort", {"02 17 02 A a1 a2 a3 0c 02 B a1"},
     {"Parsing event: code=0x02, param_len=23", "Inquiry Result: num_responses=2",
      "Response 0: addr=" A_, "Found new device: " A_},
     {"060504030201 le0 et0 at0 cls000000 rssi0 c1 '' []"}, true},
    {"InquiryResultRecordSizes",
     {"02 03 02 01 02", "02 1d 02 A a1 a2 a3 0c 02 5a b1 b2 B", "02 0d 01 B a1 a2 a3 04 01 20"}, {},
     {"060504030201 le0 et0 at0 cls0c025a rssi0 c1 '' []", "161514131211 le0 et0 at0 cls040120 rssi0 c1 '' []"}, true},
    {"RemoteName", {"07 0b 00 B 41 42 00 43", "02 07 01 A", "07 0b 00 A 41 42 00 43", "07 07 04 A", "07 0a 00 A 00"},
     {"Parsing event: code=0x07, param_len=11", "Remote Name Request Complete: addr=" B_ ", name=AB",
      "Parsing event: code=0x02, param_len=7", "Inquiry Result: num_responses=1",
      "Response 0: addr=" A_, "Found new device: " A_, "Parsing event: code=0x07, param_len=11",
      "Remote Name Request Complete: addr=" A_ ", name=AB", "Updated device name: " A_ " -> AB",
      "Parsing event: code=0x07, param_len=7", "Remote Name Request failed: addr=" A_ ", status=4",
      "Parsing event: code=0x07, param_len=10", "Remote Name Request Complete: addr=" A_ ", name=",
      "Updated device name: " A_ " -> "},
     {"060504030201 le0 et0 at0 cls000000 rssi0 c1 '' []"}, true},
    {"ExtendedInquiryResultWalk",  // the last structure ends one byte past the data: not taken
     {"2f 24 01 A 01 00 0c 02 5a 34 12 c4 02 0a 04 01 09 04 09 41 42 43 03 08 53 48 03 09 58 59 03 09 5a ee",
      "2f 0f 01 A 01 00 0c 02 5a 34 12 b0"},
     {"Parsing event: code=0x2f, param_len=36", "Extended Inquiry Result: addr=" A_, "  Name: ABC",
      "  Name: XY", "  RSSI: -60 dBm", "Found new device: " A_ " (XY), RSSI: -60 dBm",
      "Parsing event: code=0x2f, param_len=15", "Extended Inquiry Result: addr=" A_, "  RSSI: -80 dBm"},
     {"060504030201 le0 et0 at0 cls000000 rssi-60 c1 'XY' []"}, true},
    {"ExtendedInquiryResultThreshold", {"2f 0f 01 A 01 00 0c 02 5a 34 12 a5", "2f 0f 01 B 01 00 0c 02 5a 34 12 a6"},
     {"Parsing event: code=0x2f, param_len=15", "Extended Inquiry Result: addr=" A_, "  RSSI: -91 dBm",
      "  Skipping device with weak signal: -91 dBm", "Parsing event: code=0x2f, param_len=15",
      "Extended Inquiry Result: addr=" B_, "  RSSI: -90 dBm", "Found new device: " B_ ", RSSI: -90 dBm"},
     {"161514131211 le0 et0 at0 cls000000 rssi-90 c1 '' []"}, true},
    {"ExtendedInquiryResultCutShort",
     {"2f 24 01 A 01 00 0c 02 5a 34 12 c4 02 0a 04 01 05 04 09 41 42 43 03 08", "2f 24 01 B 01 00"}, {},
     {"060504030201 le0 et0 at0 cls000000 rssi-60 c1 'ABC' []"}, true},
    {"LeTwoReportsAdWalk",
     {"3e 32 02 02 00 01 A 1c 02 01 06 05 03 0d 18 0f 18 04 02 aa bb cc 02 03 ee 03 08 53 68 "
      "04 09 46 6f 6f 01 09 c4 03 00 B 00 b5"},
     {"Parsing event: code=0x3e, param_len=50", "LE Meta Event: subevent=0x02",
      "LE Advertising Report: num_reports=2", "Report 0: type=0x00, addr_type=0x01, addr=" A_,
      "  Data length: 28", "  Field: type=0x01, length=2", "  Field: type=0x03, length=5",
      "    Service UUID: 0x180d", "    Service UUID: 0x180f", "  Field: type=0x02, length=4",
      "    Service UUID: 0xbbaa", "  Field: type=0x03, length=2", "  Field: type=0x08, length=3",
      "    Short Name: Sh", "  Field: type=0x09, length=4", "    Name: Foo", "  Field: type=0x09, length=1",
      "  RSSI: -60 dBm", "Found new device: " A_ " (Foo), RSSI: -60 dBm, Connectable: Yes",
      "Report 1: type=0x03, addr_type=0x00, addr=" B_, "  Data length: 0", "  RSSI: -75 dBm",
      "Found new device: " B_ ", RSSI: -75 dBm, Connectable: No"},
     {"060504030201 le1 et0 at1 cls000000 rssi-60 c1 'Foo' "
      "[ 01:06 03:0d180f18 02:aabbcc 03:ee 08:5368 09:466f6f 09:]",
      "161514131211 le1 et3 at0 cls000000 rssi-75 c0 '' []"}, true},
    {"LeKnownDeviceUpdates",  // rssi 0 keeps, a name fills only an empty one, connectable sticks
     {"3e 0f 02 01 04 01 A 03 02 01 06 c4", "3e 15 02 01 00 00 A 09 04 09 46 6f 6f 03 08 53 68 b0",
      "3e 10 02 01 03 00 A 04 03 08 53 68 00", "3e 0c 02 01 00 00 A 00 a5"}, {},
     {"060504030201 le1 et4 at1 cls000000 rssi-80 c1 'Foo' [ 01:06]"}, false},
    {"ClassicThenLeSameAddress", {"02 0f 01 A a1 a2 a3 0c 02 5a b1 b2", "3e 10 02 01 00 01 A 04 03 08 53 68 c4"}, {},
     {"060504030201 le0 et0 at0 cls0c025a rssi-60 c1 'Sh' []"}, true},
    {"LeShortEvents", {"3e 05 02", "3e 02 02 00", "3e 02 02 01"},
     {"Parsing event: code=0x3e, param_len=5", "LE Meta Event: subevent=0x02",
      "Parsing event: code=0x3e, param_len=2", "LE Meta Event: subevent=0x02",
      "LE Advertising Report: num_reports=0", "Parsing event: code=0x3e, param_len=2",
      "LE Meta Event: subevent=0x02", "LE Advertising Report: num_reports=1"}, {}, false},
    {"LeWeakReportSkippedThreeDeclaredTwoHeld", {"3e 30 02 03 03 00 A 00 a5 03 00 B 00 b0"}, {},
     {"161514131211 le1 et3 at0 cls000000 rssi-80 c0 '' []"}, false},
    {"LeSecondReportFixedPartCutShort", {"3e 30 02 02 03 00 A 00 c4 03 00 11 12"}, {},
     {"060504030201 le1 et3 at0 cls000000 rssi-60 c0 '' []"}, false},
    {"LeSecondReportDataCutShort", {"3e 30 02 02 03 00 A 00 c4 03 00 B 05 02 01"},
     {"Parsing event: code=0x3e, param_len=48", "LE Meta Event: subevent=0x02",
      "LE Advertising Report: num_reports=2", "Report 0: type=0x03, addr_type=0x00, addr=" A_,
      "  Data length: 0", "  RSSI: -60 dBm", "Found new device: " A_ ", RSSI: -60 dBm, Connectable: No",
      "Report 1: type=0x03, addr_type=0x00, addr=" B_, "  Data length: 5"},
     {"060504030201 le1 et3 at0 cls000000 rssi-60 c0 '' []"}, false},
    {"LeAdPastDataAndNoRssi", {"3e 0f 02 01 03 00 A 05 02 01 06 05 09"}, {},
     {"060504030201 le1 et3 at0 cls000000 rssi0 c0 '' [ 01:06]"}, false},
    {"LeAdWalkEnds",  // at a zero length, and before a structure that would take the RSSI byte
     {"3e 23 02 02 03 00 A 08 02 01 06 00 03 09 41 42 c4 03 00 B 05 02 01 06 02 09 b0"}, {},
     {"060504030201 le1 et3 at0 cls000000 rssi-60 c0 '' [ 01:06]",
      "161514131211 le1 et3 at0 cls000000 rssi-80 c0 '' [ 01:06]"}, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Events, ParserCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ParserTest, RemoteNameStopsAt248BytesOrBufferEnd) {
    for (size_t nameBytes : {250u, 248u, 20u, 0u}) {
        Bytes event = hex("07 ff 00 A");
        for (size_t i = 0; i < nameBytes; ++i) event.push_back('a' + i % 26);
        parse("02 07 01 A");
        scanner.parseHciEvent(event.data(), event.size());
        const size_t expected = nameBytes < 248 ? nameBytes : 248;
        EXPECT_EQ(scanner.getDiscoveredDevices().at(0).name,
                  std::string(event.begin() + 9, event.begin() + 9 + expected));
    }
}

TEST_F(ParserTest, NameRequestsForNewClassicAndUnnamedConnectableLe) {
    android::sp<testsupport::FakeHal> hal = testsupport::FakeHal::install();
    bt::hci = hal;
    parse("02 07 01 A");
    parse("02 07 01 A");                                                // known: no request
    parse("3e 0a 02 01 00 00 B 00 c4");                                 // connectable, no name
    parse("3e 11 02 01 01 00 16 00 00 00 00 00 05 04 09 46 6f 6f c4");  // named
    parse("3e 0a 02 01 03 00 26 00 00 00 00 00 00 c4");                 // not connectable
    EXPECT_EQ(hal->commandBytes(),
              (std::vector<Bytes>{hex("19 04 0a A 01 00 00 00"), hex("19 04 0a B 01 00 00 00")}));
}

}  // namespace
