// The built tool against a scripted controller: command bytes and pacing, logs, results file,
// exit status, and the command lines that must never reach the controller.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "h4_controller.h"
#include "tool_process.h"

namespace testsupport {
namespace {

using std::chrono::milliseconds;

const Bytes kScanEnableOn = {0x0C, 0x20, 0x02, 0x01, 0x00};
const Bytes kScanEnableOff = {0x0C, 0x20, 0x02, 0x00, 0x00};

// Packets in hexadecimal, for readable failure messages.
std::vector<std::string> hexAll(const std::vector<Bytes>& packets) {
    std::vector<std::string> texts;
    for (const Bytes& packet : packets) {
        char byte[4];
        texts.emplace_back();
        for (uint8_t b : packet) texts.back() += (std::snprintf(byte, 4, "%02x ", b), byte);
    }
    return texts;
}

std::vector<std::string> hexAll(const std::vector<ReceivedCommand>& commands) {
    std::vector<Bytes> packets;
    for (const auto& command : commands) packets.push_back(command.bytes);
    return hexAll(packets);
}

long msBetween(const ReceivedCommand& a, const ReceivedCommand& b) {
    return std::chrono::duration_cast<milliseconds>(b.time - a.time).count();
}

Bytes padded(Bytes bytes, const std::string& text, size_t size) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.resize(size, 0x00);
    return bytes;
}

// The bring-up of `enable`, ending with the command sender's scan disable.
const std::vector<Bytes> kEnableSequence = {
    {0x03, 0x0C, 0x00},
    {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D},
    {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C},
    padded({0x13, 0x0C, 0xF8}, "Orvalinquist", 251),
    {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x07, 0x00},
    padded({0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09}, "Orvalinquist", 35),
    padded({0x09, 0x20, 0x20, 0x00}, "", 35),
    {0x0A, 0x20, 0x01, 0x01},
    {0x1A, 0x0C, 0x01, 0x03},
    kScanEnableOff,
};

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(controller_.ok()); }

    // Runs the tool, which must end with `exitCode` after exactly one connection, closed.
    ProcessResult run(const std::vector<std::string>& args, int exitCode) {
        ProcessResult result = runTool(args, controller_.transport());
        EXPECT_TRUE(result.exitedWith(exitCode)) << result.describe();
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(result.sanitizerReport()) << result.err;
        EXPECT_EQ(controller_.counts().accepted, 1);
        EXPECT_TRUE(controller_.waitForClosed(1, milliseconds(2000)));
        EXPECT_EQ(controller_.counts().protocolErrors, 0);
        return result;
    }

    TempDir dir_;
    H4Controller controller_{dir_.file("hci.sock")};
};

TEST_F(SessionTest, EnableSendsBringUpByteForByte) {
    std::vector<std::string> log = toolTexts(run({"enable"}, 0).err);
    std::vector<ReceivedCommand> commands = controller_.commands();
    EXPECT_EQ(hexAll(commands), hexAll(kEnableSequence));
    ASSERT_EQ(commands.size(), 10u);
    // 200 ms after every command, 300 ms more after the reset and the first three
    // advertising commands.
    const int extra[] = {300, 0, 0, 0, 300, 300, 300, 0, 0};
    for (size_t i = 0; i + 1 < commands.size(); ++i) {
        EXPECT_GE(msBetween(commands[i], commands[i + 1]), 180 + extra[i]) << i;
    }
    EXPECT_TRUE(contains(log, "Bluetooth enabled successfully"));
    EXPECT_TRUE(contains(log, "Bluetooth advertising enabled successfully"));
    EXPECT_TRUE(contains(log, "Sending HCI command: 03 0c 00 "));
}

TEST_F(SessionTest, ShortScanRunsInquiryAndLeScanThenStops) {
    std::vector<std::string> log = toolTexts(run({"scan", "-t", "1"}, 0).err);
    std::vector<Bytes> expected = kEnableSequence;
    expected.insert(expected.end(), {{0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00},
                                     {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00},
                                     kScanEnableOn,
                                     kScanEnableOff,
                                     kScanEnableOff});
    std::vector<ReceivedCommand> commands = controller_.commands();
    EXPECT_EQ(hexAll(commands), hexAll(expected));
    ASSERT_EQ(commands.size(), expected.size());
    EXPECT_GE(msBetween(commands[11], commands[12]), 480);   // parameters, pause, enable
    EXPECT_GE(msBetween(commands[12], commands[13]), 1150);  // one second of scanning
    for (const char* line :
         {"Scanning for 1 seconds...", "Discovered 0 devices:", "Event processing thread started",
          "Event processing thread exiting"}) {
        EXPECT_TRUE(contains(log, line)) << line;
    }
}

