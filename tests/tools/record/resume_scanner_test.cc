#include "tools/record/resume_scanner.h"

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthText;
using Record::Format;
using Record::ResumeScanner;

// Rows for (topic, packet) pairs in the given form, header first for CSV.
std::string rows_text(Format format, int topic, const std::vector<int>& packets,
                      bool header = true) {
    DepthText text;
    std::string out = format == Format::CSV && header ? text.csv_head() : "";
    std::mt19937_64 rng(1);  // the same rows each time: shorter lists are prefixes
    for (int p : packets) text.append(format, RecordTest::random_row(rng, topic, p), out);
    return out;
}

struct RepairCase {
    const char* name;
    std::vector<int> kept;     // packets that stay
    std::vector<int> dropped;  // complete rows cut with the last packet
    std::string tail;          // then bytes of a torn or garbage end
    bool drop_last_packet;
    int last_sequence;  // 0: no row left
};

std::vector<RepairCase> repair_cases(Format format) {
    std::string torn = rows_text(format, 100, {9}, false);
    torn.resize(torn.size() / 2);
    return {
        {"clean end", {1, 2}, {3}, "", true, 3},
        {"torn last line", {1, 2}, {3}, torn, true, 3},
        {"packet of three rows", {1, 2}, {3, 3, 3}, torn, true, 3},
        {"zeros after a power cut", {1, 2, 2}, {4}, std::string(4096, '\0'), true, 4},
        {"zeros holding a newline", {1}, {2}, std::string(100, '\0') + "\n", true, 2},
        {"keep the last packet", {1, 2, 3}, {}, torn, false, 3},
        {"one packet only", {}, {1, 1}, "", true, 1},
        {"no row", {}, {}, torn, true, 0},
        // About 1.5 MiB of one packet: more than the first read from the end.
        {"long last packet", std::vector<int>(500, 1), std::vector<int>(3000, 2), "20250", true, 2},
    };
}

TEST(ResumeScanner, RepairCutsTornLinesAndTheLastPacket) {
    std::string dir = ToolTest::temp_dir();
    for (Format format : {Format::CSV, Format::JSON}) {
        const char* ext = format == Format::CSV ? ".csv" : ".jsonl";
        for (const RepairCase& c : repair_cases(format)) {
            SCOPED_TRACE(std::string(c.name) + ext);
            std::string path = dir + "/100-20250912" + ext;
            std::string kept = rows_text(format, 100, c.kept);
            std::string dropped = rows_text(format, 100, c.dropped, false);
            // Each packet's rows share one number, so the dropped rows are the
            // kept text's continuation.
            ToolTest::write_file(path, kept + dropped + c.tail);
            ResumeScanner::FileEnd end;
            std::string error;
            ASSERT_TRUE(ResumeScanner::repair(path, format, 100, c.drop_last_packet, end, error))
                << error;
            EXPECT_EQ(end.has_rows, c.last_sequence != 0);
            EXPECT_EQ(end.has_rows ? end.last_sequence : 0, c.last_sequence);
            std::string want = c.drop_last_packet ? kept : kept + dropped;
            EXPECT_EQ(ToolTest::read_file(path), want);
            EXPECT_EQ(end.length, static_cast<long>(want.size()));
        }
    }
    ToolTest::remove_dir(dir);
}

TEST(ResumeScanner, ScanGivesEachTopicItsPositionFromTheNewestFileAndStartsATornHeaderAgain) {
    std::string dir = ToolTest::temp_dir();
    std::string torn = rows_text(Format::CSV, 100, {77}, false).substr(0, 30);
    // Topic 100: an older day ends torn (only the torn line goes), the newest
    // day loses its last packet (12) and resumes after 11.
    std::string old_day = rows_text(Format::CSV, 100, {1, 2, 3});
    ToolTest::write_file(dir + "/100-20250911.csv", old_day + torn);
    ToolTest::write_file(dir + "/100-20250912.csv", rows_text(Format::CSV, 100, {10, 11, 12}));
    // Topic 7: the newest file holds only a header, so the older one counts.
    ToolTest::write_file(dir + "/7-20250910.csv", rows_text(Format::CSV, 7, {5, 6}));
    ToolTest::write_file(dir + "/7-20250912.csv", rows_text(Format::CSV, 7, {}));
    // Other files are not looked at.
    ToolTest::write_file(dir + "/md.con", "junk");
    ToolTest::write_file(dir + "/9-2025.csv", "junk");
    ToolTest::write_file(dir + "/9-20250912.jsonl", "junk");

    ResumeScanner scanner;
    std::string error;
    ASSERT_TRUE(scanner.scan(dir, Format::CSV, error)) << error;
    std::map<int, long> want = {{7, 5}, {100, 11}};
    EXPECT_EQ(scanner.positions(), want);
    EXPECT_EQ(scanner.latest_day(), 20250912);
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250911.csv"), old_day);
    EXPECT_EQ(ToolTest::read_file(dir + "/100-20250912.csv"),
              rows_text(Format::CSV, 100, {10, 11}));
    EXPECT_GT(scanner.dropped_bytes(), 0);

    EXPECT_FALSE(scanner.scan(dir + "/none", Format::CSV, error));

    // A torn header: start the file again. A foreign header is the recorder
    // process test's.
    ResumeScanner::FileEnd end;
    ToolTest::write_file(dir + "/5-20250912.csv", "TradingDay,Settle");
    ASSERT_TRUE(ResumeScanner::repair(dir + "/5-20250912.csv", Format::CSV, 5, true, end, error))
        << error;
    EXPECT_EQ(ToolTest::read_file(dir + "/5-20250912.csv"), "");
    EXPECT_FALSE(end.has_rows);
    EXPECT_FALSE(ResumeScanner::repair(dir + "/missing.csv", Format::CSV, 5, true, end, error));
    EXPECT_EQ(error, "cannot open " + dir + "/missing.csv: No such file or directory");
    ToolTest::remove_dir(dir);
}

TEST(ResumeScanner, FileNames) {
    // Making them is the row writer test's, which reads the files it writes.
    const char* table = "tools/record/resume_scanner.data";
    for (const TestTable::Row& r : TestTable::read(table, "name")) {
        int topic = -1;
        std::string day;
        bool ok = ResumeScanner::parse_name(r[1].c_str(),
                                            r[2] == "csv" ? Format::CSV : Format::JSON, topic, day);
        EXPECT_EQ(ok ? std::to_string(topic) + " " + day : "-1", r[3] + (ok ? " 20250912" : ""))
            << TestTable::where(table, r);
    }
}

}  // namespace
