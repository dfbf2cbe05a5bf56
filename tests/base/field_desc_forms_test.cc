#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/csv.h"
#include "base/field_desc.h"
#include "base/json.h"

namespace {

using Base::FieldDesc;

struct Tick {
    char instrument[8];  // 0
    int32_t volume;      // 8
    int64_t price;       // 16 FIXEDPOINT3
    double ratio;        // 24
    char side;           // 32
};

void describe_tick(FieldDesc& d) {
    d.setup_member(TYPE_STRING, 8, 8, 1, 0, "OrqInstrumentIDType", "InstrumentID", true);
    d.setup_member(TYPE_INT32, 4, 4, 1, 8, "OrqVolumeType", "Volume", false);
    d.setup_member(TYPE_FIXEDPOINT3, 8, 8, 1, 16, "OrqPriceType", "Price", false);
    d.setup_member(TYPE_FLOAT64, 8, 8, 1, 24, "OrqRatioType", "Ratio", false);
    d.setup_member(TYPE_CHAR, 1, 1, 1, 32, "OrqDirectionType", "Side", false);
    d.struct_size = sizeof(Tick);
}

Tick sample() {
    Tick t;
    memset(&t, 0, sizeof t);
    strcpy(t.instrument, "cu/\"25");
    t.volume = 17;
    t.price = -4250125;
    t.ratio = 0.1;
    t.side = 'B';
    return t;
}

TEST(FieldDescForms, CsvRoundTripsThroughALine) {
    FieldDesc d(1, "Tick");
    describe_tick(d);
    Base::Csv out(true, 64);
    for (int i = 0; i < d.member_count; ++i) ASSERT_EQ(out.add_head(d.members[i].name), i);
    Tick t = sample();
    ASSERT_TRUE(d.to_csv(&out, &t, true));
    FILE* f = tmpfile();
    ASSERT_TRUE(out.write_head(f));
    ASSERT_TRUE(out.write_data(f));
    rewind(f);
    Base::Csv in(true, 64);
    ASSERT_TRUE(in.read_head(f));
    ASSERT_TRUE(in.read_data(f));
    fclose(f);
    Tick back;
    memset(&back, 0x5A, sizeof back);
    ASSERT_TRUE(d.from_csv(&in, &back, nullptr));
    EXPECT_STREQ(back.instrument, "cu/\"25");
    EXPECT_EQ(back.volume, 17);
    EXPECT_EQ(back.price, -4250125);
    EXPECT_EQ(back.ratio, 0.1);  // exact: the raw bytes travel too
    EXPECT_EQ(back.side, 'B');
}

TEST(FieldDescForms, CsvMissingColumnZeroFills) {
    FieldDesc d(1, "Tick");
    describe_tick(d);
    Base::Csv in(false, 64);
    ASSERT_TRUE(in.read_head("Volume,InstrumentID"));
    ASSERT_TRUE(in.read_data("5,ag"));
    Tick back;
    memset(&back, 0x5A, sizeof back);
    EXPECT_TRUE(d.from_csv(&in, &back, nullptr));
    EXPECT_EQ(back.volume, 5);
    EXPECT_STREQ(back.instrument, "ag");
    EXPECT_EQ(back.price, 0);
    EXPECT_EQ(back.side, 0);
}

TEST(FieldDescForms, JsonObjectRoundTrips) {
    FieldDesc d(1, "Tick");
    describe_tick(d);
    Base::Json json;
    Base::Json::Object* object = json.add_object();
    Tick t = sample();
    char hex[40];
    ASSERT_TRUE(d.to_json(object, &t, hex));
    EXPECT_STREQ(object->get_property("Price")->get_value()->get_string(), "-4250.125");
    Tick back;
    memset(&back, 0, sizeof back);
    ASSERT_TRUE(d.from_json(object, &back));
    EXPECT_EQ(memcmp(&back, &t, sizeof t), 0);

    object->add_string("Nonsense", "1");
    EXPECT_FALSE(d.from_json(object, &back));
    Base::Json::Object* numbers = json.add_object();
    numbers->add_number("Volume", 3, 0);
    EXPECT_FALSE(d.from_json(numbers, &back));
}

TEST(FieldDescForms, JsonFileFormEscapesValues) {
    FieldDesc d(1, "Tick");
    describe_tick(d);
    Tick t = sample();
    t.ratio = 0.5;
    FILE* f = tmpfile();
    char esc[512];
    int n = d.to_json(f, &t, nullptr, esc, false);
    rewind(f);
    char text[512] = {0};
    size_t got = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    EXPECT_EQ(static_cast<int>(got), n);
    EXPECT_EQ(std::string(text),
              "{\"InstrumentID\":\"cu\\/\\\"25\",\"Volume\":\"17\",\"Price\":\"-4250.125\","
              "\"Ratio\":\"0.500000000000000\",\"Side\":\"B\"}");
    Base::Json parsed;
    ASSERT_TRUE(parsed.parse(text, n));
    Tick back;
    ASSERT_TRUE(d.from_json(parsed.get_object(0), &back));
    EXPECT_STREQ(back.instrument, t.instrument);
    EXPECT_EQ(back.price, t.price);
}

}  // namespace
