// Printing, hexadecimal, string and argument helpers.
#include <ctype.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/argument.h"
#include "base/hex.h"
#include "base/print.h"
#include "base/string_util.h"
#include "tests/test_table.h"

namespace {

TEST(Print, StrPrintTruncatesAndReportsFit) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(Base::str_print(3, buffer, "%s", "abcd"));
    EXPECT_STREQ("abc", buffer);
    EXPECT_TRUE(Base::str_print(3, buffer, "%s", "abc"));
    EXPECT_STREQ("abc", buffer);
    EXPECT_TRUE(Base::str_print(0, buffer, "%s", ""));
    EXPECT_FALSE(Base::str_print(0, buffer, "%d", 7));
    EXPECT_EQ('\0', buffer[0]);
    // Measuring only.
    EXPECT_TRUE(Base::str_print(5, nullptr, "%d", 12345));
    EXPECT_FALSE(Base::str_print(4, nullptr, "%d", 12345));
}

TEST(Print, SprintWritesAtOffsetOrMeasuresAndPrintsGoToTheirStreams) {
    char buffer[32] = "ab";
    EXPECT_EQ(5, Base::SPRINT(nullptr, 0, "%d-%s", 12, "xy"));
    EXPECT_EQ(5, Base::SPRINT(buffer, 2, "%d-%s", 12, "xy"));
    EXPECT_STREQ("ab12-xy", buffer);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Base::PRINT("%d-%s", 1, "out");
    Base::EPRINT("%d-%s", 2, "err");
    EXPECT_EQ("2-err", ::testing::internal::GetCapturedStderr());
    EXPECT_EQ("1-out", ::testing::internal::GetCapturedStdout());
}

TEST(Hex, ToBytesStopsAtTheFirstNonDigit) {
    char out[4] = {};
    EXPECT_EQ(nullptr, Base::hex_to_bytes("zz", out, 1));
    EXPECT_EQ(out, Base::hex_to_bytes("0aFf", out, 2));
    EXPECT_EQ(std::string(out, 2), "\x0a\xff");
    char partial[3] = {1, 2, 3};
    EXPECT_EQ(nullptr, Base::hex_to_bytes("1234g6", partial, 3));
    EXPECT_EQ(std::string(partial, 3), "\x12\x34\x03");
    // A text shorter than asked stops at its NUL.
    EXPECT_EQ(nullptr, Base::hex_to_bytes("12", partial, 3));
    EXPECT_EQ(nullptr, Base::hex_to_bytes("123", partial, 2));
}

TEST(Hex, AgreesWithOpenSslOnAllByteValuesInBothCasesAndOnAStream) {
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    char* ref = OPENSSL_buf2hexstr(all, 256);  // "00:01:...:FF"
    std::string upper;
    for (const char* p = ref; *p; ++p)
        if (*p != ':') upper += *p;
    OPENSSL_free(ref);
    std::string lower = upper;
    for (char& c : lower) c = static_cast<char>(tolower(c));
    char out[513];
    out[512] = '.';
    Base::hex_from_bytes(out, reinterpret_cast<const char*>(all), 256, false);
    EXPECT_EQ(lower + '.', std::string(out, 513));  // no NUL written past the digits
    Base::hex_from_bytes(out, reinterpret_cast<const char*>(all), 256, true);
    EXPECT_EQ(upper, std::string(out, 512));
    char back[256];
    ASSERT_NE(nullptr, Base::hex_to_bytes(out, back, 256));
    EXPECT_EQ(0, memcmp(all, back, 256));
    char* text = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    Base::hex_output(all, 256, false, f);
    Base::hex_output(all, 256, true, f);
    fclose(f);
    EXPECT_EQ(lower + upper, std::string(text, size));
    free(text);
}

std::vector<std::string> tokens(const char* input, const char* delimiter) {
    std::vector<char> text(input, input + strlen(input) + 1);
    std::vector<std::string> out;
    int position = 0;
    while (char* t = Base::str_token(text.data(), delimiter, position)) {
        out.push_back(t);
        if (out.size() > 100) break;
    }
    return out;
}

