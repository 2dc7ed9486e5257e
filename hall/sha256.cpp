// SHA-256 as FIPS 180-4 defines it, and HMAC over it as RFC 2104 does.
#include "hall/sha256.h"

#include <cstring>

namespace {
const std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotate_right(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

struct SHA256_STATE {
    std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
};

void compress(SHA256_STATE &state, const std::uint8_t *block) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = rotate_right(w[i - 15], 7) ^ rotate_right(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = rotate_right(w[i - 2], 17) ^ rotate_right(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state.h[0], b = state.h[1], c = state.h[2], d = state.h[3];
    std::uint32_t e = state.h[4], f = state.h[5], g = state.h[6], h = state.h[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t s1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
        std::uint32_t choice = (e & f) ^ (~e & g);
        std::uint32_t t1 = h + s1 + choice + round_constants[i] + w[i];
        std::uint32_t s0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
        std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        std::uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state.h[0] += a;
    state.h[1] += b;
    state.h[2] += c;
    state.h[3] += d;
    state.h[4] += e;
    state.h[5] += f;
    state.h[6] += g;
    state.h[7] += h;
}

DIGEST sha256_of_parts(std::string_view first, std::string_view second) {
    SHA256_STATE state;
    std::uint8_t block[64];
    std::size_t filled = 0;
    std::uint64_t length = 0;
    auto feed = [&](std::string_view bytes) {
        for (char c : bytes) {
            block[filled++] = static_cast<std::uint8_t>(c);
            if (filled == 64) {
                compress(state, block);
                filled = 0;
            }
        }
        length += bytes.size();
    };
    feed(first);
    feed(second);
    // The padding: a one bit, zeros, and the length in bits, big-endian, ending a block.
    std::uint64_t bits = length * 8;
    block[filled++] = 0x80;
    if (filled > 56) {
        std::memset(block + filled, 0, 64 - filled);
        compress(state, block);
        filled = 0;
    }
    std::memset(block + filled, 0, 56 - filled);
    for (int i = 0; i < 8; ++i) block[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    compress(state, block);
    DIGEST digest;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(state.h[i] >> (24 - 8 * j));
    return digest;
}
}  // namespace

DIGEST sha256(std::string_view bytes) { return sha256_of_parts(bytes, {}); }

DIGEST hmac_sha256(std::string_view key, std::string_view message) {
    std::string block(64, '\0');
    if (key.size() > 64) {
        DIGEST short_key = sha256(key);
        std::memcpy(block.data(), short_key.data(), short_key.size());
    } else {
        std::memcpy(block.data(), key.data(), key.size());
    }
    std::string inner = block, outer = block;
    for (char &c : inner) c = static_cast<char>(c ^ 0x36);
    for (char &c : outer) c = static_cast<char>(c ^ 0x5c);
    DIGEST inner_sum = sha256_of_parts(inner, message);
    return sha256_of_parts(
        outer, std::string_view(reinterpret_cast<const char *>(inner_sum.data()), inner_sum.size()));
}

std::string hex(const std::uint8_t *bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
