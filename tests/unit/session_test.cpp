// Bring-up and shut-down of the controller session against the fake HAL.
#include <cstdlib>

#include "bt_scanner.h"
#include "main.h"
#include "unit_support.h"

namespace unit {
namespace {

Bytes localName() {
    Bytes packet = {0x13, 0x0C, 0xF8, 'O', 'r', 'v', 'a', 'l', 'i', 'n', 'q', 'u', 'i', 's', 't'};
    packet.resize(251, 0x00);
    return packet;
}

Bytes advertisingData() {
    Bytes packet = {0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09, 'O', 'r',
                    'v',  'a',  'l',  'i',  'n',  'q',  'u',  'i',  's',  't'};
    packet.resize(35, 0x00);
    return packet;
}

Bytes scanResponse() {
    Bytes packet = {0x09, 0x20, 0x20, 0x00};
    packet.resize(35, 0x00);
    return packet;
}

// Everything enable offers to the HAL, in order, before the final scan-disable.
std::vector<Bytes> enableCommands() {
    return {{0x03, 0x0C, 0x00},
            {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D},
            {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C},
            localName(),
            {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x07, 0x00},
            advertisingData(),
            scanResponse(),
            {0x0A, 0x20, 0x01, 0x01},
            {0x1A, 0x0C, 0x01, 0x03}};
}

TEST_F(SessionTest, EnableSendsTheBringUpInOrderWithItsPauses) {
    EXPECT_EQ(runTool({"enable"}), 0);
    std::vector<Bytes> expected = enableCommands();
    expected.push_back(scanDisable());
    EXPECT_EQ(hal->commandBytes(), expected);
    // The sender's 200 ms after each command, plus 300 ms after the reset and after the
    // first three advertising commands.
    const std::vector<long> atLeast = {490, 190, 190, 190, 490, 490, 490, 190, 190};
    const std::vector<long> gaps = gapsMs(hal->commands());
    ASSERT_EQ(gaps.size(), atLeast.size());
    for (size_t i = 0; i < gaps.size(); ++i) EXPECT_GE(gaps[i], atLeast[i]) << "gap " << i;
    EXPECT_EQ(linesWithPriority(6), Lines{});
    EXPECT_EQ(countLines("Bluetooth enabled successfully"), 1u);
    EXPECT_EQ(countLines("Bluetooth advertising enabled successfully"), 1u);
    EXPECT_EQ(testsupport::toolLogTexts().front(), "Bluetooth initialized successfully");
}

struct RefusalCase {
    size_t refused;  // 1-based command number the HAL refuses
    Lines errors;
};

class EnableRefusalTest : public SessionTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(EnableRefusalTest, StopsAtTheRefusedCommandAndSwitchesScanningOff) {
    hal->refuseCommandNumber(GetParam().refused);
    EXPECT_EQ(runTool({"enable"}), 1);
    std::vector<Bytes> expected = enableCommands();
    expected.resize(GetParam().refused);
    expected.push_back(scanDisable());
    EXPECT_EQ(hal->commandBytes(), expected);
    EXPECT_EQ(linesWithPriority(6), concat({"Failed to send HCI command"}, GetParam().errors));
    EXPECT_EQ(countLines("Bluetooth enabled successfully"), GetParam().refused > 4 ? 1u : 0u);
    EXPECT_EQ(countLines("Bluetooth advertising enabled successfully"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, EnableRefusalTest,
    ::testing::Values(
        RefusalCase{1, {"Failed to send HCI Reset command"}},
        RefusalCase{2, {"Failed to set event mask"}}, RefusalCase{3, {"Failed to set device class"}},
        RefusalCase{4, {"Failed to set device name"}},
        RefusalCase{5, {"Failed to set advertising parameters", "Failed to enable advertising"}},
        RefusalCase{6, {"Failed to set advertising data", "Failed to enable advertising"}},
        RefusalCase{7, {"Failed to set scan response data", "Failed to enable advertising"}},
        RefusalCase{8, {"Failed to enable advertising", "Failed to enable advertising"}},
        RefusalCase{9,
                    {"Failed to enable device discoverability", "Failed to enable advertising"}}));

TEST_F(SessionTest, InitializeRefusedByTheHal) {
    hal->setInitializeFails(true);
    EXPECT_EQ(runTool({"scan"}), 1);
    EXPECT_EQ(testsupport::toolLogTexts(), Lines{"Failed to initialize Bluetooth HCI"});
    EXPECT_TRUE(hal->commands().empty());
    EXPECT_EQ(bt::hci, hal);
}

struct InitWaitCase {
    std::optional<testsupport::HalStatus> status;
    Lines lines;
};

class InitWaitTest : public SessionTest, public ::testing::WithParamInterface<InitWaitCase> {};

// Without success the wait runs to its 5 s deadline; a failure status does not cut it short.
TEST_P(InitWaitTest, WaitsFiveSecondsForSuccess) {
    hal->setInitializationResult(GetParam().status);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(bt::enable_bluetooth());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    EXPECT_EQ(testsupport::toolLogTexts(), GetParam().lines);
    EXPECT_EQ(linesWithPriority(6), GetParam().lines);
    EXPECT_TRUE(hal->commands().empty());
}

INSTANTIATE_TEST_SUITE_P(Status, InitWaitTest,
                         ::testing::Values(InitWaitCase{std::nullopt, {}},
                                           InitWaitCase{testsupport::HalStatus::INITIALIZATION_ERROR,
                                                        {"Failed to initialize Bluetooth: 2"}}));

TEST_F(SessionTest, InitializeWaitsForALateSuccess) {
    hal->setInitializationResult(testsupport::HalStatus::SUCCESS, 300ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(bt::initialize_bluetooth());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
}

TEST(SessionWithoutService, EnableFailsWhenNoServiceIsFound) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("BT_HCI_TRANSPORT");
            testsupport::setLogEcho(true);
            std::_Exit(runTool({"enable"}) == 1 && bt::hci == nullptr ? 1 : 2);
        },
        ::testing::ExitedWithCode(1), "\\[6 -\\] Failed to get Bluetooth HCI service\n");
}

struct DisableCase {
    bool scanning;
    bool closeFails;
    std::vector<Bytes> commands;
    Lines lines;
};

class DisableTest : public SessionTest, public ::testing::WithParamInterface<DisableCase> {};

TEST_P(DisableTest, StopsAScanAndClosesTheHal) {
    initializeSession();
    hal->setCloseFails(GetParam().closeFails);
    bt::BluetoothScanner earlier(bt::hci, bt::globalState);
    if (GetParam().scanning) {
        bt::globalState.scanning = true;
        ASSERT_TRUE(bt::globalState.eventThread.start([] {
            while (bt::globalState.scanning) std::this_thread::sleep_for(5ms);
        }));
    }
    EXPECT_EQ(bt::disable_bluetooth(), !GetParam().closeFails);
    EXPECT_FALSE(bt::globalState.eventThread.joinable());
    EXPECT_EQ(hal->commandBytes(), GetParam().commands);
    EXPECT_EQ(hal->closeCount(), 1u);
    EXPECT_EQ(testsupport::toolLogTexts(), GetParam().lines);
    EXPECT_EQ(bt::globalState.initialized, GetParam().closeFails);
    EXPECT_EQ(bt::hci == nullptr, !GetParam().closeFails);
    // An existing scanner sees the released handle at once.
    if (!GetParam().closeFails) EXPECT_FALSE(earlier.sendHciCommand(scanDisable()));
}

const char kOff[] = "Sending HCI command: 0c 20 02 00 00 ";

INSTANTIATE_TEST_SUITE_P(
    States, DisableTest,
    ::testing::Values(DisableCase{false, false, {}, {"Bluetooth disabled successfully"}},
                      DisableCase{true,
                                  false,
                                  {scanDisable(), scanDisable()},
                                  {kOff, kOff, "Bluetooth disabled successfully"}},
                      DisableCase{false, true, {}, {"Failed to close Bluetooth HCI"}}));

}  // namespace
}  // namespace unit
