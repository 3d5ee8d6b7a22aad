// btvirt needs AES for its controllers: from the kernel's AF_ALG sockets where they exist,
// else from our preloaded shim. Both must give the standard's answers.
#include <algorithm>
#include <string>
#include <vector>

#include "aes128.h"
#include "btvirt_fixture.h"
#include "h4_link.h"

namespace e2e {
namespace {

using orvalinquist::alg::AesBlock;

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

TEST(SoftwareAes, MatchesFips197AndRfc4493) {
    EXPECT_EQ(orvalinquist::alg::Aes128(block("000102030405060708090a0b0c0d0e0f"))
                  .encrypt(block("00112233445566778899aabbccddeeff")),
              block("69c4e0d86a7b0430d8cdb78070b4c55a"));
    const auto message = fromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const struct {
        size_t len;
        const char* mac;
    } kCmacCases[] = {{0, "bb1d6929e95937287fa37d129b756746"},
                      {16, "070a16b46b4d4144f79bdd9dd04a287c"},
                      {40, "dfa66747de9ae63030ca32611497c827"},
                      {64, "51f0bebf7e3b9d92fc49741779363cfe"}};
    for (const auto& c : kCmacCases) {
        EXPECT_EQ(orvalinquist::alg::aesCmac(block("2b7e151628aed2a6abf7158809cf4f3c"),
                                             message.data(), c.len),
                  block(c.mac))
            << c.len;
    }
}

using BtvirtCrypto = BtvirtTest;

TEST_F(BtvirtCrypto, LeEncryptGivesTheStandardCiphertext) {
    orvalinquist::peer::H4Link link;
    std::string error;
    ASSERT_TRUE(link.open(std::string("unix:") + kBtvirtSocket, &error)) << error;
    ASSERT_TRUE(link.command(0x0c03, {}, nullptr, &error)) << error;
    // The FIPS-197 vector: LE Encrypt takes key and plaintext least significant octet first,
    // and returns the ciphertext that way after the status.
    auto params = fromHex("0f0e0d0c0b0a09080706050403020100ffeeddccbbaa99887766554433221100");
    std::vector<uint8_t> returned;
    ASSERT_TRUE(link.command(0x2017, params, &returned, &error)) << error;
    EXPECT_EQ(returned, fromHex("005ac5b47080b7cdd830047b6ad8e0c469"));
}

}  // namespace
}  // namespace e2e
