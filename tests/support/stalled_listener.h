// A listening Unix socket whose accept queue is full and never served: a connect to it blocks
// until the connecting side's own bound.
#pragma once

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace testsupport {

struct StalledListener {
    // Binds `path` and fills the queue; check `full`.
    explicit StalledListener(const std::string& path)
        : listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{AF_UNIX, {}};
        if (path.size() >= sizeof(address.sun_path)) return;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        auto* raw = reinterpret_cast<sockaddr*>(&address);
        // Even a backlog of 0 queues a connection on Linux: connect without blocking until one
        // is refused.
        if (::bind(listener.get(), raw, sizeof(address)) != 0 || ::listen(listener.get(), 0) != 0)
            return;
        while (!full && fillers.size() < 8) {
            fillers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            full = ::connect(fillers.back().get(), raw, sizeof(address)) != 0 && errno == EAGAIN;
        }
    }

    orvalinquist::host::UniqueFd listener;
    std::vector<orvalinquist::host::UniqueFd> fillers;
    bool full = false;
};

}  // namespace testsupport
