// The workstation and the devices of fake_adb/adb as the device runner's tests set them up
// and read them: the attached devices, their journals and logs, and the runner's environment.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tool_process.h"

namespace testsupport {

using Lines = std::vector<std::string>;

inline Lines lines(const std::string& text) {
    Lines lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// The workstation: the attached devices (fake_adb/adb's station), a work directory for the
// runner, and the environment it runs in.
struct Station {
    // The fake adb first on PATH, no ANDROID_SERIAL from the test's own environment.
    Lines env(Lines command) const {
        Lines head = {"/usr/bin/env",
                      "-C",
                      work.path,
                      "-u",
                      "ANDROID_SERIAL",
                      "FAKE_ADB_STATION=" + root.path,
                      "PATH=" FAKE_ADB_DIR ":/usr/bin:/bin"};
        head.insert(head.end(), extraEnv.begin(), extraEnv.end());
        command.insert(command.begin(), head.begin(), head.end());
        return command;
    }
    // In a session of its own, so that a signal to its process group is a Ctrl-C.
    Lines argv(Lines args, const std::string& binary = ORVALINQUIST_BINARY) const {
        args.insert(args.begin(), {"setsid", DEVICE_RUN_SCRIPT, "--binary", binary});
        return env(args);
    }
    ProcessResult run(const Lines& args) const { return ChildProcess(argv(args)).wait(kBound); }
    // Processes on the devices, or adb clients talking to them, still alive after a while.
    bool processesLeft() const {
        const std::string mark = "FAKE_ADB_STATION=" + root.path + '\0';
        auto none = [&] {
            for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
                if ((readFile(entry.path() / "environ") + '\0').find(mark) != std::string::npos)
                    return false;
            }
            return true;
        };
        return !waitUntil(none, milliseconds(3000));
    }

    static constexpr milliseconds kBound{50000};
    TempDir root, work;
    Lines extraEnv;
};

// One device as fake_adb/adb reads it, from "RELEASE SDK HAL BLUETOOTH SETTING [TYPE [SERVICE]]"
// (HAL hidl@1.0, hidl@1.1, aidl or none; BLUETOOTH ON or OFF; SETTING ble_scan_always_enabled,
// - for unset; SERVICE the HIDL 1.1 HAL's init service), with an app holding BLE.
struct FakeDevice {
    FakeDevice(Station& station, const std::string& serial, const std::string& description)
        : station(station), serial(serial), dir(station.root.file(serial)) {
        std::istringstream words(description);
        std::string hal, type = "userdebug";
        words >> release >> sdk >> hal >> bluetooth >> setting >> type >> service;
        ::mkdir(dir.c_str(), 0755);
        for (auto sub : {"prop", "global", "tmp"}) ::mkdir(file(sub).c_str(), 0755);
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
    std::string file(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(file(name)) << text << "\n";
    }
    std::string read(const std::string& name) const {
        std::string text = readFile(file(name));
        return text.empty() ? "-" : text.substr(0, text.size() - 1);
    }
    Lines journal() const { return lines(readFile(file("journal"))); }
    int step(const std::string& prefix) const {  // where the journal has it first, or -1
        Lines journal = this->journal();
        int i = 0;
        while (i < int(journal.size()) && journal[i].rfind(prefix, 0) != 0) ++i;
        return i < int(journal.size()) ? i : -1;
    }
    // The messages of every line the tool wrote to the device's log, whatever logd kept.
    Lines toolMessages() const {
        static const std::regex kLine(R"(^\S+ [VDIWEF] \S+ \S+ +(\d+) +\d+ (.*)$)");
        const std::string pid = read("tool.pid");
        Lines messages;
        std::smatch match;
        for (const auto& line : lines(readFile(file("logd"))))
            if (std::regex_match(line, match, kLine) && match[1] == pid)
                messages.push_back(match[2]);
        return messages;
    }
    // The device as it was found: Bluetooth, the setting, nothing else touched.
    void expectAsFound() const {
        EXPECT_EQ(read("state"), bluetooth);
        EXPECT_EQ(read("global/ble_scan_always_enabled"), setting);
        for (auto never : {"setenforce", "am "}) EXPECT_EQ(step(never), -1) << never;
        EXPECT_FALSE(station.processesLeft());
    }
    // Root, the push, the stack off, the run, and only after the tool's exit the restore in
    // VTS's order: the HIDL 1.1 HAL restarted, Bluetooth on (only if it was), the setting last.
    void expectStepsInOrder() const {
        Lines journal = this->journal();
        ASSERT_GE(journal.size(), 5u) << readFile(file("journal"));
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
        EXPECT_EQ(readFile(file("journal")).find("(tool running)"), std::string::npos);
    }

    Station& station;
    std::string serial, dir;
    std::string release, sdk, bluetooth, setting, manager, service = "vendor.bluetooth-1-1";
    bool hidl11;
};

// The messages of threadtime lines ("MM-DD HH:MM:SS.mmm PID TID P TAG: message").
inline Lines messagesOf(const std::string& log) {
    static const std::regex kLine(R"(^\S+ \S+ +\d+ +\d+ [VDIWEF] [^:]*: (.*)$)");
    Lines messages;
    std::smatch match;
    for (const auto& line : lines(log))
        if (std::regex_match(line, match, kLine)) messages.push_back(match[1]);
    return messages;
}

}  // namespace testsupport
