// BT_HCI_TRANSPORT: the forms, each stream transport end to end through getService, and the
// lines the platform logs when a controller cannot be reached.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>
#include <termios.h>

#include "host_test_util.h"
#include "transport_spec.h"

namespace hosttest {
namespace {

std::string describe(const TransportSpec& s) {
    const char* kinds[] = {"hci", "unix", "tcp", "serial", "replay"};
    return std::string(kinds[static_cast<int>(s.kind)]) + " " + std::to_string(s.hci_index) + " " +
           s.path + " " + s.host + " " + std::to_string(s.port) + " " + std::to_string(s.baud);
}

TEST(TransportTest, ParsesEachForm) {
    const std::pair<const char*, std::string> cases[] = {
        {nullptr, "hci 0   0 115200"},
        {"", "hci 0   0 115200"},
        {"hci:3", "hci 3   0 115200"},
        {"unix:/tmp/bt.sock", "unix 0 /tmp/bt.sock  0 115200"},
        {"tcp:localhost:45550", "tcp 0  localhost 45550 115200"},
        {"tcp:[::1]:1", "tcp 0  ::1 1 115200"},
        {"serial:/dev/ttyUSB0", "serial 0 /dev/ttyUSB0  0 115200"},
        {"serial:/dev/ttyS1,3000000", "serial 0 /dev/ttyS1  0 3000000"},
        {"replay:a.btsnoop", "replay 0 a.btsnoop  0 115200"},
    };
    for (const auto& [value, want] : cases) {
        std::string error;
        auto spec = parseTransport(value, &error);
        ASSERT_TRUE(spec.has_value()) << want;
        EXPECT_EQ(describe(*spec), want);
    }
}

TEST(TransportTest, EachFailureIsOneErrorLine) {
    const std::string bad = "E Bad BT_HCI_TRANSPORT value \"";
    const std::string forms =
        "); accepted forms: hci:N (default hci:0), unix:PATH, tcp:HOST:PORT, "
        "serial:PATH[,BAUD], replay:FILE";
    const std::string cannot = "E Cannot open HCI transport ";
    const std::pair<std::string, std::string> cases[] = {
        {"bluetooth", bad + "bluetooth\" (unknown transport" + forms},
        {"hci:65535", bad + "hci:65535\" (adapter index must be a number 0..65534" + forms},
        {"hci:", bad + "hci:\" (adapter index must be a number 0..65534" + forms},
        {"unix:", bad + "unix:\" (socket path is empty" + forms},
        {"tcp:localhost", bad + "tcp:localhost\" (port is missing" + forms},
        {"tcp::80", bad + "tcp::80\" (host is empty" + forms},
        {"tcp:localhost:0", bad + "tcp:localhost:0\" (port must be a number 1..65535" + forms},
        {"tcp:localhost:http", bad + "tcp:localhost:http\" (port must be a number 1..65535" + forms},
        {"serial:", bad + "serial:\" (device path is empty" + forms},
        {"serial:/dev/ttyS0,115201",
         bad + "serial:/dev/ttyS0,115201\" (unsupported baud rate" + forms},
        {"replay:", bad + "replay:\" (capture path is empty" + forms},
        {"unix:/nonexistent/hci",
         cannot + "unix:/nonexistent/hci: connect failed: No such file or directory"},
        {"serial:/nonexistent/tty",
         cannot + "serial:/nonexistent/tty: open failed: No such file or directory"},
        {"replay:/nonexistent/capture",
         cannot +
             "replay:/nonexistent/capture: cannot read the capture: No such file or directory"},
    };
    for (const auto& [value, line] : cases) {
        testsupport::clearLog();
        EXPECT_EQ(openHal(value.c_str(), nullptr), nullptr);
        EXPECT_EQ(hostLog(), Lines{line});
    }
    UniqueFd probe(socket(31, SOCK_RAW | SOCK_CLOEXEC, 1));
    if (probe.valid() || errno != EAFNOSUPPORT) GTEST_SKIP() << "this kernel has AF_BLUETOOTH";
    testsupport::clearLog();
    EXPECT_EQ(openHal(nullptr, nullptr), nullptr);
    EXPECT_EQ(hostLog(), Lines{cannot + "hci:0: no Bluetooth in this kernel (socket: Address "
                                        "family not supported by protocol); load the bluetooth "
                                        "module, or use unix:PATH, tcp:HOST:PORT or serial:PATH"});
}

// The controller's end of one transport: the value that names it and, once the HAL is there,
// the descriptor the controller speaks on.
struct ControllerEnd {
    std::string value;
    UniqueFd fd;  // a listening socket, or the terminal's master side
    bool listening = true;
};

ControllerEnd unixEnd() {
    ControllerEnd end{"unix:" + testing::TempDir() + "/hci_host_test." + std::to_string(getpid())};
    sockaddr_un un{AF_UNIX, {}};
    snprintf(un.sun_path, sizeof(un.sun_path), "%s", end.value.c_str() + 5);
    unlink(un.sun_path);
    end.fd.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (bind(end.fd.get(), reinterpret_cast<sockaddr*>(&un), sizeof(un)) != 0) end.fd.reset();
    return end;
}

ControllerEnd tcpEnd() {
    ControllerEnd end;
    sockaddr_in in{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof(in);
    end.fd.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (bind(end.fd.get(), reinterpret_cast<sockaddr*>(&in), size) != 0 ||
        getsockname(end.fd.get(), reinterpret_cast<sockaddr*>(&in), &size) != 0) {
        end.fd.reset();
    }
    end.value = "tcp:127.0.0.1:" + std::to_string(ntohs(in.sin_port));
    return end;
}

// Left cooked: the HAL must make the line raw, or 0x0d and 0x0a get translated.
ControllerEnd serialEnd() {
    ControllerEnd end{"", UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)), false};
    if (grantpt(end.fd.get()) != 0 || unlockpt(end.fd.get()) != 0) end.fd.reset();
    end.value = "serial:" + std::string(ptsname(end.fd.get())) + ",921600";
    return end;
}

TEST(TransportTest, EachStreamTransportCarriesH4AndReportsTheHangUp) {
    for (ControllerEnd (*make)() : {unixEnd, tcpEnd, serialEnd}) {
        ControllerEnd end = make();
        ASSERT_TRUE(end.fd.valid() && (!end.listening || listen(end.fd.get(), 1) == 0));
        ASSERT_EQ(setenv(kTransportEnvVar, end.value.c_str(), 1), 0);
        testsupport::clearLog();
        sp<IBluetoothHci> hal = IBluetoothHci::getService();
        unsetenv(kTransportEnvVar);
        ASSERT_NE(hal, nullptr) << end.value;
        UniqueFd peer(end.listening ? accept4(end.fd.get(), nullptr, nullptr, SOCK_CLOEXEC)
                                    : end.fd.release());
        termios tio;
        if (!end.listening) {  // as the HAL set the line
            ASSERT_EQ(tcgetattr(peer.get(), &tio), 0);
            EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B921600));
        }
        sp<RecordingCallbacks> cb = new RecordingCallbacks();
        ASSERT_TRUE(hal->initialize(cb).isOk());
        ASSERT_TRUE(hal->sendHciCommand(Bytes{0x01, 0xfc, 0x02, 0x0d, 0x0a}).isOk());
        EXPECT_EQ(readBytes(peer.get(), 6), (Bytes{0x01, 0x01, 0xfc, 0x02, 0x0d, 0x0a}));
        ASSERT_TRUE(writeBytes(peer.get(), {0x04, 0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}));
        EXPECT_EQ(cb->await(&cb->events, 1), (Packets{{0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}}));
        peer.reset();
        EXPECT_EQ(hostLog(2), (Lines{"I HCI transport " + end.value + " open",
                                     "E HCI transport " + end.value +
                                         ": the controller side hung up; reading stopped"}));
    }
}

}  // namespace
}  // namespace hosttest
