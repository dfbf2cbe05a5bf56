#include "cipher/aes.h"

#include <cstring>

#include "cipher/aes_ni.h"
#include "cipher/block_mode.h"

namespace Cipher {

namespace {

// Tables derived at compile time from the field arithmetic of the standard
// (GF(2^8) modulo x^8 + x^4 + x^3 + x + 1), so no hand-typed constants.
constexpr uint8_t xtime(uint8_t a) {
    return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    uint8_t p = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & 1) p ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return p;
}

constexpr uint8_t rotl8(uint8_t x, int s) {
    return static_cast<uint8_t>((x << s) | (x >> (8 - s)));
}

constexpr uint8_t sbox_entry(int x) {
    // Multiplicative inverse as x^254, then the affine map.
    uint8_t inv = 1;
    uint8_t base = static_cast<uint8_t>(x);
    for (int e = 254; e > 0; e >>= 1) {
        if (e & 1) inv = gmul(inv, base);
        base = gmul(base, base);
    }
    if (x == 0) inv = 0;
    return static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^
                                rotl8(inv, 4) ^ 0x63);
}

struct Tables {
    uint8_t sbox[256];
    uint8_t inv_sbox[256];
    uint32_t te[4][256];
    uint32_t td[4][256];
};

constexpr uint32_t word(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

constexpr uint32_t rotr32(uint32_t x, int s) {
    return (x >> s) | (x << (32 - s));
}

constexpr Tables make_tables() {
    Tables t{};
    for (int x = 0; x < 256; ++x) t.sbox[x] = sbox_entry(x);
    for (int x = 0; x < 256; ++x) t.inv_sbox[t.sbox[x]] = static_cast<uint8_t>(x);
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = t.sbox[x];
        const uint8_t i = t.inv_sbox[x];
        const uint32_t e = word(gmul(s, 2), s, s, gmul(s, 3));
        const uint32_t d = word(gmul(i, 14), gmul(i, 9), gmul(i, 13), gmul(i, 11));
        for (int r = 0; r < 4; ++r) {
            t.te[r][x] = r == 0 ? e : rotr32(e, 8 * r);
            t.td[r][x] = r == 0 ? d : rotr32(d, 8 * r);
        }
    }
    return t;
}

constexpr Tables T = make_tables();

