// An eventfd that one thread makes readable to wake or stop another.
#pragma once

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

// Non-blocking and close-on-exec; invalid, with errno set, on failure.
inline UniqueFd makeEventFd() {
    return UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

// Makes `fd` readable. Only EINTR can fail the write on a valid eventfd, and it is retried;
// EAGAIN only means the counter is already set, which wakes just as well.
inline void signalEventFd(int fd) {
    const uint64_t one = 1;
    while (write(fd, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
}

}  // namespace host
}  // namespace orvalinquist
