// g++ 12 reports the deliberately undefined pass-through operands inside the
// 512-bit intrinsics' own inline bodies as uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "cipher/sm4_avx512.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>
#include <type_traits>

#include "base/byte_order.h"

#define SM4_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,gfni")))
#define SM4_AVX512_INLINE __attribute__((target("avx512f,avx512bw,avx512vl,gfni"), always_inline))

namespace Cipher {

namespace {

// S(x) = A2 inv(A1 x + C1) + C2 with the inverse in the field GFNI uses (the
// same maps as the 256-bit path).
constexpr long long A1 = 0x4c287db91a22505dll;
constexpr int C1 = 0x3e;
constexpr long long A2 = static_cast<long long>(0xf3ab34a974a6b589ull);
constexpr int C2 = 0xd3;

constexpr int XOR3 = 0x96;  // ternary-logic truth table of a ^ b ^ c

constexpr size_t SET_BLOCKS = 16;
constexpr size_t SET_BYTES = SET_BLOCKS * 16;
constexpr int MAX_SETS = 4;

SM4_AVX512_INLINE inline __m512i sbox(__m512i x) {
    x = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(A1), C1);
    return _mm512_gf2p8affineinv_epi64_epi8(x, _mm512_set1_epi64(A2), C2);
}

// Reverses the bytes of every 32-bit lane: block bytes are big-endian words.
SM4_AVX512_INLINE inline __m512i bswap32(__m512i x) {
    // Byte indexes 3, 2, 1, 0, 7, 6, ... in every 128-bit lane.
    constexpr long long LO = 0x0405060700010203ll, HI = 0x0c0d0e0f08090a0bll;
    const __m512i order = _mm512_set_epi64(HI, LO, HI, LO, HI, LO, HI, LO);
    return _mm512_shuffle_epi8(x, order);
}

// 4x4 transpose of 32-bit words inside each 128-bit lane: word k of a, b, c,
// d goes to register k. Its own inverse. Block 4m + l of a set (register m,
// lane l) thus sits in 32-bit lane 4l + m of every word register.
SM4_AVX512_INLINE inline void transpose(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
    const __m512i t0 = _mm512_unpacklo_epi32(a, b);
    const __m512i t1 = _mm512_unpackhi_epi32(a, b);
    const __m512i t2 = _mm512_unpacklo_epi32(c, d);
    const __m512i t3 = _mm512_unpackhi_epi32(c, d);
    a = _mm512_unpacklo_epi64(t0, t2);
    b = _mm512_unpackhi_epi64(t0, t2);
    c = _mm512_unpacklo_epi64(t1, t3);
    d = _mm512_unpackhi_epi64(t1, t3);
}

// GF(2) 8x8 matrices in the form the affine instructions take: output bit
// i of a byte is the parity of (byte 7 - i of the matrix) & input.
struct BitMatrix {
    unsigned char row[8];

    static constexpr BitMatrix of(unsigned long long q) {
        BitMatrix m{};
        for (int i = 0; i < 8; ++i) m.row[i] = static_cast<unsigned char>(q >> (8 * (7 - i)));
        return m;
    }
    // Output bit i from input bit i + shift (shift may be negative).
    static constexpr BitMatrix shift(int by) {
        BitMatrix m{};
        for (int i = 0; i < 8; ++i)
            if (i + by >= 0 && i + by < 8) m.row[i] = static_cast<unsigned char>(1u << (i + by));
        return m;
    }
    constexpr long long code() const {
        unsigned long long q = 0;
        for (int i = 0; i < 8; ++i) q |= static_cast<unsigned long long>(row[i]) << (8 * (7 - i));
        return static_cast<long long>(q);
    }
    constexpr int apply(int x) const {
        int y = 0;
        for (int i = 0; i < 8; ++i) y |= __builtin_parity(row[i] & x) << i;
        return y;
    }
    // This map after n: x -> this(n(x)).
    constexpr BitMatrix after(const BitMatrix& n) const {
        BitMatrix m{};
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 8; ++j)
                if (row[i] >> j & 1) m.row[i] ^= n.row[j];
        return m;
    }
    constexpr BitMatrix plus(const BitMatrix& n) const {
        BitMatrix m{};
        for (int i = 0; i < 8; ++i) m.row[i] = row[i] ^ n.row[i];
        return m;
    }
    // The inverse map (the matrix must be invertible): column j is the input
    // that maps to bit j.
    constexpr BitMatrix inverse() const {
        BitMatrix m{};
        for (int j = 0; j < 8; ++j)
            for (int x = 0; x < 256; ++x)
                if (apply(x) == 1 << j)
                    for (int i = 0; i < 8; ++i)
                        m.row[i] |= static_cast<unsigned char>((x >> i & 1) << j);
        return m;
    }
};

