// The HCI capture (BT_HCI_SNOOP) of real runs against btvirt, decoded by BlueZ's btmon: the
// commands of the bring-up and of a scan are all there, once each, and nothing is malformed.
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "btvirt_env.h"

namespace e2e {
namespace {

using testsupport::countContaining;

struct CaptureCase {
    const char* label;
    std::vector<std::string> args;
    std::vector<std::string> commands;  // btmon's "Name (0xGG|0xCCCC)", each expected
};

void PrintTo(const CaptureCase& c, std::ostream* os) {
    *os << c.label;
}

// The "(0xGG|0xCCCC)" of a btmon line, or empty.
std::string opcodeOf(const std::string& line) {
    const size_t open = line.find("(0x");
    const size_t close = line.find(')', open == std::string::npos ? 0 : open);
    return open == std::string::npos || close == std::string::npos
               ? std::string()
               : line.substr(open, close - open + 1);
}

class E2eCapture : public BtvirtTest, public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(E2eCapture, BtmonDecodesEveryPacket) {
    const CaptureCase& c = GetParam();
    const std::string btmon = findInPath("btmon");
    if (btmon.empty()) GTEST_SKIP() << "no btmon (Debian package bluez)";
    const std::string capture = dir_.file("capture.btsnoop");
    ProcessResult run = startTool(c.args, {"BT_HCI_SNOOP=" + capture})->wait(milliseconds(40000));
    ASSERT_TRUE(run.exitedWith(0)) << run.describe();
    ProcessResult decoded = ChildProcess({btmon, "-r", capture}).wait(milliseconds(20000));
    ASSERT_TRUE(decoded.exitedWith(0)) << decoded.describe();
    const std::string& text = decoded.out;

    for (const auto& command : c.commands) {
        EXPECT_NE(text.find(command), std::string::npos) << command;
    }
    for (const char* bad : {"alformed", "nvalid packet", "too short", "Unknown packet"}) {
        EXPECT_EQ(text.find(bad), std::string::npos) << bad;
    }
    // Every packet the tool logged is in the capture once, and no other; every Command
    // Complete or Command Status follows the command it answers.
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    size_t commands = 0, events = 0, completes = 0;
    std::map<std::string, int> outstanding;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        bool complete = line.rfind("> HCI Event: Command Complete (0x0e)", 0) == 0;
        commands += line.rfind("< HCI Command: ", 0) == 0;
        events += line.rfind("> HCI Event: ", 0) == 0;
        completes += complete;
        if (line.rfind("< HCI Command: ", 0) == 0) ++outstanding[opcodeOf(line)];
        if ((complete || line.rfind("> HCI Event: Command Status (0x0f)", 0) == 0) &&
            i + 1 < lines.size()) {
            EXPECT_GT(outstanding[opcodeOf(lines[i + 1])]--, 0) << "reply first: " << lines[i + 1];
        }
    }
    const auto log = testsupport::toolTexts(run.err);
    EXPECT_EQ(commands, countContaining(log, "Sending HCI command: "));
    EXPECT_EQ(events, countContaining(log, "Received HCI event, size: "));
    EXPECT_GT(completes, 0u);
}

// btmon shortens long names in packet headers, so the opcode finds the line.
const std::vector<std::string> kBringUp = {"Reset (0x03|0x0003)",
                                           "Set Event Mask (0x03|0x0001)",
                                           "Write Class of Device (0x03|0x0024)",
                                           "Write Local Name (0x03|0x0013)",
                                           "LE Set Advertising Parameters (0x08|0x0006)",
                                           "LE Set Advertising Data (0x08|0x0008)",
                                           "LE Set Scan Response Data (0x08|0x0009)",
                                           "LE Set Advertise Enable (0x08|0x000a)",
                                           "Write Scan Enable (0x03|0x001a)",
                                           "LE Set Scan Enable (0x08|0x000c)"};

std::vector<std::string> withScan(std::vector<std::string> commands) {
    commands.push_back("Inquiry (0x01|0x0001)");
    commands.push_back("LE Set Scan Parameters (0x08|0x000b)");
    return commands;
}

INSTANTIATE_TEST_SUITE_P(Runs, E2eCapture,
                         ::testing::Values(CaptureCase{"enable", {"enable"}, kBringUp},
                                           CaptureCase{
                                               "scan", {"scan", "-t", "2"}, withScan(kBringUp)}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace e2e
