// BT_HCI_TRANSPORT: its forms, the stream transports end to end through getService (unix: in
// every blackbox run), and the lines the platform logs when a controller cannot be reached.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstring>

#include "host_test_util.h"
#include "stalled_listener.h"
#include "transport_scheme.h"

namespace hosttest {
namespace {

// Each form as its scheme read it, defaults filled in; the forms that no other test opens.
TEST(TransportTest, ParsesEachForm) {
    const std::pair<const char*, std::string> cases[] = {
        {nullptr, "hci:0"},
        {"hci:3", "hci:3"},
        {"tcp:[::1]:1", "tcp:[::1]:1"},
        {"tcp:localhost:8", "tcp:localhost:8"},
        {"serial:/dev/ttyS0", "serial:/dev/ttyS0,115200"},
        {"serial:/dev/ttyS0,9600", "serial:/dev/ttyS0,9600"},
    };
    for (const auto& [value, form] : cases) {
        std::string error;
        const std::unique_ptr<Transport> parsed = parseTransport(value, kTransportEnvVar, &error);
        ASSERT_NE(parsed, nullptr) << error;
        EXPECT_EQ(parsed->describe(), form);
    }
}

TEST(TransportTest, EachFailureIsOneErrorLine) {
    auto bad = [](const std::string& value, const std::string& why) {
        return std::pair(value, "Bad BT_HCI_TRANSPORT value \"" + value + "\" (" + why +
                                    "); accepted forms: hci:N (default hci:0), unix:PATH, "
                                    "tcp:HOST:PORT, serial:PATH[,BAUD], replay:FILE");
    };
    auto cannot = [](const std::string& value, const std::string& why) {
        return std::pair(value, "Cannot open HCI transport \"" + value + "\": " + why);
    };
    std::vector<std::pair<std::string, std::string>> cases = {
        bad("bluetooth", "unknown transport"),
        bad("", "empty; unset it for the default hci:0"),
        bad("hci:", "adapter index must be a number 0..65534"),
        bad("hci:65535", "adapter index must be a number 0..65534"),
        bad("unix:", "socket path is empty"),
        bad("unix:/" + std::string(107, 'x'), "socket path is too long"),  // sun_path holds 108
        bad("tcp:localhost", "port is missing"),
        bad("tcp::80", "host is empty"),
        bad("tcp:localhost:0", "port must be a number 1..65535"),
        bad("tcp:localhost:http", "port must be a number 1..65535"),
        bad("serial:", "device path is empty"),
        bad("serial:/dev/ttyS0,115201", "unsupported baud rate"),
        bad("replay:", "capture path is empty"),
        cannot("unix:/nonexistent/hci", "connect failed: No such file or directory"),
        cannot("unix:/", "the path is a directory, not a socket"),
        cannot("unix:/etc/passwd", "the path is a regular file, not a socket"),
        cannot("serial:/nonexistent/tty", "open failed: No such file or directory"),
        cannot("serial:/dev/null",
               "not a serial port (tcgetattr failed: Inappropriate ioctl for device)"),
        cannot("replay:/nonexistent/hci", "cannot read the capture: No such file or directory"),
    };
    // A FIFO (it would block the open; no regular file) and a sparse file past the size limit.
    const testsupport::TempDir dir;
    const std::string fifo = dir.file("fifo"), big = dir.file("big");
    ASSERT_TRUE(mkfifo(fifo.c_str(), 0600) == 0 &&
                ftruncate(UniqueFd(open(big.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600)).get(),
                          (64 << 20) + 1) == 0);
    cases.push_back(cannot("replay:" + fifo, "not a regular file"));
    cases.push_back(
        cannot("replay:" + big, "67108865 bytes, larger than the 64 MiB a capture may have"));
    // Captures that cannot be played, each error with its offset.
    Capture text(0), cut = Capture(1002).add(3, 0, {0x04, 0x01, 0x00}).add(3, 0, Bytes(18, 4));
    text.bytes = {'h', 'e', 'l', 'l', 'o'};
    cut.bytes.resize(cut.bytes.size() - 2);
    const std::pair<Capture, std::string> captures[] = {
        {text, "not a btsnoop capture: no btsnoop header at byte 0"},
        {Capture(1001),
         "btsnoop datalink 1001 at byte 12 cannot be replayed; replayed are 1002 "
         "(H4) and 2001 (Linux monitor)"},
        {cut,
         "capture cut short: the record at byte 43 needs 42 bytes, the file holds 40 from "
         "there"},
        {Capture(2001).add(3, 0, {0x0e, 0x04, 0x01}),
         "the record at byte 16 holds a malformed HCI event"}};
    for (const auto& [capture, error] : captures)
        cases.push_back(
            cannot("replay:" + capture.save(dir.file(std::to_string(cases.size()))), error));
    UniqueFd probe(socket(31, SOCK_RAW | SOCK_CLOEXEC, 1));  // AF_BLUETOOTH
    if (!probe.valid() && errno == EAFNOSUPPORT) {
        cases.push_back(cannot("hci:0",
                               "no Bluetooth in this kernel (socket: Address family not "
                               "supported by protocol); load the bluetooth module, or "
                               "use unix:PATH, tcp:HOST:PORT, serial:PATH or replay:FILE"));
    }
    for (const auto& [value, line] : cases) {
        testsupport::clearLog();
        EXPECT_EQ(openHal(value.c_str(), nullptr), nullptr);
        EXPECT_EQ(hostLog(), Lines{"E " + line});
    }
}

// A controller that never accepts (its accept queue full): the connect gives up at its bound.
TEST(TransportTest, UnixConnectToAFullAcceptQueueEndsInTime) {
    const testsupport::TempDir dir;
    const std::string path = dir.file("full");
    const testsupport::StalledListener stalled(path);
    ASSERT_TRUE(stalled.full);
    testsupport::clearLog();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(openHal(("unix:" + path).c_str(), nullptr), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 4900ms);
    EXPECT_EQ(hostLog(), Lines{"E Cannot open HCI transport \"unix:" + path +
                               "\": the socket's owner accepted no connection within 5000 ms (its "
                               "accept queue is full)"});
}

// The controller's end of a stream transport: the value that names it and the descriptor it
// listens on or, for a terminal, speaks on.
using ControllerEnd = std::pair<std::string, UniqueFd>;

ControllerEnd tcpEnd() {
    sockaddr_in in{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof(in);
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&in), size) != 0 ||
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&in), &size) != 0) {
        fd.reset();
    }
    return {"tcp:127.0.0.1:" + std::to_string(ntohs(in.sin_port)), std::move(fd)};
}