// The rounds keep every state word w as A1 w (A1's linear part applied to
// each byte), so the S-box input A1 t + C1 is a plain XOR of state words and
// the round key's image, and the chain from round to round skips the first
// affine instruction. L splits into byte-wise maps and byte rotations:
// rotl(s, 2) = P s ^ rotl(Q s, 8) with P, Q the byte shifts left 2 and right
// 6, so L(s) = M0 s ^ rotl(M1 s, 8) ^ rotl(M1 s, 16) ^ rotl(M3 s, 24) with
// M0 = I ^ P, M1 = P ^ Q, M3 = I ^ Q. A1 M s = (A1 M A2) inv(u) + A1 M C2,
// one inverse-affine instruction per M.
struct RoundMaps {
    long long to_state, from_state, g0, g1, g3;
    int c0, c1, c3;

    constexpr RoundMaps() : to_state(), from_state(), g0(), g1(), g3(), c0(), c1(), c3() {
        const BitMatrix a1 = BitMatrix::of(A1), a2 = BitMatrix::of(A2), id = BitMatrix::shift(0);
        const BitMatrix p = BitMatrix::shift(-2), q = BitMatrix::shift(6);
        const BitMatrix m0 = id.plus(p), m1 = p.plus(q), m3 = id.plus(q);
        to_state = a1.code();
        from_state = a1.inverse().code();
        g0 = a1.after(m0).after(a2).code();
        g1 = a1.after(m1).after(a2).code();
        g3 = a1.after(m3).after(a2).code();
        c0 = a1.after(m0).apply(C2);
        c1 = a1.after(m1).apply(C2);
        c3 = a1.after(m3).apply(C2);
    }
};
constexpr RoundMaps MAPS;

SM4_AVX512_INLINE inline __m512i affine(__m512i x, long long m) {
    return _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(m), 0);
}

// The image A1 k + C1 of a round key, in every lane.
SM4_AVX512_INLINE inline __m512i key_image(uint32_t k) {
    return _mm512_gf2p8affine_epi64_epi8(_mm512_set1_epi32(static_cast<int>(k)),
                                         _mm512_set1_epi64(A1), C1);
}

// One round on every set: y[r] ^= A1 L(S(t)), t = x[r+1] ^ x[r+2] ^ x[r+3]
// ^ key, where u = A1 t + C1 is the round's S-box input, kept per set. The
// new word is taken as a ^ b, and the next round's input from a and b
// directly rather than from their sum: one step less on the chain.
template <int G, int R, bool LAST>
SM4_AVX512_INLINE inline void sm4_round(__m512i (&y)[MAX_SETS][4], __m512i (&u)[MAX_SETS],
                                        __m512i next_key) {
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        const __m512i s0 =
            _mm512_gf2p8affineinv_epi64_epi8(u[g], _mm512_set1_epi64(MAPS.g0), MAPS.c0);
        const __m512i s1 =
            _mm512_gf2p8affineinv_epi64_epi8(u[g], _mm512_set1_epi64(MAPS.g1), MAPS.c1);
        const __m512i s3 =
            _mm512_gf2p8affineinv_epi64_epi8(u[g], _mm512_set1_epi64(MAPS.g3), MAPS.c3);
        const __m512i a =
            _mm512_ternarylogic_epi32(s0, _mm512_rol_epi32(s1, 8), _mm512_rol_epi32(s1, 16), XOR3);
        const __m512i b = _mm512_xor_si512(y[g][R], _mm512_rol_epi32(s3, 24));
        y[g][R] = _mm512_xor_si512(a, b);
        if (!LAST) {
            const __m512i rest =
                _mm512_ternarylogic_epi32(y[g][(R + 2) & 3], y[g][(R + 3) & 3], next_key, XOR3);
            u[g] = _mm512_ternarylogic_epi32(a, b, rest, XOR3);
        }
    }
}

