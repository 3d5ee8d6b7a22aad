#include "blackbox_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace blackbox {

TempDir::TempDir() {
    char pattern[] = "/tmp/orvalinquist-bb-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

Bytes withZerosTo(Bytes bytes, size_t size) {
    bytes.resize(size, 0x00);
    return bytes;
}

Bytes withName(Bytes bytes) {
    const std::string name = "Orvalinquist";
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

}  // namespace

const Bytes kInquiry = {0x01, 0x04, 0x05, 0x33, 0x8B, 0x9E, 0x0A, 0x00};
const Bytes kScanParameters = {0x0B, 0x20, 0x07, 0x01, 0x12, 0x00, 0x12, 0x00, 0x00, 0x00};
const Bytes kScanEnableOn = {0x0C, 0x20, 0x02, 0x01, 0x00};
const Bytes kScanEnableOff = {0x0C, 0x20, 0x02, 0x00, 0x00};

std::vector<Bytes> enableSequence() {
    return {
        {0x03, 0x0C, 0x00},
        {0x01, 0x0C, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x3D},
        {0x24, 0x0C, 0x03, 0x20, 0x04, 0x2C},
        withZerosTo(withName({0x13, 0x0C, 0xF8}), 251),
        {0x06, 0x20, 0x0F, 0x20, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
         0x00, 0x07, 0x00},
        withZerosTo(withName({0x08, 0x20, 0x20, 0x11, 0x02, 0x01, 0x06, 0x0D, 0x09}), 35),
        withZerosTo({0x09, 0x20, 0x20, 0x00}, 35),
        {0x0A, 0x20, 0x01, 0x01},
        {0x1A, 0x0C, 0x01, 0x03},
        kScanEnableOff,
    };
}

std::vector<Bytes> commandBytes(const std::vector<testsupport::ReceivedCommand>& commands) {
    std::vector<Bytes> bytes;
    for (const auto& command : commands) bytes.push_back(command.bytes);
    return bytes;
}

std::string hex(const Bytes& bytes) {
    std::string text;
    char byte[4];
    for (uint8_t b : bytes) {
        std::snprintf(byte, sizeof(byte), "%02x ", b);
        text += byte;
    }
    return text;
}

bool hasSanitizerReport(const std::string& err) {
    for (const char* marker : {"Sanitizer", "runtime error:", "terminate called"}) {
        if (err.find(marker) != std::string::npos) return true;
    }
    return false;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace blackbox
