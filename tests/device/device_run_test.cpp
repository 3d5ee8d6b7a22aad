// scripts/device-run.sh against the stand-in adb and device of fake_adb/adb, for each kind of
// device: the order of its steps, the device as it was found afterwards, its exit status, the
// pulled results and the tool's log lines, also when the tool fails, on Ctrl-C and when set-up
// cannot go on.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include "capture_builder.h"
#include "fake_station.h"

namespace testsupport {
namespace {

constexpr char kNastyName[] = "it's \"my\" scan; touch pwned";

struct Kind {
    const char* label;
    const char* device;
    Lines output;       // scan's -o in one of its forms
    const char* local;  // the file it names on the workstation
    int serials = 1;    // two: the runner is told which with -s
};

const Kind kKinds[] = {
    {"Android10_Hidl10", "10 29 hidl@1.0 ON 1", {"-o", "scan.csv"}, "scan.csv"},
    {"Android13_Hidl11", "13 33 hidl@1.1 ON 1", {"--output=sub/scan.csv"}, "sub/scan.csv"},
    {"Android14_Hidl11",
     "14 34 hidl@1.1 OFF - userdebug vendor.qti.bluetooth-1-1",
     {"-coscan.csv"},
     "scan.csv"},
    {"Android15_Aidl", "15 35 aidl ON 0", {"--output", "scan.csv"}, "scan.csv", 2},
    {"Android16_Aidl", "16 36 aidl ON 1", {"-o", kNastyName}, kNastyName},
};

void PrintTo(const Kind& kind, std::ostream* out) {
    *out << kind.label;
}

class DeviceRunTest : public testing::TestWithParam<Kind> {};

TEST_P(DeviceRunTest, ScansPullsResultsAndRestores) {
    const Kind& kind = GetParam();
    Station station;
    std::unique_ptr<FakeDevice> other;
    if (kind.serials > 1) other = std::make_unique<FakeDevice>(station, "SER1", kind.device);
    FakeDevice device(station, kind.serials > 1 ? "SER2" : "SER1", kind.device);
    ::mkdir(station.work.file("sub").c_str(), 0755);
    Lines args = kind.serials > 1 ? Lines{"-s", "SER2"} : Lines{};
    args.insert(args.end(), {"scan", "-t", "1"});
    args.insert(args.end(), kind.output.begin(), kind.output.end());
    ProcessResult result = station.run(args);
    ASSERT_TRUE(result.exitedWith(0)) << result.describe();
    device.expectStepsInOrder();
    device.expectAsFound();

    if (other) {
        EXPECT_EQ(other->step(""), -1) << "the other device was touched";
    }
    std::string csv = readFile(station.work.file(kind.local)), name = kind.local;
    EXPECT_NE(csv.find("# Total devices"), std::string::npos) << kind.local;
    EXPECT_EQ(csv, device.read("tmp/" + name.substr(name.find_last_of('/') + 1)) + "\n");
    for (const auto& dir : {station.work.path, device.file("tmp")})
        EXPECT_FALSE(std::filesystem::exists(dir + "/pwned"));

    // All the tool's lines, each once, on the terminal and in the log file, none lost at its end.
    ProcessResult dump =
        ChildProcess(station.env({"adb", "-s", device.serial, "logcat", "-d", "-v", "threadtime"}))
            .wait(milliseconds(5000));
    std::string log = readFile(station.work.file("orvalinquist.log"));
    EXPECT_EQ(log, dump.out);
    EXPECT_EQ(result.out, log);
    for (auto line : {"Bluetooth initialized successfully", "Discovered "})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    std::string said =
        "device-run: Android " + device.release + " (API " + device.sdk + "), userdebug, HAL: ";
    EXPECT_EQ(lines(result.err).at(0).rfind(said, 0), 0u) << result.err;
}

// A scan that fails (its HAL has no controller): status 1, restored, nothing pulled, the old
// local results kept.
TEST_P(DeviceRunTest, ToolFailureRestoresAndPullsNothing) {
    Station station;
    FakeDevice device(station, "SER1", GetParam().device);
    device.write("transport", "replay:/nonexistent.btsnoop");
    std::ofstream(station.work.file("scan.csv")) << "old\n";
    ProcessResult result = station.run({"scan", "-t", "1", "-o", "scan.csv"});
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    device.expectStepsInOrder();
    device.expectAsFound();
    EXPECT_EQ(device.step("pull"), -1);
    EXPECT_EQ(readFile(station.work.file("scan.csv")), "old\n");
    EXPECT_NE(readFile(station.work.file("orvalinquist.log")).find("Failed to get Bluetooth HCI"),
              std::string::npos);
}

// A tool built in another release's tree does not link there: it logs nothing, and what the
// device's linker said is the line that tells why.
TEST(DeviceRunLinkerTest, TheDevicesOwnErrorIsShown) {
    Station station;
    FakeDevice device(station, "SER1", kKinds[3].device);
    device.write("cannot_link", "");
    ProcessResult result = station.run({"help"});
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_NE(result.err.find("device-run: on the device: CANNOT LINK EXECUTABLE"), std::string::npos)
        << result.err;
    device.expectAsFound();
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceRunTest, testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.label); });