template <int G, bool LAST>
SM4_AVX512_INLINE inline void four_rounds(__m512i (&y)[MAX_SETS][4], __m512i (&u)[MAX_SETS],
                                          const uint32_t* rk) {
    sm4_round<G, 0, false>(y, u, key_image(rk[1]));
    sm4_round<G, 1, false>(y, u, key_image(rk[2]));
    sm4_round<G, 2, false>(y, u, key_image(rk[3]));
    sm4_round<G, 3, LAST>(y, u, LAST ? _mm512_setzero_si512() : key_image(rk[4]));
}

// The 32 rounds on G sets in word-per-lane form.
template <int G>
SM4_AVX512_INLINE inline void rounds(__m512i (&x)[MAX_SETS][4], const uint32_t* rk) {
    __m512i u[MAX_SETS];
    const __m512i key = key_image(rk[0]);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) x[g][k] = affine(x[g][k], MAPS.to_state);
        u[g] = _mm512_xor_si512(_mm512_ternarylogic_epi32(x[g][1], x[g][2], key, XOR3), x[g][3]);
    }
    for (int i = 0; i < 28; i += 4) four_rounds<G, false>(x, u, rk + i);
    four_rounds<G, true>(x, u, rk + 28);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g)
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) x[g][k] = affine(x[g][k], MAPS.from_state);
}

// After the rounds the block is (X35, X34, X33, X32): words in reverse.
// Leaves in x[g] the four 64-byte output registers of set g, in memory
// order.
SM4_AVX512_INLINE inline void to_blocks(__m512i (&x)[MAX_SETS][4], int g) {
    __m512i a = x[g][3], b = x[g][2], c = x[g][1], d = x[g][0];
    transpose(a, b, c, d);
    x[g][0] = bswap32(a);
    x[g][1] = bswap32(b);
    x[g][2] = bswap32(c);
    x[g][3] = bswap32(d);
}

// Bytes of a 64-byte register k of a pass over `bytes` bytes that fall
// inside the data, as a byte mask.
inline __mmask64 byte_mask(size_t bytes, size_t k) {
    const size_t start = 64 * k;
    if (bytes <= start) return 0;
    const size_t n = bytes - start;
    return n >= 64 ? ~__mmask64(0) : (__mmask64(1) << n) - 1;
}

// G sets of whole blocks, n of them (n <= 16 G); the rest of the last set
// is computed on zeros and not stored.
template <int G>
SM4_AVX512 void ecb_pass(unsigned char* out, const unsigned char* in, size_t n,
                         const uint32_t* rk) {
    const size_t bytes = n * 16;
    __m512i x[MAX_SETS][4];
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const __mmask64 k = byte_mask(bytes, 4 * g + m);
            x[g][m] = k ? bswap32(_mm512_maskz_loadu_epi8(k, in + 64 * (4 * g + m)))
                        : _mm512_setzero_si512();
        }
        transpose(x[g][0], x[g][1], x[g][2], x[g][3]);
    }
    rounds<G>(x, rk);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        to_blocks(x, g);
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const __mmask64 k = byte_mask(bytes, 4 * g + m);
            if (k) _mm512_mask_storeu_epi8(out + 64 * (4 * g + m), k, x[g][m]);
        }
    }
}

// The 128-bit counter (hi, lo) plus add, modulo 2^128.
inline void counter_add(uint64_t& hi, uint64_t& lo, uint64_t add) {
    lo += add;
    if (lo < add) ++hi;
}

// Counter blocks (hi, lo) + j for the 16 blocks j of a set, built directly
// in word-per-lane form: lane 4l + m holds block 4m + l (see transpose).
// Carries ripple from the low word up through masked increments.
SM4_AVX512_INLINE inline void counter_words(__m512i (&w)[4], uint64_t hi, uint64_t lo) {
    const __m512i index = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i zero = _mm512_setzero_si512();
    w[3] = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(lo)), index);
    __mmask16 carry = _mm512_cmplt_epu32_mask(w[3], index);
    const __m512i w2 = _mm512_set1_epi32(static_cast<int>(lo >> 32));
    w[2] = _mm512_mask_add_epi32(w2, carry, w2, one);
    carry &= _mm512_cmpeq_epi32_mask(w[2], zero);
    const __m512i w1 = _mm512_set1_epi32(static_cast<int>(hi));
    w[1] = _mm512_mask_add_epi32(w1, carry, w1, one);
    carry &= _mm512_cmpeq_epi32_mask(w[1], zero);
    const __m512i w0 = _mm512_set1_epi32(static_cast<int>(hi >> 32));
    w[0] = _mm512_mask_add_epi32(w0, carry, w0, one);
}

