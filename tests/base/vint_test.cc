#include "base/vint.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/hex.h"
#include "tests/test_table.h"

using Base::VInt;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes enc32(unsigned v, bool little) {
    unsigned char buf[16];
    return Bytes(buf, buf + VInt::encode_vint32(v, buf, little));
}

Bytes enc64(unsigned long v, bool little) {
    unsigned char buf[16];
    return Bytes(buf, buf + VInt::encode_vint64(v, buf, little));
}

TEST(VInt, KnownEncodingsInBothGroupOrders) {
    for (const TestTable::Row& row : TestTable::read("base/vint.data", "enc")) {
        SCOPED_TRACE(TestTable::where("base/vint.data", row));
        const unsigned long value = std::stoul(row[1]);
        const bool little = row[2] == "little";
        Bytes want(row[3].size() / 2);
        ASSERT_NE(nullptr, Base::hex_to_bytes(row[3].c_str(), reinterpret_cast<char*>(want.data()),
                                              static_cast<int>(want.size())));
        EXPECT_EQ(enc64(value, little), want);
        if (value <= 0xFFFFFFFFul) {
            EXPECT_EQ(enc32(static_cast<unsigned>(value), little), want);
        }
        EXPECT_EQ(VInt::decode_vint64(want.data(), static_cast<int>(want.size()), little), value);
    }
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
    for (const TestTable::Row& row : TestTable::read("base/vint.data", "zigzag64")) {
        const long v = std::stol(row[1]);
        EXPECT_EQ(VInt::encode_zigzag64(v), std::stoul(row[2])) << v;
        EXPECT_EQ(VInt::decode_zigzag64(std::stoul(row[2])), v);
    }
    for (const TestTable::Row& row : TestTable::read("base/vint.data", "zigzag32")) {
        const int v = std::stoi(row[1]);
        EXPECT_EQ(VInt::encode_zigzag32(v), std::stoul(row[2])) << v;
        EXPECT_EQ(VInt::decode_zigzag32(static_cast<unsigned>(std::stoul(row[2]))), v);
    }
}

}  // namespace
