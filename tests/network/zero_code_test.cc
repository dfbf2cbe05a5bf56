#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "network/crp_packet.h"

using Network::CrpPacket;
using Bytes = std::vector<unsigned char>;

namespace {

// Runs a coder with the given output capacity; returns the result code.
int run(bool encode, const Bytes& in, Bytes& out, int capacity) {
    out.assign(static_cast<size_t>(capacity) + 1, 0xAA);
    int len = capacity;
    int rc = encode
                 ? CrpPacket::encode_zero(out.data(), len, in.data(), static_cast<int>(in.size()))
                 : CrpPacket::decode_zero(out.data(), len, in.data(), static_cast<int>(in.size()));
    EXPECT_EQ(out[static_cast<size_t>(capacity)], 0xAA) << "wrote past capacity";
    if (rc == 0) {
        out.resize(static_cast<size_t>(len));
    } else {
        EXPECT_EQ(len, capacity) << "out_length must stay unchanged on failure";
    }
    return rc;
}

TEST(ZeroCode, EscapesAndRunsEncodeByteExact) {
    Bytes out;
    ASSERT_EQ(run(true, {0x00, 0x00, 0x00, 0x41, 0xE5, 0x00}, out, 64), 0);
    EXPECT_EQ(out, Bytes({0xE3, 0x41, 0xE0, 0xE5, 0xE1}));
    Bytes back;
    ASSERT_EQ(run(false, out, back, 64), 0);
    EXPECT_EQ(back, Bytes({0x00, 0x00, 0x00, 0x41, 0xE5, 0x00}));
}

TEST(ZeroCode, LongRunsAreCutIntoFifteens) {
    Bytes out;
    ASSERT_EQ(run(true, Bytes(31, 0), out, 64), 0);
    EXPECT_EQ(out, Bytes({0xEF, 0xEF, 0xE1}));
    ASSERT_EQ(run(true, Bytes(15, 0), out, 64), 0);
    EXPECT_EQ(out, Bytes({0xEF}));
}

TEST(ZeroCode, HighBytesAboveTheEscapeRangePassAsThemselves) {
    Bytes out;
    ASSERT_EQ(run(true, {0xF0, 0xFF, 0xDF}, out, 8), 0);
    EXPECT_EQ(out, Bytes({0xF0, 0xFF, 0xDF}));
    ASSERT_EQ(run(false, {0xF0, 0xFF, 0xDF}, out, 8), 0);
    EXPECT_EQ(out, Bytes({0xF0, 0xFF, 0xDF}));
}

TEST(ZeroCode, EmptyInputGivesEmptyOutput) {
    Bytes out;
    EXPECT_EQ(run(true, {}, out, 0), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(run(false, {}, out, 0), 0);
    EXPECT_TRUE(out.empty());
}

TEST(ZeroCode, EncodeRefusesWhenOutputIsFull) {
    Bytes out;
    EXPECT_EQ(run(true, {0x41, 0x42, 0x43}, out, 2), -2);
    EXPECT_EQ(run(true, {0x41, 0xE5}, out, 2), -2);  // escape needs both bytes
    EXPECT_EQ(run(true, {0x41, 0xE5}, out, 3), 0);
    EXPECT_EQ(run(true, Bytes(16, 0), out, 1), -2);
}

TEST(ZeroCode, DecodeRefusesOverflowAndTrailingEscape) {
    Bytes out;
    EXPECT_EQ(run(false, {0xE0}, out, 16), -1);
    EXPECT_EQ(run(false, {0x41, 0xE0}, out, 16), -1);
    EXPECT_EQ(run(false, {0xEF}, out, 14), -2);  // 15 zeros into 14
    EXPECT_EQ(run(false, {0xEF}, out, 15), 0);
    EXPECT_EQ(run(false, {0x41, 0x42}, out, 1), -2);
    EXPECT_EQ(run(false, {0x41}, out, 0), -2);
}

// The code written out byte by byte, as a reference for the lane-wise coder.
Bytes reference_encode(const Bytes& in) {
    Bytes out;
    for (size_t i = 0; i < in.size();) {
        if (in[i] == 0) {
            size_t run = 1;
            while (run < 15 && i + run < in.size() && in[i + run] == 0) ++run;
            out.push_back(static_cast<unsigned char>(0xE0 + run));
            i += run;
        } else {
            if ((in[i] & 0xF0) == 0xE0) out.push_back(0xE0);
            out.push_back(in[i++]);
        }
    }
    return out;
}

TEST(ZeroCode, LaneWiseCoderMatchesTheByteWiseCode) {
    std::mt19937 rng(3);
    for (int iter = 0; iter < 3000; ++iter) {
        Bytes in(rng() % 200);
        unsigned zero_bias = rng() % 8;
        for (auto& b : in) {
            unsigned r = rng() % 8;
            b = r < zero_bias ? 0 : static_cast<unsigned char>(rng());
        }
        Bytes expect = reference_encode(in), out;
        ASSERT_EQ(run(true, in, out, static_cast<int>(expect.size())), 0);
        ASSERT_EQ(out, expect);
        ASSERT_EQ(run(false, expect, out, static_cast<int>(in.size())), 0);
        ASSERT_EQ(out, in);
    }
}

TEST(ZeroCode, RandomDataRoundTripsAndNeverOverrunsTightCapacity) {
    std::mt19937 rng(11);
    for (int iter = 0; iter < 2000; ++iter) {
        Bytes in(rng() % 300);
        for (auto& b : in) {
            unsigned r = rng() % 8;
            b = r < 4 ? 0
                      : (r < 6 ? static_cast<unsigned char>(0xE0 + rng() % 16)
                               : static_cast<unsigned char>(rng()));
        }
        Bytes enc, dec;
        ASSERT_EQ(run(true, in, enc, static_cast<int>(in.size() * 2)), 0);
        ASSERT_EQ(run(false, enc, dec, static_cast<int>(in.size())), 0);
        ASSERT_EQ(dec, in);
        if (!in.empty()) {
            ASSERT_EQ(run(false, enc, dec, static_cast<int>(in.size()) - 1), -2);
        }
        if (!enc.empty()) {
            ASSERT_EQ(run(true, in, dec, static_cast<int>(enc.size()) - 1), -2);
        }
    }
}

}  // namespace
