#include "base/csv.h"

#include <float.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const char* line, bool quote, int max_fields = 16) {
    std::vector<char> buffer(strlen(line) + 1);
    std::vector<char*> out(max_fields);
    int n = Base::Csv::split(line, quote, out.data(), max_fields, buffer.data());
    if (n < 0) return {"<invalid>"};
    return std::vector<std::string>(out.begin(), out.begin() + n);
}

using Fields = std::vector<std::string>;
const Fields INVALID{"<invalid>"};

// Captures what a Csv writes.
class Capture {
  public:
    Capture() : file_(open_memstream(&text_, &size_)) {}
    ~Capture() {
        if (file_) fclose(file_);
        free(text_);
    }
    FILE* file() { return file_; }
    std::string text() {
        fflush(file_);
        return std::string(text_, size_);
    }

  private:
    char* text_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
};

Base::Csv* make_table(bool quote, int field_size, int columns) {
    Base::Csv* csv = new Base::Csv(quote, field_size);
    for (int i = 0; i < columns; ++i) {
        std::string name = "c" + std::to_string(i);
        EXPECT_EQ(i, csv->add_head(name.c_str()));
    }
    return csv;
}

TEST(CsvSplit, UnquotedCutsAtEveryComma) {
    EXPECT_EQ((Fields{"a", "b", "", "c"}), split("a,b,,c", false));
    EXPECT_EQ((Fields{""}), split("", false));
    EXPECT_EQ((Fields{"", ""}), split(",", false));
    EXPECT_EQ((Fields{"b\"\"c", " x "}), split("b\"\"c, x ", false));
    EXPECT_EQ(INVALID, split("a,b,c", false, 2));
}

TEST(CsvSplit, QuotedFieldsUndoubleQuotes) {
    EXPECT_EQ((Fields{"a", "b\"c"}), split("\"a\",\"b\"\"c\"", true));
    EXPECT_EQ((Fields{"a", "", "x,y"}), split("  \"a\" , \"\",\t\"x,y\"  ", true));
    EXPECT_EQ((Fields{"\""}), split("\"\"\"\"", true));
    EXPECT_EQ((Fields{}), split("   ", true));
    EXPECT_EQ((Fields{}), split("", true));
}

TEST(CsvSplit, MalformedQuotedLinesAreInvalid) {
    EXPECT_EQ(INVALID, split("\"abc", true));         // unterminated
    EXPECT_EQ(INVALID, split("\"a\"\"", true));       // ends inside after a doubled quote
    EXPECT_EQ(INVALID, split("\"a\"x,\"b\"", true));  // junk after a field
    EXPECT_EQ(INVALID, split("a,\"b\"", true));       // unenclosed field
    EXPECT_EQ(INVALID, split("\"a\",", true));        // trailing comma
    EXPECT_EQ(INVALID, split("\"a\",,\"b\"", true));  // empty unenclosed field
    EXPECT_EQ(INVALID, split("\"a\" \"b\"", true));   // missing comma
    EXPECT_EQ(INVALID, split("\"a\",\"b\",\"c\"", true, 2));
}

TEST(Csv, HeaderLookupAndWidthRule) {
    Base::Csv csv(false, 16);
    EXPECT_EQ(0, csv.add_head("id"));
    EXPECT_EQ(1, csv.add_head("price"));
    EXPECT_EQ(-1, csv.add_head(std::string(64, 'h').c_str()));
    EXPECT_EQ(2, csv.add_head(std::string(63, 'h').c_str()));
    EXPECT_EQ(1, csv.get_head_index("price"));
    EXPECT_EQ(-1, csv.get_head_index("volume"));
    EXPECT_STREQ("id", csv.get_head(0));
    EXPECT_EQ(nullptr, csv.get_head(3));
    EXPECT_EQ(3, csv.get_head_size());
    // A data row of another width blocks new columns.
    ASSERT_TRUE(csv.read_data("1,2"));
    EXPECT_EQ(2, csv.get_data_size());
    EXPECT_EQ(-1, csv.add_head("late"));
    ASSERT_TRUE(csv.read_data("1,2,3"));
    EXPECT_EQ(3, csv.add_head("late"));
}

TEST(Csv, IndexBeyondTheRowFails) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 16, 2));
    EXPECT_FALSE(csv->set_data(2, int32_t(1)));
    EXPECT_FALSE(csv->set_data(-1, "x"));
    int32_t v = 5;
    EXPECT_FALSE(csv->get_data(2, v));
    EXPECT_EQ(0, v);
    const char* text = "";
    EXPECT_FALSE(csv->get_data(7, text));
    EXPECT_EQ(nullptr, text);
}

