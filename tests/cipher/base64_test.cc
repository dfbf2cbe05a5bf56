#include "cipher/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "tests/cipher/cipher_oracle.h"

namespace {

// One coder run: a size query, then the call into exactly that room.
std::string run(bool (*coder)(void*, int&, const void*, int), const std::string& in) {
    int n = -1, m = -1;
    EXPECT_TRUE(coder(nullptr, n, in.data(), static_cast<int>(in.size())));
    std::string out(n, '?');
    EXPECT_TRUE(coder(&out[0], m, in.data(), static_cast<int>(in.size())));
    EXPECT_EQ(m, n);
    return out;
}
std::string encode(const std::string& in) {
    return run(Cipher::Base64::encode, in);
}
std::string decode(const std::string& in) {
    return run(Cipher::Base64::decode, in);
}

// RFC 4648, section 10 (test vectors).
TEST(Base64, Rfc4648Examples) {
    const char* pairs[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
    for (const auto& p : pairs) {
        EXPECT_EQ(encode(p[0]), p[1]);
        EXPECT_EQ(decode(p[1]), p[0]);
    }
}

TEST(Base64, MatchesOpenSslOnRandomBytes) {
    std::mt19937 rng(11);
    for (int len = 0; len < 200; ++len) {
        const CipherTest::Bytes in = CipherTest::random_bytes(rng, len);
        std::string ref(4 * ((len + 2) / 3) + 1, '\0');
        const int rn = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&ref[0]), in.data(), len);
        ref.resize(rn);
        const std::string ours = encode(std::string(in.begin(), in.end()));
        EXPECT_EQ(ours, ref);
        EXPECT_EQ(decode(ours), std::string(in.begin(), in.end()));
    }
}

TEST(Base64, PartialGroupsAndNegativeLengthsAreRefused) {
    int n = 99;
    EXPECT_FALSE(Cipher::Base64::decode(nullptr, n, "Zm9", 3));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(Cipher::Base64::decode(nullptr, n, "Zm9v", -4));
    EXPECT_FALSE(Cipher::Base64::encode(nullptr, n, "x", -1));
}

TEST(Base64, OnlyTheCountedBytesAreWritten) {
    char out[8];
    std::memset(out, '#', sizeof out);
    int n = 0;
    ASSERT_TRUE(Cipher::Base64::decode(out, n, "Zg==", 4));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(out[0], 'f');
    EXPECT_EQ(out[1], '#');
    // Out-of-alphabet characters are not rejected; the length rule still holds.
    ASSERT_TRUE(Cipher::Base64::decode(out, n, "!!!!", 4));
    EXPECT_EQ(n, 3);
}

}  // namespace
