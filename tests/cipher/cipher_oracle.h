#ifndef XELMD_TESTS_CIPHER_CIPHER_ORACLE_H
#define XELMD_TESTS_CIPHER_CIPHER_ORACLE_H

// Test helpers shared by the cipher tests (and the network tests' frames):
// hex conversion, seeded random bytes, libcrypto numbers as bytes and
// public-key operations, and the
// choice between portable code and instructions.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

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

// A libcrypto number as big-endian bytes, zero-padded to width if given.
inline Bytes bn_bytes(const BIGNUM* bn, int width = 0) {
    Bytes b(width ? width : BN_num_bytes(bn));
    BN_bn2binpad(bn, b.data(), static_cast<int>(b.size()));
    return b;
}

// One libcrypto public-key encryption or decryption; setup, if given, sets
// the scheme's options on the context.
inline Bytes pkey_crypt(EVP_PKEY* key, bool encrypt, const Bytes& in,
                        bool (*setup)(EVP_PKEY_CTX*) = nullptr) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    auto crypt = encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt;
    size_t n = 0;
    EXPECT_EQ(encrypt ? EVP_PKEY_encrypt_init(ctx) : EVP_PKEY_decrypt_init(ctx), 1);
    EXPECT_TRUE(!setup || setup(ctx));
    EXPECT_EQ(crypt(ctx, nullptr, &n, in.data(), in.size()), 1);
    Bytes out(n);
    EXPECT_EQ(crypt(ctx, out.data(), &n, in.data(), in.size()), 1);
    out.resize(n);
    EVP_PKEY_CTX_free(ctx);
    return out;
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

}  // namespace CipherTest

#endif  // XELMD_TESTS_CIPHER_CIPHER_ORACLE_H
