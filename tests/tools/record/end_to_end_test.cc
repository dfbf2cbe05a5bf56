// xelmd-record as a process: clear failures for bad options and directories,
// and, against an xelmd-front, a recording that survives SIGKILL at random
// moments with the rows of a recording that never stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

#include "tests/tools/record/test_util.h"
#include "tools/record/depth_text.h"

namespace {

using ToolTest::spawn;
using ToolTest::wait_exit;

// The text with $DIR replaced by dir.
std::string in_dir(std::string text, const std::string& dir) {
    for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
    return text;
}

TEST(RecordCommand, ClearErrorsForBadDirectoriesAddressesAndForeignFiles) {
    const char* table = "tools/record/commands.data";
    const std::vector<TestTable::Row> rows = TestTable::read(table);
    const std::string dir = ToolTest::temp_dir(), foreign = dir + "/100-20250912.csv";
    ToolTest::write_file(dir + "/plain", "a file, not a directory");
    ToolTest::write_file(foreign, "a,b\n1,2");
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        SCOPED_TRACE(TestTable::where(table, rows[i]));
        std::vector<std::string> args;
        std::istringstream in(in_dir(TestTable::text(rows[i]), dir));
        for (std::string arg; in >> arg;) args.push_back(arg);
        const std::string log = dir + "/log";
        EXPECT_EQ(wait_exit(spawn(XELMD_RECORD_BIN, args, log), 20000), 2);
        EXPECT_EQ(ToolTest::read_file(log), in_dir(TestTable::text(rows[i + 1]), dir) + "\n");
        unlink(log.c_str());
    }
    EXPECT_EQ(ToolTest::read_file(foreign), "a,b\n1,2");
    ToolTest::remove_dir(dir);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

long count_lines(const std::string& path) {
    std::string text = ToolTest::read_file(path);
    return std::count(text.begin(), text.end(), '\n');
}

// Polls until done() holds; false after timeout_ms.
template <typename F>
bool poll(F done, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (done()) return true;
        usleep(20000);
    }
    return done();
}

// A topic the front does not serve is named, quiet or not; the others record.
TEST(RecordCommand, NamesATopicTheFrontDoesNotServe) {
    ToolTest::FrontProcess front;
    ASSERT_TRUE(
        front.start(XELMD_FRONT_BIN, {"--rate", "200", "--trading-day", "20250912", "--quiet"}))
        << front.log();
    const std::string log = front.dir + "/record.log";
    pid_t recorder = spawn(XELMD_RECORD_BIN,
                           {"--dir", front.dir + "/out", "--front", front.address(), "--topic",
                            "77", "--topic", "100", "--quiet"},
                           log);
    EXPECT_TRUE(poll(
        [&] {
            return ToolTest::read_file(log).find("topic 77 refused by the front (topic query)") !=
                       std::string::npos &&
                   count_lines(front.dir + "/out/100-20250912.csv") > 1;
        },
        20000))
        << ToolTest::read_file(log);
    kill(recorder, SIGTERM);
    EXPECT_EQ(wait_exit(recorder, 10000), 0) << ToolTest::read_file(log);
}

class RecordEndToEnd : public ::testing::TestWithParam<Record::Format> {};

// Beside a recorder that runs throughout, another one of the same front is
// killed at random moments (while replaying, while writing) and started
// again. Rows are merged records, so any restart that rebuilt the merge
// wrongly, lost or repeated a packet shows as a differing row.
TEST_P(RecordEndToEnd, KilledAtRandomMomentsWritesTheRowsOfAnUninterruptedRecording) {
    const bool csv = GetParam() == Record::Format::CSV;
    const std::vector<int> topics = {100, 200};
    ToolTest::FrontProcess front;
    const std::string dir = front.dir;
    // The default market: four instruments, every 20th packet a snapshot.
    ASSERT_TRUE(front.start(XELMD_FRONT_BIN, {"--rate", "400", "--topics", "100,200",
                                              "--trading-day", "20250912", "--quiet"}))
        << front.log();
    auto args = [&](const std::string& out) {
        return std::vector<std::string>{
            "--dir",      out,       "--front", front.address(), "--topic",
            "100",        "--topic", "200",     "--format",      csv ? "csv" : "json",
            "--flush-ms", "20",      "--quiet"};
    };
    auto file = [&](const std::string& out, int topic) {
        return dir + "/" + out + "/" + std::to_string(topic) + "-20250912." +
               (csv ? "csv" : "jsonl");
    };
    pid_t reference = spawn(XELMD_RECORD_BIN, args(dir + "/whole"), dir + "/whole.log");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("kill moments from seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    for (int k = 0; k < 6; ++k) {
        pid_t recorder = spawn(XELMD_RECORD_BIN, args(dir + "/killed"), dir + "/killed.log");
        usleep(static_cast<useconds_t>(50000 + rng() % 700000));
        kill(recorder, SIGKILL);
        waitpid(recorder, nullptr, 0);
    }
    // The last run records a good stretch of its own before both stop.
    long goal = count_lines(file("whole", 100)) + 400;
    pid_t recorder = spawn(XELMD_RECORD_BIN, args(dir + "/killed"), dir + "/killed.log");
    EXPECT_TRUE(poll([&] { return count_lines(file("killed", 100)) >= goal; }, 30000));
    kill(recorder, SIGTERM);
    EXPECT_EQ(wait_exit(recorder, 10000), 0) << ToolTest::read_file(dir + "/killed.log");
    kill(reference, SIGTERM);
    EXPECT_EQ(wait_exit(reference, 10000), 0) << ToolTest::read_file(dir + "/whole.log");
    front.stop();

    for (int topic : topics) {
        SCOPED_TRACE("topic " + std::to_string(topic));
        std::vector<std::string> whole = lines_of(ToolTest::read_file(file("whole", topic)));
        std::vector<std::string> killed = lines_of(ToolTest::read_file(file("killed", topic)));
        ASSERT_GE(killed.size(), static_cast<size_t>(goal) - 10);
        // The one that stopped later holds more; the other is its beginning.
        size_t common = std::min(whole.size(), killed.size());
        for (size_t i = 0; i < common; ++i) ASSERT_EQ(killed[i], whole[i]) << "line " << i + 1;
        // And the rows are packets 1, 2, 3, ... each once: one row per packet.
        Record::DepthText text;
        ASSERT_TRUE(!csv || text.read_csv_head(whole[0].c_str()));
        for (size_t i = csv ? 1 : 0; i < common; ++i) {
            Record::DepthRow row;
            ASSERT_TRUE(csv ? text.read_csv(whole[i].c_str(), row)
                            : Record::DepthText::read_json(whole[i].c_str(), row))
                << whole[i];
            ASSERT_EQ(row.sequence, static_cast<int>(csv ? i : i + 1)) << whole[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordEndToEnd,
                         ::testing::Values(Record::Format::CSV, Record::Format::JSON),
                         [](const ::testing::TestParamInfo<Record::Format>& param) {
                             return param.param == Record::Format::CSV ? "Csv" : "Json";
                         });

}  // namespace
