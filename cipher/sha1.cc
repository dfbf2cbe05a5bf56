#include "cipher/sha1.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

#include "cipher/block_buffer.h"

namespace Cipher {

namespace {

inline uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

inline uint32_t load_be(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

void compress_portable(uint32_t* state, const unsigned char* blocks, int count) {
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t) w[t] = load_be(blocks + 4 * t);
        for (int t = 16; t < 80; ++t) w[t] = rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        auto step = [&](uint32_t f, uint32_t k, uint32_t wt) {
            const uint32_t t = rotl(a, 5) + f + e + k + wt;
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        };
        for (int t = 0; t < 20; ++t) step(d ^ (b & (c ^ d)), 0x5a827999, w[t]);
        for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ed9eba1, w[t]);
        for (int t = 40; t < 60; ++t) step((b & c) | (d & (b | c)), 0x8f1bbcdc, w[t]);
        for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xca62c1d6, w[t]);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

#define XELMD_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds per instruction. Message group g (words 4g..4g+3) for g >= 4 is
// derived from groups g-4 .. g-1; `prev` is the state before the previous
// group, from which sha1nexte derives the fifth working variable.
#define SHA1_GROUP(g, f)                                                                           \
    do {                                                                                           \
        if ((g) >= 4)                                                                              \
            m[(g) % 4] = _mm_sha1msg2_epu32(                                                       \
                _mm_xor_si128(_mm_sha1msg1_epu32(m[(g) % 4], m[((g) + 1) % 4]), m[((g) + 2) % 4]), \
                m[((g) + 3) % 4]);                                                                 \
        const __m128i ein = _mm_sha1nexte_epu32(prev, m[(g) % 4]);                                 \
        prev = abcd;                                                                               \
        abcd = _mm_sha1rnds4_epu32(abcd, ein, f);                                                  \
    } while (0)

XELMD_SHA_TARGET void compress_ni(uint32_t* state, const unsigned char* blocks, int count) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abcd0 = abcd, e0 = e;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), reverse);
        __m128i prev = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e, m[0]), 0);
        SHA1_GROUP(1, 0);
        SHA1_GROUP(2, 0);
        SHA1_GROUP(3, 0);
        SHA1_GROUP(4, 0);
        SHA1_GROUP(5, 1);
        SHA1_GROUP(6, 1);
        SHA1_GROUP(7, 1);
        SHA1_GROUP(8, 1);
        SHA1_GROUP(9, 1);
        SHA1_GROUP(10, 2);
        SHA1_GROUP(11, 2);
        SHA1_GROUP(12, 2);
        SHA1_GROUP(13, 2);
        SHA1_GROUP(14, 2);
        SHA1_GROUP(15, 3);
        SHA1_GROUP(16, 3);
        SHA1_GROUP(17, 3);
        SHA1_GROUP(18, 3);
        SHA1_GROUP(19, 3);
        e = _mm_sha1nexte_epu32(prev, e0);
        abcd = _mm_add_epi32(abcd, abcd0);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

#undef SHA1_GROUP

bool detect_sha() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29)) != 0;
}

bool sha_instructions() {
    static const bool has = detect_sha();
    return has;
}

}  // namespace

Sha1::Sha1() : hw_(sha_instructions()) {
    reset();
}

Sha1::~Sha1() {
    explicit_bzero(buffer_, sizeof buffer_);
}

bool Sha1::hardware_available() {
    return sha_instructions();
}

bool Sha1::use_hardware(bool on) {
    hw_ = on && sha_instructions();
    return hw_;
}

void Sha1::reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    state_[4] = 0xc3d2e1f0;
    bit_count_ = 0;
    fill_ = 0;
    std::memset(digest, 0, sizeof digest);
}

void Sha1::compress(const unsigned char* blocks, int count) {
    if (hw_)
        compress_ni(state_, blocks, count);
    else
        compress_portable(state_, blocks, count);
}

void Sha1::update(const void* data, int length) {
    if (length <= 0) return;
    bit_count_ += uint64_t(length) * 8;
    absorb_blocks(buffer_, fill_, static_cast<const unsigned char*>(data), length,
                  [this](const unsigned char* blocks, int count) { compress(blocks, count); });
}

void Sha1::final() {
    const uint64_t bits = bit_count_;
    unsigned char tail[2 * BLOCK_SIZE] = {0x80};
    const int pad = (fill_ < 56 ? 56 : 120) - fill_;
    for (int i = 0; i < 8; ++i) tail[pad + 7 - i] = static_cast<unsigned char>(bits >> (8 * i));
    update(tail, pad + 8);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (24 - 8 * j));
}

}  // namespace Cipher