TEST(Csv, TypedCellsRoundTripThroughALine) {
    std::unique_ptr<Base::Csv> out(make_table(true, 64, 13));
    ASSERT_TRUE(out->set_data(0, 'Z'));
    ASSERT_TRUE(out->set_data(1, "say \"hi\", twice"));
    ASSERT_TRUE(out->set_data(2, int8_t(-128)));
    ASSERT_TRUE(out->set_data(3, uint8_t(254)));
    ASSERT_TRUE(out->set_data(4, int16_t(-32768)));
    ASSERT_TRUE(out->set_data(5, uint16_t(65535)));
    ASSERT_TRUE(out->set_data(6, int32_t(INT32_MIN)));
    ASSERT_TRUE(out->set_data(7, uint32_t(4000000000u)));
    ASSERT_TRUE(out->set_data(8, int64_t(INT64_MIN)));
    ASSERT_TRUE(out->set_data(9, uint64_t(UINT64_MAX - 1)));
    ASSERT_TRUE(out->set_data(10, 1.25f));
    ASSERT_TRUE(out->set_data(11, -2.5));
    ASSERT_TRUE(out->set_data(12, int64_t(-12345), TYPE_FIXEDPOINT2));
    Capture line;
    ASSERT_TRUE(out->write_data(line.file()));
    std::string text = line.text();
    EXPECT_EQ(
        "\"Z\",\"say \"\"hi\"\", twice\",\"-128\",\"254\",\"-32768\",\"65535\",\"-2147483648\","
        "\"4000000000\",\"-9223372036854775808\",\"18446744073709551614\",\"1.25000000\","
        "\"-2.500000000000000\",\"-123.45\"\n",
        text);

    std::unique_ptr<Base::Csv> in(make_table(true, 64, 13));
    text.pop_back();
    ASSERT_TRUE(in->read_data(text.c_str()));
    char c;
    const char* s;
    int8_t i8;
    uint8_t u8;
    int16_t i16;
    uint16_t u16;
    int32_t i32;
    uint32_t u32;
    int64_t i64, fixed;
    uint64_t u64;
    float f;
    double d;
    ASSERT_TRUE(in->get_data(0, c) && in->get_data(1, s) && in->get_data(2, i8) &&
                in->get_data(3, u8) && in->get_data(4, i16) && in->get_data(5, u16) &&
                in->get_data(6, i32) && in->get_data(7, u32) && in->get_data(8, i64) &&
                in->get_data(9, u64) && in->get_data(10, f) && in->get_data(11, d) &&
                in->get_data(12, fixed, TYPE_FIXEDPOINT2));
    EXPECT_EQ('Z', c);
    EXPECT_STREQ("say \"hi\", twice", s);
    EXPECT_EQ(-128, i8);
    EXPECT_EQ(254, u8);
    EXPECT_EQ(-32768, i16);
    EXPECT_EQ(65535, u16);
    EXPECT_EQ(INT32_MIN, i32);
    EXPECT_EQ(4000000000u, u32);
    EXPECT_EQ(INT64_MIN, i64);
    EXPECT_EQ(UINT64_MAX - 1, u64);
    EXPECT_EQ(1.25f, f);
    EXPECT_EQ(-2.5, d);
    EXPECT_EQ(-12345, fixed);
}

TEST(Csv, UnquotedCellsAreWrittenUnchanged) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 16, 3));
    ASSERT_TRUE(csv->set_data(0, "a"));
    ASSERT_TRUE(csv->set_data(1, "b\"\"c"));
    ASSERT_TRUE(csv->set_data(2, ""));
    Capture line;
    ASSERT_TRUE(csv->write_data(line.file()));
    EXPECT_EQ("a,b\"\"c,\n", line.text());
    Capture head;
    ASSERT_TRUE(csv->write_head(head.file()));
    EXPECT_EQ("c0,c1,c2\n", head.text());
    csv->set_quote(true);
    Capture quoted;
    ASSERT_TRUE(csv->write_head(quoted.file()));
    EXPECT_EQ("\"c0\",\"c1\",\"c2\"\n", quoted.text());
}