// Left cooked: the HAL must make the line raw, or 0x0d and 0x0a get translated.
ControllerEnd terminalEnd() {
    UniqueFd fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (grantpt(fd.get()) != 0 || unlockpt(fd.get()) != 0) return {};
    return {"serial:" + std::string(ptsname(fd.get())) + ",921600", std::move(fd)};
}

TEST(TransportTest, EachStreamTransportCarriesH4AndReportsTheHangUp) {
    for (ControllerEnd (*make)() : {tcpEnd, terminalEnd}) {
        auto [value, end] = make();
        const bool terminal = make == terminalEnd;
        ASSERT_TRUE(end.valid() && (terminal || listen(end.get(), 1) == 0)) << value;
        ASSERT_EQ(setenv(kTransportEnvVar, value.c_str(), 1), 0);
        testsupport::clearLog();
        sp<IBluetoothHci> hal = IBluetoothHci::getService();
        unsetenv(kTransportEnvVar);
        ASSERT_NE(hal, nullptr) << value;
        UniqueFd peer(terminal ? end.release() : accept4(end.get(), nullptr, nullptr, 0));
        termios tio;  // the speed as the HAL set it
        EXPECT_TRUE(!terminal || (tcgetattr(peer.get(), &tio) == 0 && cfgetospeed(&tio) == B921600));
        sp<RecordingCallbacks> cb = new RecordingCallbacks();
        ASSERT_TRUE(hal->initialize(cb).isOk());
        ASSERT_TRUE(hal->sendHciCommand(Bytes{0x01, 0xfc, 0x02, 0x0d, 0x0a}).isOk());
        EXPECT_EQ(readBytes(peer.get(), 6), (Bytes{0x01, 0x01, 0xfc, 0x02, 0x0d, 0x0a}));
        ASSERT_TRUE(writeBytes(peer.get(), {0x04, 0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}));
        EXPECT_EQ(cb->await(&cb->events, 1), (Packets{{0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}}));
        peer.reset();
        EXPECT_EQ(hostLog(2), (Lines{"I HCI transport " + value + " open",
                                     "E HCI transport \"" + value +
                                         "\": the controller side hung up; reading stopped"}));
    }
}

}  // namespace
}  // namespace hosttest
