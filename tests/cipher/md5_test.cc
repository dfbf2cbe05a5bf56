#include "cipher/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "tests/cipher/cipher_oracle.h"

namespace {

struct DigestVector {
    const char* message;
    const char* digest;
};

// RFC 1321, Appendix A.5 (the test suite).
const DigestVector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321SuiteAndReset) {
    for (const auto& v : kRfc1321)
        EXPECT_EQ(CipherTest::digest_of<Cipher::Md5>(v.message), v.digest) << v.message;
    EXPECT_EQ(CipherTest::digest_after_reset<Cipher::Md5>(), kRfc1321[2].digest);
}

// Random messages fed in random pieces, against libcrypto.
TEST(Md5, MatchesOpenSslOnRandomInputsAndSplits) {
    std::mt19937 rng(5);
    for (int len = 0; len < 400; ++len) {
        const CipherTest::Bytes msg = CipherTest::random_bytes(rng, len);
        Cipher::Md5 md5;
        EXPECT_EQ(CipherTest::digest_in_pieces(md5, msg, rng),
                  CipherTest::openssl_digest(EVP_md5(), msg))
            << len;
    }
}

}  // namespace
