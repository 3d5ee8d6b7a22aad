// Writes every HCI packet to a btsnoop capture (datalink H4), readable by btmon and
// Wireshark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "unique_fd.h"

namespace orvalinquist {
namespace host {

enum class Direction { kSent, kReceived };

class BtSnoopWriter {
  public:
    // Creates or truncates the file and writes the header. Null, with `error` set, on failure.
    static std::unique_ptr<BtSnoopWriter> open(const std::string& path, std::string* error);

    // One record for one H4 packet (type byte first). Safe from any thread. A failed write
    // logs one line and ends the capture.
    void record(Direction direction, const uint8_t* h4, size_t size);

  private:
    BtSnoopWriter(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}

    const std::string path_;
    std::mutex mutex_;
    UniqueFd fd_;
};

}  // namespace host
}  // namespace orvalinquist