TEST(Csv, NullValuesAreEmptyCells) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 32, 8));
    ASSERT_TRUE(csv->set_data(0, int8_t(127)));
    ASSERT_TRUE(csv->set_data(1, FLT_MAX));
    ASSERT_TRUE(csv->set_data(2, DBL_MAX));
    ASSERT_TRUE(csv->set_data(3, int64_t(INT64_MAX), TYPE_FIXEDPOINT4));
    ASSERT_TRUE(csv->set_data(4, uint64_t(UINT64_MAX)));
    ASSERT_TRUE(csv->set_data(5, int32_t(INT32_MAX)));  // no null handling
    ASSERT_TRUE(csv->set_data(6, uint16_t(65535)));     // no null handling
    ASSERT_TRUE(csv->set_data(7, '\0'));
    Capture line;
    ASSERT_TRUE(csv->write_data(line.file()));
    EXPECT_EQ(",,,,,2147483647,65535,\n", line.text());

    ASSERT_TRUE(csv->read_data(",,,,,,,"));
    int8_t i8 = 0;
    float f = 0;
    double d = 0;
    int64_t fixed = 0;
    uint64_t u64 = 0;
    int32_t i32 = 1;
    char c = 'x';
    EXPECT_TRUE(csv->get_data(0, i8));
    EXPECT_EQ(127, i8);
    EXPECT_TRUE(csv->get_data(1, f));
    EXPECT_EQ(FLT_MAX, f);
    EXPECT_TRUE(csv->get_data(2, d));
    EXPECT_EQ(DBL_MAX, d);
    EXPECT_TRUE(csv->get_data(3, fixed, TYPE_FIXEDPOINT4));
    EXPECT_EQ(INT64_MAX, fixed);
    EXPECT_TRUE(csv->get_data(4, u64));
    EXPECT_EQ(UINT64_MAX, u64);
    EXPECT_FALSE(csv->get_data(5, i32)) << "an empty INT32 cell is not a number";
    EXPECT_EQ(0, i32);
    EXPECT_TRUE(csv->get_data(7, c));
    EXPECT_EQ('\0', c);

    csv->enable_null(TYPE_INT32, true);
    EXPECT_TRUE(csv->get_data(5, i32));
    EXPECT_EQ(INT32_MAX, i32);
    csv->enable_null(TYPE_INT8, false);
    ASSERT_TRUE(csv->set_data(0, int8_t(127)));
    const char* text;
    ASSERT_TRUE(csv->get_data(0, text));
    EXPECT_STREQ("127", text);
}

TEST(Csv, ExactFloatsReadBackBitForBit) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 400, 2));
    std::mt19937 gen(11);
    for (int i = 0; i < 2000; ++i) {
        uint32_t fb = gen();
        uint64_t db = (static_cast<uint64_t>(gen()) << 32) | gen();
        float f;
        double d;
        memcpy(&f, &fb, 4);
        memcpy(&d, &db, 8);
        if (f == FLT_MAX || d == DBL_MAX) continue;
        ASSERT_TRUE(csv->set_data(0, f, true));
        ASSERT_TRUE(csv->set_data(1, d, true));
        float f2;
        double d2;
        ASSERT_TRUE(csv->get_data(0, f2));
        ASSERT_TRUE(csv->get_data(1, d2));
        ASSERT_EQ(0, memcmp(&f, &f2, 4));
        ASSERT_EQ(0, memcmp(&d, &d2, 8));
    }
    ASSERT_TRUE(csv->set_data(0, 0.1f, true));
    const char* text;
    ASSERT_TRUE(csv->get_data(0, text));
    EXPECT_STREQ("0.10000000@CDCCCC3D", text);
    // Malformed exact digits fail.
    float f;
    ASSERT_TRUE(csv->read_data("0.1@CDCC,1@zz00000000000000"));
    EXPECT_FALSE(csv->get_data(0, f));
    double d;
    EXPECT_FALSE(csv->get_data(1, d));
}

TEST(Csv, FixedPointReadsNudgeAndTruncate) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 32, 1));
    int64_t v;
    struct Case {
        const char* text;
        DataType type;
        int64_t value;
    } cases[] = {
        {"0.29", TYPE_FIXEDPOINT2, 29},   {"1.005", TYPE_FIXEDPOINT3, 1005},
        {"-0.29", TYPE_FIXEDPOINT2, -29}, {"12.3456", TYPE_FIXEDPOINT2, 1234},
        {"4.35", TYPE_FIXEDPOINT2, 435},  {"99999.99999999", TYPE_FIXEDPOINT8, 9999999999999},
        {"7", TYPE_FIXEDPOINT0, 7},       {"-0.000001", TYPE_FIXEDPOINT6, -1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(csv->read_data(c.text));
        ASSERT_TRUE(csv->get_data(0, v, c.type)) << c.text;
        EXPECT_EQ(c.value, v) << c.text;
    }
    ASSERT_TRUE(csv->read_data("1e30"));
    EXPECT_FALSE(csv->get_data(0, v, TYPE_FIXEDPOINT0));
    ASSERT_TRUE(csv->read_data("nan"));
    EXPECT_FALSE(csv->get_data(0, v, TYPE_FIXEDPOINT0));
    EXPECT_FALSE(csv->get_data(0, v, TYPE_INT64)) << "not a fixed-point type";

    const char* text;
    ASSERT_TRUE(csv->set_data(0, int64_t(5), TYPE_FIXEDPOINT8));
    ASSERT_TRUE(csv->get_data(0, text));
    EXPECT_STREQ("0.00000005", text);
    ASSERT_TRUE(csv->set_data(0, int64_t(INT64_MIN), TYPE_FIXEDPOINT3));
    ASSERT_TRUE(csv->get_data(0, text));
    EXPECT_STREQ("-9223372036854775.808", text);
}

