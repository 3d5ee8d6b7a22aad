// scripts/device-run.sh against the stand-in adb and device of fake_adb/adb, for each kind of
// device: the order of its steps, the device as it was found afterwards, its exit status, the
// pulled results and the tool's log lines, also when the tool fails, on Ctrl-C and when set-up
// cannot go on.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tool_process.h"

namespace testsupport {
namespace {

using Lines = std::vector<std::string>;

struct Kind {
    const char* label;
    const char* release;
    const char* sdk;
    const char* hal;        // hidl@1.0 | hidl@1.1 | aidl | none
    const char* bluetooth;  // ON | OFF, as found
    const char* scanning;   // ble_scan_always_enabled as found; nullptr: unset
    Lines results;          // scan's -o in one of its forms
    const char* local;      // the file it names on the workstation
    Lines serials = {"SER1"};
    Lines device = {};  // -s SERIAL, or empty
    const char* type = "userdebug";
};

std::string lineWith(const std::string& text, const std::string& word) {
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (line.find(word) != std::string::npos) return line;
    return "";
}

// One device directory as fake_adb/adb reads it, and a work directory for the runner.
struct FakeDevice {
    explicit FakeDevice(const Kind& kind) : kind(kind) {
        for (auto sub : {"prop", "global", "tmp"}) ::mkdir(dir.file(sub).c_str(), 0755);
        std::string serials;
        for (const auto& serial : kind.serials) serials += serial + "\n";
        write("serials", serials);
        write("prop/ro.build.type", kind.type);
        write("prop/ro.build.version.release", kind.release);
        write("prop/ro.build.version.sdk", kind.sdk);
        if (std::string(kind.hal) == "hidl@1.1")
            write("prop/init.svc.vendor.bluetooth-1-1", "running");
        write("hal", kind.hal);
        write("state", kind.bluetooth);
        if (kind.scanning) write("global/ble_scan_always_enabled", kind.scanning);
        write("transport", std::string("replay:") + SAMPLE_CAPTURE);
        write("ble_app", "");  // stays in BLE_ON unless the runner forbids BLE scanning first
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir.file(name)) << text << "\n";
    }
    std::string read(const std::string& name) const {
        std::string text = readFile(dir.file(name));
        return text.empty() ? text : text.substr(0, text.size() - 1);
    }
    // The fake adb first on PATH, no ANDROID_SERIAL from the test's own environment.
    Lines env(const Lines& command) const {
        Lines argv = {"/usr/bin/env",
                      "-C",
                      work.path,
                      "-u",
                      "ANDROID_SERIAL",
                      "FAKE_ADB_DEVICE=" + dir.path,
                      "PATH=" FAKE_ADB_DIR ":/usr/bin:/bin"};
        argv.insert(argv.end(), command.begin(), command.end());
        return argv;
    }
    Lines argv(const Lines& args, const std::string& binary = ORVALINQUIST_BINARY) const {
        Lines argv = env({"setsid", DEVICE_RUN_SCRIPT});
        argv.insert(argv.end(), kind.device.begin(), kind.device.end());
        argv.insert(argv.end(), {"--binary", binary});
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    ProcessResult run(const Lines& args) { return ChildProcess(argv(args)).wait(kBound); }
    Lines journal() const {
        Lines lines;
        std::istringstream stream(readFile(dir.file("journal")));
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        return lines;
    }
    int step(const std::string& prefix) const {  // where the journal has it first, or -1
        Lines lines = journal();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
        return -1;
    }
    // Processes of this device, or adb clients talking to it, still alive after a while.
    bool processesLeft() const {
        const std::string mark = "FAKE_ADB_DEVICE=" + dir.path + '\0';
        return !waitUntil(
            [&] {
                for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
                    std::string environ = readFile(entry.path() / "environ") + '\0';
                    if (environ.find(mark) != std::string::npos) return false;
                }
                return true;
            },
            milliseconds(3000));
    }
    // The device as it was found: Bluetooth, the setting, nothing else touched.
    void expectAsFound() const {
        EXPECT_EQ(read("state"), kind.bluetooth);
        EXPECT_EQ(read("global/ble_scan_always_enabled"), kind.scanning ? kind.scanning : "");
        for (auto never : {"setenforce", "am "}) EXPECT_EQ(step(never), -1) << never;
        EXPECT_FALSE(processesLeft());
    }
    // Root first, then the push, then the stack off, the run, and the restore after the tool's
    // exit in VTS's order: HAL service, Bluetooth on (only if it was), the setting last.
    void expectStepsInOrder() const {
        const bool cmd = std::stoi(kind.sdk) >= 33, hidl11 = std::string(kind.hal) == "hidl@1.1";
        const std::string manager = cmd ? "cmd bluetooth_manager " : "svc bluetooth ";
        Lines lines = journal();
        ASSERT_GE(lines.size(), 5u) << readFile(dir.file("journal"));
        EXPECT_EQ(lines[0], "root");
        EXPECT_EQ(lines[1], "push /data/local/tmp/orvalinquist");
        EXPECT_EQ(lines[2], "settings put global ble_scan_always_enabled 0");
        EXPECT_EQ(lines[3], manager + "disable");
        EXPECT_EQ(lines[4].rfind("run ", 0), 0u) << lines[4];
        int enable = step(manager + "enable"), stop = step("stop "), start = step("start ");
        EXPECT_EQ(enable > 4, std::string(kind.bluetooth) == "ON");
        EXPECT_EQ(stop, hidl11 ? start - 1 : -1);
        if (hidl11) {
            ASSERT_GT(start, 4);
            EXPECT_EQ(lines[start], "start vendor.bluetooth-1-1");
            EXPECT_TRUE(enable < 0 || start < enable)
                << "the HAL restarted after Bluetooth went on";
        }
        EXPECT_EQ(lines.back(),
                  kind.scanning
                      ? std::string("settings put global ble_scan_always_enabled ") + kind.scanning
                      : "settings delete global ble_scan_always_enabled");
        EXPECT_EQ(lineWith(readFile(dir.file("journal")), "(tool running)"), "");
    }

