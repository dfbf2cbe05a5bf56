#include "cipher/des.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "cipher/triple_des.h"
#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
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

struct DesVector {
    const char* source;
    const char* key;
    const char* plain;
    const char* cipher;
};

const DesVector kDes[] = {
    // The worked example of the algorithm found in most textbooks.
    {"textbook", "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"textbook", "0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
    // FIPS 81, Appendix B, ECB example ("Now is the time for all ").
    {"FIPS 81 B.1", "0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
    {"FIPS 81 B.1", "0123456789abcdef", "68652074696d6520", "6a271787ab8883f9"},
    {"FIPS 81 B.1", "0123456789abcdef", "666f7220616c6c20", "893d51ec4b563b53"},
    // Parity bits do not matter: the same key with every low bit flipped.
    {"parity", "0022446688aaccee", "4e6f772069732074", "3fa40e8a984d4815"},
};

TEST_F(DesOracle, PublishedVectors) {
    for (const auto& v : kDes) {
        Cipher::Des des(from_hex(v.key).data());
        unsigned char out[8], back[8];
        des.encode(out, from_hex(v.plain).data());
        EXPECT_EQ(to_hex(out, 8), v.cipher) << v.source << " " << v.key;
        des.decode(back, out);
        EXPECT_EQ(to_hex(back, 8), v.plain) << v.source;
    }
}

TEST_F(DesOracle, Fips81CbcExample) {
    Cipher::Des des(from_hex("0123456789abcdef").data());
    const std::string text = "Now is the time for all ";
    const Bytes iv = from_hex("1234567890abcdef");
    Bytes out(24);
    int n = 0;
    ASSERT_TRUE(des.encode_cbc(out.data(), n, reinterpret_cast<const unsigned char*>(text.data()),
                               24, false, iv.data(), 8));
    EXPECT_EQ(to_hex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
}

TEST_F(DesOracle, ProcessTakesTheFirstByteAsMostSignificant) {
    Cipher::Des des(from_hex("133457799bbcdff1").data());
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'e'), 0x85e813540f0ab405UL);
    EXPECT_EQ(des.process(0x85e813540f0ab405UL, 'd'), 0x0123456789abcdefUL);
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'x'), 0UL);
    EXPECT_EQ(des.process(0x0123456789abcdefUL, 'E'), 0UL);
}

