// scripts/device-run.sh against the stand-in adb and device of fake_adb/adb, for each kind of
// device: the order of its steps, the device as it was found afterwards, its exit status, the
// pulled results and the tool's log lines, also when the tool fails, on Ctrl-C and when set-up
// cannot go on.
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

Lines lines(const std::string& text) {
    Lines lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// One device directory as fake_adb/adb reads it, from "RELEASE SDK HAL BLUETOOTH SETTING [TYPE
// [SERVICE]]" (HAL hidl@1.0, hidl@1.1, aidl or none; BLUETOOTH ON or OFF; SETTING
// ble_scan_always_enabled, - for unset; SERVICE the HIDL 1.1 HAL's init service), with an app
// holding BLE; and a work directory for the runner.
struct FakeDevice {
    FakeDevice(const std::string& description, int serials) {
        std::istringstream words(description);
        std::string hal, type = "userdebug";
        words >> release >> sdk >> hal >> bluetooth >> setting >> type >> service;
        for (auto sub : {"prop", "global", "tmp"}) ::mkdir(dir.file(sub).c_str(), 0755);
        write("serials", serials == 0 ? "" : serials == 1 ? "SER1" : "SER1\nSER2");
        write("prop/ro.build.type", type);
        write("prop/ro.build.version.release", release);
        write("prop/ro.build.version.sdk", sdk);
        if (hal == "hidl@1.1") write("prop/init.svc." + service, "running");
        write("prop/init.svc.adbd", "running");
        if (setting != "-") write("global/ble_scan_always_enabled", setting);
        write("hal", hal);
        write("state", bluetooth);
        write("transport", std::string("replay:") + SAMPLE_CAPTURE);
        write("ble_app", "");
        manager = std::stoi(sdk) >= 33 ? "cmd bluetooth_manager " : "svc bluetooth ";
        hidl11 = hal == "hidl@1.1";
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir.file(name)) << text << "\n";
    }
    std::string read(const std::string& name) const {
        std::string text = readFile(dir.file(name));
        return text.empty() ? "-" : text.substr(0, text.size() - 1);
    }
    // The fake adb first on PATH, no ANDROID_SERIAL from the test's own environment.
    Lines env(Lines command) const {
        command.insert(command.begin(),
                       {"/usr/bin/env", "-C", work.path, "-u", "ANDROID_SERIAL",
                        "FAKE_ADB_DEVICE=" + dir.path, "PATH=" FAKE_ADB_DIR ":/usr/bin:/bin"});
        return command;
    }
    // In a session of its own, so that a signal to its process group is a Ctrl-C.
    Lines argv(Lines args, const std::string& binary = ORVALINQUIST_BINARY) const {
        args.insert(args.begin(), {"setsid", DEVICE_RUN_SCRIPT, "--binary", binary});
        return env(args);
    }
    ProcessResult run(const Lines& args) { return ChildProcess(argv(args)).wait(kBound); }
    Lines journal() const { return lines(readFile(dir.file("journal"))); }
    int step(const std::string& prefix) const {  // where the journal has it first, or -1
        Lines journal = this->journal();
        int i = 0;
        while (i < int(journal.size()) && journal[i].rfind(prefix, 0) != 0) ++i;
        return i < int(journal.size()) ? i : -1;
    }
    // Processes of this device, or adb clients talking to it, still alive after a while.
    bool processesLeft() const {
        const std::string mark = "FAKE_ADB_DEVICE=" + dir.path + '\0';
        auto none = [&] {
            for (const auto& entry : std::filesystem::directory_iterator("/proc"))
                if ((readFile(entry.path() / "environ") + '\0').find(mark) != std::string::npos)
                    return false;
            return true;
        };
        return !waitUntil(none, milliseconds(3000));
    }
    // The device as it was found: Bluetooth, the setting, nothing else touched.
    void expectAsFound() const {
        EXPECT_EQ(read("state"), bluetooth);
        EXPECT_EQ(read("global/ble_scan_always_enabled"), setting);
        for (auto never : {"setenforce", "am "}) EXPECT_EQ(step(never), -1) << never;
        EXPECT_FALSE(processesLeft());
    }
    // Root, the push, the stack off, the run, and only after the tool's exit the restore in
    // VTS's order: the HIDL 1.1 HAL restarted, Bluetooth on (only if it was), the setting last.
    void expectStepsInOrder() const {
        Lines journal = this->journal();
        ASSERT_GE(journal.size(), 5u) << readFile(dir.file("journal"));
        EXPECT_EQ(Lines(journal.begin(), journal.begin() + 4),
                  Lines({"root", "push /data/local/tmp/orvalinquist",
                         "settings put global ble_scan_always_enabled 0", manager + "disable"}));
        EXPECT_EQ(journal[4].rfind("run ", 0), 0u) << journal[4];
        int enable = step(manager + "enable"), stop = step("stop "), start = step("start ");
        EXPECT_EQ(enable > 4, bluetooth == "ON");
        EXPECT_EQ(stop, hidl11 ? start - 1 : -1);
        if (hidl11) {
            ASSERT_GT(start, 4);
            EXPECT_EQ(journal[start], "start " + service);
            EXPECT_TRUE(enable < 0 || start < enable) << "the HAL restarted after Bluetooth's on";
        }
        EXPECT_EQ(journal.back(), setting == "-"
                                      ? "settings delete global ble_scan_always_enabled"
                                      : "settings put global ble_scan_always_enabled " + setting);
        EXPECT_EQ(readFile(dir.file("journal")).find("(tool running)"), std::string::npos);
    }

    static constexpr milliseconds kBound{30000};
    std::string release, sdk, bluetooth, setting, manager, service = "vendor.bluetooth-1-1";
    bool hidl11;
    TempDir dir, work;
};

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
    FakeDevice device(kind.device, kind.serials);
    ::mkdir(device.work.file("sub").c_str(), 0755);
    Lines args = kind.serials > 1 ? Lines{"-s", "SER2"} : Lines{};
    args.insert(args.end(), {"scan", "-t", "1"});
    args.insert(args.end(), kind.output.begin(), kind.output.end());
    ProcessResult result = device.run(args);
    ASSERT_TRUE(result.exitedWith(0)) << result.describe();
    device.expectStepsInOrder();
    device.expectAsFound();

    std::string csv = readFile(device.work.file(kind.local)), name = kind.local;
    EXPECT_NE(csv.find("# Total devices"), std::string::npos) << kind.local;
    EXPECT_EQ(csv, device.read("tmp/" + name.substr(name.find_last_of('/') + 1)) + "\n");
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
    std::string said =
        "device-run: Android " + device.release + " (API " + device.sdk + "), userdebug, HAL: ";
    EXPECT_EQ(lines(result.err).at(0).rfind(said, 0), 0u) << result.err;
}

