// Wire forms of the transport header, the packet header and records, and
// the zero-run code, against bytes written out from the layout tables.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "base/field_desc.h"
#include "network/crp_packet.h"
#include "network/xelo_packet.h"
#include "network/xmp_packet.h"
#include "tests/cipher/cipher_oracle.h"
#include "tests/network/channel_frames.h"
#include "tests/test_table.h"

namespace {

using Base::FieldDesc;
using CipherTest::Bytes;
using CipherTest::from_hex;
using Network::CrpPacket;
using Network::XeloPacket;
using Network::XmpPacket;

Bytes bytes(const void* p, size_t n) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    return Bytes(b, b + n);
}

// A quote: series, price (3 decimals), volume, delta (6 decimals), name.
struct Quote {
    int16_t series;  // 0
    int64_t price;   // 8
    int32_t volume;  // 16
    int64_t delta;   // 24
    char name[6];    // 32
};

// Padding zeroed, so that whole records compare.
Quote quote(int16_t series, int64_t price, int32_t volume, int64_t delta, const char* name) {
    Quote q;
    memset(&q, 0, sizeof q);
    q.series = series;
    q.price = price;
    q.volume = volume;
    q.delta = delta;
    strncpy(q.name, name, sizeof q.name);
    return q;
}
Bytes bytes(const Quote& q) {
    return bytes(&q, sizeof q);
}
// A double's bits, as the double form keeps them in a fixed-point slot.
int64_t bits(double d) {
    int64_t b;
    memcpy(&b, &d, 8);
    return b;
}

// The quote's description, id 7 unless told.
struct QuoteDesc : FieldDesc {
    explicit QuoteDesc(int id = 7) : FieldDesc(id, "Quote") {
        setup_member(TYPE_INT16, 2, 2, 1, 0, "OrqSequenceSeriesType", "Series", false);
        setup_member(TYPE_FIXEDPOINT3, 8, 8, 1, 8, "OrqPriceType", "Price", false);
        setup_member(TYPE_INT32, 4, 4, 1, 16, "OrqVolumeType", "Volume", false);
        setup_member(TYPE_FIXEDPOINT6, 8, 8, 1, 24, "OrqDeltaType", "Delta", false);
        setup_member(TYPE_STRING, 6, 6, 1, 32, "OrqNameType", "Name", true);
        struct_size = sizeof(Quote);
    }
};

TEST(XmpPacket, HeadersAreBigEndian) {
    char out[4];
    XmpPacket::Header h = {2, 0, 0x0102}, hb{};
    XmpPacket::to_stream(&h, out);
    XmpPacket::from_stream(&hb, out);
    EXPECT_EQ(bytes(out, 4), Bytes({0x02, 0x00, 0x01, 0x02}));
    EXPECT_EQ(hb.content_length, 0x0102);
    XmpPacket::FieldHeader f = {0x2408, 319}, fb{};
    XmpPacket::to_stream(&f, out);
    XmpPacket::from_stream(&fb, out);
    EXPECT_EQ(bytes(out, 4), Bytes({0x24, 0x08, 0x01, 0x3F}));
    EXPECT_TRUE(fb.field_id == 0x2408 && fb.field_length == 319);
    CrpPacket::Header c = {1, 3};
    CrpPacket::to_stream(&c, out);
    EXPECT_EQ(bytes(out, 2), Bytes({0x01, 0x03}));
}

// Series, price 12.345 as a big-endian double, volume, the null delta as
// DBL_MAX, the name; the struct form with doubles holds the same values.
TEST(XmpPacket, FixedPointTravelsAsDouble) {
    QuoteDesc d;
    ASSERT_EQ(d.stream_size, 2 + 8 + 4 + 8 + 6);
    const Quote q = quote(3, 12345, 10, INT64_MAX, "ab");
    Bytes wire(d.stream_size);
    XmpPacket::to_stream(&d, &q, wire.data(), sizeof q);
    EXPECT_EQ(wire, from_hex("0003"
                             "4028b0a3d70a3d71"
                             "0000000a"
                             "7fefffffffffffff"
                             "616200000000"));
    Quote back = quote(0, 0, 0, 0, "");
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), d.stream_size, false), 5);
    EXPECT_EQ(bytes(back), bytes(q));
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), d.stream_size, true), 5);
    EXPECT_EQ(bytes(back), bytes(quote(3, bits(12.345), 10, bits(DBL_MAX), "ab")));

    // Between the two struct forms, whole, cut short and in place.
    Quote neg = quote(0, -1234567, 5, INT64_MAX, ""), dbl = neg;
    XmpPacket::to_struct(&d, &neg, &dbl, sizeof neg);
    EXPECT_EQ(bytes(dbl), bytes(quote(0, bits(-1234.567), 5, bits(DBL_MAX), "")));
    EXPECT_EQ(XmpPacket::from_struct(&d, &back, &dbl, sizeof dbl), 5);
    EXPECT_EQ(bytes(back), bytes(neg));
    EXPECT_EQ(XmpPacket::from_struct(&d, &back, &dbl, 4), 1);
    EXPECT_EQ(back.price, 0);
    XmpPacket::to_struct(&d, &neg);
    EXPECT_EQ(bytes(neg), bytes(dbl));
    XmpPacket::from_struct(&d, &neg);
    EXPECT_EQ(neg.price, -1234567);

    // Negative values scale, inexact ones round to the nearest; what has no
    // fixed-point value (NaN, infinite, out of range) is null.
    const double cases[] = {-2.5, 1.005, NAN, INFINITY, -1e300};
    const int64_t want[] = {-2500, 1005, INT64_MAX, INT64_MAX, INT64_MAX};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(XmpPacket::fixed_from(cases[i], 1000.0), want[i]) << cases[i];
}

