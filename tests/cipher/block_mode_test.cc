// Rules every block cipher shares through its modes, shown on SM4 (and DES
// for eight-byte blocks); the ciphers' own tests check each mode against
// libcrypto.
#include "cipher/block_mode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cipher/des.h"
#include "cipher/sm4.h"

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char KEY[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(BlockMode, UnpaddingTrustsTheLastByte) {
    Cipher::Sm4 sm4(KEY);
    unsigned char plain[16] = {0}, enc[16], back[16];
    int len = 0;
    // 3 drops three bytes; 200, more than the output, leaves nothing, never
    // a negative length.
    for (int last : {3, 200}) {
        plain[15] = static_cast<unsigned char>(last);
        ASSERT_TRUE(sm4.encode_ecb(enc, len, plain, 16, false));
        ASSERT_TRUE(sm4.decode_ecb(back, len, enc, 16, true));
        EXPECT_EQ(len, last == 3 ? 13 : 0);
    }
}

// Lengths that must be whole blocks and IVs other than a block long give
// false with length 0.
TEST(BlockMode, RefusesBadLengthsAndIvsWithZeroLength) {
    Cipher::Sm4 sm4(KEY);
    Cipher::Des des(KEY);
    unsigned char buf[64] = {0};
    const unsigned char iv[16] = {0};
    int len = 99;
    auto refused = [&](bool ok) {
        const bool result = !ok && len == 0;
        len = 99;
        return result;
    };
    EXPECT_TRUE(refused(sm4.encode_ecb(buf, len, buf, 15, false)));
    EXPECT_TRUE(refused(sm4.decode_ecb(buf, len, buf, 17, true)));
    EXPECT_TRUE(refused(sm4.encode_cbc(buf, len, buf, 16, true, iv, 8)));
    EXPECT_TRUE(refused(sm4.encode_cbc(buf, len, buf, 20, false, iv, 16)));
    EXPECT_TRUE(refused(sm4.decode_cbc(buf, len, buf, 20, true, iv, 16)));
    EXPECT_TRUE(refused(sm4.encode_ctr(buf, len, buf, 20, iv, 15)));
    EXPECT_TRUE(refused(des.encode_cbc(buf, len, buf, 16, false, iv, 16)));
    EXPECT_TRUE(refused(des.decode_cbc(buf, len, buf, 16, false, iv, 7)));
    EXPECT_TRUE(refused(des.encode_ctr(buf, len, buf, 16, iv, 16)));
    EXPECT_TRUE(sm4.encode_cbc(buf, len, buf, 20, true, iv, 16));
    EXPECT_EQ(len, 32);
}

TEST(BlockMode, NullIvMeansZeros) {
    Cipher::Sm4 sm4(KEY);
    const unsigned char zero[16] = {0};
    unsigned char in[40], a[48], b[48];
    for (int i = 0; i < 40; ++i) in[i] = static_cast<unsigned char>(i * 7);
    int la = 0, lb = 0;
    ASSERT_TRUE(sm4.encode_cbc(a, la, in, 40, true, nullptr, 16));
    ASSERT_TRUE(sm4.encode_cbc(b, lb, in, 40, true, zero, 16));
    EXPECT_EQ(Bytes(a, a + la), Bytes(b, b + lb));
    ASSERT_TRUE(sm4.encode_ctr(a, la, in, 40, nullptr, 16));
    ASSERT_TRUE(sm4.encode_ctr(b, lb, in, 40, zero, 16));
    EXPECT_EQ(Bytes(a, a + la), Bytes(b, b + lb));
}

}  // namespace
