#include "base/file.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

#include "flow_test_util.h"

namespace {

using FileTest = FlowTest::TempDirTest;

TEST(FilePath, ConvertParentChildAndName) {
    char out[64];
    EXPECT_STREQ("a/b/c", Base::File::convert_path(out, "a\\b/c"));
    EXPECT_STREQ("a/b", Base::File::get_parent_path(out, "a\\b\\c.txt"));
    EXPECT_STREQ(".", Base::File::get_parent_path(out, "c.txt"));
    EXPECT_STREQ("/", Base::File::get_parent_path(out, "/c.txt"));
    EXPECT_STREQ("a/b/c.txt", Base::File::get_child_path(out, "a\\b", "c.txt"));
    char dir[64], name[64], ext[64];
    Base::File::get_name(dir, name, ext, "x\\y/file.tar.gz", '.');
    EXPECT_EQ(std::string(dir) + "|" + name + "|" + ext, "x/y|file.tar|.gz");
    Base::File::get_name(dir, name, ext, "plain", '.');
    EXPECT_EQ(std::string(dir) + "|" + name + "|" + ext, "|plain|");
    Base::File::get_name(nullptr, name, nullptr, "d.v/noext", '.');
    EXPECT_STREQ("noext", name);
}

// One scratch file: length and position, cut at the position or to a
// length; then found, renamed and removed, each refused once it is gone.
TEST_F(FileTest, LengthTruncationExistRenameRemove) {
    std::string a = path("a"), b = path("b");
    EXPECT_FALSE(Base::File::is_exist(a.c_str()));
    FILE* f = fopen(a.c_str(), "w+b");
    ASSERT_NE(nullptr, f);
    fputs("0123456789", f);
    long n = -1, at = -1;
    ASSERT_TRUE(Base::File::get_length(f, n));
    EXPECT_EQ(10, n);
    ASSERT_TRUE(Base::File::set_pos(f, 4) && Base::File::get_pos(f, at) &&
                Base::File::truncate(f) && Base::File::get_length(f, n));
    EXPECT_EQ(std::make_pair(4L, 4L), std::make_pair(at, n));
    ASSERT_TRUE(Base::File::set_length(f, 2) && Base::File::get_pos(f, at) &&
                Base::File::get_length(f, n));
    EXPECT_EQ(std::make_pair(0L, 2L), std::make_pair(at, n));
    EXPECT_GT(Base::File::get_last_modify_time(f), 1600000000L);
    fclose(f);
    EXPECT_TRUE(Base::File::is_exist(a.c_str()));
    EXPECT_TRUE(Base::File::rename(a.c_str(), b.c_str()));
    EXPECT_FALSE(Base::File::is_exist(a.c_str()));
    EXPECT_FALSE(Base::File::rename(a.c_str(), b.c_str()));
    EXPECT_TRUE(Base::File::remove(b.c_str()));
    EXPECT_FALSE(Base::File::remove(b.c_str()));
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
