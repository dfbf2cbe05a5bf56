#include "base/field_desc.h"

#include "base/map.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Base::FieldDesc;
using Bytes = std::vector<unsigned char>;

// The login request: seven strings and an int, 204 bytes end to end.
void describe_login(FieldDesc& d) {
    const int sizes[] = {9, 16, 11, 41, 41, 41, 41};
    const char* names[] = {"TradingDay",  "UserID",          "ParticipantID",
                           "Password",    "UserProductInfo", "InterfaceProductInfo",
                           "ProtocolInfo"};
    for (int i = 0; i < 7; ++i) d.add_member(TYPE_STRING, sizes[i], "OrqTextType", names[i], false);
    d.add_member(TYPE_INT32, 4, "OrqDataCenterIDType", "DataCenterID", false);
}

// One member of every streamable type, aligned by hand.
struct Mixed {
    int16_t a;  // 0
    char c;     // 2
    char pad0;
    int32_t b;  // 4
    int64_t f;  // 8  FIXEDPOINT3
    double d;   // 16
    char s[5];  // 24
    char pad1[3];
    uint64_t u;  // 32
};

void describe_mixed(FieldDesc& d) {
    d.setup_member(TYPE_INT16, 2, 2, 1, 0, "T16", "A", true);
    d.setup_member(TYPE_CHAR, 1, 1, 1, 2, "TC", "C", false);
    d.setup_member(TYPE_INT32, 4, 4, 1, 4, "T32", "B", true);
    d.setup_member(TYPE_FIXEDPOINT3, 8, 8, 1, 8, "TP", "F", false);
    d.setup_member(TYPE_FLOAT64, 8, 8, 1, 16, "TD", "D", false);
    d.setup_member(TYPE_STRING, 5, 5, 1, 24, "TS", "S", false);
    d.setup_member(TYPE_UINT64, 8, 8, 1, 32, "TU", "U", false);
    d.struct_size = sizeof(Mixed);
}

TEST(FieldDesc, AddMemberLaysOutEndToEnd) {
    FieldDesc d(10, "XelReqUserLoginField");
    describe_login(d);
    EXPECT_EQ(d.member_count, 8);
    EXPECT_EQ(d.struct_size, 204);
    EXPECT_EQ(d.stream_size, 204);
    EXPECT_EQ(d.members[7].offset, 200);
    EXPECT_EQ(d.members[7].stream_offset, 200);
    EXPECT_EQ(d.get_member_index("Password"), 3);
    EXPECT_EQ(d.get_member_index("password"), -1);
    EXPECT_EQ(d.get_member_desc(8), nullptr);
}

TEST(FieldDesc, LongNamesAreCut) {
    FieldDesc d(1, std::string(100, 'F').c_str());
    EXPECT_EQ(strlen(d.field_name), 63u);
    d.add_member(TYPE_INT32, 4, std::string(80, 't').c_str(), std::string(200, 'n').c_str(), false);
    EXPECT_EQ(strlen(d.members[0].type_name), 63u);
    EXPECT_EQ(strlen(d.members[0].name), 127u);
    EXPECT_EQ(d.get_member_index(std::string(127, 'n').c_str()), 0);
}

TEST(FieldDesc, StreamWithShortRecordLengthZeroesTheRest) {
    FieldDesc d(10, "Login");
    describe_login(d);
    Bytes record(204);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>('a' + i % 26);
    Bytes stream(204, 0xCC);
    d.to_stream(record.data(), stream.data(), 100);
    // TradingDay, UserID, ParticipantID and Password end at 77 <= 100;
    // UserProductInfo ends at 118 and is the first that does not fit.
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 77),
              Bytes(record.begin(), record.begin() + 77));
    EXPECT_EQ(Bytes(stream.begin() + 77, stream.end()), Bytes(127, 0));
}

