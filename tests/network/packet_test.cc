#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/field_desc.h"
#include "network/crp_packet.h"
#include "network/xelo_packet.h"
#include "network/xmp_packet.h"

namespace {

using Base::FieldDesc;
using Network::CrpPacket;
using Network::XeloPacket;
using Network::XmpPacket;
using Bytes = std::vector<unsigned char>;

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

// The quote's description, id 7 unless told.
struct QuoteDesc : FieldDesc {
    explicit QuoteDesc(int id = 7) : FieldDesc(id, "Quote") {
        FieldDesc& d = *this;
        d.setup_member(TYPE_INT16, 2, 2, 1, 0, "OrqSequenceSeriesType", "Series", false);
        d.setup_member(TYPE_FIXEDPOINT3, 8, 8, 1, 8, "OrqPriceType", "Price", false);
        d.setup_member(TYPE_INT32, 4, 4, 1, 16, "OrqVolumeType", "Volume", false);
        d.setup_member(TYPE_FIXEDPOINT6, 8, 8, 1, 24, "OrqDeltaType", "Delta", false);
        d.setup_member(TYPE_STRING, 6, 6, 1, 32, "OrqNameType", "Name", true);
        d.struct_size = sizeof(Quote);
    }
};

TEST(XmpPacket, HeadersAreBigEndian) {
    XmpPacket::Header h = {2, 0, 0x0102};
    char out[4];
    XmpPacket::to_stream(&h, out);
    EXPECT_EQ(bytes(out, 4), Bytes({0x02, 0x00, 0x01, 0x02}));
    XmpPacket::Header back;
    XmpPacket::from_stream(&back, out);
    EXPECT_EQ(back.content_length, 0x0102);
    XmpPacket::FieldHeader f = {0x2408, 319};
    XmpPacket::to_stream(&f, out);
    EXPECT_EQ(bytes(out, 4), Bytes({0x24, 0x08, 0x01, 0x3F}));
    XmpPacket::FieldHeader fb;
    XmpPacket::from_stream(&fb, out);
    EXPECT_EQ(fb.field_id, 0x2408);
    EXPECT_EQ(fb.field_length, 319);
    CrpPacket::Header c = {1, 3};
    CrpPacket::to_stream(&c, out);
    EXPECT_EQ(bytes(out, 2), Bytes({0x01, 0x03}));
}

TEST(XmpPacket, FixedPointTravelsAsDouble) {
    QuoteDesc d;
    ASSERT_EQ(d.stream_size, 2 + 8 + 4 + 8 + 6);
    Quote q;
    memset(&q, 0, sizeof q);
    q.series = 3;
    q.price = 12345;
    q.volume = 10;
    q.delta = INT64_MAX;  // null
    strcpy(q.name, "ab");
    Bytes wire(d.stream_size);
    XmpPacket::to_stream(&d, &q, wire.data(), sizeof q);
    double expect = 12345 * 1e-3;
    uint64_t bits;
    memcpy(&bits, &expect, 8);
    Bytes be(8);
    for (int i = 0; i < 8; ++i) be[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    EXPECT_EQ(Bytes(wire.begin() + 2, wire.begin() + 10), be);
    EXPECT_EQ(Bytes(wire.begin() + 14, wire.begin() + 22),
              Bytes({0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    Quote back;
    memset(&back, 0xAA, sizeof back);
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), d.stream_size, false), 5);
    EXPECT_EQ(back.price, 12345);
    EXPECT_EQ(back.delta, INT64_MAX);
    EXPECT_EQ(back.series, 3);
    EXPECT_STREQ(back.name, "ab");

    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), d.stream_size, true), 5);
    double price, delta;
    memcpy(&price, &back.price, 8);
    memcpy(&delta, &back.delta, 8);
    EXPECT_EQ(price, 12.345);
    EXPECT_EQ(delta, DBL_MAX);
}

TEST(XmpPacket, RoundsNegativeAndNonFiniteValues) {
    double cases[] = {-2.5, 1.005, NAN, INFINITY, -1e300};
    int64_t want[] = {-2500, 1005, INT64_MAX, INT64_MAX, INT64_MAX};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(XmpPacket::fixed_from(cases[i], 1000.0), want[i]) << cases[i];
    }
}