TEST(Csv, BadNumbersFailCleanly) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 32, 6));
    ASSERT_TRUE(csv->read_data("128,-1,12x,99999999999999999999,,abc"));
    int8_t i8;
    uint32_t u32;
    int32_t i32;
    int64_t i64;
    double d;
    EXPECT_FALSE(csv->get_data(0, i8));
    EXPECT_FALSE(csv->get_data(1, u32));
    EXPECT_FALSE(csv->get_data(2, i32));
    EXPECT_FALSE(csv->get_data(3, i64));
    EXPECT_FALSE(csv->get_data(5, d));
}

TEST(Csv, TooLongTextIsRefused) {
    std::unique_ptr<Base::Csv> csv(make_table(false, 8, 2));
    EXPECT_TRUE(csv->set_data(0, "1234567"));
    EXPECT_FALSE(csv->set_data(0, "12345678"));
    EXPECT_FALSE(csv->set_data(1, 123456789.0));  // "123456789.000..." does not fit
    const char* text;
    ASSERT_TRUE(csv->get_data(1, text));
    EXPECT_STREQ("", text);
    ASSERT_TRUE(csv->read_data("a,b"));
    EXPECT_FALSE(csv->read_data("a,12345678"));
    ASSERT_TRUE(csv->get_data(0, text));
    EXPECT_STREQ("a", text) << "a refused line leaves the row as it was";
}

TEST(Csv, FilesRoundTripHeaderAndRows) {
    char path[] = "/tmp/xelmd_csv_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = fdopen(fd, "w+b");
    std::unique_ptr<Base::Csv> out(make_table(true, 32, 2));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(out->set_data(0, int32_t(i)));
        ASSERT_TRUE(out->set_data(1, i == 1 ? "x\"y" : "plain"));
        if (i == 0) {
            ASSERT_TRUE(out->write_head(f));
        }
        ASSERT_TRUE(out->write_data(f));
    }
    fputs("\"bad\r\n", f);
    rewind(f);
    Base::Csv in(true, 32);
    ASSERT_TRUE(in.read_head(f));
    EXPECT_EQ(2, in.get_head_size());
    EXPECT_EQ(1, in.get_head_index("c1"));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(in.read_data(f));
        int32_t v;
        const char* s;
        ASSERT_TRUE(in.get_data(0, v));
        ASSERT_TRUE(in.get_data(1, s));
        EXPECT_EQ(i, v);
        EXPECT_STREQ(i == 1 ? "x\"y" : "plain", s);
    }
    EXPECT_FALSE(in.read_data(f)) << "unterminated quote";
    EXPECT_FALSE(in.read_data(f)) << "end of file";
    fclose(f);
    unlink(path);
}

TEST(Csv, QuotedRoundTripOfRandomText) {
    std::mt19937 gen(5);
    const char alphabet[] = "ab,\" \t;\\x";
    std::unique_ptr<Base::Csv> out(make_table(true, 40, 4));
    std::unique_ptr<Base::Csv> in(make_table(true, 40, 4));
    for (int round = 0; round < 500; ++round) {
        std::string cells[4];
        for (auto& c : cells) {
            int n = gen() % 39;
            for (int i = 0; i < n; ++i) c += alphabet[gen() % (sizeof alphabet - 1)];
        }
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(out->set_data(i, cells[i].c_str()));
        Capture line;
        ASSERT_TRUE(out->write_data(line.file()));
        std::string text = line.text();
        text.pop_back();
        ASSERT_TRUE(in->read_data(text.c_str())) << text;
        for (int i = 0; i < 4; ++i) {
            const char* s;
            ASSERT_TRUE(in->get_data(i, s));
            ASSERT_EQ(cells[i], s);
        }
    }
}

}  // namespace
