#include "base/file.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "flow_test_util.h"

namespace {

using FileTest = FlowTest::TempDirTest;

TEST_F(FileTest, ExistenceLengthPositionAndTruncation) {
    std::string p = path("len");
    EXPECT_FALSE(Base::File::is_exist(p.c_str()));
    FILE* f = fopen(p.c_str(), "w+b");
    ASSERT_NE(nullptr, f);
    EXPECT_TRUE(Base::File::is_exist(p.c_str()));
    fputs("0123456789", f);
    long n = -1, at = -1;
    ASSERT_TRUE(Base::File::get_length(f, n));
    EXPECT_EQ(10, n);
    ASSERT_TRUE(Base::File::set_pos(f, 4) && Base::File::get_pos(f, at) &&
                Base::File::truncate(f) && Base::File::get_length(f, n));
    EXPECT_EQ(std::make_pair(4L, 4L), std::make_pair(at, n));
    fclose(f);
}

// Every line read_line yields from the text with the given buffer size; the
// buffer after the final failed read is appended as "<end:...>".
std::vector<std::string> read_lines(const char* text, int size) {
    FILE* f = tmpfile();
    fputs(text, f);
    rewind(f);
    std::vector<char> buffer(size);
    std::vector<std::string> out;
    while (Base::File::read_line(f, buffer.data(), size) && out.size() < 100)
        out.push_back(buffer.data());
    out.push_back("<end:" + std::string(buffer.data()) + ">");
    fclose(f);
    return out;
}

TEST(FileRead, ReadLineCutsAtCrOrLfAndSplitsOverlongLines) {
    EXPECT_EQ(read_lines("20261204,1\r\nsecond\n\nlast", 16),
              (std::vector<std::string>{"20261204,1", "second", "", "last", "<end:>"}));
    std::vector<std::string> split = read_lines("abcdefgh\n", 5);
    split.resize(2);
    EXPECT_EQ(split, (std::vector<std::string>{"abcd", "efgh"}));
}

}  // namespace