TEST(XmpPacket, ShortWireZeroFillsAndCountsMembers) {
    QuoteDesc d;
    Bytes wire(d.stream_size, 0x41);
    Quote back;
    memset(&back, 0xAA, sizeof back);
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), 0, false), 0);
    EXPECT_EQ(bytes(&back, sizeof back), Bytes(sizeof back, 0));
    memset(&back, 0xAA, sizeof back);
    EXPECT_EQ(XmpPacket::from_stream(&d, &back, wire.data(), 13, false), 2);  // Volume cut
    EXPECT_EQ(back.series, 0x4141);
    EXPECT_EQ(bytes(reinterpret_cast<char*>(&back) + 16, sizeof back - 16),
              Bytes(sizeof back - 16, 0));
    // A longer peer's extra bytes are ignored.
    Bytes longer(d.stream_size + 10, 0);
    EXPECT_EQ(
        XmpPacket::from_stream(&d, &back, longer.data(), static_cast<int>(longer.size()), false),
        5);
}

TEST(XmpPacket, ToStreamWithShortRecordZeroesTheTail) {
    QuoteDesc d;
    Quote q;
    memset(&q, 0x11, sizeof q);
    Bytes wire(d.stream_size, 0xCC);
    XmpPacket::to_stream(&d, &q, wire.data(), 20);  // Series, Price, Volume fit
    EXPECT_EQ(Bytes(wire.begin() + 14, wire.end()), Bytes(d.stream_size - 14, 0));
    EXPECT_EQ(wire[0], 0x11);
}

TEST(XmpPacket, StructConversionsMatchTheWire) {
    QuoteDesc d;
    Quote q;
    memset(&q, 0, sizeof q);
    q.price = -1234567;
    q.delta = INT64_MAX;
    q.volume = 5;
    Quote dbl, back;
    XmpPacket::to_struct(&d, &q, &dbl, sizeof q);
    double price;
    memcpy(&price, &dbl.price, 8);
    EXPECT_EQ(price, -1234567 * 1e-3);
    EXPECT_EQ(dbl.volume, 5);
    EXPECT_EQ(XmpPacket::from_struct(&d, &back, &dbl, sizeof dbl), 5);
    EXPECT_EQ(back.price, q.price);
    EXPECT_EQ(back.delta, INT64_MAX);
    EXPECT_EQ(XmpPacket::from_struct(&d, &back, &dbl, 4), 1);
    EXPECT_EQ(back.price, 0);
    XmpPacket::to_struct(&d, &q);
    memcpy(&price, &q.price, 8);
    EXPECT_EQ(price, -1234.567);
    XmpPacket::from_struct(&d, &q);
    EXPECT_EQ(q.price, -1234567);
}

TEST(XeloPacket, HeaderWireForm) {
    XeloPacket p(0x5803, 77, 'C');
    std::vector<char> buf(XeloPacket::MAX_PACKAGE_SIZE);
    p.attach(buf.data());  // a new packet: last of its chain, no request
    EXPECT_TRUE(p.header.chain == 'L' && p.header.request_id == 0u);
    p.header.sequence_series = 0x0102;
    p.header.request_id = 0x0A0B0C0D;
    p.set_sequence((1ul << 32) + 5);
    EXPECT_EQ(p.header.sequence_no, 5u);
    EXPECT_EQ(p.header.sequence_no_high, 1);
    EXPECT_EQ(p.commit(), 20);
    EXPECT_EQ(bytes(buf.data(), 20), Bytes({4, 'L', 0x01, 0x02, 0, 0, 0x58, 0x03, 0,    0,
                                            0, 5,   1,    0,    0, 0, 0x0A, 0x0B, 0x0C, 0x0D}));
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

    XeloPacket q(1, 0, 'L');
    q.attach(buf.data());
    ASSERT_NE(q.add_field(9, 3986), nullptr);  // 3990 bytes in use
    EXPECT_EQ(q.add_field(9, 7), nullptr);
    EXPECT_EQ(q.header.content_length, 3990);
    EXPECT_NE(q.add_field(9, 6), nullptr);
    EXPECT_EQ(q.header.content_length, 4000);
    EXPECT_EQ(q.commit(), 4020);
}

