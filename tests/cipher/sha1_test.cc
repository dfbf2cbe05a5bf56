#include "cipher/sha1.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "tests/cipher/cipher_oracle.h"

namespace {

// Every test runs on the portable code and, where present, the SHA instructions.
class Sha1Path : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam() && !Cipher::Sha1::hardware_available())
            GTEST_SKIP() << "no SHA instructions";
    }
    std::string hash(const std::string& msg, int repeat = 1) {
        Cipher::Sha1 sha;
        EXPECT_EQ(sha.use_hardware(GetParam()), GetParam());
        for (int i = 0; i < repeat; ++i) sha.update(msg.data(), static_cast<int>(msg.size()));
        sha.final();
        return CipherTest::to_hex(sha.digest, 20);
    }
};

// FIPS 180 examples: one block, two blocks (the 448-bit message) and one
// million repetitions of "a".
TEST_P(Sha1Path, PublishedExamples) {
    EXPECT_EQ(hash("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(hash(std::string(1000, 'a'), 1000), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(hash(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST_P(Sha1Path, MatchesOpenSslOnRandomInputsAndSplits) {
    std::mt19937 rng(6);
    for (int len = 0; len < 400; ++len) {
        const CipherTest::Bytes msg = CipherTest::random_bytes(rng, len);
        Cipher::Sha1 sha;
        sha.use_hardware(GetParam());
        EXPECT_EQ(CipherTest::digest_in_pieces(sha, msg, rng),
                  CipherTest::openssl_digest(EVP_sha1(), msg))
            << len;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1Path, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Instructions" : "Portable";
                         });

TEST(Sha1, ResetStartsOver) {
    EXPECT_EQ(CipherTest::digest_after_reset<Cipher::Sha1>(),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
