// The tool against BlueZ's emulated controllers (btvirt), with remote devices played by
// hci_peer and by a second instance of the tool; then the scan's HCI capture, decoded by
// btmon and played back by the replay transport.
//
// btvirt reports an advertiser to a scanner only when either of them starts, so the peers
// restart their advertising every 100-110 ms as real advertisers repeat; the tool keeps one
// pending event, and repeats are what make each peer's name and connectable answer reach it.
// The `enable` instance advertises once, before it exits: either of its two reports may be the
// one that stays pending.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "h4_link.h"
#include "tool_process.h"

namespace e2e {
namespace {

using testsupport::ChildProcess;
using testsupport::countContaining;
using testsupport::milliseconds;
using testsupport::ProcessResult;
using testsupport::toolTexts;

// btvirt's fixed socket for dual-mode (BR/EDR + LE) controllers.
constexpr char kBtvirtSocket[] = "/tmp/bt-server-bredrle";

// The full path of a program in PATH, or empty.
std::string findInPath(const std::string& program) {
    std::stringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return dir + "/" + program;
    }
    return std::string();
}

class BtvirtScan : public ::testing::Test {
  protected:
    // btvirt creates these in this order; the last one means all are listening.
    static constexpr const char* kSockets[] = {kBtvirtSocket, "/tmp/bt-server-bredr",
                                               "/tmp/bt-server-amp", "/tmp/bt-server-le",
                                               "/tmp/bt-server-mon"};

    // Skips without btvirt; else takes the host-wide btvirt lock and starts btvirt.
    void SetUp() override {
        if (findInPath("btvirt").empty()) GTEST_SKIP() << "no btvirt (package bluez-test-tools)";
        // ctest's resource lock covers one build tree; other trees may run these tests too.
        lock_.reset(open("/tmp/orvalinquist-btvirt.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        ASSERT_TRUE(lock_.valid() && flock(lock_.get(), LOCK_EX) == 0);
        for (const char* path : kSockets) unlink(path);
        btvirt_ = std::make_unique<ChildProcess>(std::vector<std::string>{BTVIRT_RUN_BIN, "-s"});
        struct stat st = {};
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return stat(kSockets[4], &st) == 0 && S_ISSOCK(st.st_mode); }, milliseconds(5000)))
            << "btvirt did not come up: " << btvirt_->output();
    }

    // btvirt leaves its sockets behind when it ends; they go while the lock is still held.
    void TearDown() override {
        if (!lock_.valid()) return;
        peers_.clear();
        btvirt_.reset();
        for (const char* path : kSockets) unlink(path);
    }

    // Starts an hci_peer; its address, or empty (with a failure) when it did not come up.
    std::string startPeer(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {HCI_PEER_BIN, "--transport",
                                         std::string("unix:") + kBtvirtSocket};
        argv.insert(argv.end(), args.begin(), args.end());
        peers_.push_back(std::make_unique<ChildProcess>(argv));
        peers_.back()->waitForOutput("\n", milliseconds(15000), /*fromStderr=*/false);
        std::string line = peers_.back()->output(false);
        if (line.rfind("ready ", 0) == 0 && line.size() >= 6 + 17) return line.substr(6, 17);
        ADD_FAILURE() << "peer did not come up: " << line << peers_.back()->output();
        return "";
    }

    testsupport::TempDir dir_;
    orvalinquist::host::UniqueFd lock_;
    std::unique_ptr<ChildProcess> btvirt_;
    std::vector<std::unique_ptr<ChildProcess>> peers_;  // stopped before btvirt
};

// btvirt's AES comes from the kernel's AF_ALG or from our shim: LE Encrypt must give the
// FIPS-197 answer (key and plaintext in, ciphertext out, least significant octet first).
void expectLeEncryptIsAes() {
    orvalinquist::peer::H4Link link;
    std::string error;
    ASSERT_TRUE(link.open(std::string("unix:") + kBtvirtSocket, &error)) << error;
    std::vector<uint8_t> params, returned;
    for (int i = 15; i >= 0; --i) params.push_back(static_cast<uint8_t>(i));
    for (int i = 15; i >= 0; --i) params.push_back(static_cast<uint8_t>(i * 0x11));
    ASSERT_TRUE(link.command(0x2017, params, &returned, &error)) << error;
    EXPECT_EQ(returned, (std::vector<uint8_t>{0x00, 0x5a, 0xc5, 0xb4, 0x70, 0x80, 0xb7, 0xcd, 0xd8,
                                              0x30, 0x04, 0x7b, 0x6a, 0xd8, 0xe0, 0xc4, 0x69}));
}

// btmon decodes the capture without complaint, with every packet the tool logged (and no
// other) and every command answer after its command.
void expectBtmonDecodes(const std::string& capture, const std::vector<std::string>& log) {
    const std::string btmon = findInPath("btmon");
    ASSERT_FALSE(btmon.empty()) << "no btmon (Debian package bluez)";
    ProcessResult decoded = ChildProcess({btmon, "-r", capture}).wait(milliseconds(20000));
    ASSERT_TRUE(decoded.exitedWith(0)) << decoded.describe();
    for (const char* bad : {"alformed", "nvalid packet", "too short", "Unknown packet"}) {
        EXPECT_EQ(decoded.out.find(bad), std::string::npos) << bad;
    }
    std::stringstream lines(decoded.out);
    size_t commands = 0, events = 0;
    std::map<std::string, int> unanswered;  // by btmon's "(0xGG|0xCCCC)"
    bool reply = false;
    for (std::string line; std::getline(lines, line);) {
        const size_t open = line.find("(0x");
        const std::string opcode =
            open == std::string::npos ? "" : line.substr(open, line.find(')', open) - open + 1);
        if (line.rfind("< HCI Command: ", 0) == 0) ++commands, ++unanswered[opcode];
        if (reply) {
            EXPECT_GT(unanswered[opcode]--, 0) << "answer first: " << line;
        }
        events += line.rfind("> HCI Event: ", 0) == 0;
        reply = line.rfind("> HCI Event: Command Complete (0x0e)", 0) == 0 ||
                line.rfind("> HCI Event: Command Status (0x0f)", 0) == 0;
    }
    EXPECT_EQ(commands, countContaining(log, "Sending HCI command: "));
    EXPECT_EQ(events, countContaining(log, "Received HCI event, size: "));
}