inline uint32_t load_be(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void store_be(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

inline uint32_t b0(uint32_t w) {
    return w >> 24;
}
inline uint32_t b1(uint32_t w) {
    return (w >> 16) & 0xff;
}
inline uint32_t b2(uint32_t w) {
    return (w >> 8) & 0xff;
}
inline uint32_t b3(uint32_t w) {
    return w & 0xff;
}

inline uint32_t sub_word(uint32_t w) {
    return word(T.sbox[b0(w)], T.sbox[b1(w)], T.sbox[b2(w)], T.sbox[b3(w)]);
}

inline uint32_t inv_mix_column(uint32_t w) {
    // td[] composes InvSubBytes with InvMixColumns; undo the S-box first.
    return T.td[0][T.sbox[b0(w)]] ^ T.td[1][T.sbox[b1(w)]] ^ T.td[2][T.sbox[b2(w)]] ^
           T.td[3][T.sbox[b3(w)]];
}

void encrypt_portable(const uint32_t* rk, int rounds, unsigned char* out, const unsigned char* in) {
    uint32_t s0 = load_be(in) ^ rk[0], s1 = load_be(in + 4) ^ rk[1];
    uint32_t s2 = load_be(in + 8) ^ rk[2], s3 = load_be(in + 12) ^ rk[3];
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 =
            T.te[0][b0(s0)] ^ T.te[1][b1(s1)] ^ T.te[2][b2(s2)] ^ T.te[3][b3(s3)] ^ rk[0];
        const uint32_t t1 =
            T.te[0][b0(s1)] ^ T.te[1][b1(s2)] ^ T.te[2][b2(s3)] ^ T.te[3][b3(s0)] ^ rk[1];
        const uint32_t t2 =
            T.te[0][b0(s2)] ^ T.te[1][b1(s3)] ^ T.te[2][b2(s0)] ^ T.te[3][b3(s1)] ^ rk[2];
        const uint32_t t3 =
            T.te[0][b0(s3)] ^ T.te[1][b1(s0)] ^ T.te[2][b2(s1)] ^ T.te[3][b3(s2)] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    const uint8_t* S = T.sbox;
    store_be(out, word(S[b0(s0)], S[b1(s1)], S[b2(s2)], S[b3(s3)]) ^ rk[0]);
    store_be(out + 4, word(S[b0(s1)], S[b1(s2)], S[b2(s3)], S[b3(s0)]) ^ rk[1]);
    store_be(out + 8, word(S[b0(s2)], S[b1(s3)], S[b2(s0)], S[b3(s1)]) ^ rk[2]);
    store_be(out + 12, word(S[b0(s3)], S[b1(s0)], S[b2(s1)], S[b3(s2)]) ^ rk[3]);
}

void decrypt_portable(const uint32_t* rk, int rounds, unsigned char* out, const unsigned char* in) {
    uint32_t s0 = load_be(in) ^ rk[0], s1 = load_be(in + 4) ^ rk[1];
    uint32_t s2 = load_be(in + 8) ^ rk[2], s3 = load_be(in + 12) ^ rk[3];
    for (int r = 1; r < rounds; ++r) {
        rk += 4;
        const uint32_t t0 =
            T.td[0][b0(s0)] ^ T.td[1][b1(s3)] ^ T.td[2][b2(s2)] ^ T.td[3][b3(s1)] ^ rk[0];
        const uint32_t t1 =
            T.td[0][b0(s1)] ^ T.td[1][b1(s0)] ^ T.td[2][b2(s3)] ^ T.td[3][b3(s2)] ^ rk[1];
        const uint32_t t2 =
            T.td[0][b0(s2)] ^ T.td[1][b1(s1)] ^ T.td[2][b2(s0)] ^ T.td[3][b3(s3)] ^ rk[2];
        const uint32_t t3 =
            T.td[0][b0(s3)] ^ T.td[1][b1(s2)] ^ T.td[2][b2(s1)] ^ T.td[3][b3(s0)] ^ rk[3];
        s0 = t0, s1 = t1, s2 = t2, s3 = t3;
    }
    rk += 4;
    const uint8_t* S = T.inv_sbox;
    store_be(out, word(S[b0(s0)], S[b1(s3)], S[b2(s2)], S[b3(s1)]) ^ rk[0]);
    store_be(out + 4, word(S[b0(s1)], S[b1(s0)], S[b2(s3)], S[b3(s2)]) ^ rk[1]);
    store_be(out + 8, word(S[b0(s2)], S[b1(s1)], S[b2(s0)], S[b3(s3)]) ^ rk[2]);
    store_be(out + 12, word(S[b0(s3)], S[b1(s2)], S[b2(s1)], S[b3(s0)]) ^ rk[3]);
}

using Modes = BlockMode<Aes, Aes::BLOCK_SIZE>;

}  // namespace

Aes::Aes(const unsigned char* key, int key_bytes) : rounds_(0), hw_(false) {
    std::memset(enc_words_, 0, sizeof enc_words_);
    std::memset(dec_words_, 0, sizeof dec_words_);
    std::memset(enc_bytes_, 0, sizeof enc_bytes_);
    std::memset(dec_bytes_, 0, sizeof dec_bytes_);
    std::memset(chain_, 0, sizeof chain_);
    if (key != nullptr && (key_bytes == 16 || key_bytes == 24 || key_bytes == 32)) {
        expand_key(key, key_bytes);
        hw_ = AesNi::available();
    }
}

Aes::~Aes() {
    // Round keys are as secret as the key itself.
    explicit_bzero(enc_words_, sizeof enc_words_);
    explicit_bzero(dec_words_, sizeof dec_words_);
    explicit_bzero(enc_bytes_, sizeof enc_bytes_);
    explicit_bzero(dec_bytes_, sizeof dec_bytes_);
}

void Aes::expand_key(const unsigned char* key, int key_bytes) {
    const int nk = key_bytes / 4;
    rounds_ = nk + 6;
    const int total = 4 * (rounds_ + 1);
    uint32_t* w = enc_words_;
    for (int i = 0; i < nk; ++i) w[i] = load_be(key + 4 * i);
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = sub_word((t << 8) | (t >> 24)) ^ (uint32_t(rcon) << 24);
            rcon = xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = sub_word(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    // Equivalent inverse cipher: round keys in reverse order, the inner ones
    // passed through InvMixColumns.
    for (int r = 0; r <= rounds_; ++r)
        for (int j = 0; j < 4; ++j) {
            const uint32_t k = w[4 * (rounds_ - r) + j];
            dec_words_[4 * r + j] = (r == 0 || r == rounds_) ? k : inv_mix_column(k);
        }
    for (int i = 0; i < total; ++i) {
        store_be(enc_bytes_ + 4 * i, enc_words_[i]);
        store_be(dec_bytes_ + 4 * i, dec_words_[i]);
    }
}

bool Aes::hardware_available() {
    return AesNi::available();
}

bool Aes::use_hardware(bool on) {
    hw_ = on && rounds_ != 0 && AesNi::available();
    return hw_;
}

void Aes::encode(unsigned char* out, const unsigned char* in) {
    if (rounds_ == 0) return;
    if (hw_)
        AesNi::encrypt_blocks(enc_bytes_, rounds_, out, in, 1);
    else
        encrypt_portable(enc_words_, rounds_, out, in);
}

void Aes::decode(unsigned char* out, const unsigned char* in) {
    if (rounds_ == 0) return;
    if (hw_)
        AesNi::decrypt_blocks(dec_bytes_, rounds_, out, in, 1);
    else
        decrypt_portable(dec_words_, rounds_, out, in);
}

void Aes::encode_blocks(unsigned char* out, const unsigned char* in, int n) {
    if (rounds_ == 0) return;
    if (hw_) {
        AesNi::encrypt_blocks(enc_bytes_, rounds_, out, in, n);
        return;
    }
    for (int i = 0; i < n; ++i) encrypt_portable(enc_words_, rounds_, out + 16 * i, in + 16 * i);
}

void Aes::decode_blocks(unsigned char* out, const unsigned char* in, int n) {
    if (rounds_ == 0) return;
    if (hw_) {
        AesNi::decrypt_blocks(dec_bytes_, rounds_, out, in, n);
        return;
    }
    for (int i = 0; i < n; ++i) decrypt_portable(dec_words_, rounds_, out + 16 * i, in + 16 * i);
}

void Aes::encode_func(void* self, unsigned char* out, const unsigned char* in) {
    static_cast<Aes*>(self)->encode(out, in);
}

void Aes::decode_func(void* self, unsigned char* out, const unsigned char* in) {
    static_cast<Aes*>(self)->decode(out, in);
}

bool Aes::encode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::encode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Aes::decode_ecb(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad) {
    return Modes::decode_ecb(*this, out, out_len, in, in_len, pad);
}

bool Aes::encode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::encode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

bool Aes::decode_cbc(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     bool pad, const unsigned char* iv, int iv_len) {
    return Modes::decode_cbc(*this, out, out_len, in, in_len, pad, iv, iv_len);
}

bool Aes::encode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    if (!hw_ || out == nullptr || in_len <= 0 || iv_len != BLOCK_SIZE)
        return Modes::encode_ctr(*this, out, out_len, in, in_len, iv, iv_len);
    // Same counter rule as the shared mode (IV + i modulo 2^128), with the
    // counter kept in registers and eight blocks in flight.
    if (iv == nullptr) {
        std::memset(chain_, 0, sizeof chain_);
        iv = chain_;
    }
    AesNi::ctr(enc_bytes_, rounds_, out, in, in_len, iv);
    out_len = in_len;
    return true;
}

bool Aes::decode_ctr(unsigned char* out, int& out_len, const unsigned char* in, int in_len,
                     const unsigned char* iv, int iv_len) {
    return encode_ctr(out, out_len, in, in_len, iv, iv_len);
}

}  // namespace Cipher
