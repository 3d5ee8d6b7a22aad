// Shared pieces of the black-box tests: a per-test directory and the tool's command packets.
#pragma once

#include <string>
#include <vector>

#include "h4_controller.h"

namespace blackbox {

using testsupport::Bytes;

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The bring-up of `enable`, ending with the command sender's scan disable.
std::vector<Bytes> enableSequence();
extern const Bytes kInquiry;
extern const Bytes kScanParameters;
extern const Bytes kScanEnableOn;
extern const Bytes kScanEnableOff;

std::vector<Bytes> commandBytes(const std::vector<testsupport::ReceivedCommand>& commands);
std::string hex(const Bytes& bytes);
// Sanitizer or libc++/libstdc++ abort messages in a child's stderr.
bool hasSanitizerReport(const std::string& err);
std::string readFile(const std::string& path);
bool contains(const std::vector<std::string>& lines, const std::string& line);

}  // namespace blackbox
