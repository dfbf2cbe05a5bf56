#include "cipher/mgf1.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <string>

#include "tests/cipher/cipher_oracle.h"

namespace {

// MGF1 with SHA-1 against libcrypto's PKCS1_MGF1.
TEST(Mgf1, MatchesOpenSsl) {
    std::mt19937 rng(12);
    for (int mask_len : {0, 1, 19, 20, 21, 107, 235}) {
        const CipherTest::Bytes seed = CipherTest::random_bytes(rng, 20 + mask_len % 7);
        std::string ours(mask_len, '\0');
        Cipher::Mgf1::calc_sha1(reinterpret_cast<const char*>(seed.data()),
                                static_cast<int>(seed.size()), &ours[0], mask_len);
        CipherTest::Bytes ref(mask_len + 1);
        ASSERT_EQ(PKCS1_MGF1(ref.data(), mask_len, seed.data(), static_cast<long>(seed.size()),
                             EVP_sha1()),
                  0);
        EXPECT_EQ(CipherTest::to_hex(reinterpret_cast<const unsigned char*>(ours.data()), mask_len),
                  CipherTest::to_hex(ref.data(), mask_len));
    }
}

}  // namespace
