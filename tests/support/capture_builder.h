// A btsnoop file, built record by record, for captures the tests play or refuse.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace testsupport {

struct Capture {
    using Bytes = std::vector<uint8_t>;
    explicit Capture(uint32_t datalink) { be(0x6274736e6f6f7000, 8).be(1, 4).be(datalink, 4); }
    Capture& be(uint64_t value, int size) {
        while (size-- > 0) bytes.push_back(static_cast<uint8_t>(value >> 8 * size));
        return *this;
    }
    Capture& add(uint32_t flags, uint64_t micros, const Bytes& packet) {
        be(packet.size(), 4).be(packet.size(), 4).be(flags, 4).be(0, 4).be(micros, 8);
        bytes.insert(bytes.end(), packet.begin(), packet.end());
        return *this;
    }
    std::string save(const std::string& path = testing::TempDir() + "/capture." +
                                               std::to_string(getpid())) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    Bytes bytes;
};

}  // namespace testsupport
