// The scan session on an initialized session, and the device report it ends with.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "bt_scanner.h"
#include "bt_utils.h"
#include "unit_support.h"

namespace unit {
namespace {

const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00};
const Bytes kParameters = {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00};
const Bytes kScanOn = {0x0C, 0x20, 0x02, 0x01, 0x00};
const std::vector<Bytes> kAll = {kInquiry, kParameters, kScanOn, kScanOff};
const char kRefused[] = "Failed to send HCI command";
const char kNoHal[] = "Bluetooth HCI service not available";

class ScanTest : public SessionTest {
  protected:
    bool scan(int timeout) {
        bt::ScanOptions options;
        options.timeout = timeout;
        return scanner.startScan(options);
    }
    bt::BluetoothScanner scanner{bt::hci, bt::globalState};
};

struct StepCase {
    const char* label;
    size_t refused;  // 1-based command number the HAL refuses (5: none); 0: no HAL; 6: no session
    bool result;
    std::vector<Bytes> commands;
    Lines errors;
};

class ScanStepTest : public ScanTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(ScanStepTest, SendsTheStepsAndReportsTheFailedOne) {
    const StepCase& c = GetParam();
    if (c.refused != 6) initializeSession();
    if (c.refused == 0) bt::hci = nullptr;
    hal->refuseCommandNumber(c.refused);
    EXPECT_EQ(scan(1), c.result);
    EXPECT_EQ(hal->commandBytes(), c.commands);
    EXPECT_EQ(errorLines(), c.errors);
    EXPECT_EQ(countLines("Event processing thread started"), c.commands.size() == 4);
    EXPECT_FALSE(bt::globalState.scanning || bt::globalState.eventThread.joinable());
    if (c.refused != 5) return;
    expectGaps(hal->commands(), {190, 490, 1190});  // the pause, then one second of waiting
    // The event thread's first line may come before or after the main thread's.
    EXPECT_EQ(countLines("Scanning for 1 seconds..."), 1u);
    EXPECT_EQ(toolLogTexts().back(), "Event processing thread exiting");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, ScanStepTest, ::testing::Values(
    StepCase{"AllAccepted", 5, true, kAll, {}},
    StepCase{"Inquiry", 1, true, kAll, {kRefused, "Failed to start inquiry"}},
    StepCase{"Parameters", 2, false, {kInquiry, kParameters}, {kRefused, "Failed to set scan parameters"}},
    StepCase{"ScanOn", 3, false, {kInquiry, kParameters, kScanOn}, {kRefused, "Failed to enable scanning"}},
    StepCase{"ScanOff", 4, true, kAll, {kRefused, "Failed to disable scanning"}},
    StepCase{"NoHal", 0, false, {}, {kNoHal, "Failed to start inquiry", kNoHal, "Failed to set scan parameters"}},
    StepCase{"NotInitialized", 6, false, {}, {"Bluetooth not initialized"}}), kByLabel);
// clang-format on

// No room for another thread's stack: the scan switches scanning off and still returns.
TEST_F(ScanTest, EventThreadThatCannotStartEndsTheScan) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    initializeSession();
    auto run = [this] {  // 2 MB above what is in use
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line) && line.rfind("VmSize:", 0) != 0) {
        }
        const rlim_t size = std::stoull(line.substr(7)) * 1024 + (2 << 20);
        const rlimit limit = {size, size};
        return setrlimit(RLIMIT_AS, &limit) == 0 && scan(5) && !bt::globalState.scanning &&
               countLines("Event processing thread started") == 0 &&
               hal->commandBytes().back() == kScanOff;
    };
    EXPECT_EXIT(std::_Exit(run() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A stop without notification is noticed by the next 100 ms slice of the wait.
TEST_F(ScanTest, EventThreadNoticesAStopWithoutNotification) {
    bt::globalState.scanning = true;
    std::thread events([this] { scanner.processEvents(bt::ScanOptions()); });
    ASSERT_TRUE(waitForLines("Event processing thread started"));
    std::this_thread::sleep_for(150ms);
    bt::globalState.scanning = false;
    EXPECT_TRUE(waitForLines("Event processing thread exiting", 1, 1s));
    events.join();
}

// In discovery order; the report sorts them, the file keeps this order.
// clang-format off
const std::vector<bt::DeviceInfo> kDevices = {  // address, class, rssi, name, addr type, LE, type, connectable
    {{0x10, 0x11, 0x12, 0x13, 0x14, 0x15}, {}, -30, "", 0, 1, 0, 0, {}},
    {{0x20, 0x21, 0x22, 0x23, 0x24, 0x25}, {}, -80, "a,b,,c", 1, 0, 0, 1, {}},
    {{0x30, 0x31, 0x32, 0x33, 0x34, 0x35}, {}, -52, "Sensor", 1, 1, 0, 1, {}},
    {{0x40, 0x41, 0x42, 0x43, 0x44, 0x45}, {}, 0, "", 0, 1, 0, 0, {}},
    {{0x50, 0x51, 0x52, 0x53, 0x54, 0x55}, {}, -45, "q\"uote", 0, 0, 0, 0, {}}};
// clang-format on

TEST(Report, LogsInReportOrderAndWritesTheFileInCallersOrder) {
    const std::string path = ::testing::TempDir() + "orvalinquist_" + std::to_string(getpid());
    std::ofstream(path) << std::string(4096, 'x');  // must be replaced, not extended
    testsupport::clearLog();
    bt::utils::printDevices(kDevices, path);
    std::stringstream content;
    content << std::ifstream(path).rdbuf();
    std::remove(path.c_str());
    EXPECT_EQ(toolLogTexts(),
              (Lines{"Discovered 5 devices:",
                     "1. Address: 35:34:33:32:31:30, Name: Sensor, RSSI: -52 dBm, Type: LE, "
                     "Addr Type: Random, Connectable: Yes",
                     "2. Address: 25:24:23:22:21:20, Name: a,b,,c, RSSI: -80 dBm, Type: Classic, "
                     "Connectable: Yes",
                     "3. Address: 45:44:43:42:41:40, Type: LE, Addr Type: Public, Connectable: No",
                     "4. Address: 15:14:13:12:11:10, RSSI: -30 dBm, Type: LE, Addr Type: Public, "
                     "Connectable: No",
                     "5. Address: 55:54:53:52:51:50, Name: q\"uote, RSSI: -45 dBm, Type: Classic, "
                     "Connectable: No",
                     "Saved 5 devices to file: " + path}));
    EXPECT_TRUE(errorLines().empty());
    const std::string text = content.str();
    std::smatch stamp;
    ASSERT_TRUE(std::regex_search(text, stamp, std::regex("\n(# Timestamp: (-?[0-9]+)\n)")));
    EXPECT_LE(std::llabs(std::stoll(stamp[2]) - static_cast<long long>(std::time(nullptr))), 5);
    EXPECT_EQ(text, "# Bluetooth Device Scan Results\n" + stamp.str(1) +
                        "# Total devices: 5\n#\n# Address,Name,RSSI,Type,AddrType,Connectable\n"
                        "15:14:13:12:11:10,\"\",-30,LE,Public,No\n"
                        "25:24:23:22:21:20,\"a;b;;c\",-80,Classic,Random,Yes\n"
                        "35:34:33:32:31:30,\"Sensor\",-52,LE,Random,Yes\n"
                        "45:44:43:42:41:40,\"\",0,LE,Public,No\n"
                        "55:54:53:52:51:50,\"q\"uote\",-45,Classic,Public,No\n");
}

TEST(Report, FileFailures) {
    testsupport::clearLog();
    const std::string missing = ::testing::TempDir() + "orvalinquist_no_such_dir/out.csv";
    EXPECT_FALSE(bt::utils::saveDevicesToFile(kDevices, missing));
    EXPECT_FALSE(bt::utils::saveDevicesToFile(kDevices, ""));
    EXPECT_EQ(toolLogTexts(), Lines{"Failed to open file for writing: " + missing});
    EXPECT_EQ(errorLines().size(), 1u);
}

}  // namespace
}  // namespace unit
