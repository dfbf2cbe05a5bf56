#include "cipher/md5.h"

#include <cstring>

#include "cipher/block_buffer.h"

namespace Cipher {

namespace {

inline uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// The four auxiliary functions, in forms with one operation fewer than the
// textbook ones.
inline uint32_t F(uint32_t b, uint32_t c, uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline uint32_t G(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (d & (b ^ c));
}
inline uint32_t H(uint32_t b, uint32_t c, uint32_t d) {
    return b ^ c ^ d;
}
inline uint32_t I(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (b | ~d);
}

#define STEP(f, a, b, c, d, xk, s, t) a = b + rotl(a + f(b, c, d) + xk + t, s)

}  // namespace

Md5::~Md5() {
    explicit_bzero(buffer_, sizeof buffer_);
}

void Md5::reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    bit_count_ = 0;
    fill_ = 0;
    std::memset(digest, 0, sizeof digest);
}

void Md5::compress(const unsigned char* blocks, int count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, blocks += BLOCK_SIZE) {
        uint32_t x[16];
        std::memcpy(x, blocks, sizeof x);  // little-endian words on this platform
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
        STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
        STEP(F, c, d, a, b, x[2], 17, 0x242070db);
        STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
        STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
        STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
        STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
        STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
        STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
        STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
        STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
        STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
        STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
        STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
        STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
        STEP(F, b, c, d, a, x[15], 22, 0x49b40821);
        STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
        STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
        STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
        STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
        STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
        STEP(G, d, a, b, c, x[10], 9, 0x02441453);
        STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
        STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
        STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
        STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
        STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
        STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
        STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
        STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
        STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
        STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);
        STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
        STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
        STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
        STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
        STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
        STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
        STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
        STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
        STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
        STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
        STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
        STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
        STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
        STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
        STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);
        STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
        STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
        STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
        STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
        STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
        STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
        STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
        STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
        STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
        STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
        STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
        STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
        STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
        STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

#undef STEP

void Md5::update(const void* data, int length) {
    if (length <= 0) return;
    bit_count_ += uint64_t(length) * 8;
    absorb_blocks(buffer_, fill_, static_cast<const unsigned char*>(data), length,
                  [this](const unsigned char* blocks, int count) { compress(blocks, count); });
}

void Md5::final() {
    const uint64_t bits = bit_count_;
    unsigned char tail[2 * BLOCK_SIZE] = {0x80};
    const int pad = (fill_ < 56 ? 56 : 120) - fill_;
    for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<unsigned char>(bits >> (8 * i));
    update(tail, pad + 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
}

}  // namespace Cipher
