#include "cipher/aes_ni.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>

#define XELMD_AES_TARGET __attribute__((target("aes,sse4.1,ssse3")))

namespace Cipher {
namespace AesNi {

namespace {

// Blocks kept in flight: the instruction has several cycles of latency but a
// throughput of one per cycle, so independent blocks hide the latency.
const int LANES = 8;

XELMD_AES_TARGET inline void load_keys(__m128i* k, const unsigned char* keys, int rounds) {
    for (int i = 0; i <= rounds; ++i)
        k[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(keys + 16 * i));
}

XELMD_AES_TARGET inline __m128i enc1(const __m128i* k, int rounds, __m128i b) {
    b = _mm_xor_si128(b, k[0]);
    for (int r = 1; r < rounds; ++r) b = _mm_aesenc_si128(b, k[r]);
    return _mm_aesenclast_si128(b, k[rounds]);
}

XELMD_AES_TARGET inline __m128i dec1(const __m128i* k, int rounds, __m128i b) {
    b = _mm_xor_si128(b, k[0]);
    for (int r = 1; r < rounds; ++r) b = _mm_aesdec_si128(b, k[r]);
    return _mm_aesdeclast_si128(b, k[rounds]);
}

template <int ROUNDS>
XELMD_AES_TARGET inline void enc8_rounds(const __m128i* k, __m128i* b) {
#pragma GCC unroll 8
    for (int j = 0; j < LANES; ++j) b[j] = _mm_xor_si128(b[j], k[0]);
#pragma GCC unroll 14
    for (int r = 1; r < ROUNDS; ++r) {
#pragma GCC unroll 8
        for (int j = 0; j < LANES; ++j) b[j] = _mm_aesenc_si128(b[j], k[r]);
    }
#pragma GCC unroll 8
    for (int j = 0; j < LANES; ++j) b[j] = _mm_aesenclast_si128(b[j], k[ROUNDS]);
}

XELMD_AES_TARGET inline void enc8(const __m128i* k, int rounds, __m128i* b) {
    if (rounds == 10)
        enc8_rounds<10>(k, b);
    else if (rounds == 12)
        enc8_rounds<12>(k, b);
    else
        enc8_rounds<14>(k, b);
}

XELMD_AES_TARGET inline void dec8(const __m128i* k, int rounds, __m128i* b) {
    for (int j = 0; j < LANES; ++j) b[j] = _mm_xor_si128(b[j], k[0]);
    for (int r = 1; r < rounds; ++r)
        for (int j = 0; j < LANES; ++j) b[j] = _mm_aesdec_si128(b[j], k[r]);
    for (int j = 0; j < LANES; ++j) b[j] = _mm_aesdeclast_si128(b[j], k[rounds]);
}

inline __m128i loadu(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void storeu(unsigned char* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The counter as two host-order halves of the big-endian 128-bit value.
struct Counter {
    uint64_t hi;
    uint64_t lo;
    __m128i take() {
        __m128i v = _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(lo)),
                                   static_cast<long long>(__builtin_bswap64(hi)));
        if (++lo == 0) ++hi;
        return v;
    }
};

}  // namespace

static bool detect() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & (1u << 25)) != 0 && (c & (1u << 19)) != 0 && (c & (1u << 9)) != 0;
}

bool available() {
    // AES-NI, SSE4.1 and SSSE3 bits of cpuid leaf 1.
    static const bool has = detect();
    return has;
}

XELMD_AES_TARGET void encrypt_blocks(const unsigned char* keys, int rounds, unsigned char* out,
                                     const unsigned char* in, int n) {
    __m128i k[15];
    load_keys(k, keys, rounds);
    int i = 0;
    for (; i + LANES <= n; i += LANES) {
        __m128i b[LANES];
        for (int j = 0; j < LANES; ++j) b[j] = loadu(in + 16 * (i + j));
        enc8(k, rounds, b);
        for (int j = 0; j < LANES; ++j) storeu(out + 16 * (i + j), b[j]);
    }
    for (; i < n; ++i) storeu(out + 16 * i, enc1(k, rounds, loadu(in + 16 * i)));
}

XELMD_AES_TARGET void decrypt_blocks(const unsigned char* keys, int rounds, unsigned char* out,
                                     const unsigned char* in, int n) {
    __m128i k[15];
    load_keys(k, keys, rounds);
    int i = 0;
    for (; i + LANES <= n; i += LANES) {
        __m128i b[LANES];
        for (int j = 0; j < LANES; ++j) b[j] = loadu(in + 16 * (i + j));
        dec8(k, rounds, b);
        for (int j = 0; j < LANES; ++j) storeu(out + 16 * (i + j), b[j]);
    }
    for (; i < n; ++i) storeu(out + 16 * i, dec1(k, rounds, loadu(in + 16 * i)));
}

XELMD_AES_TARGET void ctr(const unsigned char* keys, int rounds, unsigned char* out,
                          const unsigned char* in, int len, const unsigned char* counter) {
    __m128i k[15];
    load_keys(k, keys, rounds);
    Counter c;
    std::memcpy(&c.hi, counter, 8);
    std::memcpy(&c.lo, counter + 8, 8);
    c.hi = __builtin_bswap64(c.hi);
    c.lo = __builtin_bswap64(c.lo);
    // The counter as a little-endian 128-bit value in a register; reversing
    // its 16 bytes gives the big-endian counter block. Eight consecutive
    // blocks come from 64-bit lane additions whenever the low half cannot
    // carry within them (all but one batch in 2^61).
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    int done = 0;
    for (; done + 16 * LANES <= len; done += 16 * LANES) {
        __m128i b[LANES];
        if (c.lo <= ~uint64_t(0) - LANES) {
            const __m128i base =
                _mm_set_epi64x(static_cast<long long>(c.hi), static_cast<long long>(c.lo));
#pragma GCC unroll 8
            for (int j = 0; j < LANES; ++j)
                b[j] = _mm_shuffle_epi8(_mm_add_epi64(base, _mm_set_epi64x(0, j)), reverse);
            c.lo += LANES;
        } else {
            for (int j = 0; j < LANES; ++j) b[j] = c.take();
        }
        enc8(k, rounds, b);
#pragma GCC unroll 8
        for (int j = 0; j < LANES; ++j)
            storeu(out + done + 16 * j, _mm_xor_si128(b[j], loadu(in + done + 16 * j)));
    }
    for (; done + 16 <= len; done += 16)
        storeu(out + done, _mm_xor_si128(enc1(k, rounds, c.take()), loadu(in + done)));
    if (done < len) {
        unsigned char stream[16];
        storeu(stream, enc1(k, rounds, c.take()));
        for (int i = 0; done + i < len; ++i) out[done + i] = in[done + i] ^ stream[i];
    }
}

}  // namespace AesNi
}  // namespace Cipher
