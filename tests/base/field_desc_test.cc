#include "base/field_desc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "base/csv.h"
#include "base/hex.h"
#include "base/json.h"
#include "base/map.h"
#include "tests/test_table.h"

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

TEST(FieldDesc, AddMemberLaysOutEndToEndAndCutsLongNames) {
    FieldDesc d(10, "XelReqUserLoginField");
    describe_login(d);
    EXPECT_EQ(d.get_member_index("password"), -1);
    EXPECT_EQ(d.get_member_desc(8), nullptr);

    FieldDesc cut(1, std::string(100, 'F').c_str());
    cut.add_member(TYPE_INT32, 4, std::string(80, 't').c_str(), std::string(200, 'n').c_str(),
                   false);
    EXPECT_EQ(cut.field_name, std::string(63, 'F'));
    EXPECT_EQ(cut.members[0].type_name, std::string(63, 't'));
    EXPECT_EQ(cut.get_member_index(std::string(127, 'n').c_str()), 0);
}

// Only members that fit the given length whole are copied; the rest are
// zeroed, in both directions.
TEST(FieldDesc, ShortRecordOrStreamZeroesTheMembersThatDoNotFit) {
    FieldDesc d(10, "Login");
    describe_login(d);
    Bytes record(204);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<unsigned char>('a' + i % 26);
    Bytes stream(204, 0xCC);
    // The first four members end at 77 <= 100; UserProductInfo ends at 118.
    d.to_stream(record.data(), stream.data(), 100);
    Bytes want(record.begin(), record.begin() + 77);
    want.resize(204, 0);
    EXPECT_EQ(stream, want);

    Bytes in(204, 'x'), back(204, 0xCC);
    d.from_stream(back.data(), in.data(), 8);  // shorter than the first member
    EXPECT_EQ(back, Bytes(204, 0));
    d.from_stream(back.data(), in.data(), 36);
    want.assign(36, 'x');
    want.resize(204, 0);
    // TradingDay, UserID and ParticipantID each keep their terminator.
    want[8] = want[24] = want[35] = 0;
    EXPECT_EQ(back, want);
}