    static constexpr milliseconds kBound{30000};
    const Kind kind;
    TempDir dir, work;
};

constexpr char kNastyName[] = "it's \"my\" scan; touch pwned";

const Kind kKinds[] = {
    {"Android10_Hidl10", "10", "29", "hidl@1.0", "ON", "1", {"-o", "scan.csv"}, "scan.csv"},
    {"Android13_Hidl11",
     "13",
     "33",
     "hidl@1.1",
     "ON",
     "1",
     {"--output=sub/scan.csv"},
     "sub/scan.csv"},
    {"Android14_Hidl11", "14", "34", "hidl@1.1", "OFF", nullptr, {"-coscan.csv"}, "scan.csv"},
    {"Android15_Aidl",
     "15",
     "35",
     "aidl",
     "ON",
     "0",
     {"--output", "scan.csv"},
     "scan.csv",
     {"SER1", "SER2"},
     {"-s", "SER2"}},
    {"Android16_Aidl", "16", "36", "aidl", "ON", "1", {"-o", kNastyName}, kNastyName},
};

void PrintTo(const Kind& kind, std::ostream* out) {
    *out << kind.label;
}

class DeviceRunTest : public testing::TestWithParam<Kind> {};

TEST_P(DeviceRunTest, ScansPullsResultsAndRestores) {
    FakeDevice device(GetParam());
    ::mkdir(device.work.file("sub").c_str(), 0755);
    Lines args = {"scan", "-t", "1"};
    args.insert(args.end(), GetParam().results.begin(), GetParam().results.end());
    ProcessResult result = device.run(args);
    ASSERT_TRUE(result.exitedWith(0)) << result.describe();

    device.expectStepsInOrder();
    device.expectAsFound();
    std::string local = GetParam().local;
    std::string name = local.substr(local.find_last_of('/') + 1);
    std::string csv = readFile(device.work.file(local));
    EXPECT_NE(csv.find("# Total devices"), std::string::npos) << local;
    EXPECT_EQ(csv, device.read("tmp/" + name) + "\n");
    for (const auto& dir : {device.work.path, device.dir.file("tmp")})
        EXPECT_FALSE(std::filesystem::exists(dir + "/pwned"));

    // All the tool's lines, each once, on the terminal and in the log file, none lost at its end.
    ProcessResult dump =
        ChildProcess(device.env({"adb", "-s", "SER1", "logcat", "-d", "-v", "threadtime"}))
            .wait(milliseconds(5000));
    std::string log = readFile(device.work.file("orvalinquist.log"));
    EXPECT_EQ(log, dump.out);
    EXPECT_EQ(result.out, log);
    for (auto line : {"Bluetooth initialized successfully", "Discovered "})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_NE(lineWith(result.err, std::string("device-run: Android ") + GetParam().release +
                                       " (API " + GetParam().sdk + "), userdebug, HAL: "),
              "")
        << result.err;
}

// A scan that fails (its HAL has no controller): status 1, restored, nothing pulled, the old
// local results kept.
TEST_P(DeviceRunTest, ToolFailureRestoresAndPullsNothing) {
    FakeDevice device(GetParam());
    device.write("transport", "replay:/nonexistent.btsnoop");
    std::ofstream(device.work.file("scan.csv")) << "old\n";
    ProcessResult result = device.run({"scan", "-t", "1", "-o", "scan.csv"});
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    device.expectStepsInOrder();
    device.expectAsFound();
    EXPECT_EQ(device.step("pull"), -1);
    EXPECT_EQ(readFile(device.work.file("scan.csv")), "old\n");
    EXPECT_NE(readFile(device.work.file("orvalinquist.log")).find("Failed to get Bluetooth HCI"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeviceRunTest, testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.label); });

// Ctrl-C at the workstation while the tool scans: the tool is stopped on the device, and only
// then is the device restored (the HIDL 1.1 HAL restarted before Bluetooth goes on again).
TEST(DeviceRunInterruptTest, CtrlCStopsTheToolThenRestores) {
    FakeDevice device(kKinds[1]);
    ChildProcess runner(device.argv({"scan", "-t", "10", "-o", "scan.csv"}));
    ASSERT_TRUE(runner.waitForOutput("Scanning for 10 seconds", milliseconds(15000), false));
    auto signalled = std::chrono::steady_clock::now();
    runner.signalGroup(SIGINT);
    ProcessResult result = runner.wait(milliseconds(15000));
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, milliseconds(6000));
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    EXPECT_NE(lineWith(readFile(device.work.file("orvalinquist.log")), "Received signal 2"), "");
    device.expectStepsInOrder();
    device.expectAsFound();
    EXPECT_FALSE(std::filesystem::exists(device.work.file("scan.csv")));
}

