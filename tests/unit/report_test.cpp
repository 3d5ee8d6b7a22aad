// The device list report in the log and the results file.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "bt_utils.h"
#include "unit_support.h"

namespace unit {
namespace {

bt::DeviceInfo device(uint8_t tag, const std::string& name, int8_t rssi, uint8_t isLe,
                      uint8_t addressType, uint8_t connectable) {
    bt::DeviceInfo d;
    for (uint8_t i = 0; i < 6; ++i) d.address[i] = static_cast<uint8_t>(tag + i);
    d.name = name;
    d.rssi = rssi;
    d.isLe = isLe;
    d.addressType = addressType;
    d.connectable = connectable;
    return d;
}

// In discovery order; the report sorts them, the file keeps this order.
const std::vector<bt::DeviceInfo> kDevices = {
    device(0x10, "", -30, 1, 0, 0),        device(0x20, "a,b,,c", -80, 0, 1, 1),
    device(0x30, "Sensor", -52, 1, 1, 1),  device(0x40, "", 0, 1, 0, 0),
    device(0x50, "q\"uote", -45, 0, 0, 0),
};

std::string temporaryPath(const std::string& name) {
    return ::testing::TempDir() + "orvalinquist_" + std::to_string(getpid()) + "_" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

TEST(Report, LogsCountAndLinesInReportOrder) {
    testsupport::clearLog();
    bt::utils::printDevices(kDevices, "");
    EXPECT_EQ(testsupport::toolLogTexts(),
              (Lines{"Discovered 5 devices:",
                     "1. Address: 35:34:33:32:31:30, Name: Sensor, RSSI: -52 dBm, Type: LE, "
                     "Addr Type: Random, Connectable: Yes",
                     "2. Address: 25:24:23:22:21:20, Name: a,b,,c, RSSI: -80 dBm, Type: Classic, "
                     "Connectable: Yes",
                     "3. Address: 45:44:43:42:41:40, Type: LE, Addr Type: Public, Connectable: No",
                     "4. Address: 15:14:13:12:11:10, RSSI: -30 dBm, Type: LE, Addr Type: Public, "
                     "Connectable: No",
                     "5. Address: 55:54:53:52:51:50, Name: q\"uote, RSSI: -45 dBm, Type: Classic, "
                     "Connectable: No"}));
    EXPECT_EQ(linesWithPriority(4).size(), 6u);
}

TEST(Report, FileKeepsTheCallersOrderAndReplacesCommas) {
    const std::string path = temporaryPath("results.csv");
    {
        std::ofstream old(path);
        old << std::string(4096, 'x');
    }  // must be replaced, not extended
    testsupport::clearLog();
    bt::utils::printDevices(kDevices, path);
    const std::string content = readFile(path);
    std::remove(path.c_str());

    std::smatch match;
    ASSERT_TRUE(std::regex_search(content, match, std::regex("\n(# Timestamp: (-?[0-9]+)\n)")));
    const long long stamp = std::stoll(match[2]);
    EXPECT_LE(std::llabs(stamp - static_cast<long long>(std::time(nullptr))), 5);
    EXPECT_EQ(content, "# Bluetooth Device Scan Results\n" + match.str(1) +
                           "# Total devices: 5\n"
                           "#\n"
                           "# Address,Name,RSSI,Type,AddrType,Connectable\n"
                           "15:14:13:12:11:10,\"\",-30,LE,Public,No\n"
                           "25:24:23:22:21:20,\"a;b;;c\",-80,Classic,Random,Yes\n"
                           "35:34:33:32:31:30,\"Sensor\",-52,LE,Random,Yes\n"
                           "45:44:43:42:41:40,\"\",0,LE,Public,No\n"
                           "55:54:53:52:51:50,\"q\"uote\",-45,Classic,Public,No\n");
    EXPECT_EQ(testsupport::toolLogTexts().back(), "Saved 5 devices to file: " + path);
}

TEST(Report, EmptyListStillWritesTheHeader) {
    const std::string path = temporaryPath("empty.csv");
    testsupport::clearLog();
    bt::utils::printDevices({}, path);
    const std::string content = readFile(path);
    std::remove(path.c_str());
    EXPECT_EQ(testsupport::toolLogTexts(),
              (Lines{"Discovered 0 devices:", "Saved 0 devices to file: " + path}));
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 5);
    EXPECT_NE(content.find("\n# Total devices: 0\n"), std::string::npos);
}

TEST(Report, FileFailures) {
    testsupport::clearLog();
    const std::string missing = temporaryPath("no_such_dir") + "/out.csv";
    EXPECT_FALSE(bt::utils::saveDevicesToFile(kDevices, missing));
    EXPECT_FALSE(bt::utils::saveDevicesToFile(kDevices, ""));
    EXPECT_EQ(linesWithPriority(6), Lines{"Failed to open file for writing: " + missing});
    EXPECT_EQ(testsupport::toolLogTexts().size(), 1u);
}

}  // namespace
}  // namespace unit
