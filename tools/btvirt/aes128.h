// AES-128 block encryption and AES-CMAC in plain software, for hosts whose kernel offers
// no AF_ALG crypto sockets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvalinquist {
namespace alg {

using AesBlock = std::array<uint8_t, 16>;

class Aes128 {
  public:
    explicit Aes128(const AesBlock& key);

    // FIPS-197 forward cipher on one 16-byte block, bytes in the standard's order.
    AesBlock encrypt(const AesBlock& in) const;

  private:
    std::array<uint8_t, 176> roundKeys_;
};

// RFC 4493 AES-CMAC of `len` bytes at `data`.
AesBlock aesCmac(const AesBlock& key, const uint8_t* data, size_t len);

}  // namespace alg
}  // namespace orvalinquist
