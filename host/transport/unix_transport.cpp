#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cstring>

#include "fd_link.h"
#include "transport_scheme.h"

namespace orvalinquist {
namespace host {

namespace {

// A connected socket, or an invalid one with `error` naming the cause.
UniqueFd connectUnixSocket(const sockaddr_un& addr, std::string* error) {
    const std::string path = addr.sun_path;
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = std::string("socket failed: ") + strerror(errno);
        return UniqueFd();
    }
    // A blocking Unix connect waits for room in a full accept queue as long as the send
    // timeout allows, and by default for ever: a controller that never accepts would hang
    // us silently. Later writes are non-blocking, so the timeout matters only here.
    const timeval timeout = {kConnectTimeoutMs / 1000, (kConnectTimeoutMs % 1000) * 1000};
    if (setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) != 0) {
        *error = std::string("setsockopt(SO_SNDTIMEO) failed: ") + strerror(errno);
        return UniqueFd();
    }
    int rc;
    do {
        rc = connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return fd;
    const int err = errno;  // the stat below may overwrite errno
    struct stat st;
    if (err == EAGAIN) {
        *error = "the socket's owner accepted no connection within " +
                 std::to_string(kConnectTimeoutMs) + " ms (its accept queue is full)";
    } else if (err == ECONNREFUSED && stat(path.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode)) {
        *error = std::string("the path is ") +
                 (S_ISDIR(st.st_mode)   ? "a directory"
                  : S_ISREG(st.st_mode) ? "a regular file"
                                        : "a device or pipe") +
                 ", not a socket";
    } else {
        *error = std::string("connect failed: ") + strerror(err);
    }
    return UniqueFd();
}

class UnixTransport : public Transport {
  public:
    explicit UnixTransport(const sockaddr_un& address) : address_(address) {}

    std::unique_ptr<Link> open(const std::string&, std::string* error) const override {
        UniqueFd fd = connectUnixSocket(address_, error);
        if (!fd.valid()) return nullptr;
        return FdLink::create(std::move(fd), Framing::kStream, error);
    }
    std::string describe() const override { return std::string("unix:") + address_.sun_path; }
    bool reachesSharedController() const override { return true; }

  private:
    const sockaddr_un address_;
};

}  // namespace

// unix:PATH, a stream socket that carries H4.
std::unique_ptr<Transport> parseUnixTransport(const std::string& rest, std::string* why) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (rest.empty()) {
        *why = "socket path is empty";
        return nullptr;
    }
    if (rest.size() >= sizeof(address.sun_path)) {
        *why = "socket path is too long";
        return nullptr;
    }
    std::memcpy(address.sun_path, rest.c_str(), rest.size() + 1);
    return std::make_unique<UnixTransport>(address);
}

}  // namespace host
}  // namespace orvalinquist
