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
// The assertions stick to what is deterministic under these rules and check that whatever
// reached the parser shows up correctly in the results file.
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "btvirt_env.h"

namespace e2e {
namespace {

using testsupport::countContaining;
using testsupport::toolTexts;

constexpr char kToolName[] = "Orvalinquist";

const ResultRow* findRow(const std::vector<ResultRow>& rows, const std::string& address) {
    for (const auto& row : rows) {
        if (row.address == address) return &row;
    }
    return nullptr;
}

// The address as the tool's hexadecimal dumps show it: lower case, least significant first.
std::string dumpBytesOf(const std::string& address) {
    std::string bytes;
    for (int i = 5; i >= 0; --i) bytes += address.substr(i * 3, 2) + (i > 0 ? " " : "");
    for (char& c : bytes) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return bytes;
}

// True when the tool parsed a report of `type` (e.g. "0x00") from this address.
bool parsedReport(const std::vector<std::string>& log, const std::string& type,
                  const std::string& address) {
    return countContaining(log, "type=" + type + ", addr_type=0x00, addr=" + address) > 0;
}

// The record of an undirected connectable advertiser depends on which of its two reports
// reached the parser first: with the ADV_IND it is connectable and named, with only the
// SCAN_RSP it is neither.
void expectUndirectedRecord(const std::vector<std::string>& log, const ResultRow& row,
                            const std::string& name) {
    EXPECT_EQ(row.type, "LE");
    EXPECT_EQ(row.addrType, "Public");
    bool advInd = parsedReport(log, "0x00", row.address);
    EXPECT_TRUE(advInd || parsedReport(log, "0x04", row.address)) << row.address;
    EXPECT_EQ(row.name, advInd ? name : "");
    EXPECT_EQ(row.connectable, advInd ? "Yes" : "No");
}

class E2eScan : public BtvirtTest {
  protected:
    // A peer in directed advertising aimed at the tool, which it finds by name.
    std::string startDirectedPeer() {
        return startPeer({"--name", "Directed", "--le", "directed", "--direct-to", kToolName,
                          "--page-scan", "on"});
    }
    std::string startBeacon() { return startPeer({"--name", "Beacon", "--le", "nonconnectable"}); }
};

TEST_F(E2eScan, TwoInstancesFindEachOther) {
    // The first instance keeps its controller (and its advertising) alive by scanning; the
    // second comes up and advertises while the first scans, and finds the first in its own
    // scan-start burst. Both scan for 13 s so that each ends after its inquiry (which keeps
    // btvirt up for the other).
    ProcessResult second;
    ProcessResult first = scan(13, "first.csv", {}, [&] { second = scan(13, "second.csv"); });
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
    const auto firstLog = toolTexts(first.err), secondLog = toolTexts(second.err);
    EXPECT_EQ(countContaining(firstLog, advIndPrefix + dumpBytesOf(secondAddress)), 1u);
    EXPECT_EQ(countContaining(secondLog, advIndPrefix + dumpBytesOf(firstAddress)), 1u);
    expectUndirectedRecord(firstLog, firstRows[0], kToolName);
    expectUndirectedRecord(secondLog, secondRows[0], kToolName);
    // The second starts scanning after both reports of the first are pending: only the
    // SCAN_RSP is left for its event thread.
    EXPECT_EQ(secondRows[0].connectable, "No");
    // Neither lost its controller on the way.
    EXPECT_EQ(countContaining(firstLog, "Failed"), 0u);
    EXPECT_EQ(countContaining(secondLog, "Failed"), 0u);
}

TEST_F(E2eScan, MixedPeersLandWithTheirTypesNamesAndFlags) {
    const std::string classic = startPeer({"--name", "Classic Speaker", "--inquiry-scan", "on",
                                           "--page-scan", "on", "--class", "240404"});
    // Started last before the scan, so its report is the one left pending for the event thread.
    const std::string beacon = startPeer(
        {"--name", "Beacon", "--le", "nonconnectable", "--uuid", "180d", "--uuid", "180f"});
    std::string connectable, directed;
    ProcessResult tool = scan(6, "mix.csv", {}, [&] {
        connectable = startPeer({"--name", "LeConn", "--le", "connectable"});
        // Let the tool take the connectable peer's reports before the next one arrives.
        std::this_thread::sleep_for(milliseconds(300));
        directed = startDirectedPeer();
    });
    const auto rows = results("mix.csv");
    const auto log = toolTexts(tool.err);

    const ResultRow* beaconRow = findRow(rows, beacon);
    ASSERT_NE(beaconRow, nullptr);
    EXPECT_EQ(beaconRow->name, "Beacon");
    EXPECT_EQ(beaconRow->type, "LE");
    EXPECT_EQ(beaconRow->connectable, "No");
    EXPECT_EQ(countContaining(log, "    Service UUID: 0x180d"), 1u);
    EXPECT_EQ(countContaining(log, "    Service UUID: 0x180f"), 1u);

    // Directed advertising has no name in it: the tool asks the device, which answers.
    const ResultRow* directedRow = findRow(rows, directed);
    ASSERT_NE(directedRow, nullptr);
    EXPECT_EQ(directedRow->type, "LE");
    EXPECT_EQ(directedRow->connectable, "Yes");
    EXPECT_EQ(directedRow->name, "Directed");
    EXPECT_EQ(countContaining(log, "Updated device name: " + directed + " -> Directed"), 1u);

    const ResultRow* connectableRow = findRow(rows, connectable);
    ASSERT_NE(connectableRow, nullptr);
    expectUndirectedRecord(log, *connectableRow, "LeConn");

    // The inquiry result reaches the HAL; the parser sees it only if nothing replaced it.
    EXPECT_EQ(countContaining(log, "data: 02 0f 01 " + dumpBytesOf(classic)), 1u);
    const ResultRow* classicRow = findRow(rows, classic);
    if (classicRow != nullptr) {
        EXPECT_EQ(classicRow->type, "Classic");
        EXPECT_EQ(classicRow->connectable, "Yes");
        EXPECT_EQ(classicRow->name, "Classic Speaker");
    }
    for (const auto& row : rows) {
        EXPECT_EQ(row.addrType, "Public") << row.address;
        EXPECT_GT(row.rssi, -91) << row.address;
    }
    EXPECT_EQ(rows.size(), classicRow != nullptr ? 4u : 3u);
    EXPECT_TRUE(peers_.front()->stop().exitedWith(0));  // a peer ends cleanly on SIGTERM
}

TEST_F(E2eScan, ConnectableOnlyDropsWhatTheControllerReportsAsNonConnectable) {
    const std::string beacon = startBeacon();
    std::string directed;
    const auto log =
        toolTexts(scan(4, "c.csv", {"-c"}, [&] { directed = startDirectedPeer(); }).err);
    // The beacon was found, and then filtered out.
    EXPECT_EQ(countContaining(
                  log, "Found new device: " + beacon + " (Beacon), RSSI: 127 dBm, Connectable: No"),
              1u);
    EXPECT_EQ(countContaining(log, "Discovered 1 devices:"), 1u);
    const auto rows = results("c.csv");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].address, directed);
    EXPECT_EQ(rows[0].connectable, "Yes");
    EXPECT_EQ(rows[0].name, "Directed");
}