TEST(StringUtil, TokensFindHeadTailAndReplace) {
    const std::string table = "base/text.data";
    for (const TestTable::Row& row : TestTable::read(table, "token"))
        EXPECT_EQ(std::vector<std::string>(row.fields.begin() + 4,
                                           row.fields.begin() + 4 + std::stoi(row[3])),
                  tokens(row[1].c_str(), row[2].c_str()))
            << TestTable::where(table, row);
    for (const TestTable::Row& row : TestTable::read(table, "split"))
        EXPECT_EQ(std::stoi(row[4]), Base::find_split(row[1].c_str(), row[2][0], row[3] == "1"))
            << TestTable::where(table, row);
    for (const TestTable::Row& row : TestTable::read(table, "head"))
        EXPECT_EQ(row[3] == "1", Base::str_head(row[1].c_str(), row[2].c_str()))
            << TestTable::where(table, row);
    for (const TestTable::Row& row : TestTable::read(table, "tail"))
        EXPECT_EQ(row[3] == "1", Base::str_tail(row[1].c_str(), row[2].c_str()))
            << TestTable::where(table, row);
    char out[64];
    for (const TestTable::Row& row : TestTable::read(table, "replace")) {
        SCOPED_TRACE(TestTable::where(table, row));
        const char* text = row[1].c_str();
        const int n = static_cast<int>(row[4].size());
        EXPECT_EQ(n, Base::replace_str(text, nullptr, row[2].c_str(), row[3].c_str()));
        EXPECT_EQ(n, Base::replace_str(text, out, row[2].c_str(), row[3].c_str()));
        EXPECT_EQ(row[4], out);
    }
    int position = -1;
    char text[] = "x";
    EXPECT_EQ(nullptr, Base::str_token(text, ",", position));
}

TEST(StringUtil, ReplaceCharTrimAndClasses) {
    char text[] = "a.b.c";
    EXPECT_EQ(2, Base::replace_char(text, '.', '/'));
    EXPECT_STREQ("a/b/c", text);
    char padded[] = "  x y  ";
    EXPECT_STREQ("x y  ", Base::trim_left(padded, ' '));
    EXPECT_STREQ("x y", Base::trim_right(padded, ' '));
    char all[] = "0000";
    EXPECT_STREQ("", Base::trim_right(all, '0'));
    EXPECT_TRUE(Base::is_upper("ABC"));
    EXPECT_FALSE(Base::is_upper("AbC"));
    EXPECT_FALSE(Base::is_upper(""));
    EXPECT_TRUE(Base::is_lower("abc"));
    EXPECT_TRUE(Base::is_digit("0123"));
    EXPECT_FALSE(Base::is_digit("01a"));
    char out[16];
    EXPECT_STREQ("AB1-C", Base::to_upper(out, "aB1-c"));
    EXPECT_STREQ("ab1-c", Base::to_lower(out, "aB1-C"));
}

TEST(Argument, SwitchesNamesAndPlainWords) {
    const char* argv[] = {"prog", "in.txt", "--verbose", "-o", "out.txt", "-5", "x", "-p"};
    const int argc = 8;
    EXPECT_EQ(3, Base::get_arg_count(argc, argv));  // in.txt, -5, x
    EXPECT_STREQ("--verbose", Base::get_arg_value(argc, argv, "--verbose"));
    EXPECT_STREQ("out.txt", Base::get_arg_value(argc, argv, "-o"));
    EXPECT_EQ(Base::NULL_STRING, Base::get_arg_value(argc, argv, "-p"));
    EXPECT_EQ(nullptr, Base::get_arg_value(argc, argv, "-q"));
    EXPECT_EQ(nullptr, Base::get_arg_value(argc, argv, "out.txt"));
    const char* words[] = {"prog", "in.txt", "-5", "x", nullptr};
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_STREQ(words[i], Base::get_arg_value(argc, argv, i)) << i;
    // "--" alone and "-" alone are plain words.
    const char* odd[] = {"prog", "--", "-", "--9"};
    EXPECT_EQ(3, Base::get_arg_count(4, odd));
}

}  // namespace
