#include "capture_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <set>

#include "btsnoop_format.h"
#include "unique_fd.h"

namespace orvalinquist {
namespace host {

namespace {

constexpr uint16_t kMonitorCommand = 2;
constexpr uint16_t kMonitorEvent = 3;
constexpr uint16_t kMonitorNoIndex = 0xffff;  // system notes and the like

uint64_t bigEndian(const uint8_t* p, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = value << 8 | p[i];
    return value;
}

// Only a regular file: a FIFO or a device may block or never end. The size is checked while
// reading too, since the file may grow.
bool readFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
    // Non-blocking, so that opening a FIFO without a writer returns.
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0) {
        *error = std::string("cannot read the capture: ") + strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxCaptureSize) {
        *error = std::to_string(st.st_size) + " bytes, larger than the " +
                 std::to_string(kMaxCaptureSize >> 20) + " MiB a capture may have";
        return false;
    }
    uint8_t chunk[65536];
    ssize_t n;
    do {
        n = read(fd.get(), chunk, sizeof(chunk));
        if (n > 0) bytes->insert(bytes->end(), chunk, chunk + n);
        if (bytes->size() > kMaxCaptureSize) {
            *error = "grew past the " + std::to_string(kMaxCaptureSize >> 20) +
                     " MiB a capture may have while it was read";
            return false;
        }
    } while (n > 0 || (n < 0 && errno == EINTR));
    if (n == 0) return true;
    *error = std::string("cannot read the capture: ") + strerror(errno);
    return false;
}

struct Record {
    size_t offset;
    uint32_t flags;
    uint64_t micros;
    const uint8_t* data;
    size_t size;
};

// A command or an event whose length byte matches its size, typed; nullopt for other
// packets (data, monitor notes).
std::optional<H4Type> hciType(uint32_t datalink, Record* record) {
    if (datalink == kDatalinkH4) {
        if (record->size == 0) return std::nullopt;
        const uint8_t type = record->data[0];
        ++record->data;
        --record->size;
        if (type == static_cast<uint8_t>(H4Type::kCommand)) return H4Type::kCommand;
        if (type == static_cast<uint8_t>(H4Type::kEvent)) return H4Type::kEvent;
        return std::nullopt;
    }
    const uint16_t opcode = record->flags & 0xffff;
    if (opcode == kMonitorCommand) return H4Type::kCommand;
    if (opcode == kMonitorEvent) return H4Type::kEvent;
    return std::nullopt;
}

bool isWhole(H4Type type, const Record& r) {
    const size_t header = type == H4Type::kCommand ? 3 : 2;
    return r.size >= header && r.size == header + r.data[header - 1];
}

}  // namespace

std::optional<Capture> readCapture(const std::string& path, std::string* error) {
    std::vector<uint8_t> file;
    if (!readFile(path, &file, error)) return std::nullopt;
    return parseCapture(file, error);
}

std::optional<Capture> parseCapture(const std::vector<uint8_t>& file, std::string* error) {
    if (file.size() < kFileHeaderSize || memcmp(file.data(), kBtSnoopMagic, 8) != 0) {
        *error = "not a btsnoop capture: no btsnoop header at byte 0";
        return std::nullopt;
    }
    const uint32_t datalink = static_cast<uint32_t>(bigEndian(&file[12], 4));
    if (datalink != kDatalinkH4 && datalink != kDatalinkMonitor) {
        *error = "btsnoop datalink " + std::to_string(datalink) +
                 " at byte 12 cannot be replayed; replayed are 1002 (H4) and 2001 (Linux monitor)";
        return std::nullopt;
    }
    std::vector<Record> records;
    for (size_t at = kFileHeaderSize; at < file.size();) {
        const size_t left = file.size() - at;
        const uint64_t size = left >= 8 ? bigEndian(&file[at + 4], 4) : 0;
        if (left < kRecordHeaderSize || left - kRecordHeaderSize < size) {
            *error = "capture cut short: the record at byte " + std::to_string(at) + " needs " +
                     std::to_string(kRecordHeaderSize + size) + " bytes, the file holds " +
                     std::to_string(left) + " from there";
            return std::nullopt;
        }
        // data(): an empty last record starts at the end of the file.
        records.push_back({at, static_cast<uint32_t>(bigEndian(&file[at + 8], 4)),
                           bigEndian(&file[at + 16], 8), file.data() + at + kRecordHeaderSize,
                           static_cast<size_t>(size)});
        at += kRecordHeaderSize + size;
    }

    // A monitor capture may hold several controllers: the first that sent an event is played.
    Capture capture;
    uint32_t index = 0;
    if (datalink == kDatalinkMonitor) {
        std::set<uint32_t> indexes;
        bool picked = false;
        for (const Record& r : records) {
            if ((r.flags >> 16) == kMonitorNoIndex) continue;
            indexes.insert(r.flags >> 16);
            if (!picked && (r.flags & 0xffff) == kMonitorEvent) {
                index = r.flags >> 16;
                picked = true;
            }
        }
        capture.controller = picked ? "controller index " + std::to_string(index) + " (" +
                                          std::to_string(indexes.size()) +
                                          " in the capture; the first with events)"
                                    : "no controller with events";
    }
    for (Record& r : records) {
        if (datalink == kDatalinkMonitor && (r.flags >> 16) != index) continue;
        const std::optional<H4Type> type = hciType(datalink, &r);
        if (!type) continue;
        if (!isWhole(*type, r)) {
            *error = "the record at byte " + std::to_string(r.offset) + " holds a malformed HCI " +
                     (*type == H4Type::kCommand ? "command" : "event");
            return std::nullopt;
        }
        capture.packets.push_back({*type, std::vector<uint8_t>(r.data, r.data + r.size), r.micros});
    }
    return capture;
}

}  // namespace host
}  // namespace orvalinquist
