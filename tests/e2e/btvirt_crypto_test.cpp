// btvirt needs AES for its controllers: from the kernel's AF_ALG sockets where they exist,
// else from our preloaded shim. Both must give the standard's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "aes128.h"
#include "btvirt_env.h"
#include "h4_link.h"

namespace e2e {
namespace {

using orvalinquist::alg::Aes128;
using orvalinquist::alg::AesBlock;
using orvalinquist::alg::aesCmac;

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

AesBlock block(const std::string& hex) {
    AesBlock b{};
    const auto bytes = fromHex(hex);
    std::copy(bytes.begin(), bytes.end(), b.begin());
    return b;
}

const char kRfcKey[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kRfcMessage[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

TEST(SoftwareAes, MatchesFips197) {
    EXPECT_EQ(Aes128(block("000102030405060708090a0b0c0d0e0f"))
                  .encrypt(block("00112233445566778899aabbccddeeff")),
              block("69c4e0d86a7b0430d8cdb78070b4c55a"));
}

TEST(SoftwareAes, CmacMatchesRfc4493) {
    const struct {
        size_t len;
        const char* mac;
    } kCases[] = {{0, "bb1d6929e95937287fa37d129b756746"},
                  {16, "070a16b46b4d4144f79bdd9dd04a287c"},
                  {40, "dfa66747de9ae63030ca32611497c827"},
                  {64, "51f0bebf7e3b9d92fc49741779363cfe"}};
    const auto message = fromHex(kRfcMessage);
    for (const auto& c : kCases) {
        EXPECT_EQ(aesCmac(block(kRfcKey), message.data(), c.len), block(c.mac)) << c.len;
    }
}

TEST(BtvirtCrypto, LeEncryptGivesTheStandardCiphertext) {
    const std::string missing = btvirtMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    const std::string dir = testDir();
    BtvirtServer btvirt;
    std::string error;
    ASSERT_TRUE(btvirt.start(dir, &error)) << error;

    orvalinquist::peer::H4Link link;
    ASSERT_TRUE(link.open(std::string("unix:") + kBtvirtSocket, &error)) << error;
    ASSERT_TRUE(link.command(0x0c03, {}, nullptr, &error)) << error;
    // LE Encrypt takes key and plaintext least significant octet first.
    auto key = fromHex("000102030405060708090a0b0c0d0e0f");
    auto plain = fromHex("00112233445566778899aabbccddeeff");
    std::reverse(key.begin(), key.end());
    std::reverse(plain.begin(), plain.end());
    std::vector<uint8_t> params = key;
    params.insert(params.end(), plain.begin(), plain.end());
    std::vector<uint8_t> returned;
    ASSERT_TRUE(link.command(0x2017, params, &returned, &error)) << error;
    ASSERT_EQ(returned.size(), 17u);
    std::vector<uint8_t> cipher(returned.begin() + 1, returned.end());
    std::reverse(cipher.begin(), cipher.end());
    EXPECT_EQ(cipher, fromHex("69c4e0d86a7b0430d8cdb78070b4c55a"));
}

}  // namespace
}  // namespace e2e
