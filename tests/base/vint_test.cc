#include "base/vint.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using Base::VInt;

namespace {

std::vector<unsigned char> enc32(unsigned v, bool little) {
    unsigned char buf[16];
    int n = VInt::encode_vint32(v, buf, little);
    return std::vector<unsigned char>(buf, buf + n);
}

std::vector<unsigned char> enc64(unsigned long v, bool little) {
    unsigned char buf[16];
    int n = VInt::encode_vint64(v, buf, little);
    return std::vector<unsigned char>(buf, buf + n);
}

using Bytes = std::vector<unsigned char>;

TEST(VInt, KnownEncodingsInBothGroupOrders) {
    const struct {
        unsigned value;
        bool little;
        Bytes want;
    } cases[] = {{0, true, {0x00}},         {127, true, {0x7F}},        {127, false, {0x7F}},
                 {128, true, {0x80, 0x01}}, {128, false, {0x81, 0x00}}, {300, true, {0xAC, 0x02}},
                 {300, false, {0x82, 0x2C}}};
    for (const auto& c : cases) {
        EXPECT_EQ(enc32(c.value, c.little), c.want) << c.value << " " << c.little;
        EXPECT_EQ(enc64(c.value, c.little), c.want) << c.value << " " << c.little;
    }
    EXPECT_EQ(enc32(0xFFFFFFFFu, true).size(), 5u);
    EXPECT_EQ(enc64(1ul << 35, true).size(), 6u);
    EXPECT_EQ(enc64(~0ul, true).size(), 10u);
    EXPECT_EQ(enc64(0xFFFFFFFFul, false), enc32(0xFFFFFFFFu, false));
}

TEST(VInt, BytesNumStopsAtFirstClearTopBit) {
    const unsigned char in[] = {0x80, 0x81, 0x02, 0x90};
    EXPECT_EQ(VInt::get_bytes_num(in, 4), 3);
    EXPECT_EQ(VInt::get_bytes_num(in, 2), 0);  // unterminated within length
    EXPECT_EQ(VInt::get_bytes_num(in, 0), 0);
    EXPECT_EQ(VInt::get_bytes_num(in, -3), 0);
}

TEST(VInt, RoundTripsRandomValuesBothOrders) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        unsigned long v = rng() >> (rng() % 64);
        for (bool little : {true, false}) {
            unsigned char buf[16];
            int n = VInt::encode_vint64(v, buf, little);
            ASSERT_EQ(VInt::get_bytes_num(buf, n), n);
            ASSERT_EQ(VInt::decode_vint64(buf, n, little), v);
            unsigned v32 = static_cast<unsigned>(v);
            n = VInt::encode_vint32(v32, buf, little);
            ASSERT_EQ(VInt::decode_vint32(buf, n, little), v32);
        }
    }
}

TEST(VInt, ZigzagMapsSmallMagnitudesToSmallCodes) {
    EXPECT_EQ(VInt::encode_zigzag32(0), 0u);
    EXPECT_EQ(VInt::encode_zigzag32(-1), 1u);
    EXPECT_EQ(VInt::encode_zigzag32(1), 2u);
    EXPECT_EQ(VInt::encode_zigzag32(-2), 3u);
    EXPECT_EQ(VInt::encode_zigzag32(INT32_MIN), 0xFFFFFFFFu);
    EXPECT_EQ(VInt::encode_zigzag64(INT64_MIN), ~0ul);
    for (long v : {0l, 1l, -1l, 123456789l, -987654321012l, INT64_MAX, INT64_MIN}) {
        EXPECT_EQ(VInt::decode_zigzag64(VInt::encode_zigzag64(v)), v);
    }
    for (int v : {0, 5, -5, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(VInt::decode_zigzag32(VInt::encode_zigzag32(v)), v);
    }
}

}  // namespace
