// Bring-up and shut-down of the controller session, the HAL callbacks and the sender.
#include <cstdlib>

#include "bt_scanner.h"
#include "main.h"
#include "unit_support.h"

namespace unit {
namespace {

Bytes padded(Bytes head, size_t size) {
    head.resize(size, 0x00);
    return head;
}

// clang-format off
// Everything enable offers to the HAL, in order, before the final scan-disable.
const std::vector<Bytes> kEnable = {
    {0x03, 0x0C, 0x00}, {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D},
    {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C},
    padded({0x13, 0x0C, 0xF8, 'O', 'r', 'v', 'a', 'l', 'i', 'n', 'q', 'u', 'i', 's', 't'}, 251),
    {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x00},
    padded({0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09, 'O', 'r', 'v', 'a', 'l', 'i',
            'n', 'q', 'u', 'i', 's', 't'}, 35),
    padded({0x09, 0x20, 0x20, 0x00}, 35), {0x0A, 0x20, 0x01, 0x01}, {0x1A, 0x0C, 0x01, 0x03}};
// clang-format on

struct EnableCase {
    const char* label;
    size_t refused;  // 1-based command number the HAL refuses; 0: none
    Lines errors;    // after "Failed to send HCI command"
};

class EnableTest : public SessionTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(EnableTest, SendsTheBringUpUntilARefusalAndSwitchesScanningOff) {
    const EnableCase& c = GetParam();
    hal->refuseCommandNumber(c.refused);
    EXPECT_EQ(runTool({"enable"}), c.refused == 0 ? 0 : 1);
    std::vector<Bytes> expected(kEnable.begin(), kEnable.begin() + (c.refused ? c.refused : 9));
    expected.push_back(kScanOff);
    EXPECT_EQ(hal->commandBytes(), expected);
    EXPECT_EQ(errorLines(), c.refused ? concat({"Failed to send HCI command"}, c.errors) : Lines{});
    EXPECT_EQ(countLines("Bluetooth enabled successfully"), c.refused == 0 || c.refused > 4);
    EXPECT_EQ(countLines("Bluetooth advertising enabled successfully"), c.refused == 0);
    EXPECT_EQ(toolLogTexts().front(), "Bluetooth initialized successfully");
    // The sender's 200 ms after each command, plus 300 ms after the reset and after the
    // first three advertising commands.
    if (c.refused == 0) expectGaps(hal->commands(), {490, 190, 190, 190, 490, 490, 490, 190, 190});
}

const char kAdv[] = "Failed to enable advertising";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, EnableTest, ::testing::Values(
    EnableCase{"AllAccepted", 0, {}}, EnableCase{"Reset", 1, {"Failed to send HCI Reset command"}},
    EnableCase{"EventMask", 2, {"Failed to set event mask"}},
    EnableCase{"Class", 3, {"Failed to set device class"}},
    EnableCase{"Name", 4, {"Failed to set device name"}},
    EnableCase{"AdvParameters", 5, {"Failed to set advertising parameters", kAdv}},
    EnableCase{"AdvData", 6, {"Failed to set advertising data", kAdv}},
    EnableCase{"ScanResponse", 7, {"Failed to set scan response data", kAdv}},
    EnableCase{"AdvEnable", 8, {kAdv, kAdv}},
    EnableCase{"Discoverable", 9, {"Failed to enable device discoverability", kAdv}}), kByLabel);
// clang-format on

TEST_F(SessionTest, InitializeRefusedByTheHal) {
    hal->setInitializeFails(true);
    EXPECT_EQ(runTool({"scan"}), 1);
    EXPECT_EQ(toolLogTexts(), Lines{"Failed to initialize Bluetooth HCI"});
    EXPECT_TRUE(hal->commands().empty());
}

// Without success the wait runs to its 5 s deadline; a failure status does not cut it short.
TEST_F(SessionTest, InitializeWaitsFiveSecondsForSuccess) {
    hal->setInitializationResult(testsupport::HalStatus::INITIALIZATION_ERROR);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(bt::enable_bluetooth());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    EXPECT_EQ(toolLogTexts(), Lines{"Failed to initialize Bluetooth: 2"});
    EXPECT_EQ(errorLines().size(), 1u);
    EXPECT_TRUE(hal->commands().empty());
}

TEST(SessionWithoutService, EnableFailsWhenNoServiceIsFound) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    unsetenv("BT_HCI_TRANSPORT");
    testsupport::setLogEcho(true);  // in the child only
    EXPECT_EXIT(std::_Exit(runTool({"enable"}) == 1 && bt::hci == nullptr ? 1 : 2),
                ::testing::ExitedWithCode(1), "\\[6 -\\] Failed to get Bluetooth HCI service\n");
    testsupport::setLogEcho(false);
}