// A short wire fills what it lacks with zeros and counts only the members
// it held whole; a longer peer's extra bytes are ignored; a short record
// leaves zeros on the wire.
TEST(XmpPacket, ShortInputsZeroFillAndCountWholeMembers) {
    QuoteDesc d;
    Bytes wire(d.stream_size + 10, 0x41);
    Quote back;
    memset(&back, 0xAA, sizeof back);
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), 0, false), 0);
    EXPECT_EQ(bytes(back), Bytes(sizeof back, 0));
    memset(&back, 0xAA, sizeof back);
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), 13, false), 2);  // Volume cut
    EXPECT_EQ(back.series, 0x4141);
    EXPECT_EQ(bytes(&back.volume, sizeof back - 16), Bytes(sizeof back - 16, 0));
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), d.stream_size + 10, false), 5);

    Quote q;
    memset(&q, 0x11, sizeof q);
    XmpPacket::to_stream(&d, &q, wire.data(), 20);  // Series, Price, Volume fit
    EXPECT_EQ(wire[0], 0x11);
    EXPECT_EQ(Bytes(wire.begin() + 14, wire.begin() + d.stream_size), Bytes(d.stream_size - 14, 0));
}

TEST(XeloPacket, HeaderWireForm) {
    XeloPacket p(0x5803, 77, 'C');
    std::vector<char> buf(XeloPacket::MAX_PACKAGE_SIZE);
    p.attach(buf.data());  // a new packet: last of its chain, no request
    EXPECT_TRUE(p.header.chain == 'L' && p.header.request_id == 0u);
    p.header.sequence_series = 0x0102;
    p.header.request_id = 0x0A0B0C0D;
    p.set_sequence((1ul << 32) + 5);
    EXPECT_TRUE(p.header.sequence_no == 5u && p.header.sequence_no_high == 1);
    EXPECT_EQ(p.commit(), 20);
    EXPECT_EQ(bytes(buf.data(), 20), from_hex("044c0102"
                                              "00005803"
                                              "00000005"
                                              "01000000"
                                              "0a0b0c0d"));
    XeloPacket::Header h;
    EXPECT_TRUE(XeloPacket::from_stream(&h, buf.data(), 20));
    EXPECT_FALSE(XeloPacket::from_stream(&h, buf.data(), 19));
    EXPECT_EQ(XeloPacket::get_sequence(&h), (1ul << 32) + 5);
    EXPECT_EQ(h.tid, 0x5803u);
    EXPECT_EQ(XeloPacket::get_xmp_header(buf.data() + 20), buf.data() - 6);
}

TEST(XeloPacket, FieldLimits) {
    std::vector<char> buf(XeloPacket::MAX_PACKAGE_SIZE);
    XeloPacket p(1, 0, 'L');
    p.attach(buf.data());
    for (int i = 0; i < 255; ++i) ASSERT_NE(p.add_field(1, 0), nullptr);
    EXPECT_EQ(p.add_field(1, 0), nullptr);
    EXPECT_EQ(p.header.field_count, 255);

    p.attach(buf.data());
    ASSERT_NE(p.add_field(9, 3986), nullptr);  // 3990 bytes in use
    EXPECT_EQ(p.add_field(9, 7), nullptr);
    EXPECT_EQ(p.header.content_length, 3990);
    EXPECT_NE(p.add_field(9, 6), nullptr);
    EXPECT_EQ(p.header.content_length, 4000);
    EXPECT_EQ(p.commit(), 4020);
}

