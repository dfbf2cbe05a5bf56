#ifndef XELMD_TESTS_CIPHER_CIPHER_ORACLE_H
#define XELMD_TESTS_CIPHER_CIPHER_ORACLE_H

// Test helpers shared by the cipher tests: hex conversion, seeded random
// bytes, and the libcrypto references for the block modes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace CipherTest {

using Bytes = std::vector<unsigned char>;

inline Bytes from_hex(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string to_hex(const unsigned char* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string to_hex(const Bytes& b) {
    return to_hex(b.data(), b.size());
}

inline Bytes random_bytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& c : b) c = static_cast<unsigned char>(rng());
    return b;
}

// One-shot libcrypto cipher run; pad toggles PKCS#7 padding.
inline Bytes openssl_crypt(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key,
                           const unsigned char* iv, const Bytes& in, bool pad) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 64);
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv, encrypt ? 1 : 0) == 1;
    EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
    ok = ok && EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return Bytes{0xde, 0xad};
    out.resize(n1 + n2);
    return out;
}

// libcrypto's digest of msg, as hex.
inline std::string openssl_digest(const EVP_MD* md, const Bytes& msg) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(msg.data(), msg.size(), out, &n, md, nullptr) != 1) return "failed";
    return to_hex(out, n);
}

// Runs on the portable code and, where the processor has them, on the
// instructions, as the parameter says.
template <class C>
class PathTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam() && !C::hardware_available()) GTEST_SKIP() << "no instructions";
    }
    void select(C& c) { ASSERT_EQ(c.use_hardware(GetParam()), GetParam()); }
};
inline std::string path_name(const ::testing::TestParamInfo<bool>& p) {
    return p.param ? "Instructions" : "Portable";
}

enum class Mode { ECB, CBC, CTR };

// Ours in one mode and direction, with an IV as long as a block: a size
// query first, then the call into exactly that room; decoding runs in place.
template <class C>
Bytes run_mode(C& c, Mode m, bool encode, const Bytes& iv, const Bytes& in, bool pad) {
    const int n = static_cast<int>(in.size()), b = static_cast<int>(iv.size());
    Bytes buf = in;
    auto run = [&](unsigned char* out, int& len) {
        const unsigned char* src = encode ? in.data() : buf.data();
        if (m == Mode::ECB)
            return encode ? c.encode_ecb(out, len, src, n, pad)
                          : c.decode_ecb(out, len, src, n, pad);
        if (m == Mode::CBC)
            return encode ? c.encode_cbc(out, len, src, n, pad, iv.data(), b)
                          : c.decode_cbc(out, len, src, n, pad, iv.data(), b);
        return encode ? c.encode_ctr(out, len, src, n, iv.data(), b)
                      : c.decode_ctr(out, len, src, n, iv.data(), b);
    };
    int len = -1;
    EXPECT_TRUE(run(nullptr, len));
    Bytes out(len > 0 ? len : 0);
    EXPECT_TRUE(run(encode ? out.data() : buf.data(), len));
    if (!encode) out.assign(buf.begin(), buf.begin() + len);
    return out;
}

// libcrypto's ECB over the counter blocks IV, IV + 1, ... (big-endian,
// wrapping at the block width), as CTR for ciphers it has no CTR mode for.
inline Bytes ctr_from_ecb(const EVP_CIPHER* ecb, const Bytes& key, Bytes counter, const Bytes& in) {
    Bytes blocks;
    for (size_t i = 0; i < in.size(); i += counter.size()) {
        blocks.insert(blocks.end(), counter.begin(), counter.end());
        for (int j = static_cast<int>(counter.size()) - 1; j >= 0 && ++counter[j] == 0; --j) {
        }
    }
    Bytes stream = openssl_crypt(ecb, true, key, nullptr, blocks, false);
    for (size_t i = 0; i < in.size(); ++i) stream[i] ^= in[i];
    stream.resize(in.size());
    return stream;
}

// c in every mode (padded and, for whole blocks, not) against libcrypto, and
// back again. A null ctr means CTR is checked against ctr_from_ecb.
template <class C>
void expect_modes_match(C& c, const EVP_CIPHER* ecb, const EVP_CIPHER* cbc, const EVP_CIPHER* ctr,
                        const Bytes& key, const Bytes& iv, const Bytes& in) {
    for (Mode m : {Mode::ECB, Mode::CBC, Mode::CTR}) {
        for (bool pad : {false, true}) {
            if (m == Mode::CTR ? pad : !pad && in.size() % iv.size() != 0) continue;
            SCOPED_TRACE("mode " + std::to_string(int(m)) + " pad " + std::to_string(pad) +
                         " length " + std::to_string(in.size()) + " iv " + to_hex(iv));
            const Bytes expect = m == Mode::CTR
                                     ? (ctr ? openssl_crypt(ctr, true, key, iv.data(), in, false)
                                            : ctr_from_ecb(ecb, key, iv, in))
                                     : openssl_crypt(m == Mode::ECB ? ecb : cbc, true, key,
                                                     m == Mode::ECB ? nullptr : iv.data(), in, pad);
            const Bytes got = run_mode(c, m, true, iv, in, pad);
            ASSERT_EQ(got, expect);
            ASSERT_EQ(run_mode(c, m, false, iv, got, pad), in);
        }
    }
}

}  // namespace CipherTest

#endif  // XELMD_TESTS_CIPHER_CIPHER_ORACLE_H
