#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cstring>

#include "transports.h"

namespace orvalinquist {
namespace host {

UniqueFd connectUnixSocket(const std::string& path, std::string* error, int timeout_ms) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        *error = "socket path is too long";
        return UniqueFd();
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        *error = std::string("socket failed: ") + strerror(errno);
        return UniqueFd();
    }
    // A blocking Unix connect waits for room in a full accept queue as long as the send
    // timeout allows, and by default for ever: a controller that never accepts would hang
    // us silently. Later writes are non-blocking, so the timeout matters only here.
    const timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    if (setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) != 0) {
        *error = std::string("setsockopt(SO_SNDTIMEO) failed: ") + strerror(errno);
        return UniqueFd();
    }
    int rc;
    do {
        rc = connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return fd;
    const int err = errno;  // the stat below may overwrite errno
    struct stat st;
    if (err == EAGAIN) {
        *error = "the socket's owner accepted no connection within " + std::to_string(timeout_ms) +
                 " ms (its accept queue is full)";
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

}  // namespace host
}  // namespace orvalinquist
