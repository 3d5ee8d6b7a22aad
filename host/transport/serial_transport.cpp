#include <errno.h>
#include <fcntl.h>
#include <termios.h>

#include <cstring>

#include "transports.h"

namespace orvalinquist {
namespace host {

namespace {

bool toSpeed(uint32_t baud, speed_t* speed) {
    static const struct {
        uint32_t baud;
        speed_t speed;
    } kSpeeds[] = {
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& entry : kSpeeds) {
        if (entry.baud == baud) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

std::string failed(const char* call) {
    return std::string(call) + " failed: " + strerror(errno);
}

}  // namespace

bool isSupportedBaud(uint32_t baud) {
    speed_t speed;
    return toSpeed(baud, &speed);
}

UniqueFd openSerialPort(const std::string& path, uint32_t baud, std::string* error) {
    speed_t speed;
    if (!toSpeed(baud, &speed)) {
        *error = "unsupported baud rate " + std::to_string(baud);
        return UniqueFd();
    }
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        *error = failed("open");
        return UniqueFd();
    }
    termios tio;
    if (tcgetattr(fd.get(), &tio) != 0) {
        *error = errno == ENOTTY ? "not a serial port (" + failed("tcgetattr") + ")"
                                 : failed("tcgetattr");
        return UniqueFd();
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        *error = failed("cfsetspeed");
        return UniqueFd();
    }
    // Drop whatever an earlier user left in the buffers, so that reading starts in step.
    if (tcflush(fd.get(), TCIOFLUSH) != 0) {
        *error = failed("tcflush");
        return UniqueFd();
    }
    if (tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        *error = failed("tcsetattr");
        return UniqueFd();
    }
    return fd;
}

}  // namespace host
}  // namespace orvalinquist
