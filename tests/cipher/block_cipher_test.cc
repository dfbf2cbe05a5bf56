// The block ciphers (AES, DES and triple DES, SM4) and the modes they share.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/byte_order.h"
#include "cipher/aes.h"
#include "cipher/block_mode.h"
#include "cipher/des.h"
#include "cipher/sm4.h"
#include "cipher/triple_des.h"
#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::Mode;
using CipherTest::run_mode;
using CipherTest::to_hex;

namespace {

class AesPath : public CipherTest::PathTest<Cipher::Aes> {};

struct AesVector {
    const char* name;
    Mode mode;
    const char* key;
    const char* iv;
    const char* plain;  // null: the SP 800-38A plaintext
    const char* cipher;
};

// NIST SP 800-38A, Appendix F: the four-block plaintext used by every example.
const char* kSp800Plain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

const AesVector kAes[] = {
    // FIPS 197, Appendix C.1 to C.3 (example vectors for the three key sizes).
    {"C.1", Mode::ECB, "000102030405060708090a0b0c0d0e0f", "", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"C.2", Mode::ECB, "000102030405060708090a0b0c0d0e0f1011121314151617", "",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"C.3", Mode::ECB, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    // SP 800-38A F.2.1, F.2.3, F.2.5 (CBC-AES128/192/256.Encrypt).
    {"F.2.1", Mode::CBC, "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     nullptr,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"F.2.3", Mode::CBC, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "000102030405060708090a0b0c0d0e0f", nullptr,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"F.2.5", Mode::CBC, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f", nullptr,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    // SP 800-38A F.5.1, F.5.3, F.5.5 (CTR-AES128/192/256.Encrypt).
    {"F.5.1", Mode::CTR, "2b7e151628aed2a6abf7158809cf4f3c", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     nullptr,
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
    {"F.5.3", Mode::CTR, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", nullptr,
     "1abc932417521ca24f2b0459fe7e6e0b090339ec0aa6faefd5ccc2c6f4ce8e94"
     "1e36b26bd1ebc670d1bd1d665620abf74f78a7f6d29809585a97daec58c6b050"},
    {"F.5.5", Mode::CTR, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", nullptr,
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"},
};

// Through the modes.
TEST_P(AesPath, Fips197AndSp800_38aExamples) {
    for (const auto& v : kAes) {
        SCOPED_TRACE(v.name);
        const Bytes key = from_hex(v.key), iv = from_hex(v.iv);
        const Bytes plain = from_hex(v.plain ? v.plain : kSp800Plain);
        Cipher::Aes aes(key.data(), static_cast<int>(key.size()));
        select(aes);
        EXPECT_EQ(aes.rounds(), static_cast<int>(key.size()) / 4 + 6);
        const Bytes out = run_mode(aes, v.mode, true, iv, plain, false);
        EXPECT_EQ(to_hex(out), v.cipher);
        EXPECT_EQ(run_mode(aes, v.mode, false, iv, out, false), plain);
    }
}

// libcrypto's cipher for a key size and mode.
const EVP_CIPHER* evp(int key_bytes, const char* mode) {
    return EVP_get_cipherbyname(("AES-" + std::to_string(key_bytes * 8) + mode).c_str());
}

// Random keys, IVs and data of every length up to a few blocks past the
// eight-block batches, in every mode, against libcrypto. The last lengths
// take IVs whose counter carries from the low into the high 64 bits, wraps
// at 128 bits, or carries across bytes.
TEST_P(AesPath, MatchesOpenSslInEveryModeAndLength) {
    const char* edges[] = {"00000000000000fffffffffffffffffd", "fffffffffffffffffffffffffffffffe",
                           "000000000000000000000000fffffff8"};
    std::mt19937 rng(1234);
    for (int key_bytes : {16, 24, 32}) {
        for (int len = 0; len <= 16 * 11 + 1; ++len) {
            const Bytes key = CipherTest::random_bytes(rng, key_bytes);
            const Bytes iv =
                len >= 150 ? from_hex(edges[len % 3]) : CipherTest::random_bytes(rng, 16);
            const Bytes in = CipherTest::random_bytes(rng, len);
            Cipher::Aes aes(key.data(), key_bytes);
            select(aes);
            CipherTest::expect_modes_match(aes, evp(key_bytes, "-ECB"), evp(key_bytes, "-CBC"),
                                           evp(key_bytes, "-CTR"), key, iv, in);
            // A null IV means zeros, in the instructions' own CTR too.
            Bytes out(len + 1);
            int n = 0;
            ASSERT_TRUE(aes.encode_ctr(out.data(), n, in.data(), len, nullptr, 16));
            out.resize(n);
            EXPECT_EQ(out, CipherTest::openssl_crypt(evp(key_bytes, "-CTR"), true, key,
                                                     Bytes(16, 0).data(), in, false));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesPath, ::testing::Bool(), CipherTest::path_name);

TEST(Aes, OtherKeySizesLeaveNoSchedule) {
    const Bytes key(20, 1);
    Cipher::Aes aes(key.data(), 20);
    EXPECT_EQ(aes.rounds(), 0);
    EXPECT_FALSE(aes.use_hardware(true));
}

// Single DES lives in libcrypto's legacy provider; loading it means loading
// the default one by name as well. Both stay until every suite of the
// process has run (the other ciphers' checks share them) and are unloaded
// then, so the leak checker sees nothing left behind.
class Providers : public ::testing::Environment {
  public:
    static bool load() {
        if (legacy_ == nullptr) legacy_ = OSSL_PROVIDER_load(nullptr, "legacy");
        if (default_ == nullptr) default_ = OSSL_PROVIDER_load(nullptr, "default");
        return legacy_ != nullptr && default_ != nullptr;
    }
    void TearDown() override {
        if (legacy_ != nullptr) OSSL_PROVIDER_unload(legacy_);
        if (default_ != nullptr) OSSL_PROVIDER_unload(default_);
        legacy_ = default_ = nullptr;
    }

  private:
    static OSSL_PROVIDER* legacy_;
    static OSSL_PROVIDER* default_;
};
OSSL_PROVIDER* Providers::legacy_ = nullptr;
OSSL_PROVIDER* Providers::default_ = nullptr;
::testing::Environment* const providers = ::testing::AddGlobalTestEnvironment(new Providers);

class DesOracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Providers::load()); }
};

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

// Through the modes and process() (first byte most significant).
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

// GB/T 32907-2016, appendix A: example 1 (one encryption, the key is also the
// plaintext) and example 2 (the same block encrypted 1,000,000 times).
const char* kKey = "0123456789abcdeffedcba9876543210";
const char* kCipher = "681edf34d206965e86b3e94f536e4246";
const char* kMillion = "595298c7c6fd271f0402f804c33d3f66";

class Sm4Path : public CipherTest::PathTest<Cipher::Sm4> {};

// The published block; every batch size of the block loops is left to the
// libcrypto check below.
TEST_P(Sm4Path, StandardExample) {
    const Bytes key = from_hex(kKey);
    Cipher::Sm4 sm4(key.data());
    select(sm4);
    unsigned char block[16];
    sm4.encode_blocks(block, key.data(), 1);
    EXPECT_EQ(to_hex(block, 16), kCipher);
    sm4.decode_blocks(block, block, 1);
    EXPECT_EQ(Bytes(block, block + 16), key);
}

TEST(Sm4, MillionIterationExample) {
    const Bytes key = from_hex(kKey);
    Cipher::Sm4 sm4(key.data());
    unsigned char block[16];
    std::memcpy(block, key.data(), 16);
    for (int i = 0; i < 1000000; ++i) sm4.encode(block, block);
    EXPECT_EQ(to_hex(block, 16), kMillion);
    for (int i = 0; i < 1000000; ++i) sm4.decode(block, block);
    EXPECT_EQ(Bytes(block, block + 16), key);
}

// Random keys, IVs and lengths up to 4 KiB; every tenth IV makes the
// counter carry into the high half.
TEST_P(Sm4Path, ModesMatchOpenSslOnRandomKeysIvsAndLengths) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const Bytes key = CipherTest::random_bytes(rng, 16);
        Bytes iv = CipherTest::random_bytes(rng, 16);
        if (round % 10 == 0) std::memset(iv.data() + 8, 0xff, 8);
        Cipher::Sm4 sm4(key.data());
        select(sm4);
        int len = static_cast<int>(rng() % 4097);
        if (round % 2 == 0) len -= len % 16;
        CipherTest::expect_modes_match(sm4, EVP_sm4_ecb(), EVP_sm4_cbc(), EVP_sm4_ctr(), key, iv,
                                       CipherTest::random_bytes(rng, len));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm4Path, ::testing::Bool(), CipherTest::path_name);

const unsigned char KEY[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(BlockMode, UnpaddingTrustsTheLastByte) {
    Cipher::Sm4 sm4(KEY);
    unsigned char plain[16] = {0}, enc[16], back[16];
    int len = 0;
    // 3 drops three bytes; 200, more than the output, leaves nothing, never
    // a negative length.
    for (int last : {3, 200}) {
        plain[15] = static_cast<unsigned char>(last);
        ASSERT_TRUE(sm4.encode_ecb(enc, len, plain, 16, false));
        ASSERT_TRUE(sm4.decode_ecb(back, len, enc, 16, true));
        EXPECT_EQ(len, last == 3 ? 13 : 0);
    }
}

// Lengths that must be whole blocks and IVs other than a block long give
// false with length 0.
TEST(BlockMode, RefusesBadLengthsAndIvsWithZeroLength) {
    Cipher::Sm4 sm4(KEY);
    Cipher::Des des(KEY);
    unsigned char buf[64] = {0};
    const unsigned char iv[16] = {0};
    int len = 99;
    auto refused = [&](bool ok) {
        const bool result = !ok && len == 0;
        len = 99;
        return result;
    };
    EXPECT_TRUE(refused(sm4.encode_ecb(buf, len, buf, 15, false)));
    EXPECT_TRUE(refused(sm4.decode_ecb(buf, len, buf, 17, true)));
    EXPECT_TRUE(refused(sm4.encode_cbc(buf, len, buf, 16, true, iv, 8)));
    EXPECT_TRUE(refused(sm4.encode_cbc(buf, len, buf, 20, false, iv, 16)));
    EXPECT_TRUE(refused(sm4.decode_cbc(buf, len, buf, 20, true, iv, 16)));
    EXPECT_TRUE(refused(sm4.encode_ctr(buf, len, buf, 20, iv, 15)));
    EXPECT_TRUE(refused(des.encode_cbc(buf, len, buf, 16, false, iv, 16)));
    EXPECT_TRUE(refused(des.decode_cbc(buf, len, buf, 16, false, iv, 7)));
    EXPECT_TRUE(refused(des.encode_ctr(buf, len, buf, 16, iv, 16)));
    EXPECT_TRUE(sm4.encode_cbc(buf, len, buf, 20, true, iv, 16));
    EXPECT_EQ(len, 32);
}

TEST(BlockMode, NullIvMeansZeros) {
    Cipher::Sm4 sm4(KEY);
    const unsigned char zero[16] = {0};
    unsigned char in[40], a[48], b[48];
    for (int i = 0; i < 40; ++i) in[i] = static_cast<unsigned char>(i * 7);
    int la = 0, lb = 0;
    ASSERT_TRUE(sm4.encode_cbc(a, la, in, 40, true, nullptr, 16));
    ASSERT_TRUE(sm4.encode_cbc(b, lb, in, 40, true, zero, 16));
    EXPECT_EQ(Bytes(a, a + la), Bytes(b, b + lb));
    ASSERT_TRUE(sm4.encode_ctr(a, la, in, 40, nullptr, 16));
    ASSERT_TRUE(sm4.encode_ctr(b, lb, in, 40, zero, 16));
    EXPECT_EQ(Bytes(a, a + la), Bytes(b, b + lb));
}

}  // namespace
