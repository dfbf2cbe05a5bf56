#include "cipher/sm4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/cipher/cipher_oracle.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::to_hex;

namespace {

// GB/T 32907-2016, appendix A: example 1 (one encryption, the key is also the
// plaintext) and example 2 (the same block encrypted 1,000,000 times).
const char* kKey = "0123456789abcdeffedcba9876543210";
const char* kCipher = "681edf34d206965e86b3e94f536e4246";
const char* kMillion = "595298c7c6fd271f0402f804c33d3f66";

// Every test runs on the tables alone and, where the processor has them, on
// the vector instructions (taken for runs of five blocks or more).
class Sm4Path : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam() && !Cipher::Sm4::hardware_available()) GTEST_SKIP() << "no GFNI";
    }
    void select(Cipher::Sm4& sm4) { ASSERT_EQ(sm4.use_hardware(GetParam()), GetParam()); }
};

// The published block repeated n times, for every mix of 16-, 8-, 4- and
// 1-block steps and of padded vector passes over a tail.
TEST_P(Sm4Path, StandardExampleInEveryBatchSize) {
    const Bytes key = from_hex(kKey);
    Cipher::Sm4 sm4(key.data());
    select(sm4);
    for (int n = 1; n <= 40; ++n) {
        Bytes in;
        std::string expect;
        for (int i = 0; i < n; ++i) {
            in.insert(in.end(), key.begin(), key.end());
            expect += kCipher;
        }
        Bytes out(in.size());
        sm4.encode_blocks(out.data(), in.data(), n);
        EXPECT_EQ(to_hex(out), expect) << n;
        sm4.decode_blocks(out.data(), out.data(), n);
        EXPECT_EQ(out, in) << n;
    }
    unsigned char block[16];
    Cipher::Sm4::encode_func(&sm4, block, key.data());
    EXPECT_EQ(to_hex(block, 16), kCipher);
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

INSTANTIATE_TEST_SUITE_P(Paths, Sm4Path, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Instructions" : "Tables";
                         });

}  // namespace
