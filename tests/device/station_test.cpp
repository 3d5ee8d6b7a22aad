// scripts/device-run.sh on several devices at once: each device's whole run beside the others,
// its own files, its lines marked with its serial, one summary line each in the order given,
// one device's failure leaving the others alone, and Ctrl-C stopping and restoring every one.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <thread>

#include "fake_station.h"

namespace testsupport {
namespace {

struct Member {
    const char* serial;
    const char* device;   // as FakeDevice reads it
    const char* summary;  // in its summary line; nullptr: the device is not to be touched
    const char* profile = nullptr;
};

struct StationCase {
    const char* label;
    std::vector<Member> members;
    Lines args;  // the runner's, after --binary
    int status;
    Lines order;  // the summary lines' serials
    const char* log = "orvalinquist.log";
};

const StationCase kStationCases[] = {
    {"AllThreeAtOnce",
     {{"SER1", "13 33 hidl@1.1 ON 1", "HIDL 1.1: tool exit 0"},
      {"SER2", "15 35 aidl ON 0", "AIDL: tool exit 0"},
      {"SER3", "10 29 hidl@1.0 OFF -", "HIDL 1.0: tool exit 0"}},
     {"--all", "--log", "run.log", "scan", "-t", "2", "-o", "scan.csv"},
     0,
     {"SER1", "SER2", "SER3"},
     "run.log"},
    {"TwoNamedOfThree",
     {{"SER1", "14 34 aidl ON 1", "AIDL: tool exit 0"},
      {"SER2", "14 34 aidl ON 1", nullptr},
      {"SER3", "16 36 aidl OFF 1", "AIDL: tool exit 0"}},
     {"-s", "SER3", "-s", "SER1", "-s", "SER3", "scan", "-t", "1", "-o", "scan.csv"},
     0,
     {"SER3", "SER1"}},
    {"FailuresAmongGood",
     {{"SER1", "14 34 aidl ON 1", "AIDL: tool exit 0"},
      {"SER2", "14 34 aidl ON 1 user", "failed: SER2 runs a user build"},
      {"SER3", "13 33 hidl@1.1 ON 1", "HIDL 1.1: tool exit 1, no device list, restored",
       "transport=replay:/nonexistent.btsnoop"},
      {"SER4", "15 35 aidl ON 1", "failed: the log so far is in orvalinquist-SER4.log",
       "drop=1 never"},
      {"SER5", "14 34 none ON 1", "failed: no Bluetooth HCI HAL"}},
     {"--all", "scan", "-t", "1", "-o", "scan.csv"},
     2,
     {"SER1", "SER2", "SER3", "SER4", "SER5"}},
};

void PrintTo(const StationCase& station, std::ostream* out) {
    *out << station.label;
}

// NAME-SERIAL.EXT for NAME.EXT.
std::string withSerial(const std::string& name, const std::string& serial) {
    size_t dot = name.rfind('.');
    return name.substr(0, dot) + "-" + serial + name.substr(dot);
}

class StationTest : public testing::TestWithParam<StationCase> {};

TEST_P(StationTest, EachDeviceRunsAtOnceWithItsOwnFilesAndLine) {
    const StationCase& param = GetParam();
    Station station;
    station.extraEnv = {"DEVICE_RUN_RECONNECT_WAIT=3"};
    std::map<std::string, std::unique_ptr<FakeDevice>> devices;
    for (const Member& member : param.members) {
        auto& device = devices[member.serial] =
            std::make_unique<FakeDevice>(station, member.serial, member.device);
        if (member.profile) {
            std::string profile = member.profile;
            size_t equals = profile.find('=');
            device->write(profile.substr(0, equals), profile.substr(equals + 1));
        }
    }
    ProcessResult result = station.run(param.args);
    ASSERT_TRUE(result.exitedWith(param.status)) << result.describe();

    // One line a device at the end, in the order given or listed; every line before marked.
    Lines err = lines(result.err);
    ASSERT_GE(err.size(), param.order.size() + 1) << result.err;
    Lines summaries(err.end() - param.order.size(), err.end());
    for (size_t i = 0; i < param.order.size(); ++i) {
        EXPECT_EQ(summaries[i].rfind("device-run: [" + param.order[i] + "] Android ", 0), 0u)
            << summaries[i];
    }
    std::map<std::string, std::string> shown;  // stdout's lines of each device, unmarked
    for (const auto& line : lines(result.out)) {
        size_t close = line.find("] ");
        ASSERT_TRUE(line[0] == '[' && close != std::string::npos) << line;
        shown[line.substr(1, close - 1)] += line.substr(close + 2) + "\n";
    }
    for (const auto& line : Lines(err.begin() + 1, err.end() - param.order.size()))
        EXPECT_EQ(line[0], '[') << line;

    for (const Member& member : param.members) {
        const FakeDevice& device = *devices[member.serial];
        std::string log = station.work.file(withSerial(param.log, member.serial));
        if (!member.summary) {
            EXPECT_EQ(device.step(""), -1) << member.serial << " was touched";
            EXPECT_FALSE(std::filesystem::exists(log));
            continue;
        }
        std::string summary;
        for (const auto& line : summaries) {
            if (line.find("[" + std::string(member.serial) + "]") != std::string::npos)
                summary = line;
        }
        EXPECT_NE(summary.find(member.summary), std::string::npos) << summary;
        if (summary.find(", restored") == std::string::npos) continue;
        EXPECT_EQ(shown[member.serial], readFile(log)) << member.serial;
        device.expectStepsInOrder();
        device.expectAsFound();
        if (summary.find("exit 0") != std::string::npos) {
            std::string csv = readFile(station.work.file(withSerial("scan.csv", member.serial)));
            EXPECT_EQ(csv, readFile(device.file("tmp/scan.csv")));
            std::smatch total;
            ASSERT_TRUE(std::regex_search(csv, total, std::regex("# Total devices: (\\d+)")));
            EXPECT_NE(summary.find(", " + total[1].str() + " devices found, restored"),
                      std::string::npos)
                << summary;
        }
    }
    for (auto shared : {param.log, "scan.csv"})
        EXPECT_FALSE(std::filesystem::exists(station.work.file(shared))) << shared;

    // At the same time: every scan started before any of them ended.
    std::vector<std::filesystem::file_time_type> starts, ends;
    for (const auto& [serial, device] : devices) {
        if (device->read("tmp/orvalinquist.exit") != "0") continue;
        starts.push_back(std::filesystem::last_write_time(device->file("tool.pid")));
        ends.push_back(std::filesystem::last_write_time(device->file("tmp/orvalinquist.exit")));
    }
    if (starts.size() > 1) {
        EXPECT_LT(*std::max_element(starts.begin(), starts.end()),
                  *std::min_element(ends.begin(), ends.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(Stations, StationTest, testing::ValuesIn(kStationCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Ctrl-C twice while three devices scan: the tool stops on each, each is restored all the same.
TEST(StationInterruptTest, CtrlCStopsEveryToolAndRestoresEveryDevice) {
    Station station;
    std::vector<std::unique_ptr<FakeDevice>> devices;
    for (auto [serial, device] : {std::pair{"SER1", "13 33 hidl@1.1 ON 1"},
                                  {"SER2", "16 36 aidl ON 1"},
                                  {"SER3", "10 29 hidl@1.0 ON -"}})
        devices.push_back(std::make_unique<FakeDevice>(station, serial, device));
    ChildProcess runner(station.argv({"--all", "scan", "-t", "10", "-o", "scan.csv"}));
    ASSERT_TRUE(waitUntil(
        [&] { return countContaining(lines(runner.output(false)), "Scanning for 10") == 3; },
        milliseconds(20000)));
    runner.signal(SIGINT, /*toGroup=*/true);
    std::this_thread::sleep_for(milliseconds(300));
    runner.signal(SIGINT, /*toGroup=*/true);
    ProcessResult result = runner.wait(milliseconds(30000));
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    for (const auto& device : devices) {
        std::string log = readFile(station.work.file("orvalinquist-" + device->serial + ".log"));
        EXPECT_NE(log.find("Received signal 2"), std::string::npos) << device->serial;
        EXPECT_NE(result.err.find("[" + device->serial + "] Android"), std::string::npos);
        device->expectStepsInOrder();
        device->expectAsFound();
    }
}

}  // namespace
}  // namespace testsupport
