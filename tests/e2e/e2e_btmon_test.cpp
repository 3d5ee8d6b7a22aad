// The HCI capture (BT_HCI_SNOOP) of real runs against btvirt, decoded by BlueZ's btmon: the
// commands of the bring-up and of a scan are all there, once each, and nothing is malformed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "btvirt_env.h"

namespace e2e {
namespace {

using std::chrono::seconds;

std::string findInPath(const std::string& program) {
    std::stringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    }
    return std::string();
}

size_t countLinesStartingWith(const std::string& text, const std::string& prefix) {
    std::stringstream lines(text);
    std::string line;
    size_t n = 0;
    while (std::getline(lines, line)) n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

struct Command {
    const char* name;    // as btmon names it
    const char* opcode;  // as btmon prints it, OGF|OCF
};

struct CaptureCase {
    const char* label;
    std::vector<std::string> args;
    std::vector<Command> commands;  // each expected in the capture
};

void PrintTo(const CaptureCase& c, std::ostream* os) {
    *os << c.label;
}

// The "(0xGG|0xCCCC)" of a btmon line, or empty.
std::string opcodeOf(const std::string& line) {
    const size_t open = line.find("(0x");
    const size_t close = line.find(')', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return std::string();
    return line.substr(open, close - open + 1);
}

// Every Command Complete or Command Status must follow the command it answers: a capture
// that records a reply first misstates what happened.
void expectRepliesAfterCommands(const std::string& text) {
    std::map<std::string, int> outstanding;
    std::stringstream lines(text);
    std::string line;
    bool replyHeader = false;
    while (std::getline(lines, line)) {
        if (line.rfind("< HCI Command: ", 0) == 0) ++outstanding[opcodeOf(line)];
        if (replyHeader) {
            const std::string opcode = opcodeOf(line);
            EXPECT_GT(outstanding[opcode], 0)
                << "reply to " << opcode << " recorded before the command: " << line;
            --outstanding[opcode];
        }
        replyHeader = line.rfind("> HCI Event: Command Complete (0x0e)", 0) == 0 ||
                      line.rfind("> HCI Event: Command Status (0x0f)", 0) == 0;
    }
}

class E2eCapture : public ::testing::TestWithParam<CaptureCase> {};

TEST_P(E2eCapture, BtmonDecodesEveryPacket) {
    const CaptureCase& c = GetParam();
    std::string missing = btvirtMissing();
    const std::string btmon = findInPath("btmon");
    if (btmon.empty()) missing = "btmon not found (Debian package bluez)";
    if (!missing.empty()) GTEST_SKIP() << missing;

    const std::string dir = testDir();
    BtvirtServer btvirt;
    std::string error;
    ASSERT_TRUE(btvirt.start(dir, &error)) << error;
    const std::string capture = dir + "/" + c.label + ".btsnoop";
    ToolRun tool;
    ASSERT_TRUE(tool.start(dir, c.label, c.args, &error, {"BT_HCI_SNOOP=" + capture})) << error;
    ASSERT_EQ(tool.finish(seconds(40)), 0);

    ChildProcess decoder;
    const std::string decoded = dir + "/" + c.label + ".btmon.txt";
    ASSERT_TRUE(decoder.start({btmon, "-r", capture}, {}, decoded, dir + "/btmon.err", &error))
        << error;
    int status = -1;
    ASSERT_TRUE(decoder.wait(seconds(20), &status));
    ASSERT_EQ(status, 0) << readFile(dir + "/btmon.err");
    const std::string text = readFile(decoded);

    for (const auto& command : c.commands) {
        // btmon shortens long names in packet headers, so the opcode finds the line.
        EXPECT_NE(text.find(std::string(command.name) + " (" + command.opcode + ")"),
                  std::string::npos)
            << command.name;
    }
    for (const char* bad : {"alformed", "nvalid packet", "too short", "Unknown packet"}) {
        EXPECT_EQ(text.find(bad), std::string::npos) << bad;
    }
    // Every packet the tool logged is in the capture once, and no other.
    const auto messages = tool.messages();
    EXPECT_EQ(countLinesStartingWith(text, "< HCI Command: "),
              countContaining(messages, "Sending HCI command: "));
    EXPECT_EQ(countLinesStartingWith(text, "> HCI Event: "),
              countContaining(messages, "Received HCI event, size: "));
    EXPECT_GT(countLinesStartingWith(text, "> HCI Event: Command Complete (0x0e)"), 0u);
    expectRepliesAfterCommands(text);
}

const std::vector<Command> kBringUp = {{"Reset", "0x03|0x0003"},
                                       {"Set Event Mask", "0x03|0x0001"},
                                       {"Write Class of Device", "0x03|0x0024"},
                                       {"Write Local Name", "0x03|0x0013"},
                                       {"LE Set Advertising Parameters", "0x08|0x0006"},
                                       {"LE Set Advertising Data", "0x08|0x0008"},
                                       {"LE Set Scan Response Data", "0x08|0x0009"},
                                       {"LE Set Advertise Enable", "0x08|0x000a"},
                                       {"Write Scan Enable", "0x03|0x001a"},
                                       {"LE Set Scan Enable", "0x08|0x000c"}};

std::vector<Command> withScan(std::vector<Command> commands) {
    commands.push_back({"Inquiry", "0x01|0x0001"});
    commands.push_back({"LE Set Scan Parameters", "0x08|0x000b"});
    return commands;
}

INSTANTIATE_TEST_SUITE_P(Runs, E2eCapture,
                         ::testing::Values(CaptureCase{"enable", {"enable"}, kBringUp},
                                           CaptureCase{
                                               "scan", {"scan", "-t", "2"}, withScan(kBringUp)}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace e2e