TEST(FieldDesc, ShortStreamYieldsZeroedTrailingMembers) {
    FieldDesc d(10, "Login");
    describe_login(d);
    Bytes stream(204, 'x');
    Bytes record(204, 0xCC);
    d.from_stream(record.data(), stream.data(), 8);  // shorter than the first member
    EXPECT_EQ(record, Bytes(204, 0));
    d.from_stream(record.data(), stream.data(), 36);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 36), Bytes(36, 'x'));
    EXPECT_EQ(Bytes(record.begin() + 36, record.end()), Bytes(168, 0));
}

TEST(FieldDesc, NumbersTravelBigEndian) {
    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    EXPECT_EQ(d.stream_size, 2 + 1 + 4 + 8 + 8 + 5 + 8);
    Mixed m;
    memset(&m, 0, sizeof m);
    m.a = 0x0102;
    m.c = 'z';
    m.b = 0x03040506;
    m.f = 12345;
    m.d = 1.5;
    strcpy(m.s, "abcd");
    m.u = 0x1122334455667788ull;
    Bytes s(d.stream_size);
    d.to_stream(&m, s.data(), sizeof m);
    EXPECT_EQ(Bytes(s.begin(), s.begin() + 7), Bytes({0x01, 0x02, 'z', 0x03, 0x04, 0x05, 0x06}));
    // The descriptor's own form sends fixed point as the raw integer.
    EXPECT_EQ(Bytes(s.begin() + 7, s.begin() + 15), Bytes({0, 0, 0, 0, 0, 0, 0x30, 0x39}));
    EXPECT_EQ(Bytes(s.begin() + 15, s.begin() + 23), Bytes({0x3F, 0xF8, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s[35], 0x88);
    Mixed back;
    memset(&back, 0xEE, sizeof back);
    d.from_stream(&back, s.data(), d.stream_size);
    EXPECT_TRUE(d.equal_field(&m, &back));
}

TEST(FieldDesc, RecordCompactFormRoundTrips) {
    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed m;
    memset(&m, 0, sizeof m);
    m.a = -7;
    strcpy(m.s, "xy");
    m.f = INT64_MAX;
    unsigned char buf[128];
    int n = d.to_var_stream(&m, buf, sizeof buf);
    // Numbers raw (2+1+4+8+8+8), the string as length 2 and its bytes.
    EXPECT_EQ(n, 31 + 3);
    EXPECT_EQ(d.to_var_stream(&m, buf, n - 1), -1);
    Mixed back;
    memset(&back, 0x55, sizeof back);
    EXPECT_EQ(d.from_var_stream(&back, buf, n), n);
    EXPECT_TRUE(d.equal_field(&m, &back));
    EXPECT_STREQ(back.s, "xy");
    EXPECT_EQ(back.s[3], 0);
    for (int cut = 0; cut < n; ++cut) EXPECT_EQ(d.from_var_stream(&back, buf, cut), -1);
}

TEST(FieldDesc, DescriptorCompactFormRoundTrips) {
    FieldDesc d(0x2408, "Mixed");
    describe_mixed(d);
    std::vector<unsigned char> buf(4096);
    int n = d.to_var_stream(buf.data(), static_cast<int>(buf.size()));
    ASSERT_GT(n, 0);
    EXPECT_EQ(buf[0], 0x88);  // 0x2408 as a little-first VInt
    EXPECT_EQ(buf[1], 0x48);
    EXPECT_EQ(buf[2], 40);  // struct size
    FieldDesc back(0, "");
    EXPECT_EQ(back.from_var_stream(buf.data(), n), n);
    EXPECT_TRUE(FieldDesc::is_same(&d, &back));
    EXPECT_EQ(back.field_id, 0x2408);
    EXPECT_STREQ(back.field_name, "Mixed");
    EXPECT_EQ(back.struct_size, d.struct_size);
    EXPECT_EQ(back.get_member_index("U"), 6);
    for (int cut = 0; cut < n; ++cut) {
        FieldDesc part(0, "");
        EXPECT_EQ(part.from_var_stream(buf.data(), cut), -1) << cut;
        EXPECT_EQ(part.member_count, 0);
    }
}

TEST(FieldDesc, DescriptorReaderRefusesMembersOutsideTheRecord) {
    FieldDesc d(1, "Bad");
    d.setup_member(TYPE_INT64, 8, 8, 1, 4, "T", "X", false);  // ends at 12
    d.struct_size = 8;
    unsigned char buf[256];
    int n = d.to_var_stream(buf, sizeof buf);
    FieldDesc back(0, "");
    EXPECT_EQ(back.from_var_stream(buf, n), -1);
}

TEST(FieldDesc, CopyAndIsSame) {
    FieldDesc a(1, "A");
    describe_mixed(a);
    FieldDesc b(2, "B");
    b.copy(&a);
    EXPECT_TRUE(FieldDesc::is_same(&a, &b));
    EXPECT_EQ(b.get_member_index("S"), 5);
    b.members[3].is_key = true;
    EXPECT_FALSE(FieldDesc::is_same(&a, &b));
    b.clear();
    EXPECT_EQ(b.member_count, 0);
    EXPECT_EQ(b.get_member_index("S"), -1);
}

TEST(FieldDesc, NullValuesPerType) {
    unsigned char v[8];
    const DataType types[] = {TYPE_UINT8,   TYPE_UINT16,      TYPE_UINT32, TYPE_UINT64,
                              TYPE_INT8,    TYPE_INT16,       TYPE_INT32,  TYPE_INT64,
                              TYPE_FLOAT32, TYPE_FLOAT64,     TYPE_CHAR,   TYPE_STRING,
                              TYPE_BOOL,    TYPE_FIXEDPOINT5, TYPE_VINT32, TYPE_VINT64};
    for (DataType t : types) {
        memset(v, 0x11, sizeof v);
        FieldDesc::set_null(t, v);
        EXPECT_TRUE(FieldDesc::is_null(t, v)) << t;
    }
    FieldDesc::set_null(TYPE_FLOAT32, v);
    uint32_t bits;
    memcpy(&bits, v, 4);
    EXPECT_EQ(bits, 0x7F7FFFFFu);
    FieldDesc::set_null(TYPE_BOOL, v);
    int32_t b;
    memcpy(&b, v, 4);
    EXPECT_EQ(b, INT32_MAX);
    int32_t zero = 0;
    EXPECT_FALSE(FieldDesc::is_null(TYPE_INT32, &zero));

    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed m;
    d.set_null(&m);
    EXPECT_TRUE(d.is_null(&m));
    m.b = 0;
    EXPECT_FALSE(d.is_null(&m));
    FieldDesc empty(3, "Empty");
    EXPECT_TRUE(empty.is_null(&m));
}

TEST(FieldDesc, SetFieldCopiesBoundedAndNulls) {
    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed m;
    memset(&m, 0x7A, sizeof m);
    d.set_field(5, &m, "abcdefgh");
    EXPECT_STREQ(m.s, "abcd");
    int32_t b = 42;
    d.set_field(2, &m, &b);
    EXPECT_EQ(m.b, 42);
    d.set_field(2, &m, nullptr);
    EXPECT_EQ(m.b, INT32_MAX);
    d.set_field(5, &m, nullptr);
    EXPECT_EQ(Bytes(m.s, m.s + 5), Bytes(5, 0));
}

TEST(FieldDesc, ComparesByTypeAndDirection) {
    double one = 1.0, near = 1.0000000001, far = 1.00001;
    EXPECT_EQ(FieldDesc::compare_member(TYPE_FLOAT64, &one, &near, true), 0);
    EXPECT_TRUE(FieldDesc::equal_member(TYPE_FLOAT64, &one, &near));
    EXPECT_EQ(FieldDesc::compare_member(TYPE_FLOAT64, &one, &far, true), -1);
    EXPECT_FALSE(FieldDesc::equal_member(TYPE_FLOAT64, &one, &far));
    uint32_t big = 0xF0000000u, small = 1;
    EXPECT_EQ(FieldDesc::compare_member(TYPE_UINT32, &big, &small, true), 1);
    int32_t neg = -1, pos = 1;
    EXPECT_EQ(FieldDesc::compare_member(TYPE_INT32, &neg, &pos, true), -1);
    EXPECT_EQ(FieldDesc::compare_member(TYPE_INT32, &neg, &pos, false), 1);
    EXPECT_EQ(FieldDesc::compare_member(TYPE_STRING, "abc", "abd", true), -1);

    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed x, y;
    memset(&x, 0, sizeof x);
    memset(&y, 0, sizeof y);
    x.a = y.a = 3;
    x.b = 1;
    y.b = 2;
    x.d = 5;  // not a key member
    EXPECT_EQ(d.compare_key(&x, &y, true), -1);
    EXPECT_EQ(FieldDesc::compare_key(&d, &y, &x), 1);
    EXPECT_FALSE(d.equal_key(&x, &y));
    y.b = 1;
    EXPECT_TRUE(d.equal_key(&x, &y));
    EXPECT_TRUE(FieldDesc::equal_key(&d, &x, &y));
    EXPECT_EQ(d.hash_key(&x), d.hash_key(&y));
    EXPECT_EQ(FieldDesc::hash_key(&d, &x), d.hash_key(&x));
    EXPECT_FALSE(d.equal_field(&x, &y));
    EXPECT_TRUE(d.equal_field(&x, &y, 0, 3));
    EXPECT_TRUE(d.equal_field(&x, &y, 4, 3));
    y.a = 4;
    EXPECT_NE(d.hash_key(&x), d.hash_key(&y));
}

TEST(FieldDesc, ParsesTextByType) {
    int64_t f;
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_FIXEDPOINT2, &f, "1.005", 8));
    EXPECT_EQ(f, 100);
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_FIXEDPOINT1, &f, "-2.5", 8));
    EXPECT_EQ(f, -25);
    FieldDesc::fill_member(
        TYPE_FIXEDPOINT3, &f,
        "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558"
        "632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245"
        "490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168"
        "738177180919299881250404026184124858368",
        8);
    EXPECT_EQ(f, INT64_MAX);
    int32_t i = 5;
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_INT32, &i, "", 4));
    EXPECT_EQ(i, INT32_MAX);
    char out[64];
    EXPECT_EQ(FieldDesc::print_member(out, TYPE_INT32, &i, false, 4, false, nullptr), 0);
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_INT32, &i, "-17", 4));
    EXPECT_EQ(i, -17);
    uint8_t u8;
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_UINT8, &u8, "200", 1));
    EXPECT_EQ(u8, 200);
    char s[5];
    FieldDesc::fill_member(TYPE_STRING, s, "abcdefg", 5);
    EXPECT_STREQ(s, "abcd");
    char c = 'q';
    FieldDesc::fill_member(TYPE_CHAR, &c, "", 1);
    EXPECT_EQ(c, 0);
    double d;
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_FLOAT64, &d, "0.1@000000000000F03F", 8));
    EXPECT_EQ(d, 1.0);  // the hex bytes win over the decimal text
    float fl;
    ASSERT_TRUE(FieldDesc::fill_member(TYPE_FLOAT32, &fl, "2.5", 4));
    EXPECT_EQ(fl, 2.5f);
}

