// The tool against BlueZ's emulated controllers (btvirt), with remote devices played by
// hci_peer or by a second instance of the tool.
//
// What btvirt does, and what the tool's single pending-event slot makes of it:
// - inquiry results for every discoverable device come in one burst about 100 ms after the
//   Inquiry command, while the scanner is still pacing its commands and before the event
//   thread exists, so later replies replace them;
// - each advertiser is reported once, in a burst right after LE scanning is switched on (only
//   the last report of the burst is still pending when the event thread starts), or when it
//   starts advertising while the scan runs;
// - under active scanning an undirected connectable advertiser yields two reports back to back
//   (ADV_IND, then an empty SCAN_RSP), which race for the slot; directed advertising yields one.
// - btvirt (5.66) crashes shortly after a controller whose inquiry is still running goes away.
//   The tool never cancels its 12.8 s inquiry, so a scan that ends sooner takes btvirt down
//   after the tool exits; nothing here relies on btvirt after the tool under test has ended.
// The assertions below stick to what is deterministic under these rules and check that
// whatever reached the parser shows up correctly in the results file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "btvirt_env.h"

namespace e2e {
namespace {

using std::chrono::seconds;

constexpr const char kToolName[] = "Orvalinquist";

class E2eScan : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string missing = btvirtMissing();
        if (!missing.empty()) GTEST_SKIP() << missing;
        dir_ = testDir();
        std::string error;
        ASSERT_TRUE(btvirt_.start(dir_, &error)) << error;
    }

