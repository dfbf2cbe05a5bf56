#include "base/json.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>

#include "flow_test_util.h"
#include "tests/test_table.h"

namespace {

// Parses from a heap copy with no terminator, so a read past the given
// length shows up under AddressSanitizer.
bool parse_exact(Base::Json& json, const std::string& text) {
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    memcpy(copy.get(), text.data(), text.size());
    return json.parse(copy.get(), static_cast<int>(text.size()));
}

std::string to_text(const Base::Json& json, int indent = 0) {
    int n = json.output(static_cast<char*>(nullptr), indent);
    std::string out(static_cast<size_t>(n) + 1, '?');
    EXPECT_EQ(n, json.output(&out[0], indent));
    EXPECT_EQ('\0', out[n]);
    out.resize(n);
    return out;
}

TEST(Json, ParsesTypedValues) {
    Base::Json json;
    ASSERT_TRUE(parse_exact(json, R"( {"s":"text", "t":true, "f":false, "n":null,
        "i":-42, "d":12.345, "a":[1, "x", {"k":[]}], "o":{"inner":0.5}} )"));
    ASSERT_EQ(1, json.get_object_count());
    Base::Json::Object* o = json.get_object(0);
    EXPECT_EQ(8, o->get_size());
    EXPECT_EQ(nullptr, o->get_property("missing"));
    auto value = [o](const char* name) { return o->get_property(name)->get_value(); };
    EXPECT_STREQ("text", value("s")->get_string());
    EXPECT_TRUE(value("t")->get_bool());
    EXPECT_EQ(Base::Json::BOOLEAN, value("f")->get_type());
    EXPECT_FALSE(value("f")->get_bool());
    EXPECT_EQ(Base::Json::NULL_VALUE, value("n")->get_type());

    int whole = 0;
    EXPECT_DOUBLE_EQ(12.345, Base::Json::get_float(value("d")));
    EXPECT_TRUE(Base::Json::get_number(value("d"), whole));
    EXPECT_EQ(12, whole);
    EXPECT_FALSE(Base::Json::get_number(value("s"), whole));
    EXPECT_EQ(0, Base::Json::get_float(value("s")));

    const Base::Json::Value* a = value("a");
    ASSERT_EQ(3, a->get_size());
    EXPECT_STREQ("x", a->get_item(1)->get_string());
    EXPECT_EQ(nullptr, a->get_item(3));
    EXPECT_EQ(0, a->get_item(2)->get_object()->get_property("k")->get_value()->get_size());
    Base::Json::Object* inner = value("o")->get_object();
    EXPECT_DOUBLE_EQ(0.5, Base::Json::get_float(inner->get_property("inner")->get_value()));
}

TEST(Json, NumbersAreScaledIntegers) {
    for (const TestTable::Row& row : TestTable::read("base/json.data", "num")) {
        SCOPED_TRACE(TestTable::where("base/json.data", row));
        Base::Json json;
        ASSERT_TRUE(parse_exact(json, "{\"v\":" + row[1] + "}"));
        int64_t scaled;
        int decimals;
        ASSERT_TRUE(Base::Json::get_number(json.get_object(0)->get_property("v")->get_value(),
                                           scaled, decimals));
        EXPECT_EQ(std::make_pair(std::stoll(row[2]), std::stoi(row[3])),
                  std::make_pair(static_cast<long long>(scaled), decimals));
    }
    for (const TestTable::Row& row : TestTable::read("base/json.data", "badnum")) {
        Base::Json json;
        EXPECT_FALSE(parse_exact(json, "{\"v\":" + row[1] + "}")) << row[1];
        EXPECT_EQ(0, json.get_object_count());
    }
}

// Parsed text prints back with every digit of large numbers and with the
// escapes the printer uses.
TEST(Json, LargeNumbersAndEscapesPrintBack) {
    Base::Json json;
    ASSERT_TRUE(parse_exact(json, R"({"max":9223372036854775807, "min":-92233720368.54775808,
        "small":-0.0015, "e":"q\" s\/ b\\ \b\f\n\r\t", "u":"\u0041\u00e9\u4e2d", "raw":"a/b"})"));
    // \u gives the two bytes of the code, a leading zero byte dropped.
    EXPECT_EQ(
        "{\n"
        "\t\"max\":9223372036854775807,\n"
        "\t\"min\":-92233720368.54775808,\n"
        "\t\"small\":-0.0015,\n"
        "\t\"e\":\"q\\\" s\\/ b\\\\ \\b\\f\\n\\r\\t\",\n"
        "\t\"u\":\"A\xe9N-\",\n"
        "\t\"raw\":\"a\\/b\"\n"
        "}\n",
        to_text(json));
}

TEST(Json, MalformedInputFailsWithoutAppendingAndDepthIsBounded) {
    for (const TestTable::Row& row : TestTable::read("base/json.data", "bad")) {
        const std::string text = TestTable::text(row);
        Base::Json json;
        EXPECT_FALSE(parse_exact(json, text)) << text;
        EXPECT_EQ(0, json.get_object_count()) << text;
        EXPECT_GE(json.get_error_offset(), 0) << text;
        EXPECT_LE(json.get_error_offset(), static_cast<int>(text.size())) << text;
    }
    Base::Json json;
    std::string with_nul("{\"a\":\"x\0y\"}", 11);
    EXPECT_FALSE(parse_exact(json, with_nul)) << "a raw NUL inside a string";
    EXPECT_FALSE(json.parse(nullptr, 3));
    EXPECT_FALSE(json.parse("{}", -1));
    std::string deep = "{\"a\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_FALSE(parse_exact(json, deep));
    EXPECT_TRUE(parse_exact(json, "{\"a\":" + std::string(500, '[') + std::string(500, ']') + "}"));
}

TEST(Json, TopLevelArraysAndObjectBounds) {
    Base::Json json;
    ASSERT_TRUE(parse_exact(json, " [ {\"c\":3}, {} ] "));
    ASSERT_TRUE(parse_exact(json, "  "));
    ASSERT_EQ(2, json.get_object_count());
    EXPECT_NE(nullptr, json.get_object(0)->get_property("c"));
    EXPECT_EQ(0, json.get_object(1)->get_size());
    EXPECT_FALSE(parse_exact(json, "{\"d\":4} {\"e\":"));
    EXPECT_EQ(2, json.get_object_count()) << "a failed parse appends nothing";
    EXPECT_EQ(nullptr, json.get_object(2));
    EXPECT_EQ(nullptr, json.get_object(-1));
}

TEST(Json, BuiltDocumentPrintsWithTabs) {
    Base::Json json;
    Base::Json::Object* o = json.add_object();
    o->add_string("InstrumentID", "cu2612");
    o->add_number("Price", 6543210, 2);
    o->add_number("Volume", 7, 0);
    o->add_bool("Open", true);
    o->add_null("Note");
    Base::Json::Value* levels = o->add_array("Levels");
    levels->push_number(1, 8);
    levels->push_string("two");
    Base::Json::Object* inner = levels->push_object();
    inner->add_bool("x", false);
    levels->push_array();
    levels->push_null();
    levels->push_bool(true);
    o->add_object("Empty");
    EXPECT_EQ(nullptr, o->add_number("Bad", 1, 9));
    EXPECT_EQ(nullptr, o->get_property("Open")->get_value()->push_null()) << "not an array";
    std::string expected;
    for (const TestTable::Row& row : TestTable::read("base/json.data", "built"))
        expected += TestTable::text(row) + "\n";
    EXPECT_EQ(expected, to_text(json, 1));
}

using JsonFiles = FlowTest::TempDirTest;

TEST_F(JsonFiles, FilesAndPathLists) {
    std::string a = path("a.json"), b = path("b.json"), missing = path("none.json");
    // Larger than one read buffer.
    std::string big;
    for (int i = 0; i < 10000; ++i) big += "0123456789";
    write_all(a, "{\"big\":\"" + big + "\"}");
    write_all(b, "{\"b\":1}{\"c\":2}");

    Base::Json json;
    ASSERT_TRUE(json.parse_file(a.c_str()));
    EXPECT_EQ(big, json.get_object(0)->get_property("big")->get_value()->get_string());
    EXPECT_FALSE(json.parse_file(missing.c_str()));

    Base::Json list;
    std::string paths = a + "," + missing + ";" + b;
    EXPECT_TRUE(list.parse(paths.c_str(), false));
    EXPECT_EQ(3, list.get_object_count());
    Base::Json strict;
    EXPECT_FALSE(strict.parse(paths.c_str(), true));

    FILE* out = fopen(b.c_str(), "wb");
    ASSERT_EQ(static_cast<int>(to_text(list).size()), list.output(out, 0));
    fclose(out);
    Base::Json back;
    ASSERT_TRUE(back.parse_file(b.c_str()));
    EXPECT_EQ(to_text(list), to_text(back));
}

}  // namespace
