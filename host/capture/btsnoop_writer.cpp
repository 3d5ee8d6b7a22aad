#include "btsnoop_writer.h"

#include <android/log.h>
#include <errno.h>
#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "btsnoop_format.h"
#include "h4_reassembler.h"
#include "host_log.h"

namespace orvalinquist {
namespace host {

namespace {

constexpr uint64_t kEpochOffsetMicros = 0x00dcddb30f2f8000ULL;  // 0 AD to 1970
constexpr uint32_t kVersion = 1;
constexpr uint32_t kFlagReceived = 1u << 0;
constexpr uint32_t kFlagCommandOrEvent = 1u << 1;

void putBe32(std::vector<uint8_t>* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<uint8_t>(value >> shift));
}

void putBe64(std::vector<uint8_t>* out, uint64_t value) {
    putBe32(out, static_cast<uint32_t>(value >> 32));
    putBe32(out, static_cast<uint32_t>(value));
}

bool writeAll(int fd, const std::vector<uint8_t>& bytes, int* err) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *err = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Microseconds since 0 AD, the btsnoop clock, for a Unix time in microseconds.
uint64_t toBtSnoopTime(int64_t unix_micros) {
    return kEpochOffsetMicros + static_cast<uint64_t>(unix_micros);
}

}  // namespace

std::unique_ptr<BtSnoopWriter> BtSnoopWriter::open(const std::string& path, std::string* error) {
    // Non-blocking, so that a FIFO that nobody reads fails at once instead of stalling the start;
    // the writes block again, so a capture read live through a FIFO keeps every packet.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644));
    if (!fd.valid()) {
        *error = errno == ENXIO ? "a FIFO that nobody reads" : strerror(errno);
        return nullptr;
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) {
        *error = std::string("fcntl failed: ") + strerror(errno);
        return nullptr;
    }
    std::vector<uint8_t> header(std::begin(kBtSnoopMagic), std::end(kBtSnoopMagic));
    putBe32(&header, kVersion);
    putBe32(&header, kDatalinkH4);
    int err = 0;
    if (!writeAll(fd.get(), header, &err)) {
        *error = strerror(err);
        return nullptr;
    }
    return std::unique_ptr<BtSnoopWriter>(new BtSnoopWriter(path, std::move(fd)));
}

void BtSnoopWriter::record(Direction direction, const uint8_t* h4, size_t size) {
    if (size == 0) return;
    const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    uint32_t flags = direction == Direction::kReceived ? kFlagReceived : 0;
    if (h4[0] == static_cast<uint8_t>(H4Type::kCommand) ||
        h4[0] == static_cast<uint8_t>(H4Type::kEvent)) {
        flags |= kFlagCommandOrEvent;
    }

    std::vector<uint8_t> bytes;
    bytes.reserve(kRecordHeaderSize + size);
    putBe32(&bytes, static_cast<uint32_t>(size));  // original length
    putBe32(&bytes, static_cast<uint32_t>(size));  // included length
    putBe32(&bytes, flags);
    putBe32(&bytes, 0);  // cumulative drops
    putBe64(&bytes, toBtSnoopTime(now));
    bytes.insert(bytes.end(), h4, h4 + size);

    std::lock_guard<std::mutex> lock(mutex_);
    if (!fd_.valid()) return;
    int err = 0;
    if (!writeAll(fd_.get(), bytes, &err)) {
        __android_log_print(ANDROID_LOG_ERROR, kHostLogTag,
                            "HCI capture \"%s\": write failed: %s; capture stopped", path_.c_str(),
                            strerror(err));
        fd_.reset();
    }
}

}  // namespace host
}  // namespace orvalinquist
