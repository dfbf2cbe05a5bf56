// The digests: published vectors, a reset, and random messages fed in random
// pieces against libcrypto.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cipher/md5.h"
#include "cipher/sha1.h"
#include "cipher/sm3.h"
#include "tests/cipher/cipher_oracle.h"

namespace {

struct Vector {
    const char* message;
    int repeat;
    const char* digest;
};

// RFC 1321, Appendix A.5 (the test suite).
const std::vector<Vector> kMd5 = {
    {"", 1, "d41d8cd98f00b204e9800998ecf8427e"},
    {"abc", 1, "900150983cd24fb0d6963f7d28e17f72"},
    {"a", 1, "0cc175b9c0f1b6a831c399e269772661"},
    {"message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", 1, "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 1,
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890", 8, "57edf4a22be3c955ac49da2e2107b67a"},
};

// FIPS 180 examples: one block, two blocks (the 448-bit message) and one
// million repetitions of "a"; and the empty message.
const std::vector<Vector> kSha1 = {
    {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
};

// GB/T 32905-2016, appendix A, examples 1 and 2.
const std::vector<Vector> kSm3 = {
    {"abc", 1, "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
    {"abcd", 16, "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732"},
};

template <typename D>
std::string hex(D& d) {
    d.final();
    return CipherTest::to_hex(d.digest, sizeof d.digest);
}

// The vectors (the message repeated, each repetition one update); "abc" fed
// after junk and a reset, with updates of zero and negative length that must
// change nothing; then messages of every length below 400 and random ones up
// to 4 KiB, fed in random pieces of 0 to 149 bytes so that every buffer
// boundary is crossed, against libcrypto. setup prepares each digest object.
template <typename D>
void expect_digest(const std::vector<Vector>& vectors, const EVP_MD* md,
                   const std::function<void(D&)>& setup, unsigned seed) {
    std::string abc;
    for (const Vector& v : vectors) {
        D d;
        setup(d);
        for (int i = 0; i < v.repeat; ++i) d.update(v.message, static_cast<int>(strlen(v.message)));
        EXPECT_EQ(hex(d), v.digest) << v.message << " x" << v.repeat;
        if (strcmp(v.message, "abc") == 0) abc = v.digest;
    }
    D d;
    setup(d);
    d.update("junk", 4);
    d.reset();
    d.update("ab", 2);
    d.update("zzz", 0);
    d.update("zzz", -5);
    d.update("c", 1);
    EXPECT_EQ(hex(d), abc);
    std::mt19937 rng(seed);
    for (int round = 0; round < 600; ++round) {
        const int len = round < 400 ? round : static_cast<int>(rng() % 4097);
        const CipherTest::Bytes msg = CipherTest::random_bytes(rng, len);
        D pieces;
        setup(pieces);
        for (int done = 0; done < len;) {
            const int piece = std::min<int>(len - done, static_cast<int>(rng() % 150));
            pieces.update(msg.data() + done, piece);
            done += piece;
        }
        EXPECT_EQ(hex(pieces), CipherTest::openssl_digest(md, msg)) << len;
    }
}

TEST(Md5, Rfc1321SuiteResetAndOpenSsl) {
    expect_digest<Cipher::Md5>(
        kMd5, EVP_md5(), [](Cipher::Md5&) {}, 5);
}

TEST(Sm3, StandardExamplesResetAndOpenSsl) {
    expect_digest<Cipher::Sm3>(
        kSm3, EVP_sm3(), [](Cipher::Sm3&) {}, 7);
}

class Sha1Path : public CipherTest::PathTest<Cipher::Sha1> {};

TEST_P(Sha1Path, PublishedExamplesResetAndOpenSsl) {
    expect_digest<Cipher::Sha1>(
        kSha1, EVP_sha1(), [this](Cipher::Sha1& d) { select(d); }, 6);
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1Path, ::testing::Bool(), CipherTest::path_name);

}  // namespace
