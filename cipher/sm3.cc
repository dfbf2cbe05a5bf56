#include "cipher/sm3.h"

#include <cstring>

#include "base/byte_order.h"
#include "cipher/block_buffer.h"

namespace Cipher {

namespace {

using Base::load_be32;
using Base::store_be32;

constexpr uint32_t INITIAL_VALUE[8] = {0x7380166f, 0x4914b2b9, 0x172442d7, 0xda8a0600,
                                       0xa96f30bc, 0x163138aa, 0xe38dee4d, 0xb0fb0e4e};

inline uint32_t rotl(uint32_t x, int n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}
inline uint32_t p0(uint32_t x) {
    return x ^ rotl(x, 9) ^ rotl(x, 17);
}
inline uint32_t p1(uint32_t x) {
    return x ^ rotl(x, 15) ^ rotl(x, 23);
}

// The round constant rotated by the round number, precomputed.
struct RoundConstants {
    uint32_t t[64];
    constexpr RoundConstants() : t() {
        for (int j = 0; j < 64; ++j) {
            const uint32_t base = j < 16 ? 0x79cc4519u : 0x7a879d8au;
            const int n = j % 32;
            t[j] = n == 0 ? base : (base << n) | (base >> (32 - n));
        }
    }
};
constexpr RoundConstants ROUND_T;

}  // namespace

Sm3::~Sm3() {
    // The buffer and work areas held message data.
    std::memset(buffer_, 0, sizeof buffer_);
    __asm__ __volatile__("" : : "r"(this) : "memory");
}

void Sm3::reset() {
    std::memcpy(state_, INITIAL_VALUE, sizeof state_);
    bit_count_ = 0;
    fill_ = 0;
    std::memset(digest, 0, sizeof digest);
}

// One round on named registers; the caller rotates the names instead of
// moving values: after it, (D, A, B, C, H, E, F, G) is the new (A .. H).
#define XELMD_SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)                        \
    do {                                                                          \
        /* Sums grouped so the values of the previous round come in last. */      \
        const uint32_t a12 = rotl(A, 12);                                         \
        const uint32_t ss1 = rotl(a12 + (E + ROUND_T.t[j]), 7);                   \
        const uint32_t tt1 = (FF(A, B, C) + D + (w[j] ^ w[j + 4])) + (ss1 ^ a12); \
        const uint32_t tt2 = (GG(E, F, G) + H + w[j]) + ss1;                      \
        B = rotl(B, 9);                                                           \
        F = rotl(F, 19);                                                          \
        D = tt1;                                                                  \
        H = p0(tt2);                                                              \
    } while (0)

#define XELMD_SM3_FF0(x, y, z) ((x) ^ (y) ^ (z))
#define XELMD_SM3_FF1(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
#define XELMD_SM3_GG1(x, y, z) ((((y) ^ (z)) & (x)) ^ (z))

#define XELMD_SM3_FOUR(j, FF, GG)                               \
    do {                                                        \
        XELMD_SM3_ROUND(a, b, c, d, e, f, g, h, j, FF, GG);     \
        XELMD_SM3_ROUND(d, a, b, c, h, e, f, g, j + 1, FF, GG); \
        XELMD_SM3_ROUND(c, d, a, b, g, h, e, f, j + 2, FF, GG); \
        XELMD_SM3_ROUND(b, c, d, a, f, g, h, e, j + 3, FF, GG); \
    } while (0)

// Message words are expanded four at a time just before the rounds that
// first need them, so the expansion overlaps the rounds' dependency chain.
#define XELMD_SM3_EXPAND4(j)        \
    for (int x = j; x < j + 4; ++x) \
    w[x] = p1(w[x - 16] ^ w[x - 9] ^ rotl(w[x - 3], 15)) ^ rotl(w[x - 13], 7) ^ w[x - 6]

// Scalar on purpose: vectorised, the three-word recurrence makes each load
// wait on a store just made.
#if defined(__GNUC__) && !defined(__clang__)
#define XELMD_SM3_SCALAR __attribute__((optimize("no-tree-vectorize")))
#else
#define XELMD_SM3_SCALAR
#endif
XELMD_SM3_SCALAR void Sm3::compress(const unsigned char* block) {
    uint32_t w[68];
    for (int j = 0; j < 16; ++j) w[j] = load_be32(block + 4 * j);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    XELMD_SM3_FOUR(0, XELMD_SM3_FF0, XELMD_SM3_FF0);
    XELMD_SM3_FOUR(4, XELMD_SM3_FF0, XELMD_SM3_FF0);
    XELMD_SM3_FOUR(8, XELMD_SM3_FF0, XELMD_SM3_FF0);
    XELMD_SM3_EXPAND4(16);
    XELMD_SM3_FOUR(12, XELMD_SM3_FF0, XELMD_SM3_FF0);
#pragma GCC unroll 12
    for (int j = 16; j < 64; j += 4) {
        XELMD_SM3_EXPAND4(j + 4);
        XELMD_SM3_FOUR(j, XELMD_SM3_FF1, XELMD_SM3_GG1);
    }
    state_[0] ^= a;
    state_[1] ^= b;
    state_[2] ^= c;
    state_[3] ^= d;
    state_[4] ^= e;
    state_[5] ^= f;
    state_[6] ^= g;
    state_[7] ^= h;
}

#undef XELMD_SM3_SCALAR
#undef XELMD_SM3_EXPAND4
#undef XELMD_SM3_FOUR
#undef XELMD_SM3_GG1
#undef XELMD_SM3_FF1
#undef XELMD_SM3_FF0
#undef XELMD_SM3_ROUND

void Sm3::update(const void* data, int length) {
    if (length <= 0 || data == nullptr) return;
    bit_count_ += static_cast<uint64_t>(length) * 8;
    absorb_blocks(buffer_, fill_, static_cast<const unsigned char*>(data), length,
                  [this](const unsigned char* blocks, int count) {
                      for (int i = 0; i < count; ++i) compress(blocks + i * BLOCK_SIZE);
                  });
}

void Sm3::final() {
    const uint64_t bits = bit_count_;
    buffer_[fill_++] = 0x80;
    if (fill_ > BLOCK_SIZE - 8) {
        std::memset(buffer_ + fill_, 0, BLOCK_SIZE - fill_);
        compress(buffer_);
        fill_ = 0;
    }
    std::memset(buffer_ + fill_, 0, BLOCK_SIZE - 8 - fill_);
    store_be32(buffer_ + 56, static_cast<uint32_t>(bits >> 32));
    store_be32(buffer_ + 60, static_cast<uint32_t>(bits));
    compress(buffer_);
    fill_ = 0;
    for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, state_[i]);
}

}  // namespace Cipher
