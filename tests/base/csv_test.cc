#include "base/csv.h"

#include <float.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_table.h"

namespace {

using Fields = std::vector<std::string>;

Fields split(const std::string& line, bool quote, int max_fields) {
    std::vector<char> buffer(line.size() + 1);
    std::vector<char*> out(max_fields);
    int n = Base::Csv::split(line.c_str(), quote, out.data(), max_fields, buffer.data());
    if (n < 0) return Fields{"<invalid>"};
    return Fields(out.begin(), out.begin() + n);
}

// What write puts into a stream, with its success checked.
template <class Write>
std::string written(Write write) {
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    EXPECT_TRUE(write(f));
    fclose(f);
    std::string out(text, size);
    free(text);
    return out;
}

// A table with columns c0, c1, ...
std::unique_ptr<Base::Csv> make_table(bool quote, int field_size, int columns) {
    std::unique_ptr<Base::Csv> csv(new Base::Csv(quote, field_size));
    for (int i = 0; i < columns; ++i)
        EXPECT_EQ(i, csv->add_head(("c" + std::to_string(i)).c_str()));
    return csv;
}

// Reads cell i as a T, failing the test when the cell does not convert.
template <class T>
T cell(const Base::Csv& csv, int i) {
    T v{};
    EXPECT_TRUE(csv.get_data(i, v)) << "cell " << i;
    return v;
}

std::string line_of(const Base::Csv& csv) {
    return written([&csv](FILE* f) { return csv.write_data(f); });
}

TEST(CsvSplit, CutsFieldsAndRefusesMalformedLines) {
    for (const TestTable::Row& row : TestTable::read("base/csv.data", "split")) {
        SCOPED_TRACE(TestTable::where("base/csv.data", row));
        const int count = std::stoi(row[4]);
        Fields want(row.fields.begin() + 5, row.fields.end());
        EXPECT_EQ(count < 0 ? Fields{"<invalid>"} : want,
                  split(row[3], row[1] == "1", std::stoi(row[2])));
        EXPECT_EQ(want.size(), static_cast<size_t>(count < 0 ? 0 : count));
    }
}

TEST(Csv, HeaderLookupWidthRuleAndIndexBounds) {
    Base::Csv csv(false, 16);
    EXPECT_EQ(0, csv.add_head("id"));
    EXPECT_EQ(1, csv.add_head("price"));
    EXPECT_EQ(-1, csv.add_head(std::string(64, 'h').c_str()));
    EXPECT_EQ(2, csv.add_head(std::string(63, 'h').c_str()));
    EXPECT_EQ(1, csv.get_head_index("price"));
    EXPECT_EQ(-1, csv.get_head_index("volume"));
    EXPECT_EQ(nullptr, csv.get_head(3));
    // A data row of another width blocks new columns.
    ASSERT_TRUE(csv.read_data("1,2"));
    EXPECT_EQ(2, csv.get_data_size());
    EXPECT_EQ(-1, csv.add_head("late"));
    ASSERT_TRUE(csv.read_data("1,2,3"));
    EXPECT_EQ(3, csv.add_head("late"));
    // An index beyond the row fails and clears the output.
    EXPECT_FALSE(csv.set_data(4, int32_t(1)));
    EXPECT_FALSE(csv.set_data(-1, "x"));
    int32_t v = 5;
    EXPECT_FALSE(csv.get_data(4, v));
    EXPECT_EQ(0, v);
    const char* text = "";
    EXPECT_FALSE(csv.get_data(7, text));
    EXPECT_EQ(nullptr, text);
}

TEST(Csv, TypedCellsRoundTripThroughALine) {
    auto out = make_table(false, 64, 13);
    out->set_quote(true);
    ASSERT_TRUE(out->set_data(0, 'Z') && out->set_data(1, "say \"hi\", twice") &&
                out->set_data(2, int8_t(-128)) && out->set_data(3, uint8_t(254)) &&
                out->set_data(4, int16_t(-32768)) && out->set_data(5, uint16_t(65535)) &&
                out->set_data(6, int32_t(INT32_MIN)) && out->set_data(7, uint32_t(4000000000u)) &&
                out->set_data(8, int64_t(INT64_MIN)) &&
                out->set_data(9, uint64_t(UINT64_MAX - 1)) && out->set_data(10, 1.25f) &&
                out->set_data(11, -2.5) && out->set_data(12, int64_t(-12345), TYPE_FIXEDPOINT2));
    std::string text = line_of(*out);
    EXPECT_EQ(
        "\"Z\",\"say \"\"hi\"\", twice\",\"-128\",\"254\",\"-32768\",\"65535\",\"-2147483648\","
        "\"4000000000\",\"-9223372036854775808\",\"18446744073709551614\",\"1.25000000\","
        "\"-2.500000000000000\",\"-123.45\"\n",
        text);

    auto in = make_table(true, 64, 13);
    ASSERT_TRUE(in->read_data(text.substr(0, text.size() - 1).c_str()));
    EXPECT_EQ(std::make_tuple(cell<char>(*in, 0), std::string(cell<const char*>(*in, 1)),
                              cell<int8_t>(*in, 2), cell<uint8_t>(*in, 3), cell<int16_t>(*in, 4),
                              cell<uint16_t>(*in, 5), cell<int32_t>(*in, 6), cell<uint32_t>(*in, 7),
                              cell<int64_t>(*in, 8), cell<uint64_t>(*in, 9), cell<float>(*in, 10),
                              cell<double>(*in, 11)),
              std::make_tuple('Z', std::string("say \"hi\", twice"), int8_t(-128), uint8_t(254),
                              int16_t(-32768), uint16_t(65535), INT32_MIN, 4000000000u, INT64_MIN,
                              UINT64_MAX - 1, 1.25f, -2.5));
}

TEST(Csv, NullValuesAreEmptyCells) {
    auto csv = make_table(false, 32, 8);
    ASSERT_TRUE(csv->set_data(0, int8_t(127)) && csv->set_data(1, FLT_MAX) &&
                csv->set_data(2, DBL_MAX) &&
                csv->set_data(3, int64_t(INT64_MAX), TYPE_FIXEDPOINT4) &&
                csv->set_data(4, uint64_t(UINT64_MAX)) &&
                csv->set_data(5, int32_t(INT32_MAX)) &&  // no null handling
                csv->set_data(6, uint16_t(65535)) &&     // no null handling
                csv->set_data(7, '\0'));
    EXPECT_EQ(",,,,,2147483647,65535,\n", line_of(*csv));

    ASSERT_TRUE(csv->read_data(",,,,,,,"));
    EXPECT_EQ(std::make_tuple(cell<int8_t>(*csv, 0), cell<float>(*csv, 1), cell<double>(*csv, 2),
                              cell<uint64_t>(*csv, 4), cell<char>(*csv, 7)),
              std::make_tuple(int8_t(127), FLT_MAX, DBL_MAX, UINT64_MAX, '\0'));
    int64_t fixed = 0;
    EXPECT_TRUE(csv->get_data(3, fixed, TYPE_FIXEDPOINT4));
    EXPECT_EQ(INT64_MAX, fixed);
    int32_t i32 = 1;
    EXPECT_FALSE(csv->get_data(5, i32)) << "an empty INT32 cell is not a number";
    EXPECT_EQ(0, i32);

    csv->enable_null(TYPE_INT32, true);
    EXPECT_EQ(INT32_MAX, cell<int32_t>(*csv, 5));
    csv->enable_null(TYPE_INT8, false);
    ASSERT_TRUE(csv->set_data(0, int8_t(127)));
    EXPECT_STREQ("127", cell<const char*>(*csv, 0));
}

TEST(Csv, ExactFloatsReadBackBitForBit) {
    auto csv = make_table(false, 400, 2);
    std::mt19937 gen(11);
    for (int i = 0; i < 2000; ++i) {
        uint32_t fb = gen();
        uint64_t db = (static_cast<uint64_t>(gen()) << 32) | gen();
        float f, f2;
        double d, d2;
        memcpy(&f, &fb, 4);
        memcpy(&d, &db, 8);
        if (f == FLT_MAX || d == DBL_MAX) continue;
        ASSERT_TRUE(csv->set_data(0, f, true) && csv->set_data(1, d, true));
        ASSERT_TRUE(csv->get_data(0, f2) && csv->get_data(1, d2));
        ASSERT_EQ(0, memcmp(&f, &f2, 4));
        ASSERT_EQ(0, memcmp(&d, &d2, 8));
    }
    ASSERT_TRUE(csv->set_data(0, 0.1f, true));
    EXPECT_STREQ("0.10000000@CDCCCC3D", cell<const char*>(*csv, 0));
}

TEST(Csv, FixedPointReadsNudgeAndTruncate) {
    auto csv = make_table(false, 32, 1);
    int64_t v;
    for (const TestTable::Row& row : TestTable::read("base/csv.data", "fixed")) {
        SCOPED_TRACE(TestTable::where("base/csv.data", row));
        ASSERT_TRUE(csv->read_data(row[1].c_str()));
        const DataType type = static_cast<DataType>(TYPE_FIXEDPOINT0 + std::stoi(row[2]));
        EXPECT_TRUE(csv->get_data(0, v, type) && v == std::stoll(row[3])) << v;
    }
    EXPECT_FALSE(csv->get_data(0, v, TYPE_INT64)) << "not a fixed-point type";

    ASSERT_TRUE(csv->set_data(0, int64_t(5), TYPE_FIXEDPOINT8));
    EXPECT_STREQ("0.00000005", cell<const char*>(*csv, 0));
    ASSERT_TRUE(csv->set_data(0, int64_t(INT64_MIN), TYPE_FIXEDPOINT3));
    EXPECT_STREQ("-9223372036854775.808", cell<const char*>(*csv, 0));
}

// Whether cell 0 reads as the named type ("fixed2": two decimals).
bool reads_as(const Base::Csv& csv, const std::string& type) {
    int8_t i8;
    uint32_t u32;
    int32_t i32;
    int64_t i64;
    float f;
    double d;
    if (type == "int8") return csv.get_data(0, i8);
    if (type == "uint32") return csv.get_data(0, u32);
    if (type == "int32") return csv.get_data(0, i32);
    if (type == "int64") return csv.get_data(0, i64);
    if (type == "float32") return csv.get_data(0, f);
    if (type == "float64") return csv.get_data(0, d);
    return csv.get_data(0, i64,
                        static_cast<DataType>(TYPE_FIXEDPOINT0 + std::stoi(type.substr(5))));
}

TEST(Csv, BadCellsFailCleanly) {
    auto csv = make_table(false, 32, 1);
    for (const TestTable::Row& row : TestTable::read("base/csv.data", "bad")) {
        ASSERT_TRUE(csv->read_data(row[2].c_str()));
        EXPECT_FALSE(reads_as(*csv, row[1])) << TestTable::where("base/csv.data", row);
    }
}

TEST(Csv, TooLongTextIsRefused) {
    auto csv = make_table(false, 8, 2);
    EXPECT_TRUE(csv->set_data(0, "1234567"));
    EXPECT_FALSE(csv->set_data(0, "12345678"));
    EXPECT_FALSE(csv->set_data(1, 123456789.0));  // "123456789.000..." does not fit
    EXPECT_STREQ("", cell<const char*>(*csv, 1));
    ASSERT_TRUE(csv->read_data("a,b"));
    EXPECT_FALSE(csv->read_data("a,12345678"));
    EXPECT_STREQ("a", cell<const char*>(*csv, 0)) << "a refused line leaves the row as it was";
}

}  // namespace
