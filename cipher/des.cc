#include "cipher/des.h"

#include <cstring>

#include "cipher/block_mode.h"

namespace Cipher {

namespace {

// Tables of the standard; bit positions count from 1 at the most significant bit.
constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// A 64-bit permutation split into eight byte lookups: entry [i][v] is where
// the bits of value v in input byte i land.
struct PermTable {
    uint64_t t[8][256];
};

constexpr PermTable make_perm(const uint8_t* from /* output bit -> input bit */) {
    PermTable p{};
    for (int out = 0; out < 64; ++out) {
        const int in = from[out] - 1;
        const int byte = in / 8, bit = 7 - in % 8;
        for (int v = 0; v < 256; ++v)
            if (v & (1 << bit)) p.t[byte][v] |= uint64_t(1) << (63 - out);
    }
    return p;
}

struct InverseIp {
    uint8_t v[64];
};

constexpr InverseIp make_inverse_ip() {
    InverseIp r{};
    for (int i = 0; i < 64; ++i) r.v[kIp[i] - 1] = static_cast<uint8_t>(i + 1);
    return r;
}

constexpr InverseIp kFp = make_inverse_ip();
constexpr PermTable kIpTable = make_perm(kIp);
constexpr PermTable kFpTable = make_perm(kFp.v);

// S-box j followed by the P permutation, indexed by the six input bits.
struct SpTable {
    uint32_t t[8][64];
};

constexpr SpTable make_sp() {
    SpTable sp{};
    for (int j = 0; j < 8; ++j)
        for (int x = 0; x < 64; ++x) {
            const int row = ((x >> 4) & 2) | (x & 1), col = (x >> 1) & 15;
            const uint32_t s = uint32_t(kS[j][row * 16 + col]) << (28 - 4 * j);
            uint32_t out = 0;
            for (int i = 0; i < 32; ++i)
                if (s & (uint32_t(1) << (32 - kP[i]))) out |= uint32_t(1) << (31 - i);
            sp.t[j][x] = out;
        }
    return sp;
}

constexpr SpTable kSp = make_sp();

inline uint64_t permute(const PermTable& p, uint64_t x) {
    return p.t[0][x >> 56] | p.t[1][(x >> 48) & 0xff] | p.t[2][(x >> 40) & 0xff] |
           p.t[3][(x >> 32) & 0xff] | p.t[4][(x >> 24) & 0xff] | p.t[5][(x >> 16) & 0xff] |
           p.t[6][(x >> 8) & 0xff] | p.t[7][x & 0xff];
}

inline uint32_t rotl(uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// f(R, K): the expansion's eight six-bit groups are windows of R rotated right
// by one: groups 1, 3, 5, 7 from that word, groups 2, 4, 6, 8 from it rotated
// left by four more.
inline uint32_t feistel(uint32_t r, const uint32_t* k) {
    const uint32_t a = rotl(r, 31) ^ k[0];
    const uint32_t b = rotl(r, 3) ^ k[1];
    return kSp.t[0][a >> 26] | kSp.t[2][(a >> 18) & 63] | kSp.t[4][(a >> 10) & 63] |
           kSp.t[6][(a >> 2) & 63] | kSp.t[1][b >> 26] | kSp.t[3][(b >> 18) & 63] |
           kSp.t[5][(b >> 10) & 63] | kSp.t[7][(b >> 2) & 63];
}

inline uint64_t load64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

inline void store64(unsigned char* p, uint64_t v) {
    v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

using Modes = BlockMode<Des, Des::BLOCK_SIZE>;

}  // namespace

Des::Des() {
    std::memset(subkeys_, 0, sizeof subkeys_);
}

Des::Des(const unsigned char* key) {
    const uint64_t k = load64(key);
    uint64_t cd = 0;  // 56 bits: C in the high 28, D in the low 28
    for (int i = 0; i < 56; ++i) cd = (cd << 1) | ((k >> (64 - kPc1[i])) & 1);
    uint32_t c = static_cast<uint32_t>(cd >> 28), d = static_cast<uint32_t>(cd & 0xfffffff);
    for (int round = 0; round < 16; ++round) {
        const int s = kShifts[round];
        c = ((c << s) | (c >> (28 - s))) & 0xfffffff;
        d = ((d << s) | (d >> (28 - s))) & 0xfffffff;
        const uint64_t joined = (uint64_t(c) << 28) | d;
        uint64_t sub = 0;  // 48 bits, S-box 1's group first
        for (int i = 0; i < 48; ++i) sub = (sub << 1) | ((joined >> (56 - kPc2[i])) & 1);
        uint32_t odd = 0, even = 0;
        for (int j = 0; j < 8; ++j) {
            const uint32_t group = static_cast<uint32_t>(sub >> (42 - 6 * j)) & 63;
            const int shift = 26 - 8 * (j / 2);
            if (j % 2 == 0)
                odd |= group << shift;
            else
                even |= group << shift;
        }
        subkeys_[2 * round] = odd;
        subkeys_[2 * round + 1] = even;
    }
}

Des::~Des() {
    explicit_bzero(subkeys_, sizeof subkeys_);
}

uint64_t Des::initial_permutation(uint64_t block) {
    return permute(kIpTable, block);
}

uint64_t Des::final_permutation(uint64_t block) {
    return permute(kFpTable, block);
}

void Des::rounds(const Des& key, uint32_t& left, uint32_t& right, bool decrypt) {
    const uint32_t* k = key.subkeys_;
    uint32_t l = left, r = right;
    if (!decrypt) {
        for (int i = 0; i < 32; i += 4) {
            l ^= feistel(r, k + i);
            r ^= feistel(l, k + i + 2);
        }
    } else {
        for (int i = 30; i >= 0; i -= 4) {
            l ^= feistel(r, k + i);
            r ^= feistel(l, k + i - 2);
        }
    }
    left = r;
    right = l;
}

unsigned long Des::process(unsigned long block, char mode) {
    if (mode != 'e' && mode != 'd') return 0;
    const uint64_t x = initial_permutation(block);
    uint32_t l = static_cast<uint32_t>(x >> 32), r = static_cast<uint32_t>(x);
    rounds(*this, l, r, mode == 'd');
    return final_permutation((uint64_t(l) << 32) | r);
}

void Des::encode(unsigned char* out, const unsigned char* in) {
    store64(out, process(load64(in), 'e'));
}

void Des::decode(unsigned char* out, const unsigned char* in) {
    store64(out, process(load64(in), 'd'));
}

void Des::encode_func(void* self, unsigned char* out, const unsigned char* in) {
    static_cast<Des*>(self)->encode(out, in);
}

void Des::decode_func(void* self, unsigned char* out, const unsigned char* in) {
    static_cast<Des*>(self)->decode(out, in);
}

bool Des::encode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::encode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Des::decode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::decode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Des::encode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::encode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

bool Des::decode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::decode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

bool Des::encode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    return Modes::encode_ctr(*this, out, out_len, in, in_len, iv, iv_len);
}

bool Des::decode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    return Modes::encode_ctr(*this, out, out_len, in, in_len, iv, iv_len);
}

}  // namespace Cipher
