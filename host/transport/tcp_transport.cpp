#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "fd_link.h"
#include "transport_scheme.h"

namespace orvalinquist {
namespace host {

namespace {

// 0, or the errno of the failed connect of a non-blocking socket.
int connectWithin(int fd, const sockaddr* addr, socklen_t size, int timeout_ms) {
    if (connect(fd, addr, size) == 0) return 0;
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    pollfd p = {fd, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&p, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

UniqueFd connectTcpSocket(const std::string& host, uint16_t port, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        *error = std::string("cannot resolve host: ") + gai_strerror(rc);
        return UniqueFd();
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    *error = "no address";
    for (addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        UniqueFd fd(
            socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol));
        if (!fd.valid()) {
            *error = std::string("socket failed: ") + strerror(errno);
            continue;
        }
        int err = connectWithin(fd.get(), ai->ai_addr, ai->ai_addrlen, kConnectTimeoutMs);
        if (err != 0) {
            *error = std::string("connect failed: ") + strerror(err);
            continue;
        }
        // Commands are small and paced; send each at once.
        int one = 1;
        if (setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one)) != 0) {
            *error = std::string("setsockopt(TCP_NODELAY) failed: ") + strerror(errno);
            continue;
        }
        error->clear();
        return fd;
    }
    return UniqueFd();
}

class TcpTransport : public Transport {
  public:
    TcpTransport(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}

    std::unique_ptr<Link> open(const std::string&, std::string* error) const override {
        UniqueFd fd = connectTcpSocket(host_, port_, error);
        if (!fd.valid()) return nullptr;
        return FdLink::create(std::move(fd), Framing::kStream, error);
    }
    std::string describe() const override {
        const bool v6 = host_.find(':') != std::string::npos;
        return "tcp:" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
    }
    bool reachesSharedController() const override { return true; }

  private:
    const std::string host_;
    const uint16_t port_;
};

}  // namespace

// tcp:HOST:PORT, a stream socket that carries H4; an IPv6 address in brackets.
std::unique_ptr<Transport> parseTcpTransport(const std::string& rest, std::string* why) {
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos) {
        *why = "port is missing";
        return nullptr;
    }
    std::string host = rest.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    uint64_t port = 0;
    if (host.empty()) {
        *why = "host is empty";
    } else if (!parseDecimal(rest.substr(colon + 1), 65535, &port) || port == 0) {
        *why = "port must be a number 1..65535";
    } else {
        return std::make_unique<TcpTransport>(host, static_cast<uint16_t>(port));
    }
    return nullptr;
}

}  // namespace host
}  // namespace orvalinquist
