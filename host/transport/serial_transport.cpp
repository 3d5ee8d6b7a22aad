#include <errno.h>
#include <fcntl.h>
#include <termios.h>

#include <cstring>

#include "fd_link.h"
#include "transport_scheme.h"

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

constexpr uint32_t kDefaultBaud = 115200;

// An HCI UART (H4), raw 8N1 with RTS/CTS flow control: the configured port, or an invalid one
// with `error` naming the cause.
UniqueFd openSerialPort(const std::string& path, speed_t speed, std::string* error) {
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

class SerialTransport : public Transport {
  public:
    SerialTransport(std::string path, uint32_t baud, speed_t speed)
        : path_(std::move(path)), baud_(baud), speed_(speed) {}

    std::unique_ptr<Link> open(const std::string&, std::string* error) const override {
        UniqueFd fd = openSerialPort(path_, speed_, error);
        if (!fd.valid()) return nullptr;
        return FdLink::create(std::move(fd), Framing::kStream, error);
    }
    std::string describe() const override {
        return "serial:" + path_ + "," + std::to_string(baud_);
    }
    // A UART at another speed than the controller's reads no valid packet either.
    std::string silenceHint() const override { return "or at another baud rate"; }

  private:
    const std::string path_;
    const uint32_t baud_;
    const speed_t speed_;
};

}  // namespace

// serial:PATH[,BAUD]
std::unique_ptr<Transport> parseSerialTransport(const std::string& rest, std::string* why) {
    const size_t comma = rest.find(',');
    const std::string path = rest.substr(0, comma);
    uint64_t baud = kDefaultBaud;
    speed_t speed;
    if (path.empty()) {
        *why = "device path is empty";
    } else if ((comma != std::string::npos &&
                !parseDecimal(rest.substr(comma + 1), 0xffffffffu, &baud)) ||
               !toSpeed(static_cast<uint32_t>(baud), &speed)) {
        *why = "unsupported baud rate";
    } else {
        return std::make_unique<SerialTransport>(path, static_cast<uint32_t>(baud), speed);
    }
    return nullptr;
}

}  // namespace host
}  // namespace orvalinquist
