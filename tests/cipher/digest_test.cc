// The digests: published vectors, a reset, and random messages fed in random
// pieces against libcrypto.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <functional>
#include <string>

#include "cipher/md5.h"
#include "cipher/sha1.h"
#include "cipher/sm3.h"
#include "tests/cipher/cipher_oracle.h"
#include "tests/test_table.h"

namespace {

template <typename D>
std::string hex(D& d) {
    d.final();
    return CipherTest::to_hex(d.digest, sizeof d.digest);
}

// The published vectors (the message repeated, each repetition one update);
// "abc" fed after junk and a reset, with updates of zero and negative length
// that must change nothing; then messages of every length below 400 and random ones up
// to 4 KiB, fed in random pieces of 0 to 149 bytes so that every buffer
// boundary is crossed, against libcrypto. setup prepares each digest object.
template <typename D>
void expect_digest(const std::string& kind, const EVP_MD* md, const std::function<void(D&)>& setup,
                   unsigned seed) {
    const char* table = "cipher/digest.data";
    std::string abc;
    for (const TestTable::Row& v : TestTable::read(table, kind)) {
        SCOPED_TRACE(TestTable::where(table, v));
        D d;
        setup(d);
        for (int i = std::stoi(v[1]); i > 0; --i)
            d.update(v[2].data(), static_cast<int>(v[2].size()));
        EXPECT_EQ(hex(d), v[3]);
        if (v[2] == "abc") abc = v[3];
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
        unsigned char ref[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), ref, &n, md, nullptr), 1);
        EXPECT_EQ(hex(pieces), CipherTest::to_hex(ref, n)) << len;
    }
}

TEST(Md5, Rfc1321SuiteResetAndOpenSsl) {
    expect_digest<Cipher::Md5>(
        "md5", EVP_md5(), [](Cipher::Md5&) {}, 5);
}

TEST(Sm3, StandardExamplesResetAndOpenSsl) {
    expect_digest<Cipher::Sm3>(
        "sm3", EVP_sm3(), [](Cipher::Sm3&) {}, 7);
}

class Sha1Path : public CipherTest::PathTest<Cipher::Sha1> {};

TEST_P(Sha1Path, PublishedExamplesResetAndOpenSsl) {
    expect_digest<Cipher::Sha1>(
        "sha1", EVP_sha1(), [this](Cipher::Sha1& d) { select(d); }, 6);
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1Path, ::testing::Bool(), CipherTest::path_name);

}  // namespace