// Ctrl-C at the workstation while the tool scans: the tool is stopped on the device, and only
// then is the device restored (the HIDL 1.1 HAL restarted before Bluetooth goes on again).
TEST(DeviceRunInterruptTest, CtrlCStopsTheToolThenRestores) {
    Station station;
    FakeDevice device(station, "SER1", kKinds[1].device);
    ChildProcess runner(station.argv({"scan", "-t", "10", "-o", "scan.csv"}));
    ASSERT_TRUE(runner.waitForOutput("Scanning for 10 seconds", milliseconds(15000), false));
    auto signalled = std::chrono::steady_clock::now();
    runner.signal(SIGINT, /*toGroup=*/true);
    ProcessResult result = runner.wait(milliseconds(15000));
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, milliseconds(6000));
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    std::string log = readFile(station.work.file("orvalinquist.log"));
    EXPECT_NE(log.find("Received signal 2"), std::string::npos) << log;
    device.expectStepsInOrder();
    device.expectAsFound();
    EXPECT_FALSE(std::filesystem::exists(station.work.file("scan.csv")));
}

// A crowded room: 300 non-connectable LE advertisers, each once a second for 20 s, so that a
// scan of a few seconds logs far more than logd's ring holds.
std::string crowdedCapture(const std::string& path) {
    Capture capture(1002);
    capture.add(2, 1000000, {0x01, 0x0c, 0x20, 0x02, 0x01, 0x00});  // LE Set Scan Enable, on
    for (int second = 0; second < 20; ++second) {
        for (int i = 0; i < 300; ++i) {
            std::string name = "Tag " + std::to_string(i);
            Capture::Bytes data = {0x02, 0x01, 0x04, uint8_t(name.size() + 1), 0x09};
            data.insert(data.end(), name.begin(), name.end());
            data.insert(data.end(), {0x07, 0xff, 0x4c, 0x00, uint8_t(second), uint8_t(i), 1, 2});
            Capture::Bytes report = {0x04,
                                     0x3e,
                                     uint8_t(data.size() + 12),
                                     0x02,
                                     0x01,
                                     0x03,
                                     0x01,
                                     uint8_t(i),
                                     uint8_t(i >> 8),
                                     0x33,
                                     0x44,
                                     0x55,
                                     0xc6,
                                     uint8_t(data.size())};
            report.insert(report.end(), data.begin(), data.end());
            report.push_back(0xc4);  // -60 dBm
            capture.add(3, 1100000 + second * 1000000 + i * 3333, report);
        }
    }
    return capture.save(path);
}

// The link drops while the tool runs on the device. When it comes back within the wait, the
// run ends as if nothing had happened: the tool's status, every line it logged (more than
// logd's ring), the results, the device restored. When it does not: status 2, the log so far,
// and the commands that put the device back by hand, which do so once it is back.
struct LinkDrop {
    const char* label;
    const char* device;
    const char* drop;  // AFTER SECONDS (or never) into the tool's run
    const char* wait;  // DEVICE_RUN_RECONNECT_WAIT
    int status;
};

