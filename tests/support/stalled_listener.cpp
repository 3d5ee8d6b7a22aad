#include "stalled_listener.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

namespace testsupport {

StalledListener::StalledListener(const std::string& path)
    : listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{AF_UNIX, {}};
    if (path.size() >= sizeof(address.sun_path)) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    // Even a backlog of 0 queues a connection on Linux: connect without blocking until one is
    // refused.
    if (::bind(listener.get(), raw, sizeof(address)) != 0 || ::listen(listener.get(), 0) != 0)
        return;
    while (!full && fillers.size() < 8) {
        fillers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        full = ::connect(fillers.back().get(), raw, sizeof(address)) != 0 && errno == EAGAIN;
    }
}

}  // namespace testsupport