// A scan that fails (its HAL has no controller): status 1, restored, nothing pulled, the old
// local results kept.
TEST_P(DeviceRunTest, ToolFailureRestoresAndPullsNothing) {
    FakeDevice device(GetParam().device, 1);
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
    FakeDevice device(kKinds[1].device, 1);
    ChildProcess runner(device.argv({"scan", "-t", "10", "-o", "scan.csv"}));
    ASSERT_TRUE(runner.waitForOutput("Scanning for 10 seconds", milliseconds(15000), false));
    auto signalled = std::chrono::steady_clock::now();
    runner.signal(SIGINT, /*toGroup=*/true);
    ProcessResult result = runner.wait(milliseconds(15000));
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, milliseconds(6000));
    ASSERT_TRUE(result.exitedWith(1)) << result.describe();
    std::string log = readFile(device.work.file("orvalinquist.log"));
    EXPECT_NE(log.find("Received signal 2"), std::string::npos) << log;
    device.expectStepsInOrder();
    device.expectAsFound();
    EXPECT_FALSE(std::filesystem::exists(device.work.file("scan.csv")));
}

// Set-up that cannot go on: status 2, one line, the device as it was found; nothing changed on
// it, or, for a stack that stays in BLE_ON whatever the setting, everything restored.
struct Refusal {
    const char* label;
    const char* device;
    int serials;
    const char* line;               // in the last line
    const char* journal = "";       // what the device saw done
    size_t lines = 1;               // the HAL found is said before the push
    const char* profile = nullptr;  // a file that makes the device misbehave
    const char* binary = ORVALINQUIST_BINARY;
    Lines command = {"scan", "-t", "1"};  // the tool's command line as the user typed it
};

const Refusal kRefusals[] = {
    {"UserBuild", "14 34 aidl ON 1 user", 1, "user build"},
    {"NoDevice", "14 34 aidl ON 1", 0, "no device"},
    {"TwoDevices", "14 34 aidl ON 1", 2, "2 devices"},
    {"NoBinary", "14 34 aidl ON 1", 0, "no binary", "", 1, nullptr, "/nonexistent"},
    {"NoHal", "14 34 none ON 1", 1, "no Bluetooth HCI HAL", "root\n"},
    // clang-format off
    {"MistypedCommand", "14 34 aidl ON 1", 1, "unknown command 'sacn'", "", 1, nullptr,
     ORVALINQUIST_BINARY, {"sacn"}},
    {"ResultsDirectoryMissing", "14 34 aidl ON 1", 1, "does not exist", "", 1, nullptr,
     ORVALINQUIST_BINARY, {"scan", "-o", "missing/scan.csv"}},
    // clang-format on
    {"PushFails", "13 33 hidl@1.1 ON 1", 1, "cannot push", "root\n", 2, "push_fails"},
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
    FakeDevice device(refusal.device, refusal.serials);
    if (refusal.profile) device.write(refusal.profile, "");
    ProcessResult result =
        ChildProcess(device.argv(refusal.command, refusal.binary)).wait(FakeDevice::kBound);
    ASSERT_TRUE(result.exitedWith(2)) << result.describe();
    Lines err = lines(result.err);
    ASSERT_EQ(err.size(), refusal.lines) << result.err;
    for (const auto& line : err) EXPECT_EQ(line.rfind("device-run: ", 0), 0u) << line;
    EXPECT_NE(err.back().find(refusal.line), std::string::npos) << result.err;
    EXPECT_EQ(readFile(device.dir.file("journal")), refusal.journal);
    device.expectAsFound();
}

INSTANTIATE_TEST_SUITE_P(Refusals, RefusalTest, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace testsupport
