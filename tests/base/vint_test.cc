#include "base/vint.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/hex.h"
#include "tests/test_table.h"

using Base::VInt;

namespace {

TEST(VInt, KnownEncodings) {
    for (const TestTable::Row& row : TestTable::read("base/vint.data", "enc")) {
        SCOPED_TRACE(TestTable::where("base/vint.data", row));
        const unsigned long value = std::stoul(row[1]);
        std::vector<unsigned char> want(row[2].size() / 2);
        ASSERT_NE(nullptr, Base::hex_to_bytes(row[2].c_str(), reinterpret_cast<char*>(want.data()),
                                              static_cast<int>(want.size())));
        unsigned char buf[16];
        int n = VInt::encode_vint64(value, buf);
        EXPECT_EQ(std::vector<unsigned char>(buf, buf + n), want);
        EXPECT_EQ(VInt::get_bytes_num(want.data(), n), n);
        EXPECT_EQ(VInt::decode_vint64(want.data(), n), value);
    }
}

TEST(VInt, BytesNumStopsAtFirstClearTopBit) {
    const unsigned char in[] = {0x80, 0x81, 0x02, 0x90};
    EXPECT_EQ(VInt::get_bytes_num(in, 4), 3);
    EXPECT_EQ(VInt::get_bytes_num(in, 2), 0);  // unterminated within length
    EXPECT_EQ(VInt::get_bytes_num(in, 0), 0);
    EXPECT_EQ(VInt::get_bytes_num(in, -3), 0);
}

TEST(VInt, RoundTripsRandomValues) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        unsigned long v = rng() >> (rng() % 64);
        unsigned char buf[16];
        int n = VInt::encode_vint64(v, buf);
        ASSERT_EQ(VInt::get_bytes_num(buf, n), n);
        ASSERT_EQ(VInt::decode_vint64(buf, n), v);
    }
}

}  // namespace