const LinkDrop kLinkDrops[] = {
    {"BackWhileTheToolRuns", "14 34 aidl ON 1", "2 3", "30", 0},
    {"BackAfterTheToolEnded", "13 33 hidl@1.1 ON 1", "2 8", "30", 0},
    {"NeverBack_Hidl11", "13 33 hidl@1.1 ON 1", "2 never", "3", 2},
    {"NeverBack_Android10", "10 29 hidl@1.0 ON -", "2 never", "3", 2},
};

void PrintTo(const LinkDrop& drop, std::ostream* out) {
    *out << drop.label;
}

class LinkDropTest : public testing::TestWithParam<LinkDrop> {};

TEST_P(LinkDropTest, EndsAsIfNothingHappenedOrSaysHowToRestore) {
    const LinkDrop& drop = GetParam();
    Station station;
    station.extraEnv = {std::string("DEVICE_RUN_RECONNECT_WAIT=") + drop.wait};
    FakeDevice device(station, "SER1", drop.device);
    device.write("transport", "replay:" + crowdedCapture(station.root.file("crowd.btsnoop")));
    device.write("drop", drop.drop);
    ProcessResult result = station.run({"scan", "-t", "3", "-o", "scan.csv"});
    ASSERT_TRUE(result.exitedWith(drop.status)) << result.describe();
    EXPECT_NE(result.err.find("device-run: lost SER1 while the tool ran (adb: device 'SER1' not "
                              "found), which runs on "
                              "there: waiting up to "),
              std::string::npos)
        << result.err;
    std::string log = readFile(station.work.file("orvalinquist.log"));
    EXPECT_EQ(result.out, log);
    // The tool has ended on the device by now or soon: what it logged in all.
    ASSERT_TRUE(waitUntil([&] { return device.read("tmp/orvalinquist.exit") != "-"; },
                          milliseconds(15000)));
    Lines all = device.toolMessages(), kept = messagesOf(log);
    if (drop.status == 0) {
        EXPECT_GT(log.size(), 300000u);
        EXPECT_EQ(kept, all);
        EXPECT_EQ(readFile(station.work.file("scan.csv")), readFile(device.file("tmp/scan.csv")));
        device.expectStepsInOrder();
        device.expectAsFound();
        return;
    }
    ASSERT_LE(kept.size(), all.size());
    EXPECT_EQ(kept, Lines(all.begin(), all.begin() + kept.size()));
    EXPECT_NE(result.err.find("did not come back within 3 s"), std::string::npos);
    // Back again: the commands it gave, in its order, restore the device and fetch the rest.
    std::filesystem::remove(device.file("link"));
    int commands = 0;
    for (const auto& line : lines(result.err)) {
        if (line.rfind("  adb ", 0) != 0) continue;
        ++commands;
        ProcessResult step = ChildProcess(station.env({"bash", "-c", line})).wait(Station::kBound);
        EXPECT_TRUE(step.exitedWith(0)) << line << "\n" << step.describe();
    }
    EXPECT_GE(commands, 5);
    EXPECT_EQ(messagesOf(readFile(station.work.file("orvalinquist.log"))), all);
    EXPECT_EQ(readFile(station.work.file("scan.csv")), readFile(device.file("tmp/scan.csv")));
    device.expectStepsInOrder();
    device.expectAsFound();
}

INSTANTIATE_TEST_SUITE_P(LinkDrops, LinkDropTest, testing::ValuesIn(kLinkDrops),
                         [](const auto& info) { return std::string(info.param.label); });