TEST(XeloPacket, BuildsAndIteratesFields) {
    QuoteDesc d(0x0107);
    Quote q;
    memset(&q, 0, sizeof q);
    q.price = 2500;
    q.volume = 9;
    strcpy(q.name, "xyz");
    std::vector<char> buf(XeloPacket::MAX_PACKAGE_SIZE);
    XeloPacket p(0x4201, 0, 'L');
    p.attach(buf.data());
    ASSERT_NE(p.add_field(&d, &q, nullptr), nullptr);
    char* raw = static_cast<char*>(p.add_field(0x0099, 3));
    memcpy(raw, "abc", 3);
    ASSERT_NE(p.add_field(&d, nullptr, nullptr), nullptr);  // reserved only
    int length = p.commit();
    EXPECT_EQ(length, 20 + 3 * 4 + 2 * d.stream_size + 3);

    XeloPacket::Header h;
    EXPECT_FALSE(XeloPacket::from_stream(&h, buf.data(), length - 1));  // content cut short
    ASSERT_TRUE(XeloPacket::from_stream(&h, buf.data(), length));
    EXPECT_EQ(h.field_count, 3);
    XeloPacket::Iterator it(&h, buf.data() + 20);
    ASSERT_EQ(it.next(), 0x0107);
    Quote back;
    EXPECT_EQ(it.get_field(&back, &d, false), 5);
    EXPECT_EQ(back.price, 2500);
    EXPECT_STREQ(back.name, "xyz");
    ASSERT_EQ(it.next(), 0x0099);
    unsigned short n;
    const char* data = static_cast<const char*>(it.get_field(n));
    EXPECT_EQ(std::string(data, n), "abc");
    ASSERT_EQ(it.next(), 0x0107);
    EXPECT_EQ(it.next(), -1);
    EXPECT_EQ(it.next(), -1);
}

TEST(XeloPacket, IteratorWithoutAreaReadsBehindTheHeader) {
    struct {
        XeloPacket::Header h;
        unsigned char area[8];
    } packet;
    memset(&packet, 0, sizeof packet);
    const unsigned char field[] = {0x12, 0x34, 0x00, 0x00};
    memcpy(packet.area, field, 4);
    packet.h.content_length = 4;
    XeloPacket::Iterator it(&packet.h, nullptr);
    EXPECT_EQ(it.next(), 0x1234);
}

TEST(XeloPacket, IteratorPositionAndCutFields) {
    XeloPacket::Header h;
    memset(&h, 0, sizeof h);
    const unsigned char fields[] = {0x00, 0x01, 0x00, 0x02, 7, 8, 0x00, 0x03, 0x00, 0x01, 9};
    XeloPacket::Iterator it(&h, fields);
    EXPECT_EQ(it.next(), -1);  // no content
    h.content_length = sizeof fields;
    it.attach(&h, fields);
    EXPECT_EQ(it.get_position(), 0);
    ASSERT_EQ(it.next(), 1);
    EXPECT_EQ(it.get_position(), 6);  // a receiver sees more fields follow
    ASSERT_EQ(it.next(), 3);
    EXPECT_EQ(it.get_position(), h.content_length);  // the last one was taken
    EXPECT_EQ(it.next(), -1);

    h.content_length = 10;  // the second field's data is cut off: skipped to the end
    it.attach(&h, fields);
    ASSERT_EQ(it.next(), 1);
    EXPECT_EQ(it.next(), -1);
    EXPECT_EQ(it.get_position(), h.content_length);
    h.content_length = 8;  // its header is cut: the position stays before it
    it.attach(&h, fields);
    ASSERT_EQ(it.next(), 1);
    EXPECT_EQ(it.next(), -1);
    EXPECT_EQ(it.get_position(), 6);
}

TEST(XeloPacket, UnattachedIteratorFindsNoField) {
    // An owner may construct its iterator before any packet arrives.
    XeloPacket::Iterator it(nullptr, nullptr);
    EXPECT_EQ(it.next(), -1);
    EXPECT_EQ(it.get_position(), 0);
}

}  // namespace
