// The built tool against a scripted controller: command bytes, logs, results file, status.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "blackbox_support.h"
#include "h4_controller.h"
#include "tool_process.h"

namespace blackbox {
namespace {

using std::chrono::milliseconds;
using testsupport::H4Controller;
using testsupport::ReceivedCommand;

std::vector<std::string> hexAll(const std::vector<Bytes>& packets) {
    std::vector<std::string> texts;
    for (const Bytes& packet : packets) texts.push_back(hex(packet));
    return texts;
}

std::vector<std::string> hexAll(const std::vector<ReceivedCommand>& commands) {
    return hexAll(commandBytes(commands));
}

milliseconds between(const ReceivedCommand& a, const ReceivedCommand& b) {
    return std::chrono::duration_cast<milliseconds>(b.time - a.time);
}

// Addresses as they travel in HCI packets, least significant byte first.
const Bytes kSpeakerAddress = {0x5E, 0x4D, 0x3C, 0x2B, 0x1A, 0x00};  // 00:1A:2B:3C:4D:5E
const Bytes kBeaconAddress = {0x01, 0x02, 0x03, 0x04, 0x05, 0xC6};   // C6:05:04:03:02:01
const Bytes kHeadsetAddress = {0xBF, 0xAE, 0x9D, 0x8C, 0x7B, 0x6A};  // 6A:7B:8C:9D:AE:BF

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(controller_.ok()); }

    // The run must have used exactly one connection, closed by the tool's exit.
    void expectCleanRun(const ToolResult& result, int exitCode) {
        EXPECT_TRUE(result.exitedWith(exitCode)) << result.describe();
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(hasSanitizerReport(result.err)) << result.err;
        EXPECT_EQ(controller_.connectionsAccepted(), 1);
        EXPECT_TRUE(controller_.waitForClosed(1, milliseconds(2000)));
        EXPECT_EQ(controller_.protocolErrors(), 0);
    }

    TempDir dir_;
    H4Controller controller_{dir_.file("hci.sock")};
};

TEST_F(SessionTest, EnableSendsBringUpByteForByte) {
    ToolResult result = runTool({"enable"}, controller_.transport());
    expectCleanRun(result, 0);

    std::vector<ReceivedCommand> commands = controller_.commands();
    EXPECT_EQ(hexAll(commands), hexAll(enableSequence()));
    ASSERT_EQ(commands.size(), 10u);
    // Pacing: 200 ms after every command, 300 ms more after the reset and after each of the
    // first three advertising commands.
    const int extra[] = {300, 0, 0, 0, 300, 300, 300, 0, 0};
    for (size_t i = 0; i + 1 < commands.size(); ++i) {
        EXPECT_GE(between(commands[i], commands[i + 1]).count(), 180 + extra[i]) << i;
    }
    std::vector<std::string> log = toolTexts(result.err);
    EXPECT_TRUE(contains(log, "Bluetooth enabled successfully")) << result.err;
    EXPECT_TRUE(contains(log, "Bluetooth advertising enabled successfully")) << result.err;
    EXPECT_TRUE(contains(log, "Sending HCI command: 03 0c 00 ")) << result.err;
}

TEST_F(SessionTest, ShortScanRunsInquiryAndLeScanThenStops) {
    ToolResult result = runTool({"scan", "-t", "1"}, controller_.transport());
    expectCleanRun(result, 0);

    std::vector<Bytes> expected = enableSequence();
    expected.insert(expected.end(),
                    {kInquiry, kScanParameters, kScanEnableOn, kScanEnableOff, kScanEnableOff});
    std::vector<ReceivedCommand> commands = controller_.commands();
    EXPECT_EQ(hexAll(commands), hexAll(expected));
    ASSERT_EQ(commands.size(), expected.size());
    EXPECT_GE(between(commands[11], commands[12]).count(), 480);   // parameters, pause, enable
    EXPECT_GE(between(commands[12], commands[13]).count(), 1150);  // one second of scanning

    std::vector<std::string> log = toolTexts(result.err);
    EXPECT_TRUE(contains(log, "Scanning for 1 seconds...")) << result.err;
    EXPECT_TRUE(contains(log, "Discovered 0 devices:")) << result.err;
    EXPECT_TRUE(contains(log, "Event processing thread started")) << result.err;
    EXPECT_TRUE(contains(log, "Event processing thread exiting")) << result.err;
}

