#include "cipher/sm3.h"

#include <cstring>

namespace Cipher {

namespace {

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
inline uint32_t load_be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline void store_be32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
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
    std::memset(w_, 0, sizeof w_);
    std::memset(w1_, 0, sizeof w1_);
    __asm__ __volatile__("" : : "r"(this) : "memory");
}

void Sm3::reset() {
    std::memcpy(state_, INITIAL_VALUE, sizeof state_);
    bit_count_ = 0;
    fill_ = 0;
    std::memset(digest, 0, sizeof digest);
}

void Sm3::compress(const unsigned char* block) {
    uint32_t* w = w_;
    uint32_t* w1 = w1_;
    for (int j = 0; j < 16; ++j) w[j] = load_be32(block + 4 * j);
    for (int j = 16; j < 68; ++j)
        w[j] = p1(w[j - 16] ^ w[j - 9] ^ rotl(w[j - 3], 15)) ^ rotl(w[j - 13], 7) ^ w[j - 6];
    for (int j = 0; j < 64; ++j) w1[j] = w[j] ^ w[j + 4];

    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int j = 0; j < 16; ++j) {
        const uint32_t a12 = rotl(a, 12);
        const uint32_t ss1 = rotl(a12 + e + ROUND_T.t[j], 7);
        const uint32_t ss2 = ss1 ^ a12;
        const uint32_t tt1 = (a ^ b ^ c) + d + ss2 + w1[j];
        const uint32_t tt2 = (e ^ f ^ g) + h + ss1 + w[j];
        d = c;
        c = rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = rotl(f, 19);
        f = e;
        e = p0(tt2);
    }
    for (int j = 16; j < 64; ++j) {
        const uint32_t a12 = rotl(a, 12);
        const uint32_t ss1 = rotl(a12 + e + ROUND_T.t[j], 7);
        const uint32_t ss2 = ss1 ^ a12;
        const uint32_t tt1 = ((a & b) | (a & c) | (b & c)) + d + ss2 + w1[j];
        const uint32_t tt2 = ((e & f) | (~e & g)) + h + ss1 + w[j];
        d = c;
        c = rotl(b, 9);
        b = a;
        a = tt1;
        h = g;
        g = rotl(f, 19);
        f = e;
        e = p0(tt2);
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

void Sm3::update(const void* data, int length) {
    if (length <= 0 || data == nullptr) return;
    const unsigned char* in = static_cast<const unsigned char*>(data);
    bit_count_ += static_cast<uint64_t>(length) * 8;
    if (fill_ > 0) {
        const int take = length < BLOCK_SIZE - fill_ ? length : BLOCK_SIZE - fill_;
        std::memcpy(buffer_ + fill_, in, take);
        fill_ += take;
        in += take;
        length -= take;
        if (fill_ < BLOCK_SIZE) return;
        compress(buffer_);
        fill_ = 0;
    }
    while (length >= BLOCK_SIZE) {
        compress(in);
        in += BLOCK_SIZE;
        length -= BLOCK_SIZE;
    }
    if (length > 0) {
        std::memcpy(buffer_, in, length);
        fill_ = length;
    }
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
