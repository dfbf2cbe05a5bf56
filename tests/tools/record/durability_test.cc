// What must hold of the recorder's files after a kill or a power cut: a
// trading day's file is whole and closed before the next day's first row,
// and a restart finds every topic's span in whichever day files hold it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/record/test_util.h"
#include "tools/record/resume_scanner.h"
#include "tools/record/row_writer.h"

namespace {

using Record::Format;
using RecordTest::rows_text;

bool is_open(const std::string& path) {
    std::error_code ignored;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::filesystem::read_symlink(fd.path(), ignored) == path) return true;
    return false;
}

TEST(RecorderDurability, ANewDayFindsTheOldFileWholeAndClosed) {
    std::string dir = ToolTest::temp_dir(), error, want = Record::DepthText().csv_head();
    std::mt19937_64 rng(1);
    Record::RowWriter writer(dir, Format::CSV);
    for (int p = 1; p <= 4; ++p) {
        Record::DepthRow row = RecordTest::random_row(rng, 100, p);
        strcpy(row.depth.TradingDay, p < 4 ? "20250911" : "20250912");
        ASSERT_TRUE(writer.add(row, "", error)) << error;
        if (p < 4) Record::DepthText().append(Format::CSV, row, want);
    }
    // The new day's row waits in memory; the old day is out whole and let go.
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250911.csv"), want);
    EXPECT_FALSE(is_open(dir + "/100-20250911.csv"));
    EXPECT_TRUE(is_open(dir + "/100-20250912.csv"));
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250912.csv"), "");
    ToolTest::remove_dir(dir);
}

TEST(RecorderDurability, ARestartFindsEachTopicInEveryDayFile) {
    std::string dir = ToolTest::temp_dir(), error;
    auto write = [&](const std::string& name, int topic, const std::vector<int>& packets,
                     const std::string& tail = "") {
        ToolTest::write_file(dir + "/" + name, rows_text(Format::CSV, topic, packets) + tail);
    };
    // Topic 100: an older day ends torn (only the torn line goes), the newest
    // day loses its last packet (12), which comes again.
    write("100-20250911.csv", 100, {1, 2, 3},
          rows_text(Format::CSV, 100, {7}, false).substr(0, 30));
    write("100-20250912.csv", 100, {10, 11, 12});
    // Topic 7: the newest file holds only a header. Topic 8: no file of the
    // newest day at all.
    write("7-20250910.csv", 7, {5, 6});
    write("7-20250912.csv", 7, {});
    write("8-20250910.csv", 8, {40, 41, 42});
    // Topic 9: rows without a trading day went to the zero day's file, which
    // holds the highest packet although its name sorts first.
    write("9-00000000.csv", 9, {23, 24});
    write("9-20250912.csv", 9, {20, 21, 22});
    ToolTest::write_file(dir + "/9-2025.csv", "not a recorder file");

    Record::ResumeScanner scanner;
    ASSERT_TRUE(scanner.scan(dir, Format::CSV, error)) << error;
    std::map<int, Record::ResumeScanner::Span> want = {
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
