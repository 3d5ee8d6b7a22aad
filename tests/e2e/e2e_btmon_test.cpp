// The HCI capture (BT_HCI_SNOOP) of real runs against btvirt, decoded by BlueZ's btmon: the
// commands of the bring-up and of a scan are all there, once each, and nothing is malformed.
#include <gtest/gtest.h>
#include <unistd.h>

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

struct CaptureCase {
    const char* label;
    std::vector<std::string> args;
    std::vector<std::string> commands;  // btmon's names, each expected in the capture
};

void PrintTo(const CaptureCase& c, std::ostream* os) {
    *os << c.label;
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
        EXPECT_NE(text.find("< HCI Command: " + command + " ("), std::string::npos) << command;
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
}

const std::vector<std::string> kBringUp = {"Reset",
                                           "Set Event Mask",
                                           "Write Class of Device",
                                           "Write Local Name",
                                           "LE Set Advertising Parameters",
                                           "LE Set Advertising Data",
                                           "LE Set Scan Response Data",
                                           "LE Set Advertise Enable",
                                           "Write Scan Enable",
                                           "LE Set Scan Enable"};

std::vector<std::string> withScan(std::vector<std::string> names) {
    names.insert(names.end(), {"Inquiry", "LE Set Scan Parameters"});
    return names;
}

INSTANTIATE_TEST_SUITE_P(Runs, E2eCapture,
                         ::testing::Values(CaptureCase{"enable", {"enable"}, kBringUp},
                                           CaptureCase{
                                               "scan", {"scan", "-t", "2"}, withScan(kBringUp)}),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace e2e
