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

// Zero runs become 0xE1..0xEF (runs longer than 15 are cut), bytes
// 0xE0..0xEF are escaped with 0xE0, everything else passes as itself.
TEST(ZeroCode, KnownEncodingsBothWays) {
    const struct {
        Bytes plain, code;
    } cases[] = {{{0x00, 0x00, 0x00, 0x41, 0xE5, 0x00}, {0xE3, 0x41, 0xE0, 0xE5, 0xE1}},
                 {Bytes(31, 0), {0xEF, 0xEF, 0xE1}},
                 {Bytes(15, 0), {0xEF}},
                 {{0xF0, 0xFF, 0xDF}, {0xF0, 0xFF, 0xDF}},
                 {{}, {}}};
    for (const auto& c : cases) {
        Bytes out;
        ASSERT_EQ(run(true, c.plain, out, static_cast<int>(c.code.size())), 0);
        EXPECT_EQ(out, c.code);
        ASSERT_EQ(run(false, c.code, out, static_cast<int>(c.plain.size())), 0);
        EXPECT_EQ(out, c.plain);
    }
}

// -1 for a code that ends inside an escape, -2 for output that does not fit.
TEST(ZeroCode, RefusesTrailingEscapeAndFullOutput) {
    const struct {
        bool encode;
        Bytes in;
        int capacity, rc;
    } cases[] = {{true, {0x41, 0x42, 0x43}, 2, -2}, {true, {0x41, 0xE5}, 2, -2},
                 {true, {0x41, 0xE5}, 3, 0},        {true, Bytes(16, 0), 1, -2},
                 {false, {0xE0}, 16, -1},           {false, {0x41, 0xE0}, 16, -1},
                 {false, {0xEF}, 14, -2},           {false, {0xEF}, 15, 0},
                 {false, {0x41, 0x42}, 1, -2},      {false, {0x41}, 0, -2}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Bytes out;
        EXPECT_EQ(run(cases[i].encode, cases[i].in, out, cases[i].capacity), cases[i].rc)
            << "case " << i;
    }
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

// Random data heavy in zero runs and escaped bytes: the lane-wise coder
// writes the byte-wise code, reads it back, and refuses one byte less room.
TEST(ZeroCode, LaneWiseCoderMatchesTheByteWiseCodeAndNeverOverruns) {
    std::mt19937 rng(3);
    for (int iter = 0; iter < 4000; ++iter) {
        Bytes in(rng() % 300);
        const unsigned zero_bias = rng() % 8;
        for (auto& b : in) {
            const unsigned r = rng() % 8;
            b = r < zero_bias ? 0
                : r < 6       ? static_cast<unsigned char>(0xE0 + rng() % 16)
                              : static_cast<unsigned char>(rng());
        }
        const Bytes expect = reference_encode(in);
        const int code_size = static_cast<int>(expect.size()), size = static_cast<int>(in.size());
        Bytes out;
        ASSERT_EQ(run(true, in, out, code_size), 0);
        ASSERT_EQ(out, expect);
        ASSERT_EQ(run(false, expect, out, size), 0);
        ASSERT_EQ(out, in);
        if (size > 0) {
            ASSERT_EQ(run(false, expect, out, size - 1), -2);
        }
        if (code_size > 0) {
            ASSERT_EQ(run(true, in, out, code_size - 1), -2);
        }
    }
}

}  // namespace
