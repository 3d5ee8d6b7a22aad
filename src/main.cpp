// Entry of the tool: command line, controller session and the process-wide session state.
#include <android/log.h>
#include <getopt.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bt_advertiser.h"
#include "bt_callbacks.h"
#include "bt_common.h"
#include "bt_scanner.h"
#include "bt_utils.h"

namespace bt {

HalLink hci;

namespace {
// Built in place and never destroyed: HAL threads may still deliver events while the
// process exits, and they must find a live mutex and condition variable.
alignas(GlobalState) unsigned char globalStateStorage[sizeof(GlobalState)];
}  // namespace
GlobalState& globalState = *new (globalStateStorage) GlobalState();

namespace {

// Guards writes of `hci` on the main thread against the copy the signal handler takes.
// Never destroyed, so a signal during process exit still finds it.
std::mutex& hciMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}

void setHci(HalLink hal) {
    {
        std::lock_guard<std::mutex> lock(hciMutex());
        std::swap(hci, hal);
    }
    // The previous reference is released here, outside the lock.
}

// The handler may run in signal context on a thread that holds the lock, so it never waits
// for it unbounded: after 100 ms it goes on without the HAL.
HalLink halForSignal() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (hciMutex().try_lock()) {
            HalLink hal = hci;
            hciMutex().unlock();
            return hal;
        }
        const timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return nullptr;
}

// Constructed after `hci` and so destroyed before it: the last reference goes under the
// lock, and a signal during process exit reads either the HAL or nothing.
struct HciReleaseAtExit {
    ~HciReleaseAtExit() { setHci(nullptr); }
} hciReleaseAtExit;

bool initialize_bluetooth() {
    setHci(HalLink::find());
    if (hci == nullptr) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to get Bluetooth HCI service");
        return false;
    }
    sp<BluetoothHciCallbacks> callbacks = new BluetoothHciCallbacks(globalState);
    if (!hci.initialize(callbacks)) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to initialize Bluetooth HCI");
        return false;
    }
    {
        std::unique_lock<std::mutex> lock(globalState.mutex);
        // A failure status does not end the wait early: only success or the deadline do.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!globalState.initialized) {
            // The deadline passed, or the wait failed: the flag decides.
            if (globalState.cv.waitUntil(lock, deadline) != 0) break;
        }
    }
    return globalState.initialized;
}

bool enable_bluetooth() {
    if (!initialize_bluetooth()) return false;
    // Its destruction on every way out switches LE scanning off once more.
    BluetoothScanner sender(hci, globalState);

    if (!sender.sendHciCommand({0x03, 0x0C, 0x00})) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to send HCI Reset command");
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the reset takes a while
    if (!sender.sendHciCommand({0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D})) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to set event mask");
        return false;
    }
    // Class of device 0x2C0420: audio/video, car audio; rendering, capturing, audio.
    if (!sender.sendHciCommand({0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C})) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to set device class");
        return false;
    }
    // The name field is always 248 bytes: the name, then zeros.
    std::vector<uint8_t> localName(3 + 248, 0x00);
    localName[0] = 0x13;
    localName[1] = 0x0C;
    localName[2] = 0xF8;
    std::copy(DEVICE_NAME.begin(), DEVICE_NAME.end(), localName.begin() + 3);
    if (!sender.sendHciCommand(localName)) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to set device name");
        return false;
    }
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Bluetooth enabled successfully");

    BluetoothAdvertiser advertiser(hci, globalState);
    if (!advertiser.enableAdvertising()) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to enable advertising");
        return false;
    }
    return true;
}

bool disable_bluetooth() {
    if (!globalState.initialized || hci == nullptr) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Bluetooth not initialized");
        return false;
    }
    if (globalState.scanning) {
        globalState.scanning = false;
        BluetoothScanner sender(hci, globalState);
        sender.sendHciCommand(std::vector<uint8_t>(std::begin(kLeScanDisableCommand),
                                                   std::end(kLeScanDisableCommand)));
        globalState.cv.notify_all();
        if (globalState.eventThread.joinable()) globalState.eventThread.join();
    }
    if (!hci.close()) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr, "Failed to close Bluetooth HCI");
        return false;
    }
    globalState.initialized = false;
    setHci(nullptr);
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Bluetooth disabled successfully");
    return true;
}

void signal_handler(int signal_number) {
    __android_log_print(ANDROID_LOG_INFO, nullptr, "Received signal %d, cleaning up...",
                        signal_number);
    globalState.scanning = false;
    HalLink hal = halForSignal();
    if (hal != nullptr) {
        // Straight to the HAL: no log line and no pause on the way out. Both results are
        // ignored: after a broken link both fail.
        (void)hal.sendHciCommand(std::vector<uint8_t>(std::begin(kLeScanDisableCommand),
                                                      std::end(kLeScanDisableCommand)));
        (void)hal.close();
    }
    // No destructors: the event thread may still be running and other threads may hold
    // the session's locks.
    std::_Exit(1);
}

