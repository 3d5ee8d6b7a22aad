// BT_HCI_TRANSPORT values, and what the platform logs when a controller cannot be reached.
#include <gtest/gtest.h>
#include <sys/un.h>

#include "host_test_util.h"
#include "transport_spec.h"

namespace hosttest {
namespace {

// One text per parsed value.
std::string describe(const TransportSpec& s) {
    switch (s.kind) {
        case TransportSpec::Kind::kUserChannel:
            return "hci " + std::to_string(s.hci_index);
        case TransportSpec::Kind::kUnix:
            return "unix " + s.path;
        case TransportSpec::Kind::kTcp:
            return "tcp " + s.host + " " + std::to_string(s.port);
        case TransportSpec::Kind::kSerial:
            return "serial " + s.path + " " + std::to_string(s.baud);
    }
    return "";
}

TEST(TransportTest, ParsesEachFormAndExplainsMalformedValues) {
    const std::tuple<const char*, bool, std::string> cases[] = {
        {nullptr, true, "hci 0"},
        {"", true, "hci 0"},
        {"hci:3", true, "hci 3"},
        {"unix:/tmp/bt.sock", true, "unix /tmp/bt.sock"},
        {"tcp:localhost:45550", true, "tcp localhost 45550"},
        {"tcp:[::1]:1", true, "tcp ::1 1"},
        {"serial:/dev/ttyUSB0", true, "serial /dev/ttyUSB0 115200"},
        {"serial:/dev/ttyS1,3000000", true, "serial /dev/ttyS1 3000000"},
        {"bluetooth", false, "unknown transport"},
        {"hci:", false, "adapter index must be a number 0..65534"},
        {"hci:65535", false, "adapter index must be a number 0..65534"},
        {"unix:", false, "socket path is empty"},
        {"tcp:localhost", false, "port is missing"},
        {"tcp::80", false, "host is empty"},
        {"tcp:localhost:0", false, "port must be a number 1..65535"},
        {"tcp:localhost:http", false, "port must be a number 1..65535"},
        {"serial:", false, "device path is empty"},
        {"serial:/dev/ttyS0,115201", false, "unsupported baud rate"},
    };
    for (const auto& [value, ok, want] : cases) {
        std::string error;
        auto spec = parseTransport(value, &error);
        ASSERT_EQ(spec.has_value(), ok) << want;
        if (ok) {
            EXPECT_EQ(describe(*spec), want);
            continue;
        }
        testsupport::clearLog();
        EXPECT_EQ(openHal(value, nullptr), nullptr);
        EXPECT_EQ(hostLog(), std::vector<std::string>{"E Bad BT_HCI_TRANSPORT value \"" +
                                                      std::string(value) + "\" (" + want +
                                                      "); accepted forms: hci:N (default hci:0), "
                                                      "unix:PATH, tcp:HOST:PORT, "
                                                      "serial:PATH[,BAUD]"});
    }
}

// As the tool gets there: the service look-up reads the variable and connects.
TEST(TransportTest, GetServiceConnectsToTheNamedSocket) {
    const std::string path = testing::TempDir() + "/hci_host_test." + std::to_string(getpid());
    sockaddr_un un{AF_UNIX, {}};
    snprintf(un.sun_path, sizeof(un.sun_path), "%s", path.c_str());
    UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&un), sizeof(un)), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);
    ASSERT_EQ(setenv(kTransportEnvVar, ("unix:" + path).c_str(), 1), 0);
    testsupport::clearLog();
    auto hal = ::android::hardware::bluetooth::V1_0::IBluetoothHci::getService();
    unsetenv(kTransportEnvVar);
    unlink(path.c_str());
    ASSERT_NE(hal, nullptr);
    UniqueFd peer(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    EXPECT_EQ(readBytes(peer.get(), 4), (Bytes{0x01, 0x03, 0x0c, 0x00}));
    EXPECT_EQ(hostLog(), std::vector<std::string>{"I HCI transport unix:" + path + " open"});
}

}  // namespace
}  // namespace hosttest