// NIST SP 800-67 example: three distinct keys, "The qufck brown fox jump".
TEST_F(DesOracle, TripleDesPublishedExample) {
    const Bytes k1 = from_hex("0123456789abcdef"), k2 = from_hex("23456789abcdef01"),
                k3 = from_hex("456789abcdef0123");
    Cipher::TripleDes tdes(k1.data(), k2.data(), k3.data());
    const std::string text = "The qufck brown fox jump";
    Bytes out(24), back(24);
    int n = 0;
    ASSERT_TRUE(tdes.encode_ecb(out.data(), n, reinterpret_cast<const unsigned char*>(text.data()),
                                24, false));
    EXPECT_EQ(to_hex(out), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
    ASSERT_TRUE(tdes.decode_ecb(back.data(), n, out.data(), 24, false));
    EXPECT_EQ(std::string(back.begin(), back.end()), text);
}

TEST_F(DesOracle, TripleDesWithEqualKeysIsSingleDes) {
    std::mt19937 rng(7);
    for (int i = 0; i < 50; ++i) {
        const Bytes key = CipherTest::random_bytes(rng, 8);
        Cipher::Des des(key.data());
        Cipher::TripleDes tdes(key.data(), key.data(), key.data());
        const unsigned long block = (uint64_t(rng()) << 32) | rng();
        EXPECT_EQ(tdes.process(block, 'e'), des.process(block, 'e'));
        EXPECT_EQ(tdes.process(block, 'd'), des.process(block, 'd'));
        const Bytes in = CipherTest::random_bytes(rng, 37), iv = CipherTest::random_bytes(rng, 8);
        Bytes a(40), b(40);
        int n = 0, m = 0;
        tdes.encode_cbc(a.data(), n, in.data(), 37, true, iv.data(), 8);
        des.encode_cbc(b.data(), m, in.data(), 37, true, iv.data(), 8);
        EXPECT_EQ(a, b);
    }
}

// CTR built from libcrypto's ECB over the counter blocks IV, IV + 1, ...
Bytes openssl_ctr(const EVP_CIPHER* ecb, const Bytes& key, Bytes counter, const Bytes& in) {
    Bytes blocks;
    for (size_t i = 0; i < in.size(); i += 8) {
        blocks.insert(blocks.end(), counter.begin(), counter.end());
        for (int j = 7; j >= 0 && ++counter[j] == 0; --j) {
        }
    }
    Bytes stream = CipherTest::openssl_crypt(ecb, true, key, nullptr, blocks, false);
    for (size_t i = 0; i < in.size(); ++i) stream[i] ^= in[i];
    stream.resize(in.size());
    return stream;
}

// Through a Des reference, so a TripleDes is checked via its virtual process.
void check_all_modes(Cipher::Des& c, const EVP_CIPHER* ecb, const EVP_CIPHER* cbc, const Bytes& key,
                     std::mt19937& rng) {
    for (int len = 0; len <= 8 * 6 + 1; ++len) {
        const Bytes in = CipherTest::random_bytes(rng, len), iv = CipherTest::random_bytes(rng, 8);
        Bytes out(len + 8), back(len + 8);
        int n = -1, m = -1;
        for (bool pad : {false, true}) {
            if (!pad && len % 8 != 0) continue;
            ASSERT_TRUE(c.encode_ecb(out.data(), n, in.data(), len, pad));
            EXPECT_EQ(Bytes(out.begin(), out.begin() + n),
                      CipherTest::openssl_crypt(ecb, true, key, nullptr, in, pad));
            ASSERT_TRUE(c.decode_ecb(back.data(), m, out.data(), n, pad));
            EXPECT_EQ(Bytes(back.begin(), back.begin() + m), in);
            ASSERT_TRUE(c.encode_cbc(out.data(), n, in.data(), len, pad, iv.data(), 8));
            EXPECT_EQ(Bytes(out.begin(), out.begin() + n),
                      CipherTest::openssl_crypt(cbc, true, key, iv.data(), in, pad));
            ASSERT_TRUE(c.decode_cbc(back.data(), m, out.data(), n, pad, iv.data(), 8));
            EXPECT_EQ(Bytes(back.begin(), back.begin() + m), in);
        }
        ASSERT_TRUE(c.encode_ctr(out.data(), n, in.data(), len, iv.data(), 8));
        EXPECT_EQ(Bytes(out.begin(), out.begin() + n), openssl_ctr(ecb, key, iv, in));
        ASSERT_TRUE(c.decode_ctr(back.data(), m, out.data(), n, iv.data(), 8));
        EXPECT_EQ(Bytes(back.begin(), back.begin() + m), in);
    }
}

TEST_F(DesOracle, DesMatchesOpenSslInEveryModeAndLength) {
    std::mt19937 rng(99);
    for (int k = 0; k < 4; ++k) {
        const Bytes key = CipherTest::random_bytes(rng, 8);
        Cipher::Des des(key.data());
        check_all_modes(des, EVP_des_ecb(), EVP_des_cbc(), key, rng);
    }
}

TEST_F(DesOracle, TripleDesMatchesOpenSslInEveryModeAndLength) {
    std::mt19937 rng(100);
    for (int k = 0; k < 4; ++k) {
        const Bytes key = CipherTest::random_bytes(rng, 24);
        Cipher::TripleDes tdes(key.data(), key.data() + 8, key.data() + 16);
        check_all_modes(tdes, EVP_des_ede3_ecb(), EVP_des_ede3_cbc(), key, rng);
    }
}

}  // namespace

namespace {

TEST(Des, FunctionFormsGoThroughTheVirtualProcess) {
    const Bytes k1 = from_hex("0123456789abcdef"), k2 = from_hex("23456789abcdef01"),
                k3 = from_hex("456789abcdef0123");
    Cipher::TripleDes tdes(k1.data(), k2.data(), k3.data());
    unsigned char out[8], back[8];
    Cipher::Des::encode_func(&tdes, out, reinterpret_cast<const unsigned char*>("The qufc"));
    EXPECT_EQ(to_hex(out, 8), "a826fd8ce53b855f");
    Cipher::Des::decode_func(&tdes, back, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), "The qufc");
}

}  // namespace
