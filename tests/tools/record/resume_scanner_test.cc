#include "tools/record/resume_scanner.h"

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"

namespace {

using Record::DepthText;
using Record::Format;
using Record::ResumeScanner;

using RecordTest::rows_text;

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
            // The recording's first packet is what stays.
            int first = !c.kept.empty()                             ? c.kept[0]
                        : !c.drop_last_packet && !c.dropped.empty() ? c.dropped[0]
                                                                    : 0;
            EXPECT_EQ(end.first_sequence, first);
            std::string want = c.drop_last_packet ? kept : kept + dropped;
            EXPECT_EQ(ToolTest::read_file(path), want);
            EXPECT_EQ(end.length, static_cast<long>(want.size()));
        }
    }
    ToolTest::remove_dir(dir);
}

// Scanning a directory is the durability test's.
TEST(ResumeScanner, ATornHeaderStartsTheFileAgain) {
    std::string dir = ToolTest::temp_dir();
    ResumeScanner scanner;
    std::string error;
    EXPECT_FALSE(scanner.scan(dir + "/none", Format::CSV, error));
    // A foreign header is the recorder process test's.
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