    // Starts a peer and waits until its controller is set up; null on failure.
    const Peer* startPeer(const std::string& label, const std::vector<std::string>& args) {
        peers_.push_back(std::make_unique<Peer>());
        std::string error;
        if (!peers_.back()->start(dir_, label, args, &error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        return peers_.back().get();
    }

    // Starts a peer in directed advertising aimed at the tool, which it finds by name.
    const Peer* startDirectedPeer() {
        return startPeer("directed", {"--name", "Directed", "--le", "directed", "--direct-to",
                                      kToolName, "--page-scan", "on"});
    }

    std::vector<ResultRow> results(const std::string& file) {
        std::vector<ResultRow> rows;
        std::string error;
        EXPECT_TRUE(readResults(dir_ + "/" + file, &rows, &error)) << error;
        return rows;
    }

    std::string dir_;
    BtvirtServer btvirt_;
    std::vector<std::unique_ptr<Peer>> peers_;  // stopped before btvirt
};

// True when the tool parsed the given report type (e.g. "0x00") from this address.
bool parsedReport(const ToolRun& run, const std::string& type, const std::string& address) {
    return countContaining(run.messages(), "type=" + type + ", addr_type=0x00, addr=" + address) > 0;
}

// The record of an undirected connectable advertiser depends on which of its two reports
// reached the parser first: with the ADV_IND it is connectable and named, with only the
// SCAN_RSP it is neither.
void expectUndirectedRecord(const ToolRun& run, const ResultRow& row, const std::string& name) {
    EXPECT_EQ(row.type, "LE");
    EXPECT_EQ(row.addrType, "Public");
    if (parsedReport(run, "0x00", row.address)) {
        EXPECT_EQ(row.name, name);
        EXPECT_EQ(row.connectable, "Yes");
    } else {
        EXPECT_TRUE(parsedReport(run, "0x04", row.address));
        EXPECT_EQ(row.name, "");
        EXPECT_EQ(row.connectable, "No");
    }
    ::testing::Test::RecordProperty("adv_ind_parsed_" + row.address,
                                    parsedReport(run, "0x00", row.address) ? 1 : 0);
}

TEST_F(E2eScan, PeerStaysUpUntilSigterm) {
    const Peer* peer = startPeer("peer", {"--name", "Idle", "--le", "connectable"});
    ASSERT_NE(peer, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(peers_.back()->stop(), 0);
}

TEST_F(E2eScan, TwoInstancesFindEachOther) {
    // The first instance keeps its controller (and its advertising) alive by scanning;
    // the second comes up and advertises while the first scans, and finds the first in its
    // own scan-start burst. Both scan for 13 s so that each ends after its inquiry (which
    // keeps btvirt up for the other).
    ToolRun first;
    std::string error;
    ASSERT_TRUE(first.start(dir_, "first", {"scan", "-t", "13", "-o", dir_ + "/first.csv"}, &error))
        << error;
    ASSERT_TRUE(first.waitForLog("Scanning for 13 seconds...", seconds(20)));
    ToolRun second;
    ASSERT_TRUE(second.start(dir_, "second", {"scan", "-t", "13", "-o", dir_ + "/second.csv"}, &error))
        << error;
    ASSERT_EQ(first.finish(seconds(40)), 0);
    ASSERT_EQ(second.finish(seconds(40)), 0);

    const auto firstRows = results("first.csv");
    const auto secondRows = results("second.csv");
    ASSERT_EQ(firstRows.size(), 1u);
    ASSERT_EQ(secondRows.size(), 1u);
    // Two controllers on the air, neither hears itself: each file names the other.
    const std::string firstAddress = secondRows[0].address;
    const std::string secondAddress = firstRows[0].address;
    EXPECT_NE(firstAddress, secondAddress);

    // Both HALs delivered the other's connectable advertisement with its name.
    const std::string advIndPrefix = " 02 01 00 00 ";  // subevent, one report, ADV_IND, public
    EXPECT_EQ(countContaining(first.messages(), advIndPrefix + dumpBytesOf(secondAddress)), 1u);
    EXPECT_EQ(countContaining(second.messages(), advIndPrefix + dumpBytesOf(firstAddress)), 1u);
    expectUndirectedRecord(first, firstRows[0], kToolName);
    expectUndirectedRecord(second, secondRows[0], kToolName);
    // The second starts scanning after both reports of the first are pending: only the
    // SCAN_RSP is left for its event thread.
    EXPECT_EQ(secondRows[0].connectable, "No");

    // Neither lost its controller on the way.
    EXPECT_EQ(countContaining(first.messages(), "Failed"), 0u);
    EXPECT_EQ(countContaining(second.messages(), "Failed"), 0u);
    EXPECT_EQ(first.stdoutText(), "");
    EXPECT_EQ(second.stdoutText(), "");
    measureDelivery(first, "first");
    measureDelivery(second, "second");
    RecordProperty("first_seconds", std::to_string(first.seconds()));
}

TEST_F(E2eScan, MixedPeersLandWithTheirTypesNamesAndFlags) {
    const Peer* classic = startPeer("classic", {"--name", "Classic Speaker", "--inquiry-scan", "on",
                                                "--page-scan", "on", "--class", "240404"});
    // Started last before the scan, so its report is the one left pending for the event thread.
    const Peer* beacon = startPeer("beacon", {"--name", "Beacon", "--le", "nonconnectable",
                                              "--uuid", "180d", "--uuid", "180f"});
    ASSERT_TRUE(classic != nullptr && beacon != nullptr);

    ToolRun tool;
    std::string error;
    ASSERT_TRUE(tool.start(dir_, "tool", {"scan", "-t", "6", "-o", dir_ + "/mix.csv"}, &error))
        << error;
    ASSERT_TRUE(tool.waitForLog("Scanning for 6 seconds...", seconds(20)));
    const Peer* connectable = startPeer("connectable", {"--name", "LeConn", "--le", "connectable"});
    // Let the tool take the connectable peer's reports before the next one arrives.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Peer* directed = startDirectedPeer();
    ASSERT_TRUE(connectable != nullptr && directed != nullptr);
    ASSERT_EQ(tool.finish(seconds(40)), 0);

    const auto rows = results("mix.csv");
    const auto messages = tool.messages();

    const ResultRow* beaconRow = findRow(rows, beacon->address());
    ASSERT_NE(beaconRow, nullptr);
    EXPECT_EQ(beaconRow->name, "Beacon");
    EXPECT_EQ(beaconRow->type, "LE");
    EXPECT_EQ(beaconRow->connectable, "No");
    EXPECT_EQ(countContaining(messages, "    Service UUID: 0x180d"), 1u);
    EXPECT_EQ(countContaining(messages, "    Service UUID: 0x180f"), 1u);

    // Directed advertising has no name in it: the tool asks the device, which answers.
    const ResultRow* directedRow = findRow(rows, directed->address());
    ASSERT_NE(directedRow, nullptr);
    EXPECT_EQ(directedRow->type, "LE");
    EXPECT_EQ(directedRow->connectable, "Yes");
    EXPECT_EQ(directedRow->name, "Directed");
    EXPECT_EQ(
        countContaining(messages, "Updated device name: " + directed->address() + " -> Directed"),
        1u);

    const ResultRow* connectableRow = findRow(rows, connectable->address());
    ASSERT_NE(connectableRow, nullptr);
    expectUndirectedRecord(tool, *connectableRow, "LeConn");

    // The inquiry result reaches the HAL; the parser sees it only if nothing replaced it.
    EXPECT_EQ(countContaining(messages, "data: 02 0f 01 " + dumpBytesOf(classic->address())), 1u);
    const ResultRow* classicRow = findRow(rows, classic->address());
    if (classicRow != nullptr) {
        EXPECT_EQ(classicRow->type, "Classic");
        EXPECT_EQ(classicRow->connectable, "Yes");
        EXPECT_EQ(classicRow->name, "Classic Speaker");
    }
    RecordProperty("classic_found", classicRow != nullptr ? 1 : 0);

    for (const auto& row : rows) {
        EXPECT_EQ(row.addrType, "Public") << row.address;
        EXPECT_GT(row.rssi, -91) << row.address;
    }
    EXPECT_EQ(rows.size(), classicRow != nullptr ? 4u : 3u);
    measureDelivery(tool, "tool");
}

TEST_F(E2eScan, ConnectableOnlyDropsWhatTheControllerReportsAsNonConnectable) {
    const Peer* beacon = startPeer("beacon", {"--name", "Beacon", "--le", "nonconnectable"});
    ASSERT_NE(beacon, nullptr);
    ToolRun tool;
    std::string error;
    ASSERT_TRUE(tool.start(dir_, "tool", {"scan", "-c", "-t", "4", "-o", dir_ + "/c.csv"}, &error))
        << error;
    ASSERT_TRUE(tool.waitForLog("Scanning for 4 seconds...", seconds(20)));
    const Peer* directed = startDirectedPeer();
    ASSERT_NE(directed, nullptr);
    ASSERT_EQ(tool.finish(seconds(40)), 0);

    const auto messages = tool.messages();
    // The beacon was found, and then filtered out.
    EXPECT_EQ(countContaining(messages, "Found new device: " + beacon->address() +
                                            " (Beacon), RSSI: 127 dBm, Connectable: No"),
              1u);
    EXPECT_EQ(countContaining(messages, "Discovered 1 devices:"), 1u);
    const auto rows = results("c.csv");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].address, directed->address());
    EXPECT_EQ(rows[0].connectable, "Yes");
    EXPECT_EQ(rows[0].name, "Directed");
    measureDelivery(tool, "tool");
}

TEST_F(E2eScan, FirstConnectableDeviceEndsTheScan) {
    const Peer* beacon = startPeer("beacon", {"--name", "Beacon", "--le", "nonconnectable"});
    ASSERT_NE(beacon, nullptr);
    ToolRun tool;
    std::string error;
    ASSERT_TRUE(tool.start(dir_, "tool", {"scan", "-f", "-t", "15", "-o", dir_ + "/f.csv"}, &error))
        << error;
    ASSERT_TRUE(tool.waitForLog("Scanning for 15 seconds...", seconds(20)));
    const auto scanStart = std::chrono::steady_clock::now();
    // A non-connectable device alone does not end the scan.
    std::this_thread::sleep_for(seconds(2));
    EXPECT_EQ(countContaining(tool.messages(), "Found at least one connectable device"), 0u);
    const Peer* directed = startDirectedPeer();
    ASSERT_NE(directed, nullptr);
    ASSERT_EQ(tool.finish(seconds(40)), 0);
    const double scanSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - scanStart).count();

    const auto messages = tool.messages();
    EXPECT_EQ(countContaining(messages, "Found at least one connectable device, exiting scan"), 1u);
    EXPECT_EQ(countContaining(messages, "Found at least one connectable device, stopping scan"), 1u);
    EXPECT_LT(scanSeconds, 12.0) << "the scan ran (nearly) its full 15 s";
    const auto rows = results("f.csv");
    ASSERT_EQ(rows.size(), 2u);
    const ResultRow* directedRow = findRow(rows, directed->address());
    ASSERT_NE(directedRow, nullptr);
    EXPECT_EQ(directedRow->connectable, "Yes");
    const ResultRow* beaconRow = findRow(rows, beacon->address());
    ASSERT_NE(beaconRow, nullptr);
    EXPECT_EQ(beaconRow->connectable, "No");
    measureDelivery(tool, "tool");
}

}  // namespace
}  // namespace e2e