// Takes SIGINT and SIGTERM off every thread of the session and handles them on a thread
// of its own, where signal_handler may log, call the HAL and end the process without
// interrupting a thread that holds a lock. Created before any other thread, so that every
// later thread inherits the blocked mask. When the watcher cannot be set up, one ERROR line
// says so and the signals stay with the handler installed by signal().
class SignalWatcher {
  public:
    SignalWatcher() {
        if (sigemptyset(&handled_) != 0 || sigaddset(&handled_, SIGINT) != 0 ||
            sigaddset(&handled_, SIGTERM) != 0) {
            fail("sigaddset", errno);
            return;
        }
        sigset_t blocked = handled_;
        if (sigaddset(&blocked, kStopSignal) != 0) {
            fail("sigaddset", errno);
            return;
        }
        int error = pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
        if (error != 0) {
            fail("pthread_sigmask", error);
            return;
        }
        masked_ = true;
        error = pthread_create(&thread_, nullptr, &SignalWatcher::run, this);
        if (error != 0) {
            restoreMask();  // a pending signal now reaches the handler directly
            fail("pthread_create", error);
            return;
        }
        // A label for ps, debuggers and the tests; the watcher works without it.
        (void)pthread_setname_np(thread_, "signal watcher");
        running_ = true;
    }

    ~SignalWatcher() {
        if (running_) {
            // A signal of its own, sent to the watcher alone: SIGINT and SIGTERM that are
            // still pending then reach the handler once the mask is restored.
            if (pthread_kill(thread_, kStopSignal) == 0) {
                pthread_join(thread_, nullptr);
            } else {
                pthread_detach(thread_);  // the thread is gone already
            }
        }
        restoreMask();
    }

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

  private:
    static void fail(const char* call, int error) {
        __android_log_print(ANDROID_LOG_ERROR, nullptr,
                            "Signal watcher not started (%s: %s): SIGINT and SIGTERM are handled "
                            "in signal context",
                            call, strerror(error));
    }

    static void* run(void* self) {
        static_cast<SignalWatcher*>(self)->watch();
        return nullptr;
    }

    void watch() {
        sigset_t waited = handled_;
        if (sigaddset(&waited, kStopSignal) != 0) return;
        for (;;) {
            siginfo_t info;
            if (sigwaitinfo(&waited, &info) < 0) {
                // Nothing else can take the signals: keep watching.
                if (errno != EINTR) {
                    const timespec pause = {0, 10000000};
                    nanosleep(&pause, nullptr);
                }
                continue;
            }
            if (info.si_signo != kStopSignal) {
                signal_handler(info.si_signo);
            } else if (info.si_pid == getpid()) {  // our own stop request, not one from outside
                // A signal that came before it still wins.
                const timespec noWait = {0, 0};
                if (sigtimedwait(&handled_, &info, &noWait) > 0) signal_handler(info.si_signo);
                return;
            }
        }
    }

    void restoreMask() {
        if (masked_ && pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr) == 0) {
            masked_ = false;
        }
    }

    // Below 32, so that sigset_t holds it everywhere: 32-bit bionic's has 32 bits and refuses
    // every real-time signal. Ignored by default, so one from outside, which the watcher
    // takes and drops, changes nothing either.
    static constexpr int kStopSignal = SIGURG;
    sigset_t handled_;
    sigset_t previousMask_;
    bool masked_ = false;
    pthread_t thread_;
    bool running_ = false;
};

// atoi for every number an int holds; beyond, where atoi's result is undefined (glibc's wraps,
// so 4294967297 read as 1), the number keeps its side: too big is 15 or more, too small below 1.
int timeoutFromArgument(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int runScan(int argc, char** argv) {
    static const struct option kLongOptions[] = {
        {"timeout", required_argument, nullptr, 't'},
        {"output", required_argument, nullptr, 'o'},
        {"first", no_argument, nullptr, 'f'},
        {"connectable", no_argument, nullptr, 'c'},
        {nullptr, 0, nullptr, 0},
    };
    ScanOptions options;
    // optind 0 makes the parser forget state left by an earlier parse in this process; the
    // dummy call returns at once, without a diagnostic.
    char name[] = "orvalinquist";
    char* noArguments[] = {name, nullptr};
    optind = 0;
    getopt_long(1, noArguments, "t:o:fc", kLongOptions, nullptr);
    optind = 2;
    int option;
    while ((option = getopt_long(argc, argv, "t:o:fc", kLongOptions, nullptr)) != -1) {
        switch (option) {
            case 't':
                options.timeout = timeoutFromArgument(optarg);
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

int runCommand(int argc, char** argv) {
    if (argc < 2) {
        utils::printUsage();
        return 1;
    }
    const std::string command = argv[1];
    if (command == "enable") return enable_bluetooth() ? 0 : 1;
    if (command == "disable") return disable_bluetooth() ? 0 : 1;
    if (command == "help") {
        utils::printUsage();
        return 0;
    }
    if (command == "scan") return runScan(argc, argv);
    __android_log_print(ANDROID_LOG_ERROR, nullptr, "Unknown command: %s", argv[1]);
    utils::printUsage();
    return 1;
}

}  // namespace
}  // namespace bt

int main(int argc, char** argv) {
    // The handler serves in signal context until the watcher runs, and throughout when the
    // watcher cannot be set up.
    for (int signal_number : {SIGINT, SIGTERM}) {
        // Fails only for an invalid number.
        if (std::signal(signal_number, bt::signal_handler) == SIG_ERR) break;
    }
    bt::SignalWatcher watcher;
    return bt::runCommand(argc, argv);
}
