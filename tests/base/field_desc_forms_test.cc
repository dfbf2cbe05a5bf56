#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/csv.h"
#include "base/field_desc.h"
#include "base/json.h"

namespace {

using Base::FieldDesc;

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
}

TEST(FieldDescForms, EveryTypeRoundTripsThroughJson) {
    AllTypes all("\b\t\n\f\r\"/\\x");
    const FieldDesc& d = all.d;
    Base::Json json;
    Base::Json::Object* object = json.add_object();
    char hex[40];
    ASSERT_TRUE(d.to_json(object, all.record.data(), hex));
    std::vector<char> back(d.struct_size, 0);
    ASSERT_TRUE(d.from_json(object, back.data()));
    EXPECT_EQ(back, all.record);
    // The file form escapes the string and reads back the same.
    const std::string text = json_text(d, all.record.data(), true);
    EXPECT_NE(text.find("\"M11\":\"\\b\\t\\n\\f\\r\\\"\\/\\\\x\""), std::string::npos) << text;
    Base::Json parsed;
    ASSERT_TRUE(parsed.parse(text.c_str(), static_cast<int>(text.size())));
    std::fill(back.begin(), back.end(), 0);
    ASSERT_TRUE(d.from_json(parsed.get_object(0), back.data()));
    EXPECT_EQ(back, all.record);
}

TEST(FieldDescForms, CsvMissingColumnZeroFills) {
    AllTypes all("");
    Base::Csv in(false, 64);
    ASSERT_TRUE(in.read_head("M11,M1"));
    ASSERT_TRUE(in.read_data("ag,5"));
    std::vector<char> back(all.d.struct_size, 0x5A), want(all.d.struct_size, 0);
    const uint16_t five = 5;
    memcpy(&want[all.d.members[1].offset], &five, 2);
    strcpy(&want[all.d.members[11].offset], "ag");
    EXPECT_TRUE(all.d.from_csv(&in, back.data(), nullptr));
    EXPECT_EQ(back, want);
}

TEST(FieldDescForms, JsonRefusesUnknownNamesAndNonStrings) {
    AllTypes all("");
    Base::Json json;
    Base::Json::Object* object = json.add_object();
    object->add_string("Nonsense", "1");
    EXPECT_FALSE(all.d.from_json(object, all.record.data()));
    Base::Json::Object* numbers = json.add_object();
    numbers->add_number("M1", 3, 0);
    EXPECT_FALSE(all.d.from_json(numbers, all.record.data()));
}

TEST(FieldDescForms, JsonFileFormEscapesValues) {
    AllTypes all("cu/\"25");
    const std::string text = json_text(all.d, all.record.data(), false);
    EXPECT_EQ(
        text,
        "{\"M0\":\"200\",\"M1\":\"60000\",\"M2\":\"4000000000\",\"M3\":\"1000000000000000\","
        "\"M4\":\"-100\",\"M5\":\"-30000\",\"M6\":\"-2000000000\",\"M7\":\"-1000000000000000\","
        "\"M8\":\"0.10000000\",\"M9\":\"0.100000000000000\",\"M10\":\"Q\","
        "\"M11\":\"cu\\/\\\"25\",\"M12\":\"1\",\"M13\":\"-4250.125\",\"M14\":\"-7\","
        "\"M15\":\"1000000000000\"}");
    Base::Json parsed;
    ASSERT_TRUE(parsed.parse(text.c_str(), static_cast<int>(text.size())));
    std::vector<char> back(all.d.struct_size, 0);
    ASSERT_TRUE(all.d.from_json(parsed.get_object(0), back.data()));
    EXPECT_TRUE(all.d.equal_field(back.data(), all.record.data()));
}

}  // namespace
