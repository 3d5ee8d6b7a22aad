// BT_HCI_TRANSPORT values, and what the platform logs when a controller cannot be reached.
#include <gtest/gtest.h>
#include <sys/un.h>

#include "host_test_util.h"
#include "transport_spec.h"

namespace hosttest {
namespace {

using Kind = TransportSpec::Kind;

TEST(TransportSpecTest, AcceptedForms) {
    struct Case {
        const char* value;
        Kind kind;
        std::string where;  // path or host
        uint32_t number;    // index, port or baud
    };
    const Case cases[] = {
        {nullptr, Kind::kUserChannel, "", 0},
        {"", Kind::kUserChannel, "", 0},
        {"hci:3", Kind::kUserChannel, "", 3},
        {"unix:/tmp/bt.sock", Kind::kUnix, "/tmp/bt.sock", 0},
        {"tcp:localhost:45550", Kind::kTcp, "localhost", 45550},
        {"tcp:[::1]:1", Kind::kTcp, "::1", 1},
        {"serial:/dev/ttyUSB0", Kind::kSerial, "/dev/ttyUSB0", 115200},
        {"serial:/dev/ttyS1,3000000", Kind::kSerial, "/dev/ttyS1", 3000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(null)");
        std::string error;
        auto spec = parseTransport(c.value, &error);
        ASSERT_TRUE(spec.has_value()) << error;
        EXPECT_EQ(spec->kind, c.kind);
        switch (c.kind) {
            case Kind::kUserChannel:
                EXPECT_EQ(spec->hci_index, c.number);
                break;
            case Kind::kUnix:
                EXPECT_EQ(spec->path, c.where);
                break;
            case Kind::kTcp:
                EXPECT_EQ(spec->host, c.where);
                EXPECT_EQ(spec->port, c.number);
                break;
            case Kind::kSerial:
                EXPECT_EQ(spec->path, c.where);
                EXPECT_EQ(spec->baud, c.number);
                break;
        }
    }
}

TEST(TransportSpecTest, MalformedValuesLogTheAcceptedForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"bluetooth", "unknown transport"},
        {"hci:", "adapter index must be a number 0..65534"},
        {"hci:-1", "adapter index must be a number 0..65534"},
        {"hci:65535", "adapter index must be a number 0..65534"},
        {"unix:", "socket path is empty"},
        {"tcp:localhost", "port is missing"},
        {"tcp::80", "host is empty"},
        {"tcp:localhost:0", "port must be a number 1..65535"},
        {"tcp:localhost:http", "port must be a number 1..65535"},
        {"serial:", "device path is empty"},
        {"serial:/dev/ttyS0,115201", "unsupported baud rate"},
        {"serial:/dev/ttyS0,", "unsupported baud rate"},
    };
    for (const auto& [value, why] : cases) {
        SCOPED_TRACE(value);
        testsupport::clearLog();
        EXPECT_EQ(openHal(value, nullptr), nullptr);
        EXPECT_EQ(hostLog(),
                  std::vector<std::string>{std::string("E Bad BT_HCI_TRANSPORT value \"") + value +
                                           "\" (" + why +
                                           "); accepted forms: hci:N (default hci:0), unix:PATH, "
                                           "tcp:HOST:PORT, serial:PATH[,BAUD]"});
    }
}

TEST(TransportSpecTest, UnreachableTransportsLogOneLineEach) {
    const std::pair<const char*, const char*> cases[] = {
        {"unix:/nonexistent/bt.sock", "connect failed: No such file or directory"},
        {"tcp:127.0.0.1:1", "connect failed: Connection refused"},
        {"serial:/nonexistent/tty", "open failed: No such file or directory"},
        {"serial:/dev/null", "tcgetattr failed: Inappropriate ioctl for device"},
    };
    for (const auto& [value, why] : cases) {
        SCOPED_TRACE(value);
        testsupport::clearLog();
        EXPECT_EQ(openHal(value, nullptr), nullptr);
        EXPECT_EQ(hostLog(), (std::vector<std::string>{std::string("E Cannot open HCI transport ") +
                                                       value + ": " + why}));
    }
}

// Through the service look-up, as the tool reaches it, with a listening Unix socket.
TEST(TransportSpecTest, GetServiceConnectsToTheNamedSocket) {
    const std::string path = testing::TempDir() + "/hci_host_test.sock";
    unlink(path.c_str());
    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);
    ASSERT_EQ(setenv(kTransportEnvVar, ("unix:" + path).c_str(), 1), 0);
    testsupport::clearLog();
    auto hal = ::android::hardware::bluetooth::V1_0::IBluetoothHci::getService("default", false);
    unsetenv(kTransportEnvVar);
    ASSERT_NE(hal, nullptr);
    UniqueFd peer(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    EXPECT_EQ(readBytes(peer.get(), 4), (Bytes{0x01, 0x03, 0x0c, 0x00}));
    EXPECT_EQ(hostLog(), (std::vector<std::string>{"I HCI transport unix:" + path + " open"}));
    unlink(path.c_str());
}

}  // namespace
}  // namespace hosttest
