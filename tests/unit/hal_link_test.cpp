// The HAL callbacks, the one command sender and the advertising commands built on it.
#include "bt_advertiser.h"
#include "bt_scanner.h"
#include "unit_support.h"

namespace unit {
namespace {

struct DumpCase {
    size_t size;
    std::string dump;
};

class CallbackDumpTest : public SessionTest, public ::testing::WithParamInterface<DumpCase> {};

TEST_P(CallbackDumpTest, LogsAtMostSixteenBytesAndKeepsThemAll) {
    sp<bt::BluetoothHciCallbacks> callbacks = new bt::BluetoothHciCallbacks(bt::globalState);
    Bytes packet = {0x0E, 0x04, 0x01, 0x03, 0x0C, 0x00};
    packet.resize(GetParam().size, 0xAB);
    callbacks->hciEventReceived(packet);
    EXPECT_EQ(testsupport::toolLogTexts(),
              Lines{"Received HCI event, size: " + std::to_string(packet.size()) +
                    ", data: " + GetParam().dump});
    EXPECT_EQ(bt::globalState.eventData, packet);
}

const std::string kTen = "0e 04 01 03 0c 00 ab ab ab ab ";

INSTANTIATE_TEST_SUITE_P(Sizes, CallbackDumpTest,
                         ::testing::Values(DumpCase{6, "0e 04 01 03 0c 00 "},
                                           DumpCase{16, kTen + "ab ab ab ab ab ab "},
                                           DumpCase{17, kTen + "ab ab ab ab ab ab ..."},
                                           DumpCase{300, kTen + "ab ab ab ab ab ab ..."}));

TEST_F(SessionTest, CallbacksKeepOnlyTheLatestEventAndIgnoreEmptyOnes) {
    sp<bt::BluetoothHciCallbacks> callbacks = new bt::BluetoothHciCallbacks(bt::globalState);
    callbacks->hciEventReceived(Bytes{0x01, 0x01, 0x00});
    callbacks->hciEventReceived(Bytes{0x0F, 0x04, 0x00, 0x01, 0x01, 0x04});
    callbacks->hciEventReceived(Bytes{});
    callbacks->aclDataReceived(Bytes{0x01});
    callbacks->scoDataReceived(Bytes{0x02});
    EXPECT_EQ(bt::globalState.eventData, (Bytes{0x0F, 0x04, 0x00, 0x01, 0x01, 0x04}));
    EXPECT_EQ(testsupport::toolLogTexts().size(), 2u);
}

TEST_F(SessionTest, InitializationStatusSetsTheFlagOnlyOnSuccess) {
    sp<bt::BluetoothHciCallbacks> callbacks = new bt::BluetoothHciCallbacks(bt::globalState);
    callbacks->initializationComplete(testsupport::HalStatus::INITIALIZATION_ERROR);
    EXPECT_FALSE(bt::globalState.initialized);
    callbacks->initializationComplete(testsupport::HalStatus::SUCCESS);
    EXPECT_TRUE(bt::globalState.initialized);
    EXPECT_EQ(linesWithPriority(6), Lines{"Failed to initialize Bluetooth: 2"});
    EXPECT_EQ(linesWithPriority(4), Lines{"Bluetooth initialized successfully"});
}

TEST_F(SessionTest, SenderPassesBytesUnchangedAndPausesAfterAcceptance) {
    // The length byte says 3 but two parameters follow: passed on as it is.
    const Bytes odd = {0x0C, 0x20, 0x03, 0x01, 0x00};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(bt::sendHciCommandToHal(hal, odd));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 195ms);
    EXPECT_TRUE(bt::sendHciCommandToHal(hal, {}));
    EXPECT_EQ(hal->commandBytes(), (std::vector<Bytes>{odd, {}}));
    EXPECT_EQ(testsupport::toolLogTexts(),
              (Lines{"Sending HCI command: 0c 20 03 01 00 ", "Sending HCI command: "}));
}

TEST_F(SessionTest, SenderFailures) {
    EXPECT_FALSE(bt::sendHciCommandToHal(nullptr, scanDisable()));
    hal->setTransportDead(true);
    EXPECT_FALSE(bt::sendHciCommandToHal(hal, scanDisable()));
    EXPECT_EQ(testsupport::toolLogTexts(),
              (Lines{"Bluetooth HCI service not available", "Sending HCI command: 0c 20 02 00 00 ",
                     "Failed to send HCI command"}));
    EXPECT_EQ(linesWithPriority(6).size(), 2u);
    EXPECT_EQ(hal->commands().size(), 1u);
}

TEST_F(SessionTest, AdvertiserNeedsAnInitializedSession) {
    bt::hci = hal;
    EXPECT_FALSE(bt::BluetoothAdvertiser(bt::hci, bt::globalState).enableAdvertising());
    EXPECT_EQ(testsupport::toolLogTexts(), Lines{"Bluetooth not initialized"});
    EXPECT_TRUE(hal->commands().empty());
}

TEST_F(SessionTest, AdvertiserWithoutHalFailsAtTheFirstCommand) {
    bt::globalState.initialized = true;
    EXPECT_FALSE(bt::BluetoothAdvertiser(bt::hci, bt::globalState).enableAdvertising());
    EXPECT_EQ(testsupport::toolLogTexts(), (Lines{"Bluetooth HCI service not available",
                                                  "Failed to set advertising parameters"}));
}

}  // namespace
}  // namespace unit
