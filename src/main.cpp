// Entry of the tool: command line, controller session and the process-wide session state.
#include "main.h"

#include <android/log.h>
#include <getopt.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bt_advertiser.h"
#include "bt_callbacks.h"
#include "bt_common.h"
#include "bt_scanner.h"
#include "bt_utils.h"

namespace bt {

sp<IBluetoothHci> hci;

namespace {
// Built in place and never destroyed: HAL threads may still deliver events while the
// process exits, and they must find a live mutex and condition variable.
alignas(GlobalState) unsigned char globalStateStorage[sizeof(GlobalState)];
}  // namespace
GlobalState& globalState = *new (globalStateStorage) GlobalState();

bool initialize_bluetooth() {
    // TODO(session): bring-up
    return false;
}

bool enable_bluetooth() {
    return initialize_bluetooth();
}

bool disable_bluetooth() {
    __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth not initialized");
    return false;
}

void signal_handler(int signal_number) {
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Received signal %d, cleaning up...",
                        signal_number);
    std::_Exit(1);
}

namespace {

int runScan(int argc, char** argv) {
    static const struct option kLongOptions[] = {
            {"timeout", required_argument, nullptr, 't'},
            {"output", required_argument, nullptr, 'o'},
            {"first", no_argument, nullptr, 'f'},
            {"connectable", no_argument, nullptr, 'c'},
            {nullptr, 0, nullptr, 0},
    };
    ScanOptions options;
    optind = 2;
    int option;
    while ((option = getopt_long(argc, argv, "t:o:fc", kLongOptions, nullptr)) != -1) {
        switch (option) {
            case 't':
                options.timeout = std::atoi(optarg);
                if (options.timeout < 1) options.timeout = 10;
                if (options.timeout >= 15) options.timeout = 15;
                break;
            case 'o':
                options.outputFile = optarg;
                break;
            case 'f':
                options.stopOnFirst = true;
                break;
            case 'c':
                options.connectableOnly = true;
                break;
            default:
                __android_log_print(ANDROID_LOG_ERROR, nullptr, "Unknown option: %c", option);
                utils::printUsage();
                return 1;
        }
    }

    if (!globalState.initialized && !enable_bluetooth()) return 1;

    BluetoothScanner scanner(hci, globalState);
    if (!scanner.startScan(options)) return 1;
    std::vector<DeviceInfo> devices = scanner.getDiscoveredDevices();
    if (options.connectableOnly) {
        std::vector<DeviceInfo> connectable;
        for (const DeviceInfo& device : devices) {
            if (device.connectable == 1) connectable.push_back(device);
        }
        devices = std::move(connectable);
    }
    utils::printDevices(devices, options.outputFile);
    return 0;
}

}  // namespace
}  // namespace bt

int main(int argc, char** argv) {
    // TODO(session): signal handling
    if (argc < 2) {
        bt::utils::printUsage();
        return 1;
    }
    const std::string command = argv[1];
    if (command == "enable") return bt::enable_bluetooth() ? 0 : 1;
    if (command == "disable") return bt::disable_bluetooth() ? 0 : 1;
    if (command == "help") {
        bt::utils::printUsage();
        return 0;
    }
    if (command == "scan") return bt::runScan(argc, argv);
    __android_log_print(ANDROID_LOG_ERROR, nullptr, "Unknown command: %s", argv[1]);
    bt::utils::printUsage();
    return 1;
}