TEST_F(SessionTest, StopsAtFirstConnectableAndSavesOnlyConnectable) {
    // A non-connectable beacon, then a connectable speaker named "Desk", in the first second.
    const Bytes beacon = {0x01, 0x02, 0x03, 0x04, 0x05, 0xC6};
    const Bytes speaker = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00};  // 00:1A:2B:3C:4D:5E
    controller_.onCommand(
        kScanEnableOn,
        {{milliseconds(350), leAdvertisingReport(0x03, beacon, {0x02, 0x01, 0x04}, -70)},
         {milliseconds(700),
          leAdvertisingReport(0x00, speaker, {0x02, 0x01, 0x06, 0x05, 0x09, 'D', 'e', 's', 'k'},
                              -61)}});
    std::string output = dir_.file("results.csv");
    std::vector<std::string> log =
        toolTexts(run({"scan", "-t", "2", "-f", "-c", "-o", output}, 0).err);
    for (const std::string& line : std::vector<std::string>{
             "Found at least one connectable device, exiting scan",
             "Found at least one connectable device, stopping scan", "Discovered 1 devices:",
             "1. Address: 00:1A:2B:3C:4D:5E, Name: Desk, RSSI: -61 dBm, Type: LE, "
             "Addr Type: Public, Connectable: Yes",
             "Saved 1 devices to file: " + output}) {
        EXPECT_TRUE(contains(log, line)) << line;
    }
    std::string file = readFile(output);
    EXPECT_EQ(file.substr(0, 45), "# Bluetooth Device Scan Results\n# Timestamp: ");
    EXPECT_EQ(file.substr(file.find('\n', 45) + 1),
              "# Total devices: 1\n#\n# Address,Name,RSSI,Type,AddrType,Connectable\n"
              "00:1A:2B:3C:4D:5E,\"Desk\",-61,LE,Public,Yes\n");

    // The name came with the advertisement: no name request. The scan ended after the first
    // one-second step rather than after two.
    std::vector<ReceivedCommand> commands = controller_.commands();
    for (const auto& command : commands) EXPECT_NE(command.bytes[0], 0x19);
    int on = controller_.waitForCommand(kScanEnableOn, milliseconds(0));
    int off = controller_.waitForCommand(kScanEnableOff, milliseconds(0), on + 1);
    ASSERT_GE(off, 0);
    EXPECT_LT(msBetween(commands[on], commands[off]), 1900);
}

// Runs that must end before any HCI traffic.
struct RefusedCase {
    const char* name;
    std::vector<std::string> args;
    bool listening;  // else the socket path has no listener
    int exitCode;
    std::vector<std::string> errors;  // the tool's ERROR lines, in order
    bool usage;                       // the usage text follows
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTest, EndsWithoutHciTraffic) {
    const RefusedCase& c = GetParam();
    TempDir dir;
    H4Controller controller(dir.file("hci.sock"));
    ASSERT_TRUE(controller.ok());
    ProcessResult result =
        runTool(c.args, c.listening ? controller.transport() : "unix:" + dir.file("absent.sock"));
    EXPECT_TRUE(result.exitedWith(c.exitCode)) << result.describe();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(controller.counts().accepted, 0);

    std::vector<std::string> errors, infos;
    for (const LogLine& line : parseLog(result.err)) {
        if (line.tag == "orvalinquist")
            (line.priority == 'E' ? errors : infos).push_back(line.text);
    }
    EXPECT_EQ(errors, c.errors) << result.err;
    ASSERT_EQ(infos.size(), c.usage ? 10u : 0u) << result.err;
    if (c.usage) {
        EXPECT_EQ(infos.front(), "Usage: orvalinquist <command> [options]");
        EXPECT_EQ(infos.back(), "  help                Show this help message");
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, RefusedTest,
    ::testing::Values(
        RefusedCase{"BadScanOption", {"scan", "-x"}, true, 1, {"Unknown option: ?"}, true},
        RefusedCase{"UnknownCommand", {"SCAN"}, true, 1, {"Unknown command: SCAN"}, true},
        RefusedCase{"Help", {"help"}, true, 0, {}, true},
        RefusedCase{"DisableAlone", {"disable"}, true, 1, {"Bluetooth not initialized"}, false},
        RefusedCase{
            "NothingListens", {"scan"}, false, 1, {"Failed to get Bluetooth HCI service"}, false}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace testsupport