// G sets of keystream from counter (hi, lo) XORed into `bytes` bytes
// (bytes <= 256 G); keystream past them is dropped.
template <int G>
SM4_AVX512 void ctr_pass(unsigned char* out, const unsigned char* in, size_t bytes, uint64_t hi,
                         uint64_t lo, const uint32_t* rk) {
    __m512i x[MAX_SETS][4];
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        counter_words(x[g], hi, lo);
        counter_add(hi, lo, SET_BLOCKS);
    }
    rounds<G>(x, rk);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) {
        to_blocks(x, g);
#pragma GCC unroll 4
        for (int m = 0; m < 4; ++m) {
            const size_t k = 4 * g + m;
            const __mmask64 mask = byte_mask(bytes, k);
            if (mask == 0) break;
            const __m512i data = _mm512_maskz_loadu_epi8(mask, in + 64 * k);
            _mm512_mask_storeu_epi8(out + 64 * k, mask, _mm512_xor_si512(data, x[g][m]));
        }
    }
}

// Runs of a set or more go four sets a pass (independent work for the
// vector units while each round waits on the last); the remainder takes one
// pass of as many sets as it needs.
template <class Pass>
void by_passes(size_t units, size_t set_units, Pass pass) {
    constexpr size_t G4 = 4;
    size_t done = 0;
    for (; units - done >= G4 * set_units; done += G4 * set_units)
        pass(std::integral_constant<int, 4>(), done, G4 * set_units);
    const size_t rest = units - done;
    if (rest > 3 * set_units)
        pass(std::integral_constant<int, 4>(), done, rest);
    else if (rest > 2 * set_units)
        pass(std::integral_constant<int, 3>(), done, rest);
    else if (rest > set_units)
        pass(std::integral_constant<int, 2>(), done, rest);
    else if (rest > 0)
        pass(std::integral_constant<int, 1>(), done, rest);
}

}  // namespace

bool Sm4Avx512::supported() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool isa =
        (b & bit_AVX512F) && (b & bit_AVX512BW) && (b & bit_AVX512VL) && (c & bit_GFNI);
    if (!isa) return false;
    // XCR0: SSE (1), AVX (2), opmask (5), upper halves of ZMM0-15 (6) and
    // ZMM16-31 (7) all saved by the operating system.
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    constexpr unsigned ZMM_STATE = 0xe6;
    return (lo & ZMM_STATE) == ZMM_STATE;
}

SM4_AVX512 bool Sm4Avx512::matches(const unsigned char* table) {
    alignas(64) unsigned char in[64], out[64];
    for (int base = 0; base < 256; base += 64) {
        for (int i = 0; i < 64; ++i) in[i] = static_cast<unsigned char>(base + i);
        _mm512_store_si512(out, sbox(_mm512_load_si512(in)));
        if (std::memcmp(out, table + base, 64) != 0) return false;
    }
    return true;
}

void Sm4Avx512::process(unsigned char* out, const unsigned char* in, size_t n, const uint32_t* rk) {
    by_passes(n, SET_BLOCKS, [&](auto sets, size_t done, size_t count) {
        ecb_pass<decltype(sets)::value>(out + 16 * done, in + 16 * done, count, rk);
    });
}

void Sm4Avx512::ctr(unsigned char* out, const unsigned char* in, size_t len,
                    const unsigned char* counter, const uint32_t* rk) {
    const uint64_t hi = Base::load_be64(counter);
    const uint64_t lo = Base::load_be64(counter + 8);
    by_passes(len, SET_BYTES, [&](auto sets, size_t done, size_t count) {
        uint64_t h = hi, l = lo;
        counter_add(h, l, done / 16);
        ctr_pass<decltype(sets)::value>(out + done, in + done, count, h, l, rk);
    });
}

}  // namespace Cipher
