#include "aes128.h"

namespace orvalinquist {
namespace alg {
namespace {

uint8_t xtime(uint8_t x) {
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

uint8_t gfMul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if (b & 1) product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

uint8_t rotl8(uint8_t x, int n) {
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

// The S-box is derived (multiplicative inverse plus the affine map) rather than typed in,
// so that a single mistyped constant cannot hide in it.
struct SBox {
    std::array<uint8_t, 256> table{};
    SBox() {
        for (int x = 0; x < 256; ++x) {
            uint8_t inverse = 0;
            if (x != 0) {
                // x^254 is the inverse in GF(2^8).
                uint8_t power = static_cast<uint8_t>(x);
                inverse = 1;
                for (int bit = 0; bit < 8; ++bit) {
                    if ((254 >> bit) & 1) inverse = gfMul(inverse, power);
                    power = gfMul(power, power);
                }
            }
            table[x] = inverse ^ rotl8(inverse, 1) ^ rotl8(inverse, 2) ^ rotl8(inverse, 3) ^
                       rotl8(inverse, 4) ^ 0x63;
        }
    }
};

const SBox& sbox() {
    static const SBox box;
    return box;
}

}  // namespace

Aes128::Aes128(const AesBlock& key) {
    const auto& s = sbox().table;
    for (size_t i = 0; i < 16; ++i) roundKeys_[i] = key[i];
    uint8_t rcon = 1;
    for (size_t i = 16; i < roundKeys_.size(); i += 4) {
        uint8_t t[4] = {roundKeys_[i - 4], roundKeys_[i - 3], roundKeys_[i - 2], roundKeys_[i - 1]};
        if (i % 16 == 0) {
            const uint8_t first = t[0];
            t[0] = static_cast<uint8_t>(s[t[1]] ^ rcon);
            t[1] = s[t[2]];
            t[2] = s[t[3]];
            t[3] = s[first];
            rcon = xtime(rcon);
        }
        for (size_t j = 0; j < 4; ++j) roundKeys_[i + j] = roundKeys_[i + j - 16] ^ t[j];
    }
}

AesBlock Aes128::encrypt(const AesBlock& in) const {
    const auto& s = sbox().table;
    AesBlock state = in;
    for (size_t i = 0; i < 16; ++i) state[i] ^= roundKeys_[i];
    for (int round = 1; round <= 10; ++round) {
        AesBlock shifted;
        // SubBytes and ShiftRows together; the state is column-major.
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 4; ++r) shifted[4 * c + r] = s[state[4 * ((c + r) % 4) + r]];
        }
        if (round != 10) {
            for (int c = 0; c < 4; ++c) {
                uint8_t* col = &shifted[4 * c];
                const uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
                col[0] = static_cast<uint8_t>(xtime(a0) ^ xtime(a1) ^ a1 ^ a2 ^ a3);
                col[1] = static_cast<uint8_t>(a0 ^ xtime(a1) ^ xtime(a2) ^ a2 ^ a3);
                col[2] = static_cast<uint8_t>(a0 ^ a1 ^ xtime(a2) ^ xtime(a3) ^ a3);
                col[3] = static_cast<uint8_t>(xtime(a0) ^ a0 ^ a1 ^ a2 ^ xtime(a3));
            }
        }
        for (size_t i = 0; i < 16; ++i) state[i] = shifted[i] ^ roundKeys_[16 * round + i];
    }
    return state;
}

namespace {

AesBlock doubleSubkey(const AesBlock& in) {
    AesBlock out;
    for (size_t i = 0; i < 16; ++i) {
        const uint8_t carry = (i + 1 < 16) ? (in[i + 1] >> 7) : 0;
        out[i] = static_cast<uint8_t>((in[i] << 1) | carry);
    }
    if (in[0] & 0x80) out[15] ^= 0x87;
    return out;
}

}  // namespace

AesBlock aesCmac(const AesBlock& key, const uint8_t* data, size_t len) {
    const Aes128 aes(key);
    const AesBlock k1 = doubleSubkey(aes.encrypt(AesBlock{}));
    const AesBlock k2 = doubleSubkey(k1);

    const size_t blocks = (len == 0) ? 1 : (len + 15) / 16;
    const bool lastComplete = len != 0 && len % 16 == 0;
    AesBlock x{};
    for (size_t b = 0; b < blocks; ++b) {
        AesBlock block{};
        const size_t start = b * 16;
        const size_t take = (len - start < 16) ? len - start : 16;
        for (size_t i = 0; i < take; ++i) block[i] = data[start + i];
        if (b + 1 == blocks) {
            if (!lastComplete) block[take] = 0x80;
            const AesBlock& subkey = lastComplete ? k1 : k2;
            for (size_t i = 0; i < 16; ++i) block[i] ^= subkey[i];
        }
        for (size_t i = 0; i < 16; ++i) x[i] ^= block[i];
        x = aes.encrypt(x);
    }
    return x;
}

}  // namespace alg
}  // namespace orvalinquist