// Set-up that cannot go on: status 2, one line, nothing changed on the device.
struct Refusal {
    const char* label;
    Kind kind;
    const char* line;               // in the last line
    const char* journal = "";       // what the device saw changed: at most adb root
    size_t lines = 1;               // the HAL found is said before the push
    const char* profile = nullptr;  // a file that makes the device misbehave
    const char* binary = ORVALINQUIST_BINARY;
};

const Refusal kRefusals[] = {
    {"UserBuild", {"", "14", "34", "aidl", "ON", "1", {}, "", {"SER1"}, {}, "user"}, "user build"},
    {"NoDevice", {"", "14", "34", "aidl", "ON", "1", {}, "", {}}, "no device"},
    {"TwoDevices", {"", "14", "34", "aidl", "ON", "1", {}, "", {"SER1", "SER2"}}, "2 devices"},
    {"NoBinary",
     {"", "14", "34", "aidl", "ON", "1", {}, "", {}},
     "no binary",
     "",
     1,
     nullptr,
     "/nonexistent"},
    {"NoHal", {"", "14", "34", "none", "ON", "1", {}, ""}, "no Bluetooth HCI HAL", "root\n"},
    {"PushFails",
     {"", "13", "33", "hidl@1.1", "ON", "1", {}, ""},
     "cannot push",
     "root\n",
     2,
     "push_fails"},
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.label;
}

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ChangesNothing) {
    FakeDevice device(GetParam().kind);
    if (GetParam().profile) device.write(GetParam().profile, "");
    ProcessResult result =
        ChildProcess(device.argv({"scan", "-t", "1"}, GetParam().binary)).wait(FakeDevice::kBound);
    ASSERT_TRUE(result.exitedWith(2)) << result.describe();
    std::istringstream err(result.err);
    Lines lines;
    for (std::string line; std::getline(err, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), GetParam().lines) << result.err;
    for (const auto& line : lines) EXPECT_EQ(line.rfind("device-run: ", 0), 0u) << line;
    EXPECT_NE(lines.back().find(GetParam().line), std::string::npos) << result.err;
    EXPECT_EQ(readFile(device.dir.file("journal")), GetParam().journal);
    device.expectAsFound();
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

// A stack that stays in BLE_ON whatever the setting: one line naming the state, restored, no run.
TEST(DeviceRunStuckTest, StackStuckInBleOnIsRestored) {
    FakeDevice device(kKinds[4]);
    device.write("stuck_ble_on", "");
    ProcessResult result = device.run({"scan", "-t", "1"});
    ASSERT_TRUE(result.exitedWith(2)) << result.describe();
    EXPECT_NE(lineWith(result.err, "stayed in BLE_ON"), "") << result.err;
    EXPECT_EQ(device.step("run"), -1);
    EXPECT_EQ(device.journal().back(), "settings put global ble_scan_always_enabled 1");
    device.expectAsFound();
}

}  // namespace
}  // namespace testsupport
