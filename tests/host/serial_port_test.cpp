// The HCI UART over a pseudo-terminal pair: line settings and H4 in both directions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include "host_test_util.h"

namespace hosttest {
namespace {

TEST(SerialPortTest, HalSpeaksH4OverARawLineAtTheGivenSpeed) {
    // The controller's end: the pty master, raw so that no byte is translated.
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios tio;
    ASSERT_TRUE(master.valid() && grantpt(master.get()) == 0 && unlockpt(master.get()) == 0 &&
                tcgetattr(master.get(), &tio) == 0);
    cfmakeraw(&tio);
    ASSERT_EQ(tcsetattr(master.get(), TCSANOW, &tio), 0);
    const std::string slave = ptsname(master.get());
    const std::string value = "serial:" + slave + ",921600";
    auto hal = openHal(value.c_str(), nullptr);
    ASSERT_NE(hal, nullptr);
    UniqueFd line(open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));  // as the HAL left it
    ASSERT_EQ(tcgetattr(line.get(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B921600));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    line.reset();
    sp<RecordingCallbacks> cb = new RecordingCallbacks();
    ASSERT_TRUE(hal->initialize(cb).isOk());
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    EXPECT_EQ(readBytes(master.get(), 4), (Bytes{0x01, 0x03, 0x0c, 0x00}));
    // 0x0d and 0x0a would be translated by a cooked line.
    ASSERT_TRUE(writeBytes(master.get(), {0x04, 0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}));
    EXPECT_EQ(cb->await(&cb->events, 1), (Packets{{0x0e, 0x04, 0x01, 0x0d, 0x0a, 0x00}}));
    testsupport::clearLog();
    master.reset();  // the line goes dead
    EXPECT_EQ(awaitHostLog(1),
              std::vector<std::string>{"E HCI transport " + value +
                                       ": the controller side hung up; reading stopped"});
}

}  // namespace
}  // namespace hosttest
