#include "cipher/sm3.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "tests/cipher/cipher_oracle.h"

namespace {

// GB/T 32905-2016, appendix A, examples 1 and 2.
struct Vector {
    const char* message;
    const char* digest;
};
const Vector STANDARD_VECTORS[] = {
    {"abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
    {"abcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcdabcd",
     "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
};

TEST(Sm3, ReproducesStandardExamplesAndResets) {
    for (const Vector& v : STANDARD_VECTORS)
        EXPECT_EQ(CipherTest::digest_of<Cipher::Sm3>(v.message), v.digest) << v.message;
    EXPECT_EQ(CipherTest::digest_after_reset<Cipher::Sm3>(), STANDARD_VECTORS[0].digest);
}

// Random lengths 0..4 KiB, fed in random pieces so every buffer boundary is
// crossed (55/56/63/64-byte tails decide whether padding needs a second block).
TEST(Sm3, MatchesOpenSslOnRandomInputsAndSplits) {
    std::mt19937 rng(7);
    for (int round = 0; round < 600; ++round) {
        const int len = round < 130 ? round : static_cast<int>(rng() % 4097);
        const CipherTest::Bytes msg = CipherTest::random_bytes(rng, len);
        Cipher::Sm3 h;
        EXPECT_EQ(CipherTest::digest_in_pieces(h, msg, rng),
                  CipherTest::openssl_digest(EVP_sm3(), msg))
            << len;
    }
}

}  // namespace