TEST(FieldDesc, PrintsByType) {
    char out[128];
    int64_t f = 12345;
    EXPECT_EQ(FieldDesc::print_member(out, TYPE_FIXEDPOINT3, &f, false, 8, false, nullptr), 6);
    EXPECT_STREQ(out, "12.345");
    f = 7;
    FieldDesc::print_member(out, TYPE_FIXEDPOINT0, &f, false, 8, false, nullptr);
    EXPECT_STREQ(out, "7");
    FieldDesc::print_member(out, TYPE_STRING, "a\"b", true, 8, false, nullptr);
    EXPECT_STREQ(out, "a\"\"b");
    EXPECT_EQ(FieldDesc::print_member(nullptr, TYPE_STRING, "ab", false, 6, true, nullptr), 5);
    FieldDesc::print_member(out, TYPE_STRING, "ab", false, 6, true, nullptr);
    EXPECT_STREQ(out, "ab   ");
    double d = 1.0;
    char hex[32];
    FieldDesc::print_member(out, TYPE_FLOAT64, &d, false, 8, false, hex);
    EXPECT_STREQ(out, "1.000000000000000@000000000000F03F");
    float fl = 0.5f;
    FieldDesc::print_member(out, TYPE_FLOAT32, &fl, false, 4, false, nullptr);
    EXPECT_STREQ(out, "0.50000000");
    // A string member without its NUL prints no further than its size.
    char raw[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(FieldDesc::print_member(out, TYPE_STRING, raw, false, 4, false, nullptr), 4);
}

TEST(FieldDesc, PrintsRecordsNamedQuotedAndPlain) {
    FieldDesc d(3, "XelRspInfoField");
    d.add_member(TYPE_INT32, 4, "OrqErrorIDType", "ErrorID", true);
    d.add_member(TYPE_STRING, 8, "OrqErrorMsgType", "ErrorMsg", false);
    struct {
        int32_t id;
        char msg[8];
    } r = {3, "bad \"x\""};
    char out[256];
    int n = d.print_field(out, &r, false, false, true, nullptr);
    EXPECT_STREQ(out, "ErrorID=3 ErrorMsg=bad \"x\"");
    EXPECT_EQ(n, static_cast<int>(strlen(out)));
    EXPECT_EQ(d.print_field(nullptr, &r, false, false, true, nullptr), n);
    d.print_field(out, &r, true, false, false, nullptr);
    EXPECT_STREQ(out, "\"3\",\"bad \"\"x\"\"\"");
    r.id = INT32_MAX;
    d.print_field(out, &r, false, false, false, nullptr);
    EXPECT_STREQ(out, ",bad \"x\"");

    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    d.write_head(true, f);
    fputc('\n', f);
    r.id = 9;
    d.write_field(&r, false, f, false, true, nullptr);
    rewind(f);
    char line[256] = {0};
    size_t got = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    EXPECT_EQ(std::string(line, got), "\"ErrorID\",\"ErrorMsg\"\nErrorID=9 ErrorMsg=bad \"x\"");
}

}  // namespace