TEST_F(SessionTest, StopsAtFirstConnectableAndSavesOnlyConnectable) {
    // A non-connectable beacon first, then a named connectable speaker.
    controller_.onCommand(
        kScanEnableOn,
        {{milliseconds(350),
          testsupport::leAdvertisingReport(0x03, kBeaconAddress, {0x02, 0x01, 0x04}, -70)},
         {milliseconds(700), testsupport::leAdvertisingReport(
                                 0x00, kSpeakerAddress, testsupport::adFlagsAndName("Desk"), -61)}});
    std::string output = dir_.file("results.csv");
    auto started = std::chrono::steady_clock::now();
    ToolResult result =
        runTool({"scan", "-t", "2", "-f", "-c", "-o", output}, controller_.transport());
    expectCleanRun(result, 0);

    std::vector<std::string> log = toolTexts(result.err);
    EXPECT_TRUE(contains(log, "Found at least one connectable device, exiting scan")) << result.err;
    EXPECT_TRUE(contains(log, "Found at least one connectable device, stopping scan")) << result.err;
    EXPECT_TRUE(contains(log, "Discovered 1 devices:")) << result.err;
    EXPECT_TRUE(contains(log,
                         "1. Address: 00:1A:2B:3C:4D:5E, Name: Desk, RSSI: -61 dBm, "
                         "Type: LE, Addr Type: Public, Connectable: Yes"))
        << result.err;
    EXPECT_TRUE(contains(log, "Saved 1 devices to file: " + output)) << result.err;

    std::string file = readFile(output);
    EXPECT_EQ(file.rfind("# Bluetooth Device Scan Results\n# Timestamp: ", 0), 0u) << file;
    size_t header =
        file.find("# Total devices: 1\n#\n# Address,Name,RSSI,Type,AddrType,Connectable\n");
    ASSERT_NE(header, std::string::npos) << file;
    EXPECT_EQ(file.substr(file.find("00:1A")), "00:1A:2B:3C:4D:5E,\"Desk\",-61,LE,Public,Yes\n");

    // The name came with the advertisement: no name request. The scan ended at the end of
    // the first one-second step rather than after two.
    std::vector<ReceivedCommand> commands = controller_.commands();
    for (const auto& command : commands) EXPECT_NE(command.bytes[0], 0x19) << hex(command.bytes);
    int on = controller_.waitForCommand(kScanEnableOn, milliseconds(0));
    int off = controller_.waitForCommand(kScanEnableOff, milliseconds(0), on + 1);
    ASSERT_GE(off, 0);
    EXPECT_LT(between(commands[on], commands[off]).count(), 1900);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(SessionTest, ClassicDeviceGetsItsNameAndBothKindsAreReported) {
    // Events are spaced out: the tool keeps only the latest undelivered one, and the event
    // thread exists only from about 200 ms after the scan enable.
    controller_.onCommand(
        kScanEnableOn, {{milliseconds(300), testsupport::leAdvertisingReport(
                                                0x00, kSpeakerAddress, {0x02, 0x01, 0x06}, -45)}});
    controller_.onCommand(
        kInquiry,
        {{milliseconds(1800), testsupport::inquiryResult(kHeadsetAddress, {0x04, 0x04, 0x24})}});
    for (const auto& [address, name] :
         {std::pair<Bytes, std::string>{kSpeakerAddress, "Desk, left"},
          {kHeadsetAddress, "Car Kit"}}) {
        controller_.onCommand(testsupport::remoteNameRequest(address),
                              {{milliseconds(0), testsupport::commandStatus(0x0419)},
                               {milliseconds(300), testsupport::remoteNameComplete(address, name)}},
                              /*replaceDefault=*/true);
    }
    std::string output = dir_.file("results.csv");
    ToolResult result = runTool({"scan", "-t", "2", "-o", output}, controller_.transport());
    expectCleanRun(result, 0);

    // Both are connectable; the classic one has no RSSI, which sorts as the strongest.
    std::vector<std::string> log = toolTexts(result.err);
    EXPECT_TRUE(contains(log, "Discovered 2 devices:")) << result.err;
    EXPECT_TRUE(contains(log,
                         "1. Address: 6A:7B:8C:9D:AE:BF, Name: Car Kit, Type: Classic, "
                         "Connectable: Yes"))
        << result.err;
    EXPECT_TRUE(contains(log,
                         "2. Address: 00:1A:2B:3C:4D:5E, Name: Desk, left, RSSI: -45 dBm, "
                         "Type: LE, Addr Type: Public, Connectable: Yes"))
        << result.err;
    // The file keeps discovery order and replaces the comma in the name.
    std::string file = readFile(output);
    EXPECT_NE(file.find("# Total devices: 2\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\n00:1A:2B:3C:4D:5E,\"Desk; left\",-45,LE,Public,Yes\n"
                        "6A:7B:8C:9D:AE:BF,\"Car Kit\",0,Classic,Public,Yes\n"),
              std::string::npos)
        << file;
}

TEST_F(SessionTest, DisableAloneFailsWithoutTouchingTheController) {
    ToolResult result = runTool({"disable"}, controller_.transport());
    EXPECT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_EQ(result.out, "");
    std::vector<LogLine> lines = parseLog(result.err);
    ASSERT_EQ(lines.size(), 1u) << result.err;
    EXPECT_EQ(lines[0].priority, 'E');
    EXPECT_EQ(lines[0].text, "Bluetooth not initialized");
    EXPECT_EQ(controller_.connectionsAccepted(), 0);
}

TEST(SessionWithoutController, EnableAndScanFailWhenNothingListens) {
    TempDir dir;
    for (const char* command : {"enable", "scan"}) {
        ToolResult result = runTool({command}, "unix:" + dir.file("absent.sock"));
        EXPECT_TRUE(result.exitedWith(1)) << command << ": " << result.describe();
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(contains(toolTexts(result.err), "Failed to get Bluetooth HCI service"))
            << result.err;
    }
}

}  // namespace
}  // namespace blackbox
