#include "fd_link.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstring>

#include "deadline.h"

namespace orvalinquist {
namespace host {

namespace {

// Type byte, the largest header (4 bytes) and the largest 16-bit payload.
constexpr size_t kMaxH4Packet = 1 + 4 + 65535;
constexpr size_t kStreamChunk = 4096;

}  // namespace

std::unique_ptr<FdLink> FdLink::create(UniqueFd fd, Framing framing, std::string* error) {
    struct stat st;
    if (fstat(fd.get(), &st) != 0) {
        *error = std::string("fstat failed: ") + strerror(errno);
        return nullptr;
    }
    int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = std::string("cannot make the descriptor non-blocking: ") + strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<FdLink>(new FdLink(std::move(fd), framing, S_ISSOCK(st.st_mode)));
}

FdLink::FdLink(UniqueFd fd, Framing framing, bool is_socket)
    : fd_(std::move(fd)),
      framing_(framing),
      is_socket_(is_socket),
      read_buffer_(framing == Framing::kStream ? kStreamChunk : kMaxH4Packet) {}

ssize_t FdLink::writeSome(const uint8_t* data, size_t size) {
    // MSG_NOSIGNAL: a peer that went away must fail the call, not kill the process.
    if (is_socket_) return send(fd_.get(), data, size, MSG_NOSIGNAL);
    return write(fd_.get(), data, size);
}

bool FdLink::writePacket(const std::vector<uint8_t>& h4, int wake_fd, int timeout_ms, int* err) {
    const SteadyClock::time_point deadline = deadlineIn(timeout_ms);
    size_t done = 0;
    while (done < h4.size()) {
        ssize_t n = writeSome(h4.data() + done, h4.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (framing_ == Framing::kPacketPerRead && done != h4.size()) {
                *err = EMSGSIZE;  // a packet socket must take the packet whole
                return false;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            *err = n == 0 ? EIO : errno;
            return false;
        }
        const int left = msUntil(deadline);
        if (left == 0) {
            *err = ETIMEDOUT;
            return false;
        }
        pollfd fds[2] = {{fd_.get(), POLLOUT, 0}, {wake_fd, POLLIN, 0}};
        int ready = poll(fds, 2, left);
        if (ready < 0 && errno != EINTR) {
            *err = errno;
            return false;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            *err = ECANCELED;
            return false;
        }
    }
    return true;
}

void FdLink::hangUp() {
    // A socket that cannot be shut down (not connected, a kernel HCI socket) is closed with
    // the HAL's last reference instead.
    if (is_socket_) (void)shutdown(fd_.get(), SHUT_RDWR);
}

FdLink::ReadResult FdLink::readAvailable(std::vector<H4Packet>* out, int* err, size_t* size) {
    ssize_t n;
    do {
        n = read(fd_.get(), read_buffer_.data(), read_buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::kOk;
        *err = errno;
        return ReadResult::kError;
    }
    if (n == 0) return ReadResult::kHangUp;
    if (!reassembler_.feed(read_buffer_.data(), static_cast<size_t>(n), out)) {
        return ReadResult::kBadType;
    }
    if (framing_ == Framing::kPacketPerRead && !reassembler_.idle()) {
        *size = static_cast<size_t>(n);
        return ReadResult::kMalformed;
    }
    return ReadResult::kOk;
}

}  // namespace host
}  // namespace orvalinquist