namespace {

TEST(TypedMap, KeysByMemberType) {
    Base::Map ids(TYPE_UINT16, 100, 2, 0, 0, 0, nullptr);
    int a = 1, b = 2;
    unsigned short k1 = 0x2408, k2 = 0x0001;
    ids.insert(&k1, &a);
    ids.insert(&k2, &b);
    EXPECT_EQ(ids.search(&k1), &a);
    unsigned short probe = 0x2408;
    EXPECT_EQ(ids.search(&probe), &a);
    probe = 7;
    EXPECT_EQ(ids.search(&probe), nullptr);

    Base::Map names(TYPE_STRING, 64, 64, 0, 0, 0, nullptr);
    names.insert("XelRspInfoField", &a);
    char key[64] = "XelRspInfoField";
    EXPECT_EQ(names.search(key), &a);
    EXPECT_EQ(names.search("XelRspInfo"), nullptr);

    Base::Map reals(TYPE_FLOAT64, 64, 8, 0, 0, 0, nullptr);
    double zero = 0.0, nan = std::nan("");
    reals.insert(&zero, &a);
    reals.insert(&nan, &b);
    EXPECT_EQ(reals.search(&nan), nullptr);  // NaN never equals itself
    EXPECT_EQ(reals.search(&zero), &a);
}

}  // namespace
