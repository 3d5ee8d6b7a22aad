#include <gtest/gtest.h>

#include "fake_hal.h"
#include "log_sink.h"

int orvalinquist_main(int argc, char** argv);

TEST(CommandLine, HelpLogsUsage) {
    testsupport::clearLog();
    char arg0[] = "orvalinquist", arg1[] = "help";
    char* argv[] = {arg0, arg1, nullptr};
    EXPECT_EQ(orvalinquist_main(2, argv), 0);
    EXPECT_EQ(testsupport::toolLogTexts().size(), 10u);
}
