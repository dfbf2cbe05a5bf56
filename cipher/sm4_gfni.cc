#include "cipher/sm4_gfni.h"

#include <immintrin.h>

#include <cstring>

#include "base/byte_order.h"

namespace Cipher {

namespace {

using Base::load_be32;
using Base::store_be32;

// S(x) = A2 inv(A1 x + C1) + C2 with the inverse in the field GFNI uses:
// A1 and C1 take SM4's affine input map and carry the result into that
// field; A2 brings the inverse back and applies the output map.
constexpr long long A1 = 0x4c287db91a22505dll;
constexpr int C1 = 0x3e;
constexpr long long A2 = static_cast<long long>(0xf3ab34a974a6b589ull);
constexpr int C2 = 0xd3;

__attribute__((target("avx2,gfni"))) inline __m256i sbox(__m256i x) {
    x = _mm256_gf2p8affine_epi64_epi8(x, _mm256_set1_epi64x(A1), C1);
    return _mm256_gf2p8affineinv_epi64_epi8(x, _mm256_set1_epi64x(A2), C2);
}

}  // namespace

__attribute__((target("avx2,gfni"))) bool Sm4Gfni::matches(const unsigned char* table) {
    alignas(32) unsigned char in[32], out[32];
    for (int base = 0; base < 256; base += 32) {
        for (int i = 0; i < 32; ++i) in[i] = static_cast<unsigned char>(base + i);
        const __m256i s = sbox(_mm256_load_si256(reinterpret_cast<const __m256i*>(in)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out), s);
        if (std::memcmp(out, table + base, 32) != 0) return false;
    }
    return true;
}

bool Sm4Gfni::supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("gfni");
}

namespace {

// G groups of 8 blocks; word k of group g lives in x[g][k], one block per
// 32-bit lane. The round loop is unrolled so every index is a constant and
// the state stays in registers; independent groups hide each other's
// latency.
template <int G>
__attribute__((target("avx2,gfni"), always_inline)) inline void run(unsigned char* out,
                                                                    const unsigned char* in,
                                                                    const uint32_t* rk) {
    alignas(32) uint32_t w[G][4][8];
    for (int g = 0; g < G; ++g)
        for (int b = 0; b < 8; ++b)
            for (int k = 0; k < 4; ++k) w[g][k][b] = load_be32(in + 128 * g + 16 * b + 4 * k);
    __m256i x[G][4];
    for (int g = 0; g < G; ++g)
        for (int k = 0; k < 4; ++k)
            x[g][k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(w[g][k]));
    // Byte rotations of each 32-bit lane (little-endian lanes).
    const __m256i rot8 = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3,
                                          0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
    const __m256i rot16 = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2,
                                           3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
    const __m256i rot24 = _mm256_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12, 1,
                                           2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12);
#pragma GCC unroll 32
    for (int i = 0; i < 32; ++i) {
        const int r = i & 3;
        const __m256i key = _mm256_set1_epi32(static_cast<int>(rk[i]));
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) {
            __m256i t = _mm256_xor_si256(_mm256_xor_si256(x[g][(r + 1) & 3], x[g][(r + 2) & 3]),
                                         _mm256_xor_si256(x[g][(r + 3) & 3], key));
            t = sbox(t);
            // L(t) = t ^ rotl(t, 24) ^ rotl(t ^ rotl(t, 8) ^ rotl(t, 16), 2).
            const __m256i u = _mm256_xor_si256(_mm256_xor_si256(t, _mm256_shuffle_epi8(t, rot8)),
                                               _mm256_shuffle_epi8(t, rot16));
            const __m256i u2 = _mm256_or_si256(_mm256_slli_epi32(u, 2), _mm256_srli_epi32(u, 30));
            x[g][r] = _mm256_xor_si256(
                x[g][r], _mm256_xor_si256(_mm256_xor_si256(t, _mm256_shuffle_epi8(t, rot24)), u2));
        }
    }
    for (int g = 0; g < G; ++g)
        for (int k = 0; k < 4; ++k)
            _mm256_store_si256(reinterpret_cast<__m256i*>(w[g][k]), x[g][k]);
    for (int g = 0; g < G; ++g)
        for (int b = 0; b < 8; ++b)
            for (int k = 0; k < 4; ++k) store_be32(out + 128 * g + 16 * b + 4 * k, w[g][3 - k][b]);
}

}  // namespace

__attribute__((target("avx2,gfni"))) void Sm4Gfni::process8(unsigned char* out,
                                                            const unsigned char* in,
                                                            const uint32_t* rk) {
    run<1>(out, in, rk);
}

__attribute__((target("avx2,gfni"))) void Sm4Gfni::process16(unsigned char* out,
                                                             const unsigned char* in,
                                                             const uint32_t* rk) {
    run<2>(out, in, rk);
}

}  // namespace Cipher
