// SM4's block loops on each path the processor has (tables, 256-bit GFNI,
// 512-bit GFNI with its own counter mode), each forced in turn.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>

#include "cipher/sm4.h"
#include "tests/cipher/cipher_oracle.h"
#include "tests/test_table.h"

using CipherTest::Bytes;
using CipherTest::from_hex;
using CipherTest::to_hex;
using Path = Cipher::Sm4::Path;

namespace {

Bytes openssl_crypt(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, const Bytes& in) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(in.size() + 16);
    int n1 = 0, n2 = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data()), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.data() + n1, &n2), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(n1 + n2);
    return out;
}

class Sm4Paths : public ::testing::TestWithParam<Path> {
  protected:
    void SetUp() override {
        if (!Cipher::Sm4::path_available(GetParam())) GTEST_SKIP() << "path not on this processor";
    }
    void select(Cipher::Sm4& sm4) { ASSERT_TRUE(sm4.use_path(GetParam())); }
};

// The published examples with the same block in every slot of an 8-block
// and a 33-block batch (a whole 256-bit pass, two 512-bit sets and a tail);
// the repeated example goes through the 8-block batch only.
TEST_P(Sm4Paths, PublishedExamplesInEveryBatchSlot) {
    for (const TestTable::Row& v : TestTable::read("cipher/block_cipher.data", "sm4")) {
        SCOPED_TRACE(TestTable::where("cipher/block_cipher.data", v));
        const Bytes key = from_hex(v[2]), plain = from_hex(v[3]);
        const int times = std::stoi(v[1]);
        Cipher::Sm4 sm4(key.data());
        select(sm4);
        for (int blocks : {8, 33}) {
            if (times > 1 && blocks != 8) continue;
            Bytes batch;
            for (int b = 0; b < blocks; ++b) batch.insert(batch.end(), plain.begin(), plain.end());
            for (int i = 0; i < times; ++i) sm4.encode_blocks(batch.data(), batch.data(), blocks);
            for (int b = 0; b < blocks; ++b) EXPECT_EQ(to_hex(batch.data() + 16 * b, 16), v[4]);
            for (int i = 0; i < times; ++i) sm4.decode_blocks(batch.data(), batch.data(), blocks);
            for (int b = 0; b < blocks; ++b)
                EXPECT_EQ(Bytes(&batch[16 * b], &batch[16 * b + 16]), plain);
        }
    }
}

// An IV whose counter carries out of the low 32-bit word, the low 64 bits,
// or wraps all 128, at a random block of the first sets.
Bytes carrying_iv(std::mt19937& rng, int kind) {
    Bytes iv = CipherTest::random_bytes(rng, 16);
    const int ones = kind == 1 ? 4 : kind == 2 ? 8 : 16;
    std::memset(iv.data() + 16 - ones, 0xff, ones);
    iv[15] = static_cast<unsigned char>(0xff - rng() % 40);
    return iv;
}

// Every length from 0 to two 16-block sets squared plus 17 bytes, then longer
// random ones (whole four-set passes): CTR against libcrypto, in place and
// not, and ECB of the whole blocks both ways.
TEST_P(Sm4Paths, MatchesOpenSslOnEveryLengthAroundTheBatches) {
    std::mt19937 rng(30);
    for (int round = 0; round <= 16 * 16 * 2 + 17 + 24; ++round) {
        const int len = round <= 16 * 16 * 2 + 17 ? round : static_cast<int>(rng() % 9000);
        SCOPED_TRACE("length " + std::to_string(len));
        const Bytes key = CipherTest::random_bytes(rng, 16);
        const Bytes iv =
            round % 4 == 0 ? CipherTest::random_bytes(rng, 16) : carrying_iv(rng, round % 4);
        const Bytes in = CipherTest::random_bytes(rng, len);
        Cipher::Sm4 sm4(key.data());
        select(sm4);
        Bytes out(len + 1, 0xa5);
        int out_len = -1;
        ASSERT_TRUE(sm4.encode_ctr(out.data(), out_len, in.data(), len, iv.data(), 16));
        ASSERT_EQ(out_len, len);
        EXPECT_EQ(out[len], 0xa5) << "wrote past the end";
        out.resize(len);
        const Bytes expected = openssl_crypt(EVP_sm4_ctr(), key, iv, in);
        ASSERT_EQ(to_hex(out), to_hex(expected));
        Bytes back = out;
        ASSERT_TRUE(sm4.decode_ctr(back.data(), out_len, back.data(), len, iv.data(), 16));
        EXPECT_EQ(back, in);

        const Bytes whole(in.begin(), in.begin() + len / 16 * 16);
        const int n = static_cast<int>(whole.size());
        Bytes ecb(n);
        ASSERT_TRUE(sm4.encode_ecb(ecb.data(), out_len, whole.data(), n, false));
        EXPECT_EQ(ecb, openssl_crypt(EVP_sm4_ecb(), key, Bytes(16), whole));
        ASSERT_TRUE(sm4.decode_ecb(ecb.data(), out_len, ecb.data(), n, false));
        EXPECT_EQ(ecb, whole);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sm4Paths,
                         ::testing::Values(Path::TABLE, Path::AVX2_GFNI, Path::AVX512_GFNI),
                         [](const ::testing::TestParamInfo<Path>& p) {
                             return p.param == Path::TABLE       ? std::string("Table")
                                    : p.param == Path::AVX2_GFNI ? std::string("Avx2Gfni")
                                                                 : std::string("Avx512Gfni");
                         });

// The default is the best path; a path the processor lacks is refused and
// leaves the selection as it was.
TEST(Sm4, StartsOnTheBestPathAndRefusesMissingOnes) {
    const unsigned char key[16] = {1};
    Cipher::Sm4 sm4(key);
    EXPECT_EQ(sm4.path(), Cipher::Sm4::best_path());
    ASSERT_TRUE(sm4.use_path(Path::TABLE));
    for (Path p : {Path::AVX2_GFNI, Path::AVX512_GFNI})
        EXPECT_EQ(sm4.use_path(p), Cipher::Sm4::path_available(p));
    EXPECT_FALSE(sm4.use_hardware(false));
    EXPECT_EQ(sm4.path(), Path::TABLE);
}

}  // namespace