// The LE devices of a scan's report: address to "name|type|address type|connectable".
std::map<std::string, std::string> reportedDevices(const std::vector<std::string>& log) {
    static const std::regex kDevice(
        R"(\d+\. Address: (\S+), (?:Name: (.*?), )?(?:RSSI: -?\d+ dBm, )?)"
        R"(Type: (\w+), Addr Type: (\w+), Connectable: (\w+))");
    std::map<std::string, std::string> rows;
    std::smatch m;
    for (const std::string& line : log) {
        if (std::regex_match(line, m, kDevice))
            rows[m.str(1)] = m.str(2) + "|" + m.str(3) + "|" + m.str(4) + "|" + m.str(5);
    }
    return rows;
}

TEST_F(BtvirtScan, FindsEveryPeerThenDecodesAndReplaysItsCapture) {
    expectLeEncryptIsAes();
    const std::string capture = dir_.file("scan.btsnoop"),
                      transport = "unix:" + std::string(kBtvirtSocket);
    ChildProcess tool({ORVALINQUIST_BINARY, "scan", "-t", "7"},
                      {"BT_HCI_TRANSPORT=" + transport, "BT_HCI_SNOOP=" + capture});
    ASSERT_TRUE(tool.waitForOutput("Scanning for 7 seconds...", milliseconds(20000)));
    // Directed advertising carries no name: the tool asks the device. Its answer must not be
    // followed at once by other reports, so the other peers come after it, and this peer
    // repeats only every second.
    const std::string watch = startPeer({"--name", "Watch", "--le", "directed", "--direct-to",
                                         "Orvalinquist", "--page-scan", "on", "--interval", "1000"});
    EXPECT_TRUE(
        tool.waitForOutput("Updated device name: " + watch + " -> Watch", milliseconds(3000)));
    // The replay below answers the name request at once and plays the other peers at their
    // recorded offsets: a wide gap keeps them clear of that answer on a loaded machine too.
    std::this_thread::sleep_for(milliseconds(700));
    const std::string lamp = startPeer({"--name", "Lamp", "--le", "connectable"});
    const std::string tag =
        startPeer({"--name", "Tag", "--le", "scannable", "--name-in", "scan-response"});
    const std::string sensor = startPeer(
        {"--name", "Heart Rate", "--le", "nonconnectable", "--uuid", "180d", "--uuid", "180f"});
    ProcessResult enabled = testsupport::runTool({"enable"}, transport, milliseconds(20000));
    EXPECT_TRUE(enabled.exitedWith(0)) << enabled.describe();
    ProcessResult scan = tool.wait(milliseconds(30000));
    ASSERT_TRUE(scan.exitedWith(0)) << scan.describe();
    EXPECT_EQ(scan.out, "");
    const auto log = toolTexts(scan.err);
    EXPECT_EQ(scan.err.find("orvalinquist E "), std::string::npos);  // no ERROR line

    std::map<std::string, std::string> rows = reportedDevices(log);
    EXPECT_EQ(rows[watch], "Watch|LE|Public|Yes");
    EXPECT_EQ(rows[lamp], "Lamp|LE|Public|Yes");
    EXPECT_EQ(rows[tag], "Tag|LE|Public|Yes");  // ADV_SCAN_IND counts as connectable
    EXPECT_EQ(rows[sensor], "Heart Rate|LE|Public|No");
    EXPECT_GT(countContaining(log, "    Service UUID: 0x180d"), 0u);
    EXPECT_GT(countContaining(log, "    Service UUID: 0x180f"), 0u);
    ASSERT_EQ(rows.size(), 5u);
    std::string enabler;
    for (const auto& row : rows) {
        if (row.first != watch && row.first != lamp && row.first != tag && row.first != sensor) {
            enabler = row.second;
        }
    }
    EXPECT_TRUE(enabler == "Orvalinquist|LE|Public|Yes" || enabler == "|LE|Public|No") << enabler;

    expectBtmonDecodes(capture, log);

    // Played back, the capture yields the same devices. The `enable` instance's record
    // depends on which of its two reports stayed pending, in either run: it is left out.
    ProcessResult replay = testsupport::runTool({"scan", "-t", "7"}, "replay:" + capture);
    ASSERT_TRUE(replay.exitedWith(0)) << replay.describe();
    std::map<std::string, std::string> replayRows = reportedDevices(toolTexts(replay.err));
    EXPECT_EQ(replayRows.size(), rows.size());
    for (const auto& address : {watch, lamp, tag, sensor}) {
        EXPECT_EQ(replayRows[address], rows[address]) << address;
    }
}

}  // namespace
}  // namespace e2e