// Set-up that cannot go on: status 2, one line, the device as it was found; nothing changed on
// it, or, for a stack that stays in BLE_ON whatever the setting, everything restored.
struct Refusal {
    const char* label;
    const char* device;
    int serials;
    const char* line;               // in the last line
    const char* journal = "";       // what the device saw done
    size_t lines = 1;               // the HAL found is said before the push
    const char* profile = nullptr;  // NAME[=CONTENT]: a file that makes the device misbehave
    const char* binary = ORVALINQUIST_BINARY;
    Lines command = {"scan", "-t", "1"};  // the tool's command line as the user typed it
};

const Refusal kRefusals[] = {
    {"UserBuild", "14 34 aidl ON 1 user", 1, "user build"},
    {"NoDevice", "14 34 aidl ON 1", 0, "no device"},
    {"TwoDevices", "14 34 aidl ON 1", 2, "2 devices"},
    {"AllWithNoDevice",
     "14 34 aidl ON 1",
     0,
     "--all: no device attached",
     "",
     1,
     nullptr,
     ORVALINQUIST_BINARY,
     {"--all", "scan"}},
    {"NoBinary", "14 34 aidl ON 1", 0, "no binary", "", 1, nullptr, "/nonexistent"},
    {"NoHal", "14 34 none ON 1", 1, "no Bluetooth HCI HAL", "root\n"},
    // clang-format off
    {"MistypedCommand", "14 34 aidl ON 1", 1, "unknown command 'sacn'", "", 1, nullptr,
     ORVALINQUIST_BINARY, {"sacn"}},
    {"ResultsDirectoryMissing", "14 34 aidl ON 1", 1, "does not exist", "", 1, nullptr,
     ORVALINQUIST_BINARY, {"scan", "-o", "missing/scan.csv"}},
    // clang-format on
    {"PushFails", "13 33 hidl@1.1 ON 1", 1, "cannot push", "root\n", 2, "push_fails"},
    {"DumpsysNeverAnswers", "14 34 aidl ON 1", 1,
     "no answer to 'adb shell dumpsys bluetooth_manager' within 3 s",
     "root\npush /data/local/tmp/orvalinquist\n", 2, "hangs=dumpsys"},
    {"AdbdStaysDownAfterRoot", "14 34 aidl ON 1", 1, "did not come back as root within 3 s",
     "root\n", 1, "adbd_stays_down"},
    {"StuckInBleOn", "16 36 aidl ON 1", 1, "stayed in BLE_ON",
     "root\npush /data/local/tmp/orvalinquist\nsettings put global ble_scan_always_enabled 0\n"
     "cmd bluetooth_manager disable\ncmd bluetooth_manager enable\n"
     "settings put global ble_scan_always_enabled 1\n",
     2, "stuck_ble_on"},
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.label;
}

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, StopsWithStatus2) {
    const Refusal& refusal = GetParam();
    Station station;
    station.extraEnv = {"DEVICE_RUN_RECONNECT_WAIT=3", "DEVICE_RUN_ANSWER_WAIT=3"};
    FakeDevice device(station, "SER1", refusal.device);
    std::unique_ptr<FakeDevice> other;
    if (refusal.serials > 1) other = std::make_unique<FakeDevice>(station, "SER2", refusal.device);
    if (refusal.serials == 0) std::filesystem::remove_all(device.dir);
    if (refusal.profile) {  // NAME or NAME=CONTENT
        std::string profile = refusal.profile;
        size_t equals = profile.find('=');
        device.write(profile.substr(0, equals),
                     equals == std::string::npos ? "" : profile.substr(equals + 1));
    }
    ProcessResult result =
        ChildProcess(station.argv(refusal.command, refusal.binary)).wait(Station::kBound);
    ASSERT_TRUE(result.exitedWith(2)) << result.describe();
    Lines err = lines(result.err);
    ASSERT_EQ(err.size(), refusal.lines) << result.err;
    for (const auto& line : err) EXPECT_EQ(line.rfind("device-run: ", 0), 0u) << line;
    EXPECT_NE(err.back().find(refusal.line), std::string::npos) << result.err;
    EXPECT_EQ(readFile(device.file("journal")), refusal.journal);
    if (refusal.serials > 0) device.expectAsFound();
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace testsupport
