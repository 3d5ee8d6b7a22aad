// The HCI capture (BT_HCI_SNOOP) of a real scan against btvirt, decoded by BlueZ's btmon: the
// commands of the bring-up and of the scan are all there, once each, and nothing is malformed.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "btvirt_fixture.h"

namespace e2e {
namespace {

using testsupport::countContaining;

// The "(0xGG|0xCCCC)" of a btmon line, or empty.
std::string opcodeOf(const std::string& line) {
    const size_t open = line.find("(0x");
    return open == std::string::npos ? "" : line.substr(open, line.find(')', open) - open + 1);
}

using E2eCapture = BtvirtTest;

TEST_F(E2eCapture, BtmonDecodesEveryPacketOfAScan) {
    const std::string btmon = findInPath("btmon");
    if (btmon.empty()) GTEST_SKIP() << "no btmon (Debian package bluez)";
    const std::string capture = dir_.file("capture.btsnoop");
    auto tool = startTool({"scan", "-t", "2"}, {"BT_HCI_SNOOP=" + capture});
    ProcessResult run = tool->wait(milliseconds(40000));
    ASSERT_TRUE(run.exitedWith(0)) << run.describe();
    ProcessResult decoded = ChildProcess({btmon, "-r", capture}).wait(milliseconds(20000));
    ASSERT_TRUE(decoded.exitedWith(0)) << decoded.describe();
    const std::string& text = decoded.out;

    // btmon shortens long names in packet headers, so the opcode finds the line.
    for (const char* command :
         {"Reset (0x03|0x0003)", "Set Event Mask (0x03|0x0001)",
          "Write Class of Device (0x03|0x0024)", "Write Local Name (0x03|0x0013)",
          "LE Set Advertising Parameters (0x08|0x0006)", "LE Set Advertising Data (0x08|0x0008)",
          "LE Set Scan Response Data (0x08|0x0009)", "LE Set Advertise Enable (0x08|0x000a)",
          "Write Scan Enable (0x03|0x001a)", "LE Set Scan Enable (0x08|0x000c)",
          "Inquiry (0x01|0x0001)", "LE Set Scan Parameters (0x08|0x000b)"}) {
        EXPECT_NE(text.find(command), std::string::npos) << command;
    }
    for (const char* bad : {"alformed", "nvalid packet", "too short", "Unknown packet"}) {
        EXPECT_EQ(text.find(bad), std::string::npos) << bad;
    }
    // Every packet the tool logged is in the capture once, and no other; every Command
    // Complete or Command Status comes after the command it answers.
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    size_t commands = 0, events = 0, completes = 0;
    std::map<std::string, int> outstanding;
    for (size_t i = 0; i < lines.size(); ++i) {
        bool complete = lines[i].rfind("> HCI Event: Command Complete (0x0e)", 0) == 0;
        bool command = lines[i].rfind("< HCI Command: ", 0) == 0;
        commands += command;
        events += lines[i].rfind("> HCI Event: ", 0) == 0;
        completes += complete;
        if (command) ++outstanding[opcodeOf(lines[i])];
        bool reply = complete || lines[i].rfind("> HCI Event: Command Status (0x0f)", 0) == 0;
        if (reply && i + 1 < lines.size()) {
            EXPECT_GT(outstanding[opcodeOf(lines[i + 1])]--, 0) << "reply first: " << lines[i + 1];
        }
    }
    const auto log = testsupport::toolTexts(run.err);
    EXPECT_EQ(commands, countContaining(log, "Sending HCI command: "));
    EXPECT_EQ(events, countContaining(log, "Received HCI event, size: "));
    EXPECT_GT(completes, 0u);
}

}  // namespace
}  // namespace e2e
