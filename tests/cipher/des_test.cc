#include "cipher/des.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <memory>

#include "base/byte_order.h"
#include "cipher/triple_des.h"
#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::Mode;
using CipherTest::to_hex;

namespace {

// Single DES lives in libcrypto's legacy provider.
class DesOracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        default_ = OSSL_PROVIDER_load(nullptr, "default");
    }
    static void TearDownTestSuite() {
        if (legacy_) OSSL_PROVIDER_unload(legacy_);
        if (default_) OSSL_PROVIDER_unload(default_);
    }
    static OSSL_PROVIDER* legacy_;
    static OSSL_PROVIDER* default_;
};

OSSL_PROVIDER* DesOracle::legacy_ = nullptr;
OSSL_PROVIDER* DesOracle::default_ = nullptr;

// A 24-byte key makes a TripleDes of its three parts, used through its Des
// base so that every operation goes through the virtual process().
std::unique_ptr<Cipher::Des> make(const Bytes& key) {
    if (key.size() == 24)
        return std::unique_ptr<Cipher::Des>(
            new Cipher::TripleDes(key.data(), key.data() + 8, key.data() + 16));
    return std::unique_ptr<Cipher::Des>(new Cipher::Des(key.data()));
}

struct DesVector {
    const char* source;
    const char* key;
    const char* iv;  // empty for ECB
    const char* plain;
    const char* cipher;
};

const DesVector kDes[] = {
    // The worked example of the algorithm found in most textbooks.
    {"textbook", "133457799bbcdff1", "", "0123456789abcdef", "85e813540f0ab405"},
    {"textbook", "0e329232ea6d0d73", "", "8787878787878787", "0000000000000000"},
    // FIPS 81, Appendix B, ECB and CBC examples ("Now is the time for all ").
    {"FIPS 81 B.1", "0123456789abcdef", "", "4e6f772069732074", "3fa40e8a984d4815"},
    {"FIPS 81 B.1", "0123456789abcdef", "", "68652074696d6520", "6a271787ab8883f9"},
    {"FIPS 81 B.1", "0123456789abcdef", "", "666f7220616c6c20", "893d51ec4b563b53"},
    {"FIPS 81 CBC", "0123456789abcdef", "1234567890abcdef",
     "4e6f77206973207468652074696d6520666f7220616c6c20",
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
    // Parity bits do not matter: the same key with every low bit flipped.
    {"parity", "0022446688aaccee", "", "4e6f772069732074", "3fa40e8a984d4815"},
    // NIST SP 800-67 example: three distinct keys, "The qufck brown fox jump".
    {"SP 800-67", "0123456789abcdef23456789abcdef01456789abcdef0123", "",
     "54686520717566636b2062726f776e20666f78206a756d70",
     "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"},
};

// Through the modes, process() (first byte most significant) and the
// free-function forms that serve callers taking a block function.
TEST_F(DesOracle, PublishedVectors) {
    for (const auto& v : kDes) {
        SCOPED_TRACE(std::string(v.source) + " " + v.key);
        const Bytes key = from_hex(v.key), iv = from_hex(v.iv), plain = from_hex(v.plain);
        const Bytes cipher = from_hex(v.cipher);
        std::unique_ptr<Cipher::Des> des = make(key);
        const Mode m = iv.empty() ? Mode::ECB : Mode::CBC;
        EXPECT_EQ(to_hex(CipherTest::run_mode(*des, m, true, iv, plain, false)), v.cipher);
        EXPECT_EQ(CipherTest::run_mode(*des, m, false, iv, cipher, false), plain);
        if (m == Mode::CBC) continue;
        EXPECT_EQ(des->process(Base::load_be64(plain.data()), 'e'), Base::load_be64(cipher.data()));
        EXPECT_EQ(des->process(Base::load_be64(cipher.data()), 'd'), Base::load_be64(plain.data()));
        unsigned char out[8], back[8];
        Cipher::Des::encode_func(des.get(), out, plain.data());
        EXPECT_EQ(to_hex(out, 8), std::string(v.cipher).substr(0, 16));
        Cipher::Des::decode_func(des.get(), back, out);
        EXPECT_EQ(Bytes(back, back + 8), Bytes(plain.begin(), plain.begin() + 8));
    }
    // Modes other than 'e' and 'd' give nothing.
    Cipher::Des des(from_hex("133457799bbcdff1").data());
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'x'), 0UL);
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'E'), 0UL);
}

// Random keys, IVs and data of every length up to six blocks, in every mode;
// the last lengths take IVs whose counter carries across every byte or wraps.
TEST_F(DesOracle, DesAndTripleDesMatchOpenSslInEveryModeAndLength) {
    std::mt19937 rng(99);
    for (int k = 0; k < 8; ++k) {
        const bool triple = k % 2 == 1;
        const Bytes key = CipherTest::random_bytes(rng, triple ? 24 : 8);
        std::unique_ptr<Cipher::Des> des = make(key);
        for (int len = 0; len <= 8 * 6 + 1; ++len) {
            const Bytes iv = len < 40    ? CipherTest::random_bytes(rng, 8)
                             : k % 4 < 2 ? from_hex("fefffffffffffffe")
                                         : from_hex("fffffffffffffffe");
            CipherTest::expect_modes_match(*des, triple ? EVP_des_ede3_ecb() : EVP_des_ecb(),
                                           triple ? EVP_des_ede3_cbc() : EVP_des_cbc(), nullptr,
                                           key, iv, CipherTest::random_bytes(rng, len));
        }
    }
}

}  // namespace
