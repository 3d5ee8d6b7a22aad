// Malformed and informational command lines never reach the controller.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "blackbox_support.h"
#include "h4_controller.h"
#include "tool_process.h"

namespace blackbox {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> errorLines;  // the ERROR lines, in order, before the usage text
};

// Keeps the ctest names readable and the same from build to build.
void PrintTo(const CommandLineCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, LogsUsageAndNeverConnects) {
    const CommandLineCase& c = GetParam();
    TempDir dir;
    testsupport::H4Controller controller(dir.file("hci.sock"));
    ASSERT_TRUE(controller.ok());

    ToolResult result = runTool(c.args, controller.transport());
    EXPECT_TRUE(result.exitedWith(c.exitCode)) << result.describe();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(controller.connectionsAccepted(), 0);

    std::vector<std::string> errors;
    std::vector<std::string> infos;
    for (const LogLine& line : parseLog(result.err)) {
        ASSERT_EQ(line.tag, "orvalinquist") << line.text;
        (line.priority == 'E' ? errors : infos).push_back(line.text);
    }
    EXPECT_EQ(errors, c.errorLines);
    ASSERT_EQ(infos.size(), 10u) << result.err;
    EXPECT_EQ(infos.front(), "Usage: orvalinquist <command> [options]");
    EXPECT_EQ(infos.back(), "  help                Show this help message");
}

INSTANTIATE_TEST_SUITE_P(
    BadAndHelp, CommandLineTest,
    ::testing::Values(CommandLineCase{"UnknownOption", {"scan", "-x"}, 1, {"Unknown option: ?"}},
                      CommandLineCase{"MissingTimeout", {"scan", "-t"}, 1, {"Unknown option: ?"}},
                      CommandLineCase{
                          "MissingOutput", {"scan", "-f", "--output"}, 1, {"Unknown option: ?"}},
                      CommandLineCase{"UpperCaseWord", {"SCAN"}, 1, {"Unknown command: SCAN"}},
                      CommandLineCase{"LongerWord", {"enable2"}, 1, {"Unknown command: enable2"}},
                      CommandLineCase{"NoWord", {}, 1, {}},
                      CommandLineCase{"Help", {"help"}, 0, {}}),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

}  // namespace
}  // namespace blackbox
