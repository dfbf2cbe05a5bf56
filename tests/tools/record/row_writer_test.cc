#include "tools/record/row_writer.h"

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthRow;
using Record::DepthText;
using Record::Format;
using Record::RowWriter;

DepthRow row_of(int topic, int sequence, const char* day) {
    std::mt19937_64 rng(static_cast<unsigned long>(sequence));
    DepthRow row = RecordTest::random_row(rng, topic, sequence);
    snprintf(row.depth.TradingDay, sizeof row.depth.TradingDay, "%s", day);
    return row;
}

std::string line_of(Format format, const DepthRow& row) {
    DepthText text;
    std::string line;
    text.append(format, row, line);
    return line;
}

TEST(RowWriter, OneFilePerTopicAndDayWrittenOnFlush) {
    std::string dir = ToolTest::temp_dir();
    std::string head = DepthText().csv_head();
    std::string error;
    std::vector<DepthRow> rows = {row_of(100, 1, "20250911"), row_of(7, 1, "20250911"),
                                  row_of(100, 2, "20250911"), row_of(100, 3, "20250912"),
                                  row_of(7, 2, "bad"),        row_of(7, 3, "")};
    {
        RowWriter writer(dir, Format::CSV);
        ASSERT_TRUE(writer.add(rows[0], "", error)) << error;
        ASSERT_TRUE(writer.add(rows[1], "", error)) << error;
        ASSERT_TRUE(writer.add(rows[2], "", error)) << error;
        // Nothing reaches the file before the flush.
        EXPECT_EQ(ToolTest::read_file(dir + "/100-20250911.csv"), "");
        EXPECT_GT(writer.get_pending(), 0u);
        ASSERT_TRUE(writer.flush(error)) << error;
        EXPECT_EQ(writer.get_pending(), 0u);
        EXPECT_EQ(ToolTest::read_file(dir + "/100-20250911.csv"),
                  head + line_of(Format::CSV, rows[0]) + line_of(Format::CSV, rows[2]));
        // A new day closes the old file; days that are not 8 digits take the
        // fallback, or zeros.
        ASSERT_TRUE(writer.add(rows[3], "", error)) << error;
        ASSERT_TRUE(writer.add(rows[4], "20250920", error)) << error;
        ASSERT_TRUE(writer.add(rows[5], "2025", error)) << error;
        EXPECT_EQ(writer.get_rows(), 6u);
    }  // the destructor writes what is left
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250912.csv"), head + line_of(Format::CSV, rows[3]));
    EXPECT_EQ(ToolTest::read_file(dir + "/7-20250920.csv"), head + line_of(Format::CSV, rows[4]));
    EXPECT_EQ(ToolTest::read_file(dir + "/7-00000000.csv"), head + line_of(Format::CSV, rows[5]));

    // Appending after a restart (no second header) is the recorder process test's.
    ToolTest::remove_dir(dir);
}

TEST(RowWriter, JsonLinesHaveNoHeaderLargeBatchesGoOutAndErrorsNameTheFile) {
    std::string dir = ToolTest::temp_dir();
    std::string error;
    RowWriter writer(dir, Format::JSON);
    std::string want;
    int n = 0;
    // Past BATCH_BYTES the buffer goes to the file without a flush.
    while (want.size() <= RowWriter::BATCH_BYTES) {
        DepthRow row = row_of(3, ++n, "20250912");
        ASSERT_TRUE(writer.add(row, "", error)) << error;
        want += line_of(Format::JSON, row);
    }
    EXPECT_EQ(ToolTest::read_file(dir + "/3-20250912.jsonl"), want);
    EXPECT_EQ(writer.get_pending(), 0u);
    ToolTest::remove_dir(dir);
    RowWriter nowhere("/proc/no-such-dir", Format::CSV);
    EXPECT_FALSE(nowhere.add(row_of(1, 1, "20250912"), "", error));
    EXPECT_EQ(error, "cannot open /proc/no-such-dir/1-20250912.csv: No such file or directory");
}

}  // namespace
