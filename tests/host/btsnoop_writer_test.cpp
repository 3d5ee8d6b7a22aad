// The btsnoop capture, byte for byte, as the HAL writes it.
#include "btsnoop_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "host_test_util.h"

namespace hosttest {
namespace {

uint64_t bigEndian(const Bytes& bytes, size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
    return value;
}

TEST(BtSnoopWriterTest, HalRecordsBothDirections) {
    const std::string path =
        testing::TempDir() + "/hci_host_test." + std::to_string(getpid()) + ".btsnoop";
    auto [ours, peer] = socketPair();
    std::string error;
    sp<HostHal> hal = halOn(std::move(ours), Framing::kStream, BtSnoopWriter::open(path, &error));
    sp<RecordingCallbacks> cb = new RecordingCallbacks();
    ASSERT_TRUE(hal->initialize(cb).isOk());
    const int64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    ASSERT_TRUE(hal->sendHciCommand(Bytes{0x03, 0x0c, 0x00}).isOk());
    ASSERT_TRUE(writeBytes(peer.get(), {0x02, 0x01, 0x00, 0x01, 0x00, 0xaa, 0x04, 0x01, 0x00}));
    cb->await(&cb->events, 1);
    hal.clear();  // joins the reader, so the capture is complete

    std::ifstream file(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 16),
              (Bytes{'b', 't', 's', 'n', 'o', 'o', 'p', 0, 0, 0, 0, 1, 0, 0, 0x03, 0xea}));
    const std::pair<uint32_t, Bytes> records[] = {
        {2, {0x01, 0x03, 0x0c, 0x00}},              // command, sent
        {1, {0x02, 0x01, 0x00, 0x01, 0x00, 0xaa}},  // ACL, received
        {3, {0x04, 0x01, 0x00}}};                   // event, received
    size_t at = 16;
    for (const auto& [flags, data] : records) {
        ASSERT_GE(bytes.size(), at + 24 + data.size());
        EXPECT_EQ(bigEndian(bytes, at, 4), data.size());      // original length
        EXPECT_EQ(bigEndian(bytes, at + 4, 4), data.size());  // included length
        EXPECT_EQ(bigEndian(bytes, at + 8, 4), flags);
        EXPECT_EQ(bigEndian(bytes, at + 12, 4), 0u);  // drops
        const uint64_t time = bigEndian(bytes, at + 16, 8);
        EXPECT_GE(time, 0x00dcddb30f2f8000ULL + before);
        EXPECT_LT(time, 0x00dcddb30f2f8000ULL + before + 10'000'000);
        EXPECT_EQ(Bytes(bytes.begin() + at + 24, bytes.begin() + at + 24 + data.size()), data);
        at += 24 + data.size();
    }
    EXPECT_EQ(at, bytes.size());
    unlink(path.c_str());
}

}  // namespace
}  // namespace hosttest