// A record field reads back through the iterator's description form (the
// stream form written is the request test's, in the API's tests); a packet
// whose content is cut short is refused.
TEST(XeloPacket, RecordFieldReadsBackAndCutContentIsRefused) {
    QuoteDesc d(0x0107);
    const Quote q = quote(0, 2500, 9, 0, "xyz");
    std::vector<char> buf(XeloPacket::MAX_PACKAGE_SIZE);
    XeloPacket p(0x4201, 0, 'L');
    p.attach(buf.data());
    ASSERT_NE(p.add_field(&d, &q, nullptr), nullptr);
    ASSERT_NE(p.add_field(&d, nullptr, nullptr), nullptr);  // reserved only
    int length = p.commit();
    EXPECT_EQ(length, 20 + 2 * (4 + d.stream_size));
    XeloPacket::Header h;
    EXPECT_FALSE(XeloPacket::from_stream(&h, buf.data(), length - 1));
    ASSERT_TRUE(XeloPacket::from_stream(&h, buf.data(), length));
    XeloPacket::Iterator it(&h, buf.data() + 20);
    ASSERT_EQ(it.next(), 0x0107);
    Quote back = quote(0, 0, 0, 0, "");
    EXPECT_EQ(it.get_field(&back, &d, false), 5);
    EXPECT_EQ(bytes(back), bytes(q));
}

TEST(XeloPacket, IteratorPositionCutFieldsAndMissingArea) {
    // An owner may construct its iterator before any packet arrives.
    XeloPacket::Iterator none(nullptr, nullptr);
    EXPECT_EQ(none.next(), -1);
    EXPECT_EQ(none.get_position(), 0);

    XeloPacket::Header h;
    memset(&h, 0, sizeof h);
    const unsigned char fields[] = {0x00, 0x01, 0x00, 0x02, 7, 8, 0x00, 0x03, 0x00, 0x01, 9};
    XeloPacket::Iterator it(&h, fields);
    EXPECT_EQ(it.next(), -1);  // no content
    // content length, then each next() and the position after it: a receiver
    // sees more fields follow while the position is short of the content.
    const struct {
        unsigned short content;
        int ids[3];
        int positions[3];
    } cases[] = {
        {sizeof fields, {1, 3, -1}, {6, sizeof fields, sizeof fields}},
        {10, {1, -1, -1}, {6, 10, 10}},  // the second field's data cut: skipped to the end
        {8, {1, -1, -1}, {6, 6, 6}},     // its header cut: the position stays before it
    };
    for (const auto& c : cases) {
        h.content_length = c.content;
        it.attach(&h, fields);
        EXPECT_EQ(it.get_position(), 0);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(it.next(), c.ids[i]) << c.content << " " << i;
            EXPECT_EQ(it.get_position(), c.positions[i]) << c.content << " " << i;
        }
    }
    // Without an area the fields are read right behind the header.
    struct {
        XeloPacket::Header h;
        unsigned char area[4];
    } packet = {{}, {0x12, 0x34, 0x00, 0x00}};
    packet.h.content_length = 4;
    XeloPacket::Iterator behind(&packet.h, nullptr);
    EXPECT_EQ(behind.next(), 0x1234);
}

// ---- zero-run code ----

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

// Hand-worked codes both ways, and what does not fit or ends inside an
// escape refused.
TEST(ZeroCode, KnownCodesAndRefusals) {
    const char* table = "network/zero_code.data";
    for (const TestTable::Row& c : TestTable::read(table)) {
        SCOPED_TRACE(TestTable::where(table, c));
        Bytes out;
        if (c[0] == "refuse") {
            const std::string in = TestTable::bytes(c[2]);
            EXPECT_EQ(run(c[1] == "encode", Bytes(in.begin(), in.end()), out, std::stoi(c[3])),
                      std::stoi(c[4]));
            continue;
        }
        const std::string p = TestTable::bytes(c[1]), k = TestTable::bytes(c[2]);
        const Bytes plain(p.begin(), p.end()), code(k.begin(), k.end());
        ASSERT_EQ(run(true, plain, out, static_cast<int>(code.size())), 0);
        EXPECT_EQ(out, code);
        ASSERT_EQ(run(false, code, out, static_cast<int>(plain.size())), 0);
        EXPECT_EQ(out, plain);
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
        ASSERT_EQ(size > 0 ? run(false, expect, out, size - 1) : -2, -2);
        ASSERT_EQ(code_size > 0 ? run(true, in, out, code_size - 1) : -2, -2);
    }
}

}  // namespace
