// The tool against BlueZ's emulated controllers (btvirt), with remote devices played by
// hci_peer or by a second instance of the tool.
//
// What btvirt does, and what the tool's single pending-event slot makes of it:
// - inquiry results come in one burst ~100 ms after the Inquiry, before the event thread
//   exists, so later replies usually replace them;
// - each advertiser is reported once: in a burst right after LE scanning is switched on (only
//   the last report is still pending when the event thread starts), or when it starts
//   advertising during the scan;
// - an undirected connectable advertiser yields ADV_IND and an empty SCAN_RSP back to back,
//   which race for the slot; directed advertising yields one report;
// - btvirt 5.66 crashes soon after a controller with a running inquiry goes away, and the tool
//   never cancels its 12.8 s inquiry: nothing relies on btvirt after the tool has ended.
// The assertions stick to what is deterministic under these rules.
#include <algorithm>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "btvirt_fixture.h"

namespace e2e {
namespace {

using testsupport::countContaining;
using testsupport::toolTexts;

constexpr char kToolName[] = "Orvalinquist";

// Name, type, address type and connectable flag of the row for `address`.
std::string fields(const std::vector<ResultRow>& rows, const std::string& address) {
    for (const ResultRow& r : rows) {
        if (r.address == address)
            return r.name + "|" + r.type + "|" + r.addrType + "|" + r.connectable;
    }
    return "no row";
}

// The address as the tool's hexadecimal dumps show it: lower case, least significant first.
std::string dumpBytesOf(const std::string& address) {
    std::string bytes;
    for (int i = 5; i >= 0; --i) bytes += address.substr(i * 3, 2) + (i > 0 ? " " : "");
    for (char& c : bytes) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return bytes;
}

// The record of an undirected connectable advertiser depends on which of its two reports
// reached the parser first: with the ADV_IND it is connectable and named, with only the
// SCAN_RSP it is neither.
void expectUndirectedRecord(const std::vector<std::string>& log, const std::vector<ResultRow>& rows,
                            const std::string& address, const std::string& name) {
    auto parsed = [&](const std::string& type) {  // a report of this type reached the parser
        return countContaining(log, "type=" + type + ", addr_type=0x00, addr=" + address) > 0;
    };
    EXPECT_TRUE(parsed("0x00") || parsed("0x04")) << address;
    EXPECT_EQ(fields(rows, address), parsed("0x00") ? name + "|LE|Public|Yes" : "|LE|Public|No");
}

class E2eScan : public BtvirtTest {
  protected:
    // A peer in directed advertising aimed at the tool, which it finds by name.
    std::string startDirectedPeer() {
        return startPeer({"--name", "Directed", "--le", "directed", "--direct-to", kToolName,
                          "--page-scan", "on"});
    }
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
    expectUndirectedRecord(firstLog, firstRows, secondAddress, kToolName);
    expectUndirectedRecord(secondLog, secondRows, firstAddress, kToolName);
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

    EXPECT_EQ(fields(rows, beacon), "Beacon|LE|Public|No");
    EXPECT_EQ(countContaining(log, "    Service UUID: 0x180d"), 1u);
    EXPECT_EQ(countContaining(log, "    Service UUID: 0x180f"), 1u);

    // Directed advertising has no name in it: the tool asks the device, which answers.
    EXPECT_EQ(fields(rows, directed), "Directed|LE|Public|Yes");
    EXPECT_EQ(countContaining(log, "Updated device name: " + directed + " -> Directed"), 1u);

    expectUndirectedRecord(log, rows, connectable, "LeConn");

    // The inquiry result reaches the HAL; the parser sees it only if nothing replaced it.
    EXPECT_EQ(countContaining(log, "data: 02 0f 01 " + dumpBytesOf(classic)), 1u);
    const bool classicFound = fields(rows, classic) != "no row";
    if (classicFound) {
        EXPECT_EQ(fields(rows, classic), "Classic Speaker|Classic|Public|Yes");
    }
    for (const auto& row : rows) EXPECT_GT(row.rssi, -91) << row.address;
    EXPECT_EQ(rows.size(), classicFound ? 4u : 3u);
    EXPECT_TRUE(peers_.front()->stop().exitedWith(0));  // a peer ends cleanly on SIGTERM
}

TEST_F(E2eScan, ConnectableOnlyAndFirstConnectableEndsTheScan) {
    const std::string beacon = startPeer({"--name", "Beacon", "--le", "nonconnectable"});
    std::string directed;
    auto scanStart = std::chrono::steady_clock::now();
    const auto log = toolTexts(scan(15, "cf.csv", {"-c", "-f"}, [&] {
                                   scanStart = std::chrono::steady_clock::now();
                                   // A non-connectable device alone does not end the scan.
                                   std::this_thread::sleep_for(milliseconds(2000));
                                   directed = startDirectedPeer();
                               }).err);
    EXPECT_LT(std::chrono::steady_clock::now() - scanStart, std::chrono::seconds(12))
        << "the scan ran (nearly) its full 15 s";
    EXPECT_EQ(countContaining(log, "Found at least one connectable device, exiting scan"), 1u);
    EXPECT_EQ(countContaining(log, "Found at least one connectable device, stopping scan"), 1u);
    // The beacon was found, and then filtered out.
    EXPECT_EQ(countContaining(
                  log, "Found new device: " + beacon + " (Beacon), RSSI: 127 dBm, Connectable: No"),
              1u);
    EXPECT_EQ(countContaining(log, "Discovered 1 devices:"), 1u);
    const auto rows = results("cf.csv");
    EXPECT_EQ(rows.size(), 1u);
    const std::string directedFields = fields(rows, directed);  // -f may end it before the name
    EXPECT_EQ(directedFields.substr(std::min(directedFields.find('|'), directedFields.size())),
              "|LE|Public|Yes");
}

}  // namespace
}  // namespace e2e