// The fixed form sends numbers big-endian (fixed point as the raw integer);
// the compact form sends them raw and a string as its length and bytes.
TEST(FieldDesc, RecordRoundTripsThroughBothStreamForms) {
    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed m{0x0102, 'z', 0, 0x03040506, 12345, 1.5, "xy", {}, 0x1122334455667788ull};
    Bytes s(d.stream_size);
    d.to_stream(&m, s.data(), sizeof m);
    EXPECT_EQ(s, Bytes({0x01, 0x02, 'z',  0x03, 0x04, 0x05, 0x06, 0,    0,    0,    0,    0,
                        0,    0x30, 0x39, 0x3F, 0xF8, 0,    0,    0,    0,    0,    0,    'x',
                        'y',  0,    0,    0,    0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    Mixed back;
    memset(&back, 0xEE, sizeof back);
    d.from_stream(&back, s.data(), d.stream_size);
    EXPECT_TRUE(d.equal_field(&m, &back));

    unsigned char buf[128];
    int n = d.to_var_stream(&m, buf, sizeof buf);
    EXPECT_EQ(n, 31 + 3);
    EXPECT_EQ(d.to_var_stream(&m, buf, n - 1), -1);
    memset(&back, 0x55, sizeof back);
    EXPECT_EQ(d.from_var_stream(&back, buf, n), n);
    EXPECT_TRUE(d.equal_field(&m, &back));
    EXPECT_EQ(Bytes(back.s, back.s + 5), Bytes({'x', 'y', 0, 0, 0}));
    for (int cut = 0; cut < n; ++cut) EXPECT_EQ(d.from_var_stream(&back, buf, cut), -1);
}

TEST(FieldDesc, DescriptorCompactFormRoundTripsCopiesAndRefusesCutsAndBadMembers) {
    FieldDesc d(0x2408, "Mixed");
    describe_mixed(d);
    std::vector<unsigned char> buf(4096);
    int n = d.to_var_stream(buf.data(), static_cast<int>(buf.size()));
    ASSERT_GT(n, 0);
    // 0x2408 as a little-first VInt, then the struct size.
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 3), Bytes({0x88, 0x48, 40}));
    FieldDesc back(0, "");
    EXPECT_EQ(back.from_var_stream(buf.data(), n), n);
    EXPECT_TRUE(FieldDesc::is_same(&d, &back));
    EXPECT_EQ(std::make_tuple(back.field_id, std::string(back.field_name), back.struct_size),
              std::make_tuple(d.field_id, std::string("Mixed"), d.struct_size));
    EXPECT_EQ(back.get_member_index("U"), 6);
    back.members[3].is_key = true;
    EXPECT_FALSE(FieldDesc::is_same(&d, &back));
    FieldDesc copy(2, "B");
    copy.copy(&d);
    EXPECT_TRUE(FieldDesc::is_same(&d, &copy));
    EXPECT_EQ(copy.get_member_index("S"), 5);
    copy.clear();
    EXPECT_EQ(copy.get_member_index("S"), -1);
    for (int cut = 0; cut < n; ++cut) {
        FieldDesc part(0, "");
        EXPECT_EQ(part.from_var_stream(buf.data(), cut), -1) << cut;
        EXPECT_EQ(part.member_count, 0);
    }
    // A member that ends past the record is refused.
    FieldDesc bad(1, "Bad");
    bad.setup_member(TYPE_INT64, 8, 8, 1, 4, "T", "X", false);  // ends at 12
    bad.struct_size = 8;
    n = bad.to_var_stream(buf.data(), static_cast<int>(buf.size()));
    EXPECT_EQ(back.from_var_stream(buf.data(), n), -1);
}

TEST(FieldDesc, NullValuesPerTypeAndPerRecord) {
    unsigned char v[8];
    for (int t = TYPE_UINT8; t <= TYPE_VINT64; ++t) {
        memset(v, 0x11, sizeof v);
        FieldDesc::set_null(static_cast<DataType>(t), v);
        EXPECT_TRUE(FieldDesc::is_null(static_cast<DataType>(t), v)) << t;
    }
    FieldDesc::set_null(TYPE_FLOAT32, v);
    EXPECT_EQ(Bytes(v, v + 4), Bytes({0xFF, 0xFF, 0x7F, 0x7F}));  // FLT_MAX
    FieldDesc::set_null(TYPE_BOOL, v);
    EXPECT_EQ(Bytes(v, v + 4), Bytes({0xFF, 0xFF, 0xFF, 0x7F}));  // INT32_MAX

    FieldDesc d(2, "Mixed");
    describe_mixed(d);
    Mixed m;
    d.set_null(&m);
    EXPECT_TRUE(d.is_null(&m));
    m.b = 0;
    EXPECT_FALSE(d.is_null(&m));
    FieldDesc empty(3, "Empty");
    EXPECT_TRUE(empty.is_null(&m));

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
    Mixed x{3, 0, 0, 1, 0, 5, "", {}, 0}, y{3, 0, 0, 2, 0, 0, "", {}, 0};  // D is no key
    EXPECT_EQ(d.compare_key(&x, &y, true), -1);
    EXPECT_EQ(FieldDesc::compare_key(&d, &y, &x), 1);
    EXPECT_FALSE(d.equal_key(&x, &y));
    y.b = 1;
    EXPECT_TRUE(FieldDesc::equal_key(&d, &x, &y));
    EXPECT_EQ(FieldDesc::hash_key(&d, &x), d.hash_key(&y));
    EXPECT_FALSE(d.equal_field(&x, &y));
    EXPECT_TRUE(d.equal_field(&x, &y, 0, 3));
    EXPECT_TRUE(d.equal_field(&x, &y, 4, 3));
    y.a = 4;
    EXPECT_NE(d.hash_key(&x), d.hash_key(&y));
}

DataType type_named(const std::string& name) {
    for (int t = 0; t < TYPE_COUNT; ++t)
        if (name == Base::DATA_TYPE_NAME[t]) return static_cast<DataType>(t);
    ADD_FAILURE() << "no type " << name;
    return TYPE_NULL;
}

Bytes from_hex(const std::string& hex) {
    Bytes out(hex.size() / 2);
    EXPECT_NE(nullptr, Base::hex_to_bytes(hex.c_str(), reinterpret_cast<char*>(out.data()),
                                          static_cast<int>(out.size())));
    return out;
}

TEST(FieldDesc, ParsesAndPrintsByType) {
    for (const TestTable::Row& row : TestTable::read("base/field_desc.data", "fill")) {
        SCOPED_TRACE(TestTable::where("base/field_desc.data", row));
        unsigned char v[8];
        memset(v, 0x5A, sizeof v);
        const int size = std::stoi(row[3]);
        EXPECT_TRUE(FieldDesc::fill_member(type_named(row[1]), v, row[2].c_str(), size));
        EXPECT_EQ(Bytes(v, v + size), from_hex(row[4]));
    }
    for (const TestTable::Row& row : TestTable::read("base/field_desc.data", "print")) {
        SCOPED_TRACE(TestTable::where("base/field_desc.data", row));
        const DataType type = type_named(row[1]);
        const Bytes value = from_hex(row[2]);
        const bool quoted = row[3] == "1", pad = row[5] == "1";
        const int width = std::stoi(row[4]);
        char out[128], hex[32];
        char* hexbuf = type == TYPE_FLOAT64 ? hex : nullptr;
        int n = FieldDesc::print_member(out, type, value.data(), quoted, width, pad, hexbuf);
        EXPECT_EQ(std::string(out, n), row[6]);
        EXPECT_EQ(FieldDesc::print_member(nullptr, type, value.data(), quoted, width, pad, hexbuf),
                  n);
    }
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

// What a JSON file form writes, with its returned length checked.
std::string json_text(const FieldDesc& d, const void* record, bool exact) {
    FILE* f = tmpfile();
    char esc[512], text[1024] = {0};
    const int n = d.to_json(f, record, nullptr, esc, exact);
    rewind(f);
    EXPECT_EQ(fread(text, 1, sizeof text - 1, f), static_cast<size_t>(n));
    fclose(f);
    return text;
}

// One member of every streamable type, end to end, with a value each that
// is not the type's null; the string carries what CSV and JSON must escape.
struct AllTypes {
    FieldDesc d{2, "AllTypes"};
    std::vector<char> record;
    explicit AllTypes(const char* text) {
        const struct {
            DataType type;
            int size;
            double value;
        } members[] = {{TYPE_UINT8, 1, 200},   {TYPE_UINT16, 2, 60000},
                       {TYPE_UINT32, 4, 4e9},  {TYPE_UINT64, 8, 1e15},
                       {TYPE_INT8, 1, -100},   {TYPE_INT16, 2, -30000},
                       {TYPE_INT32, 4, -2e9},  {TYPE_INT64, 8, -1e15},
                       {TYPE_FLOAT32, 4, 0.1}, {TYPE_FLOAT64, 8, 0.1},
                       {TYPE_CHAR, 1, 'Q'},    {TYPE_STRING, 12, 0},
                       {TYPE_BOOL, 4, 1},      {TYPE_FIXEDPOINT3, 8, -4250125},
                       {TYPE_VINT32, 4, -7},   {TYPE_VINT64, 8, 1e12}};
        for (const auto& m : members)
            d.add_member(m.type, m.size, "T", ("M" + std::to_string(d.member_count)).c_str(),
                         false);
        record.assign(d.struct_size, 0);
        for (int i = 0; i < d.member_count; ++i) {
            char* p = record.data() + d.members[i].offset;
            const double v = members[i].value;
            const int64_t n = static_cast<int64_t>(v);  // little-endian: the low bytes
            const float f = static_cast<float>(v);
            if (members[i].type == TYPE_STRING)
                strcpy(p, text);
            else
                memcpy(p,
                       members[i].type == TYPE_FLOAT64   ? static_cast<const void*>(&v)
                       : members[i].type == TYPE_FLOAT32 ? static_cast<const void*>(&f)
                                                         : &n,
                       members[i].size);
        }
    }
};

TEST(FieldDescForms, EveryTypeRoundTripsThroughACsvFile) {
    AllTypes all("cu/\"2,5");
    const FieldDesc& d = all.d;
    Base::Csv out(true, 64);
    for (int i = 0; i < d.member_count; ++i) ASSERT_EQ(out.add_head(d.members[i].name), i);
    ASSERT_TRUE(d.to_csv(&out, all.record.data(), true));
    FILE* f = tmpfile();
    ASSERT_TRUE(out.write_head(f));
    ASSERT_TRUE(out.write_data(f));
    rewind(f);
    Base::Csv in(true, 64);
    ASSERT_TRUE(in.read_head(f));
    ASSERT_TRUE(in.read_data(f));
    fclose(f);
    std::vector<char> back(d.struct_size, 0x5A);
    ASSERT_TRUE(d.from_csv(&in, back.data(), nullptr));
    EXPECT_EQ(back, all.record);  // exact: floats carry their raw bytes
    // Columns the file lacks read as zero.
    Base::Csv part(false, 64);
    ASSERT_TRUE(part.read_head("M11,M1"));
    ASSERT_TRUE(part.read_data("ag,5"));
    std::vector<char> want(d.struct_size, 0);
    const uint16_t five = 5;
    memcpy(&want[d.members[1].offset], &five, 2);
    strcpy(&want[d.members[11].offset], "ag");
    EXPECT_TRUE(d.from_csv(&part, back.data(), nullptr));
    EXPECT_EQ(back, want);
}

TEST(FieldDescForms, EveryTypeRoundTripsThroughJsonAndForeignMembersAreRefused) {
    AllTypes all("\b\t\n\f\r\"/\\x");
    const FieldDesc& d = all.d;
    Base::Json json;
    Base::Json::Object* object = json.add_object();
    char hex[40];
    ASSERT_TRUE(d.to_json(object, all.record.data(), hex));
    std::vector<char> back(d.struct_size, 0);
    ASSERT_TRUE(d.from_json(object, back.data()));
    EXPECT_EQ(back, all.record);
    // The file form escapes the string; its exact form reads back the same.
    EXPECT_EQ(
        json_text(d, all.record.data(), false),
        "{\"M0\":\"200\",\"M1\":\"60000\",\"M2\":\"4000000000\",\"M3\":\"1000000000000000\","
        "\"M4\":\"-100\",\"M5\":\"-30000\",\"M6\":\"-2000000000\",\"M7\":\"-1000000000000000\","
        "\"M8\":\"0.10000000\",\"M9\":\"0.100000000000000\",\"M10\":\"Q\","
        "\"M11\":\"\\b\\t\\n\\f\\r\\\"\\/\\\\x\","
        "\"M12\":\"1\",\"M13\":\"-4250.125\",\"M14\":\"-7\",\"M15\":\"1000000000000\"}");
    const std::string text = json_text(d, all.record.data(), true);
    Base::Json parsed;
    ASSERT_TRUE(parsed.parse(text.c_str(), static_cast<int>(text.size())));
    std::fill(back.begin(), back.end(), 0);
    ASSERT_TRUE(d.from_json(parsed.get_object(0), back.data()));
    EXPECT_EQ(back, all.record);
    EXPECT_TRUE(d.equal_field(back.data(), all.record.data()));
    // Unknown names and non-string values are refused.
    Base::Json::Object* unknown = json.add_object();
    unknown->add_string("Nonsense", "1");
    EXPECT_FALSE(d.from_json(unknown, back.data()));
    Base::Json::Object* numbers = json.add_object();
    numbers->add_number("M1", 3, 0);
    EXPECT_FALSE(d.from_json(numbers, back.data()));
}

TEST(TypedMap, KeysByMemberType) {
    int a = 1, b = 2;
    Base::Map ids(TYPE_UINT16, 100, 2, 0, 0, 0, nullptr);
    unsigned short k1 = 0x2408, k2 = 0x0001, probe = 0x2408;
    ids.insert(&k1, &a);
    ids.insert(&k2, &b);
    EXPECT_EQ(ids.search(&probe), &a);
    probe = 7;
    EXPECT_EQ(ids.search(&probe), nullptr);

    Base::Map reals(TYPE_FLOAT64, 64, 8, 0, 0, 0, nullptr);
    double zero = 0.0, nan = std::nan("");
    reals.insert(&zero, &a);
    reals.insert(&nan, &b);
    EXPECT_EQ(reals.search(&nan), nullptr);  // NaN never equals itself
    EXPECT_EQ(reals.search(&zero), &a);
}

}  // namespace
