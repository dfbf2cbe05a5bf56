#include "cipher/sm4.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes from_hex(const char* s) {
    Bytes out;
    for (size_t i = 0; s[i] && s[i + 1]; i += 2)
        out.push_back(std::stoi(std::string(s + i, 2), nullptr, 16));
    return out;
}

// GB/T 32907-2016, appendix A: example 1 (one encryption) and example 2
// (the same plaintext encrypted 1,000,000 times under the same key).
const char* STANDARD_KEY = "0123456789abcdeffedcba9876543210";
const char* STANDARD_CIPHERTEXT = "681edf34d206965e86b3e94f536e4246";
const char* STANDARD_MILLION = "595298c7c6fd271f0402f804c33d3f66";

TEST(Sm4, ReproducesStandardExample) {
    const Bytes key = from_hex(STANDARD_KEY);
    Cipher::Sm4 sm4(key.data());
    unsigned char out[16], back[16];
    sm4.encode(out, key.data());
    EXPECT_EQ(Bytes(out, out + 16), from_hex(STANDARD_CIPHERTEXT));
    sm4.decode(back, out);
    EXPECT_EQ(Bytes(back, back + 16), key);
    Cipher::Sm4::encode_func(&sm4, back, key.data());
    EXPECT_EQ(Bytes(back, back + 16), from_hex(STANDARD_CIPHERTEXT));
}

TEST(Sm4, ReproducesMillionIterationExample) {
    const Bytes key = from_hex(STANDARD_KEY);
    Cipher::Sm4 sm4(key.data());
    unsigned char block[16];
    std::memcpy(block, key.data(), 16);
    for (int i = 0; i < 1000000; ++i) sm4.encode(block, block);
    EXPECT_EQ(Bytes(block, block + 16), from_hex(STANDARD_MILLION));
    for (int i = 0; i < 1000000; ++i) sm4.decode(block, block);
    EXPECT_EQ(Bytes(block, block + 16), key);
}

TEST(Sm4, MultiBlockFormMatchesSingleBlocks) {
    std::mt19937 rng(3);
    unsigned char key[16];
    for (auto& b : key) b = rng();
    Cipher::Sm4 sm4(key);
    for (int n = 0; n <= 41; ++n) {  // every mix of 8-, 4- and 1-block steps
        Bytes in(16 * n), many(16 * n), one(16 * n), back(16 * n);
        for (auto& b : in) b = rng();
        sm4.encode_blocks(many.data(), in.data(), n);
        for (int i = 0; i < n; ++i) sm4.encode(one.data() + 16 * i, in.data() + 16 * i);
        EXPECT_EQ(many, one);
        sm4.decode_blocks(back.data(), many.data(), n);
        EXPECT_EQ(back, in);
    }
}

enum class Mode { ECB, CBC, CTR };

const EVP_CIPHER* evp(Mode m) {
    return m == Mode::ECB ? EVP_sm4_ecb() : m == Mode::CBC ? EVP_sm4_cbc() : EVP_sm4_ctr();
}

Bytes openssl_run(Mode m, bool enc, const unsigned char* key, const unsigned char* iv,
                  const Bytes& in, bool pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EXPECT_EQ(EVP_CipherInit_ex(ctx, evp(m), nullptr, key, iv, enc ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n1 + n2);
    return out;
}

Bytes ours(Cipher::Sm4& c, Mode m, bool enc, const unsigned char* iv, const Bytes& in, bool pad) {
    const int n = static_cast<int>(in.size());
    int len = -1;
    bool ok = false;
    // Size query first, then the real call into exactly that room.
    if (m == Mode::ECB)
        ok = enc ? c.encode_ecb(nullptr, len, in.data(), n, pad)
                 : c.decode_ecb(nullptr, len, in.data(), n, pad);
    else if (m == Mode::CBC)
        ok = enc ? c.encode_cbc(nullptr, len, in.data(), n, pad, iv, 16)
                 : c.decode_cbc(nullptr, len, in.data(), n, pad, iv, 16);
    else
        ok = c.encode_ctr(nullptr, len, in.data(), n, iv, 16);
    EXPECT_TRUE(ok);
    Bytes out(len);
    if (m == Mode::ECB)
        ok = enc ? c.encode_ecb(out.data(), len, in.data(), n, pad)
                 : c.decode_ecb(out.data(), len, in.data(), n, pad);
    else if (m == Mode::CBC)
        ok = enc ? c.encode_cbc(out.data(), len, in.data(), n, pad, iv, 16)
                 : c.decode_cbc(out.data(), len, in.data(), n, pad, iv, 16);
    else
        ok = enc ? c.encode_ctr(out.data(), len, in.data(), n, iv, 16)
                 : c.decode_ctr(out.data(), len, in.data(), n, iv, 16);
    EXPECT_TRUE(ok);
    out.resize(len);
    return out;
}

TEST(Sm4, ModesMatchOpenSslOnRandomKeysIvsAndLengths) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        unsigned char key[16], iv[16];
        for (auto& b : key) b = rng();
        for (auto& b : iv) b = rng();
        if (round % 10 == 0) std::memset(iv + 8, 0xff, 8);  // low-half carry into the high half
        Cipher::Sm4 sm4(key);
        for (Mode m : {Mode::ECB, Mode::CBC, Mode::CTR}) {
            const bool pad = m == Mode::CTR || rng() % 2 == 0;
            int len = static_cast<int>(rng() % 4097);
            if (!pad && m != Mode::CTR) len -= len % 16;
            Bytes plain(len);
            for (auto& b : plain) b = rng();
            const Bytes expect = openssl_run(m, true, key, iv, plain, pad);
            const Bytes got = ours(sm4, m, true, iv, plain, pad);
            ASSERT_EQ(got, expect) << int(m) << " len " << len << " pad " << pad;
            EXPECT_EQ(ours(sm4, m, false, iv, got, pad), plain);
            EXPECT_EQ(openssl_run(m, false, key, iv, got, pad), plain);
        }
    }
}

}  // namespace
