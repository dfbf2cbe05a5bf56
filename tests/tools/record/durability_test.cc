// What must hold of the recorder's files after a kill or a power cut: a
// trading day's file is whole and closed before the next day's first row,
// and a restart finds every topic's span in whichever day files hold it.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"
#include "tools/record/resume_scanner.h"
#include "tools/record/row_writer.h"

namespace {

using Record::Format;
using Record::ResumeScanner;
using RecordTest::rows_text;

// Whether this process holds a descriptor of path.
bool is_open(const std::string& path) {
    DIR* d = opendir("/proc/self/fd");
    bool found = false;
    while (dirent* e = readdir(d)) {
        char target[4096];
        std::string link = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found = true;
    }
    closedir(d);
    return found;
}

Record::DepthRow row_of(int sequence, const char* day) {
    std::mt19937_64 rng(static_cast<unsigned long>(sequence));
    Record::DepthRow row = RecordTest::random_row(rng, 100, sequence);
    snprintf(row.depth.TradingDay, sizeof row.depth.TradingDay, "%s", day);
    return row;
}

TEST(RecorderDurability, ANewDayFindsTheOldFileWholeAndClosed) {
    std::string dir = ToolTest::temp_dir(), error;
    const std::string old_file = dir + "/100-20250911.csv", new_file = dir + "/100-20250912.csv";
    Record::RowWriter writer(dir, Format::CSV);
    std::string want = Record::DepthText().csv_head();
    for (int p = 1; p <= 3; ++p) {
        ASSERT_TRUE(writer.add(row_of(p, "20250911"), "", error)) << error;
        Record::DepthText().append(Format::CSV, row_of(p, "20250911"), want);
    }
    EXPECT_TRUE(is_open(old_file));
    ASSERT_TRUE(writer.add(row_of(4, "20250912"), "", error)) << error;
    // The old day went out whole and was let go; the new day's row has not
    // reached its file yet.
    EXPECT_EQ(ToolTest::read_file(old_file), want);
    EXPECT_FALSE(is_open(old_file));
    EXPECT_TRUE(is_open(new_file));
    EXPECT_EQ(ToolTest::read_file(new_file), "");
    ASSERT_TRUE(writer.close_all(error)) << error;
    EXPECT_FALSE(is_open(new_file));
    ToolTest::remove_dir(dir);
}

TEST(RecorderDurability, ARestartFindsEachTopicInEveryDayFile) {
    std::string dir = ToolTest::temp_dir();
    auto write = [&](const std::string& name, const std::string& text) {
        ToolTest::write_file(dir + "/" + name, text);
    };
    std::string torn = rows_text(Format::CSV, 100, {77}, false).substr(0, 30);
    // Topic 100: an older day ends torn (only the torn line goes), the newest
    // day loses its last packet (12), which comes again.
    write("100-20250911.csv", rows_text(Format::CSV, 100, {1, 2, 3}) + torn);
    write("100-20250912.csv", rows_text(Format::CSV, 100, {10, 11, 12}));
    // Topic 7: the newest file holds only a header. Topic 8: no file of the
    // newest day at all.
    write("7-20250910.csv", rows_text(Format::CSV, 7, {5, 6}));
    write("7-20250912.csv", rows_text(Format::CSV, 7, {}));
    write("8-20250910.csv", rows_text(Format::CSV, 8, {40, 41, 42}));
    // Topic 9: rows without a trading day went to the zero day's file, which
    // holds the highest packet although its name sorts first.
    write("9-00000000.csv", rows_text(Format::CSV, 9, {23, 24}));
    write("9-20250912.csv", rows_text(Format::CSV, 9, {20, 21, 22}));
    // Other files are not looked at.
    write("md.con", "junk");
    write("9-2025.csv", "junk");
    write("9-20250912.jsonl", "junk");

    ResumeScanner scanner;
    std::string error;
    ASSERT_TRUE(scanner.scan(dir, Format::CSV, error)) << error;
    std::map<int, ResumeScanner::Span> want = {
        {7, {4, 5}}, {8, {39, 41}}, {9, {19, 23}}, {100, {0, 11}}};
    EXPECT_EQ(scanner.spans(), want);
    EXPECT_EQ(scanner.latest_day(), 20250912);
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250911.csv"),
              rows_text(Format::CSV, 100, {1, 2, 3}));
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250912.csv"),
              rows_text(Format::CSV, 100, {10, 11}));
    EXPECT_EQ(ToolTest::read_file(dir + "/9-00000000.csv"), rows_text(Format::CSV, 9, {23}));
    EXPECT_EQ(ToolTest::read_file(dir + "/9-20250912.csv"),
              rows_text(Format::CSV, 9, {20, 21, 22}));
    ToolTest::remove_dir(dir);
}

}  // namespace