struct DisableCase {
    const char* label;
    bool scanning, closeFails;
    std::vector<Bytes> commands;
    Lines lines;
};

class DisableTest : public SessionTest, public ::testing::WithParamInterface<DisableCase> {};

TEST_P(DisableTest, StopsAScanAndClosesTheHal) {
    const DisableCase& c = GetParam();
    initializeSession();
    hal->setCloseFails(c.closeFails);
    bt::BluetoothScanner earlier(bt::hci, bt::globalState);
    bt::globalState.scanning = c.scanning;
    ASSERT_TRUE(!c.scanning || bt::globalState.eventThread.start([] {
        while (bt::globalState.scanning) std::this_thread::sleep_for(5ms);
    }));
    EXPECT_EQ(bt::disable_bluetooth(), !c.closeFails);
    EXPECT_FALSE(bt::globalState.eventThread.joinable());
    EXPECT_EQ(hal->commandBytes(), c.commands);
    EXPECT_EQ(hal->closeCount(), 1u);
    EXPECT_EQ(toolLogTexts(), c.lines);
    EXPECT_EQ(bt::globalState.initialized, c.closeFails);
    // An existing scanner sees the released handle at once.
    EXPECT_EQ(earlier.sendHciCommand(kScanOff), c.closeFails);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(States, DisableTest, ::testing::Values(
    DisableCase{"Idle", false, false, {}, {"Bluetooth disabled successfully"}},
    DisableCase{"Scanning", true, false, {kScanOff, kScanOff}, {kOff, kOff, "Bluetooth disabled successfully"}},
    DisableCase{"CloseFails", false, true, {}, {"Failed to close Bluetooth HCI"}}), kByLabel);
// clang-format on

TEST_F(SessionTest, CallbacksDumpAtMostSixteenBytesAndKeepOnlyTheLatestEvent) {
    sp<bt::BluetoothHciCallbacks> callbacks = new bt::BluetoothHciCallbacks(bt::globalState);
    Bytes packet = {0x0E, 0x04, 0x01, 0x03, 0x0C, 0x00};
    for (size_t size : {16, 17}) {
        packet.resize(size, 0xAB);
        callbacks->hciEventReceived(packet);
    }
    callbacks->hciEventReceived(Bytes{});  // ignored
    callbacks->aclDataReceived(Bytes{0x01});
    callbacks->scoDataReceived(Bytes{0x02});
    EXPECT_EQ(bt::globalState.eventData, packet);
    callbacks->initializationComplete(testsupport::HalStatus::INITIALIZATION_ERROR);
    EXPECT_FALSE(bt::globalState.initialized);
    callbacks->initializationComplete(testsupport::HalStatus::SUCCESS);
    EXPECT_TRUE(bt::globalState.initialized);
    const std::string ten = ", data: 0e 04 01 03 0c 00 ab ab ab ab ab ab ab ab ab ab ";
    EXPECT_EQ(
        toolLogTexts(),
        (Lines{"Received HCI event, size: 16" + ten, "Received HCI event, size: 17" + ten + "...",
               "Failed to initialize Bluetooth: 2", "Bluetooth initialized successfully"}));
    EXPECT_EQ(errorLines(), Lines{"Failed to initialize Bluetooth: 2"});
}

TEST_F(SessionTest, SenderPassesBytesUnchangedPausesAfterAcceptanceAndReportsFailures) {
    const Bytes odd = {0x0C, 0x20, 0x03, 0x01, 0x00};  // length byte 3, two parameters
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(bt::sendHciCommandToHal(hal, odd));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 195ms);
    EXPECT_TRUE(bt::sendHciCommandToHal(hal, {}));
    EXPECT_FALSE(bt::sendHciCommandToHal(nullptr, kScanOff));
    hal->setTransportDead(true);
    EXPECT_FALSE(bt::sendHciCommandToHal(hal, kScanOff));
    EXPECT_EQ(hal->commandBytes(), (std::vector<Bytes>{odd, {}, kScanOff}));
    EXPECT_EQ(toolLogTexts(), (Lines{"Sending HCI command: 0c 20 03 01 00 ",
                                     "Sending HCI command: ", "Bluetooth HCI service not available",
                                     kOff, "Failed to send HCI command"}));
    EXPECT_EQ(errorLines().size(), 2u);
}

}  // namespace
}  // namespace unit