TEST_F(E2eScan, FirstConnectableDeviceEndsTheScan) {
    const std::string beacon = startBeacon();
    std::string directed;
    auto scanStart = std::chrono::steady_clock::now();
    const auto log = toolTexts(scan(15, "f.csv", {"-f"}, [&] {
                                   scanStart = std::chrono::steady_clock::now();
                                   // A non-connectable device alone does not end the scan.
                                   std::this_thread::sleep_for(milliseconds(2000));
                                   directed = startDirectedPeer();
                               }).err);
    EXPECT_LT(std::chrono::steady_clock::now() - scanStart, std::chrono::seconds(12))
        << "the scan ran (nearly) its full 15 s";
    EXPECT_EQ(countContaining(log, "Found at least one connectable device, exiting scan"), 1u);
    EXPECT_EQ(countContaining(log, "Found at least one connectable device, stopping scan"), 1u);
    const auto rows = results("f.csv");
    ASSERT_EQ(rows.size(), 2u);
    const ResultRow* directedRow = findRow(rows, directed);
    const ResultRow* beaconRow = findRow(rows, beacon);
    ASSERT_TRUE(directedRow != nullptr && beaconRow != nullptr);
    EXPECT_EQ(directedRow->connectable, "Yes");
    EXPECT_EQ(beaconRow->connectable, "No");
}

}  // namespace
}  // namespace e2e
