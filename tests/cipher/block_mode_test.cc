#include "cipher/block_mode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "cipher/sm4.h"

namespace {

using Bytes = std::vector<unsigned char>;

// An 8-byte toy cipher (rotate by one byte, then add a constant) that makes
// the mode arithmetic visible in tests without a real cipher.
struct Toy8 {
    void encode(unsigned char* out, const unsigned char* in) const {
        unsigned char t[8];
        for (int i = 0; i < 8; ++i) t[i] = static_cast<unsigned char>(in[(i + 1) % 8] + 0x35);
        std::memcpy(out, t, 8);
    }
    void decode(unsigned char* out, const unsigned char* in) const {
        unsigned char t[8];
        for (int i = 0; i < 8; ++i) t[(i + 1) % 8] = static_cast<unsigned char>(in[i] - 0x35);
        std::memcpy(out, t, 8);
    }
};
using Toy = Cipher::BlockMode<Toy8, 8>;

const unsigned char KEY[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(BlockMode, EcbPadsWholeInputWithAFullBlock) {
    Cipher::Sm4 sm4(KEY);
    Bytes in(16, 0x61), out(32), back(32);
    int len = 0;
    ASSERT_TRUE(sm4.encode_ecb(out.data(), len, in.data(), 16, true));
    EXPECT_EQ(len, 32);
    ASSERT_TRUE(sm4.decode_ecb(back.data(), len, out.data(), 32, false));
    EXPECT_EQ(Bytes(back.begin() + 16, back.end()), Bytes(16, 0x10));
    ASSERT_TRUE(sm4.encode_ecb(out.data(), len, in.data(), 16, false));
    EXPECT_EQ(len, 16);
    ASSERT_TRUE(sm4.encode_ecb(nullptr, len, nullptr, 0, true));
    EXPECT_EQ(len, 16);
}

TEST(BlockMode, UnpaddingTrustsTheLastByte) {
    Cipher::Sm4 sm4(KEY);
    unsigned char plain[16], enc[16], back[16];
    std::memset(plain, 0, 16);
    plain[15] = 3;
    int len = 0;
    ASSERT_TRUE(sm4.encode_ecb(enc, len, plain, 16, false));
    ASSERT_TRUE(sm4.decode_ecb(back, len, enc, 16, true));
    EXPECT_EQ(len, 13);
    plain[15] = 200;  // more than the output: nothing left, never negative
    ASSERT_TRUE(sm4.encode_ecb(enc, len, plain, 16, false));
    ASSERT_TRUE(sm4.decode_ecb(back, len, enc, 16, true));
    EXPECT_EQ(len, 0);
}

TEST(BlockMode, RefusesBadLengthsAndIvsWithZeroLength) {
    Cipher::Sm4 sm4(KEY);
    unsigned char buf[64] = {0};
    const unsigned char iv[16] = {0};
    int len = 99;
    EXPECT_FALSE(sm4.encode_ecb(buf, len, buf, 15, false));
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_FALSE(sm4.decode_ecb(buf, len, buf, 17, true));
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_FALSE(sm4.encode_cbc(buf, len, buf, 16, true, iv, 8));
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_FALSE(sm4.encode_cbc(buf, len, buf, 20, false, iv, 16));
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_FALSE(sm4.decode_cbc(buf, len, buf, 20, true, iv, 16));
    EXPECT_EQ(len, 0);
    len = 99;
    EXPECT_FALSE(sm4.encode_ctr(buf, len, buf, 20, iv, 15));
    EXPECT_EQ(len, 0);
    EXPECT_TRUE(sm4.encode_cbc(buf, len, buf, 20, true, iv, 16));
    EXPECT_EQ(len, 32);
    // Eight-byte blocks take only eight-byte IVs.
    Toy8 toy;
    EXPECT_FALSE(Toy::encode_cbc(toy, buf, len, buf, 16, false, iv, 16));
    EXPECT_FALSE(Toy::decode_cbc(toy, buf, len, buf, 16, false, iv, 7));
    EXPECT_FALSE(Toy::encode_ctr(toy, buf, len, buf, 16, iv, 16));
    EXPECT_EQ(len, 0);
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

TEST(BlockMode, CtrRestartsFromTheIvOnEveryCall) {
    Cipher::Sm4 sm4(KEY);
    const unsigned char iv[16] = {0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    unsigned char in[20], a[20], b[20], back[20];
    for (int i = 0; i < 20; ++i) in[i] = static_cast<unsigned char>(i);
    int len = 0;
    ASSERT_TRUE(sm4.encode_ctr(a, len, in, 20, iv, 16));
    EXPECT_EQ(len, 20);
    ASSERT_TRUE(sm4.encode_ctr(b, len, in, 20, iv, 16));
    EXPECT_EQ(Bytes(a, a + 20), Bytes(b, b + 20));
    ASSERT_TRUE(sm4.decode_ctr(back, len, a, 20, iv, 16));
    EXPECT_EQ(Bytes(back, back + 20), Bytes(in, in + 20));
}

// Keystream block i is E(IV + i): check the counter arithmetic directly,
// including a carry across every byte and the wrap after all ones.
TEST(BlockMode, CtrCounterIsTheBigEndianIvPlusBlockIndex) {
    Toy8 toy;
    const unsigned char iv[8] = {0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe};
    const unsigned char expect_counters[4][8] = {{0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe},
                                                 {0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
                                                 {0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                                                 {0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
    unsigned char zeros[32] = {0}, stream[32];
    int len = 0;
    ASSERT_TRUE(Toy::encode_ctr(toy, stream, len, zeros, 30, iv, 8));
    EXPECT_EQ(len, 30);
    for (int i = 0; i < 4; ++i) {
        unsigned char block[8];
        toy.encode(block, expect_counters[i]);
        const int n = i == 3 ? 6 : 8;
        EXPECT_EQ(Bytes(stream + 8 * i, stream + 8 * i + n), Bytes(block, block + n)) << i;
    }
    const unsigned char ones[8] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const unsigned char wrapped[8] = {0};
    ASSERT_TRUE(Toy::encode_ctr(toy, stream, len, zeros, 16, ones, 8));
    unsigned char block[8];
    toy.encode(block, wrapped);
    EXPECT_EQ(Bytes(stream + 8, stream + 16), Bytes(block, block + 8));
}

TEST(BlockMode, EightByteBlocksRoundTripInPlace) {
    Toy8 toy;
    const unsigned char iv[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    for (int n = 0; n < 40; ++n) {
        Bytes in(n), buf(n + 8);
        for (int i = 0; i < n; ++i) in[i] = static_cast<unsigned char>(i * 13 + n);
        std::copy(in.begin(), in.end(), buf.begin());
        int len = 0;
        ASSERT_TRUE(Toy::encode_cbc(toy, buf.data(), len, buf.data(), n, true, iv, 8));
        EXPECT_EQ(len, (n / 8 + 1) * 8);
        ASSERT_TRUE(Toy::decode_cbc(toy, buf.data(), len, buf.data(), len, true, iv, 8));
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + len), in);
        ASSERT_TRUE(Toy::encode_ecb(toy, buf.data(), len, in.data(), n, true));
        ASSERT_TRUE(Toy::decode_ecb(toy, buf.data(), len, buf.data(), len, true));
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + len), in);
    }
}

}  // namespace
