#include "cipher/sm4.h"

#include <cstring>

#include "base/byte_order.h"

#include "cipher/block_mode.h"
#include "cipher/sm4_avx512.h"
#include "cipher/sm4_gfni.h"

namespace Cipher {

namespace {

using Base::load_be32;
using Base::store_be32;

constexpr unsigned char SBOX[256] = {
    0xd6, 0x90, 0xe9, 0xfe, 0xcc, 0xe1, 0x3d, 0xb7, 0x16, 0xb6, 0x14, 0xc2, 0x28, 0xfb, 0x2c, 0x05,
    0x2b, 0x67, 0x9a, 0x76, 0x2a, 0xbe, 0x04, 0xc3, 0xaa, 0x44, 0x13, 0x26, 0x49, 0x86, 0x06, 0x99,
    0x9c, 0x42, 0x50, 0xf4, 0x91, 0xef, 0x98, 0x7a, 0x33, 0x54, 0x0b, 0x43, 0xed, 0xcf, 0xac, 0x62,
    0xe4, 0xb3, 0x1c, 0xa9, 0xc9, 0x08, 0xe8, 0x95, 0x80, 0xdf, 0x94, 0xfa, 0x75, 0x8f, 0x3f, 0xa6,
    0x47, 0x07, 0xa7, 0xfc, 0xf3, 0x73, 0x17, 0xba, 0x83, 0x59, 0x3c, 0x19, 0xe6, 0x85, 0x4f, 0xa8,
    0x68, 0x6b, 0x81, 0xb2, 0x71, 0x64, 0xda, 0x8b, 0xf8, 0xeb, 0x0f, 0x4b, 0x70, 0x56, 0x9d, 0x35,
    0x1e, 0x24, 0x0e, 0x5e, 0x63, 0x58, 0xd1, 0xa2, 0x25, 0x22, 0x7c, 0x3b, 0x01, 0x21, 0x78, 0x87,
    0xd4, 0x00, 0x46, 0x57, 0x9f, 0xd3, 0x27, 0x52, 0x4c, 0x36, 0x02, 0xe7, 0xa0, 0xc4, 0xc8, 0x9e,
    0xea, 0xbf, 0x8a, 0xd2, 0x40, 0xc7, 0x38, 0xb5, 0xa3, 0xf7, 0xf2, 0xce, 0xf9, 0x61, 0x15, 0xa1,
    0xe0, 0xae, 0x5d, 0xa4, 0x9b, 0x34, 0x1a, 0x55, 0xad, 0x93, 0x32, 0x30, 0xf5, 0x8c, 0xb1, 0xe3,
    0x1d, 0xf6, 0xe2, 0x2e, 0x82, 0x66, 0xca, 0x60, 0xc0, 0x29, 0x23, 0xab, 0x0d, 0x53, 0x4e, 0x6f,
    0xd5, 0xdb, 0x37, 0x45, 0xde, 0xfd, 0x8e, 0x2f, 0x03, 0xff, 0x6a, 0x72, 0x6d, 0x6c, 0x5b, 0x51,
    0x8d, 0x1b, 0xaf, 0x92, 0xbb, 0xdd, 0xbc, 0x7f, 0x11, 0xd9, 0x5c, 0x41, 0x1f, 0x10, 0x5a, 0xd8,
    0x0a, 0xc1, 0x31, 0x88, 0xa5, 0xcd, 0x7b, 0xbd, 0x2d, 0x74, 0xd0, 0x12, 0xb8, 0xe5, 0xb4, 0xb0,
    0x89, 0x69, 0x97, 0x4a, 0x0c, 0x96, 0x77, 0x7e, 0x65, 0xb9, 0xf1, 0x09, 0xc5, 0x6e, 0xc6, 0x84,
    0x18, 0xf0, 0x7d, 0xec, 0x3a, 0xdc, 0x4d, 0x20, 0x79, 0xee, 0x5f, 0x3e, 0xd7, 0xcb, 0x39, 0x48};

constexpr uint32_t FK[4] = {0xa3b1bac6, 0x56aa3350, 0x677d9197, 0xb27022dc};

constexpr uint32_t rotl(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The round's S-box layer and linear transform L fused into four tables,
// one per input byte position (most significant first).
struct RoundTables {
    uint32_t t[4][256];
    constexpr RoundTables() : t() {
        for (int x = 0; x < 256; ++x) {
            const uint32_t s = SBOX[x];
            for (int k = 0; k < 4; ++k) {
                const uint32_t b = s << (24 - 8 * k);
                t[k][x] = b ^ rotl(b, 2) ^ rotl(b, 10) ^ rotl(b, 18) ^ rotl(b, 24);
            }
        }
    }
};
constexpr RoundTables TABLES;

inline uint32_t round_t(uint32_t x) {
    return TABLES.t[0][x >> 24] ^ TABLES.t[1][(x >> 16) & 0xff] ^ TABLES.t[2][(x >> 8) & 0xff] ^
           TABLES.t[3][x & 0xff];
}

// Key-schedule transform: S-box layer, then L'.
uint32_t key_t(uint32_t x) {
    const uint32_t b = (uint32_t(SBOX[x >> 24]) << 24) | (uint32_t(SBOX[(x >> 16) & 0xff]) << 16) |
                       (uint32_t(SBOX[(x >> 8) & 0xff]) << 8) | SBOX[x & 0xff];
    return b ^ rotl(b, 13) ^ rotl(b, 23);
}

// CK[i] byte j is (4i + j) * 7 mod 256.
uint32_t ck(int i) {
    uint32_t v = 0;
    for (int j = 0; j < 4; ++j) v = (v << 8) | (((4 * i + j) * 7) & 0xff);
    return v;
}

using Modes = BlockMode<Sm4, Sm4::BLOCK_SIZE>;

// The vector path only where the processor has it and it reproduces the
// table above bit for bit.
bool use_gfni() {
    static const bool ok = Sm4Gfni::supported() && Sm4Gfni::matches(SBOX);
    return ok;
}

bool use_avx512() {
    static const bool ok = Sm4Avx512::supported() && Sm4Avx512::matches(SBOX);
    return ok;
}

}  // namespace

Sm4::Sm4(const unsigned char* key) : path_(best_path()) {
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = load_be32(key + 4 * i) ^ FK[i];
    for (int i = 0; i < 32; ++i) {
        const uint32_t next = k[0] ^ key_t(k[1] ^ k[2] ^ k[3] ^ ck(i));
        enc_keys_[i] = next;
        k[0] = k[1];
        k[1] = k[2];
        k[2] = k[3];
        k[3] = next;
    }
    for (int i = 0; i < 32; ++i) dec_keys_[i] = enc_keys_[31 - i];
}

Sm4::~Sm4() {
    std::memset(enc_keys_, 0, sizeof enc_keys_);
    std::memset(dec_keys_, 0, sizeof dec_keys_);
    __asm__ __volatile__("" : : "r"(this) : "memory");
}

void Sm4::process(unsigned char* out, const unsigned char* in, const uint32_t* rk) {
    uint32_t x0 = load_be32(in), x1 = load_be32(in + 4);
    uint32_t x2 = load_be32(in + 8), x3 = load_be32(in + 12);
    for (int i = 0; i < 32; i += 4) {
        x0 ^= round_t(x1 ^ x2 ^ x3 ^ rk[i]);
        x1 ^= round_t(x2 ^ x3 ^ x0 ^ rk[i + 1]);
        x2 ^= round_t(x3 ^ x0 ^ x1 ^ rk[i + 2]);
        x3 ^= round_t(x0 ^ x1 ^ x2 ^ rk[i + 3]);
    }
    store_be32(out, x3);
    store_be32(out + 4, x2);
    store_be32(out + 8, x1);
    store_be32(out + 12, x0);
}

// The 512-bit path takes every run in register sets of 16, a short last
// set under masks (even a single block: its rounds answer sooner than the
// tables'). The 256-bit path takes sixteen or eight at a time; a tail of
// five blocks or more takes one padded pass too (a pass of 16 blocks costs
// about what one of 8 does, and one of 8 about what 2.5 blocks cost on the
// tables). The rest go four interleaved on the tables so the loads of
// independent blocks overlap.
void Sm4::process_blocks(unsigned char* out, const unsigned char* in, int n,
                         const uint32_t* rk) const {
    if (path_ == Path::AVX512_GFNI) {
        Sm4Avx512::process(out, in, static_cast<size_t>(n), rk);
        return;
    }
    if (path_ == Path::AVX2_GFNI) {
        for (; n >= 16; n -= 16, in += 256, out += 256) Sm4Gfni::process16(out, in, rk);
        if (n >= MIN_PADDED_BLOCKS) {
            alignas(32) unsigned char tail[256];
            const size_t used = static_cast<size_t>(n) * 16;
            const size_t size = n > 8 ? 256 : 128;
            if (used == size) {  // eight whole blocks need no copy
                Sm4Gfni::process8(out, in, rk);
                return;
            }
            std::memcpy(tail, in, used);
            std::memset(tail + used, 0, size - used);
            if (n > 8)
                Sm4Gfni::process16(tail, tail, rk);
            else
                Sm4Gfni::process8(tail, tail, rk);
            std::memcpy(out, tail, used);
            return;
        }
    }
    for (; n >= 4; n -= 4, in += 64, out += 64) {
        uint32_t x[4][4];
        for (int b = 0; b < 4; ++b)
            for (int w = 0; w < 4; ++w) x[b][w] = load_be32(in + 16 * b + 4 * w);
        for (int i = 0; i < 32; ++i) {
            const int r = i & 3;
            for (int b = 0; b < 4; ++b)
                x[b][r] ^=
                    round_t(x[b][(r + 1) & 3] ^ x[b][(r + 2) & 3] ^ x[b][(r + 3) & 3] ^ rk[i]);
        }
        for (int b = 0; b < 4; ++b)
            for (int w = 0; w < 4; ++w) store_be32(out + 16 * b + 4 * w, x[b][3 - w]);
    }
    for (; n > 0; --n, in += 16, out += 16) process(out, in, rk);
}

Sm4::Path Sm4::best_path() {
    if (use_avx512()) return Path::AVX512_GFNI;
    return use_gfni() ? Path::AVX2_GFNI : Path::TABLE;
}

bool Sm4::path_available(Path path) {
    switch (path) {
        case Path::TABLE:
            return true;
        case Path::AVX2_GFNI:
            return use_gfni();
        case Path::AVX512_GFNI:
            return use_avx512();
    }
    return false;
}

bool Sm4::use_path(Path path) {
    if (!path_available(path)) return false;
    path_ = path;
    return true;
}

bool Sm4::hardware_available() {
    return best_path() != Path::TABLE;
}

bool Sm4::use_hardware(bool on) {
    path_ = on ? best_path() : Path::TABLE;
    return uses_hardware();
}

void Sm4::encode_func(void* self, unsigned char* out, const unsigned char* in) {
    static_cast<Sm4*>(self)->encode(out, in);
}

void Sm4::encode_blocks(unsigned char* out, const unsigned char* in, int n) const {
    process_blocks(out, in, n, enc_keys_);
}

void Sm4::decode_blocks(unsigned char* out, const unsigned char* in, int n) const {
    process_blocks(out, in, n, dec_keys_);
}

bool Sm4::encode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::encode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Sm4::decode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::decode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Sm4::encode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::encode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

bool Sm4::decode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::decode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

// The 512-bit path makes the keystream in registers and XORs it in place;
// the others go through the shared mode code. Both follow its rules.
bool Sm4::encode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    if (path_ != Path::AVX512_GFNI)
        return Modes::encode_ctr(*this, out, out_len, in, in_len, iv, iv_len);
    out_len = 0;
    if (iv_len != BLOCK_SIZE || in_len < 0) return false;
    out_len = in_len;
    if (out == nullptr) return true;
    static const unsigned char ZERO_IV[BLOCK_SIZE] = {};
    Sm4Avx512::ctr(out, in, static_cast<size_t>(in_len), iv != nullptr ? iv : ZERO_IV, enc_keys_);
    return true;
}

bool Sm4::decode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    return encode_ctr(out, out_len, in, in_len, iv, iv_len);
}

}  // namespace Cipher
