#include "cipher/aes.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::Mode;
using CipherTest::run_mode;
using CipherTest::to_hex;

namespace {

// Every test runs on the portable tables and, where the processor has them, on
// the AES instructions.
class AesPath : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam() && !Cipher::Aes::hardware_available()) GTEST_SKIP() << "no AES instructions";
    }
    void select(Cipher::Aes& aes) { ASSERT_EQ(aes.use_hardware(GetParam()), GetParam()); }
};

struct BlockVector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS 197, Appendix C.1 to C.3 (example vectors for the three key sizes).
const BlockVector kFips197[] = {
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

// Through the free-function forms, which serve callers that take a block
// function.
TEST_P(AesPath, Fips197ExampleVectors) {
    for (const auto& v : kFips197) {
        const Bytes key = from_hex(v.key);
        Cipher::Aes aes(key.data(), static_cast<int>(key.size()));
        select(aes);
        EXPECT_EQ(aes.rounds(), static_cast<int>(key.size()) / 4 + 6);
        unsigned char out[16], back[16];
        Cipher::Aes::encode_func(&aes, out, from_hex(v.plain).data());
        EXPECT_EQ(to_hex(out, 16), v.cipher) << v.key;
        Cipher::Aes::decode_func(&aes, back, out);
        EXPECT_EQ(to_hex(back, 16), v.plain) << v.key;
    }
}

// NIST SP 800-38A, Appendix F: the four-block plaintext used by every example.
const char* kSp800Plain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

struct ModeVector {
    const char* name;
    const char* key;
    const char* iv;
    const char* cipher;
};

// SP 800-38A F.2.1, F.2.3, F.2.5 (CBC-AES128/192/256.Encrypt).
const ModeVector kCbc[] = {
    {"F.2.1", "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"F.2.3", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "000102030405060708090a0b0c0d0e0f",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"F.2.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "000102030405060708090a0b0c0d0e0f",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

// SP 800-38A F.5.1, F.5.3, F.5.5 (CTR-AES128/192/256.Encrypt).
const ModeVector kCtr[] = {
    {"F.5.1", "2b7e151628aed2a6abf7158809cf4f3c", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
     "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
    {"F.5.3", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "1abc932417521ca24f2b0459fe7e6e0b090339ec0aa6faefd5ccc2c6f4ce8e94"
     "1e36b26bd1ebc670d1bd1d665620abf74f78a7f6d29809585a97daec58c6b050"},
    {"F.5.5", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"},
};

TEST_P(AesPath, Sp800_38aCbcAndCtrExamples) {
    const Bytes plain = from_hex(kSp800Plain);
    for (Mode m : {Mode::CBC, Mode::CTR}) {
        for (const auto& v : m == Mode::CTR ? kCtr : kCbc) {
            const Bytes key = from_hex(v.key), iv = from_hex(v.iv);
            Cipher::Aes aes(key.data(), static_cast<int>(key.size()));
            select(aes);
            const Bytes out = run_mode(aes, m, true, iv, plain, false);
            EXPECT_EQ(to_hex(out), v.cipher) << v.name;
            EXPECT_EQ(run_mode(aes, m, false, iv, out, false), plain) << v.name;
        }
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
            Cipher::Aes aes(key.data(), key_bytes);
            select(aes);
            CipherTest::expect_modes_match(aes, evp(key_bytes, "-ECB"), evp(key_bytes, "-CBC"),
                                           evp(key_bytes, "-CTR"), key, iv,
                                           CipherTest::random_bytes(rng, len));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesPath, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Instructions" : "Portable";
                         });

TEST(Aes, OtherKeySizesLeaveNoSchedule) {
    const Bytes key(20, 1);
    Cipher::Aes aes(key.data(), 20);
    EXPECT_EQ(aes.rounds(), 0);
    EXPECT_FALSE(aes.use_hardware(true));
}

}  // namespace
