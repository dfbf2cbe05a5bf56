// The simulator's input files: scenarios, users and CSV depth records.
#include <gtest/gtest.h>

#include <string>

#include "tests/tools/process.h"
#include "tools/front/depth_csv.h"
#include "tools/front/scenario.h"
#include "tools/front/user_table.h"

namespace {

using Front::Scenario;

// What reading a file gives, as the table's expectation rows write it.
std::string read_as(const std::string& kind, const std::string& text) {
    std::string error, faults;
    if (kind == "users") {
        Front::UserTable users;
        return users.parse(text, error) ? "ok:" : "error:" + error;
    }
    Scenario s;
    if (!s.parse(text, error))
        return s.get_faults().empty() ? "error:" + error : "error, faults kept";
    for (const Scenario::Fault& f : s.get_faults())
        faults += std::to_string(f.action) + " " + std::to_string(f.after_ms) + " " +
                  std::to_string(f.connection) + " " + std::to_string(f.seconds) + " " +
                  std::to_string(f.bytes) + ", ";
    return "faults:" + faults;
}

TEST(ConfigFiles, EachFileGivesItsFaultsOrItsExactError) {
    const char* path = "tools/front/config_files.data";
    const std::vector<TestTable::Row> rows = TestTable::read(path);
    ASSERT_EQ(rows.size() % 2, 0u);
    for (size_t i = 0; i < rows.size(); i += 2) {
        SCOPED_TRACE(TestTable::where(path, rows[i]));
        EXPECT_EQ(read_as(rows[i][0], TestTable::text(rows[i])),
                  rows[i + 1][0] + ":" + TestTable::text(rows[i + 1]));
    }
    Scenario s;
    std::string error;
    EXPECT_FALSE(s.load("/nonexistent/scenario.json", error));
    EXPECT_EQ(error, "cannot read /nonexistent/scenario.json");
}

// An open front (no users), a wrong password and a change of password are
// the end-to-end and dialogue tests'.
TEST(UserTable, ChecksPasswords) {
    Front::UserTable users;
    std::string error, participant;
    ASSERT_TRUE(users.parse(
        R"({"users": [{"user": "demo", "password": "pw", "participant": "P01"}]})", error))
        << error;
    EXPECT_EQ(users.check("demo", "pw", &participant), 0);
    EXPECT_EQ(participant, "P01");
    EXPECT_EQ(users.check("nobody", "pw", nullptr), Front::UserTable::UNKNOWN_USER);
    EXPECT_EQ(users.change_password("demo", "bad", "new"), Front::UserTable::WRONG_PASSWORD);
}

// Reading records by column name, empty cells as nulls, in a loop, is the
// recorder's end-to-end test's (the front replays a file to it).
TEST(DepthCsv, ReportsBadLinesAndFilesWithoutInstruments) {
    Front::DepthCsv csv;
    std::string error;
    ASSERT_TRUE(csv.open(XELMD_SOURCE_DIR "/tests/tools/front/depth.csv", error)) << error;
    Field::XelDepthMarketDataField r;
    ASSERT_EQ(csv.next(r, error), 1) << error;
    ASSERT_EQ(csv.next(r, error), 1) << error;
    EXPECT_EQ(csv.next(r, error), -1);
    EXPECT_EQ(error, "line 4: a cell does not convert or InstrumentID is empty");
    EXPECT_EQ(csv.next(r, error), 0);

    const std::string dir = ToolTest::temp_dir();
    ToolTest::write_file(dir + "/prices.csv", "LastPrice\n1\n");
    Front::DepthCsv other;
    EXPECT_FALSE(other.open((dir + "/prices.csv").c_str(), error));
    EXPECT_EQ(error, dir + "/prices.csv: the header has no InstrumentID column");
    ToolTest::remove_dir(dir);
}

}  // namespace
