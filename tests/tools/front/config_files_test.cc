// The simulator's input files: scenarios, users and CSV depth records.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tools/process.h"
#include "tools/front/depth_csv.h"
#include "tools/front/scenario.h"
#include "tools/front/user_table.h"

namespace {

using Front::Scenario;

TEST(Scenario, ReadsEveryActionWithItsDefaults) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(s.parse(R"({"faults": [
        {"action": "drop", "after": 2.5},
        {"action": "stall", "after": 1, "seconds": 30, "connection": 2},
        {"action": "bad_sequence", "connection": 0},
        {"action": "oversized_frame"},
        {"action": "garbage", "bytes": 10},
        {"action": "key_error", "connection": 3}
    ]})",
                        error))
        << error;
    // Action, after, connection, seconds and bytes, defaults filled in.
    std::string faults;
    for (const Scenario::Fault& f : s.get_faults())
        faults += std::to_string(f.action) + " " + std::to_string(f.after_ms) + " " +
                  std::to_string(f.connection) + " " + std::to_string(f.seconds) + " " +
                  std::to_string(f.bytes) + ", ";
    EXPECT_EQ(faults,
              "0 2500 1 0 64, 1 1000 2 30 64, 2 0 0 0 64, 3 0 1 0 64, 4 0 1 0 10, 5 0 3 0 64, ");
    const auto& f = s.get_faults();
    EXPECT_EQ(s.for_connection(1).size(), 4u);  // its own three and the every-connection one
    EXPECT_EQ(s.for_connection(2).size(), 2u);  // the stall and the every-connection fault
    EXPECT_FALSE(Front::fault_due(f[0], 10000, 12499));
    EXPECT_TRUE(Front::fault_due(f[0], 10000, 12500));
}

TEST(Scenario, RefusesMalformedFilesWithAClearMessage) {
    struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"{\"faults\": [\n  {\"action\": \"drop\",,}\n]}", "line 2, column"},
        {"{\"faults\": []} {\"faults\": []}", "one object holding \"faults\""},
        {"{\"faults\": {}}", "\"faults\" must be an array"},
        {"{\"faults\": [3]}", "fault 1: must be an object"},
        {"{\"faults\": [{\"after\": 1}]}", "fault 1: needs \"action\""},
        {"{\"faults\": [{\"action\": \"drop\"}, {\"action\": \"explode\"}]}",
         "fault 2: unknown action \"explode\""},
        {"{\"faults\": [{\"action\": \"drop\", \"after\": \"soon\"}]}",
         "\"after\" must be a number"},
        {"{\"faults\": [{\"action\": \"drop\", \"after\": -1}]}", "\"after\" must lie between"},
        {"{\"faults\": [{\"action\": \"drop\", \"atfer\": 1}]}", "unknown member \"atfer\""},
        {"{\"faults\": [{\"action\": \"key_error\", \"after\": 1}]}", "takes no \"after\""},
        {"{\"faults\": [{\"action\": \"garbage\", \"bytes\": 0}]}", "at least 1"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(s.parse(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << " -> " << error;
        EXPECT_TRUE(s.get_faults().empty());
    }
    Scenario s;
    std::string error;
    EXPECT_FALSE(s.load("/nonexistent/scenario.json", error));
    EXPECT_EQ(error, "cannot read /nonexistent/scenario.json");
}

TEST(UserTable, ChecksPasswordsAndRefusesBadFiles) {
    Front::UserTable open_front;
    EXPECT_EQ(open_front.check("anyone", "anything", nullptr), 0);

    Front::UserTable users;
    std::string error;
    ASSERT_TRUE(users.parse(R"({"users": [{"user": "demo", "password": "pw", "participant": "P01"},
                                          {"user": "ro", "password": ""}]})",
                            error))
        << error;
    std::string participant;
    EXPECT_EQ(users.check("demo", "pw", &participant), 0);
    EXPECT_EQ(participant, "P01");
    EXPECT_EQ(users.check("demo", "PW", nullptr), Front::UserTable::WRONG_PASSWORD);
    EXPECT_EQ(users.check("nobody", "pw", nullptr), Front::UserTable::UNKNOWN_USER);
    EXPECT_EQ(users.change_password("demo", "bad", "new"), Front::UserTable::WRONG_PASSWORD);
    EXPECT_EQ(users.change_password("demo", "pw", "new"), 0);
    EXPECT_EQ(users.check("demo", "new", nullptr), 0);

    const char* bad[] = {
        "{\"users\": 1}",
        "{\"users\": [{\"user\": \"a\"}]}",
        "{\"users\": [{\"user\": \"a\", \"password\": \"x\"}, {\"user\": \"a\", \"password\": "
        "\"y\"}]}",
        "{\"users\": [{\"user\": \"sixteen_chars_xx\", \"password\": \"x\"}]}",
    };
    for (const char* text : bad) {
        Front::UserTable t;
        EXPECT_FALSE(t.parse(text, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(DepthCsv, ReadsRecordsByColumnNameAndReportsBadLines) {
    const std::string dir = ToolTest::temp_dir(), path = dir + "/depth.csv";
    ToolTest::write_file(
        path,
        "InstrumentID,LastPrice,Volume,BidPrice1,BidVolume1,AskPrice1,AskVolume1,UpdateTime\n"
        "XA2509,3500.5,12,3500,3,3501,4,09:30:00\n"
        "XB2509,,0,10.25,1,10.5,2,09:30:01\n"
        "XC2509,abc,1,1,1,1,1,09:30:02\n");
    Front::DepthCsv csv;
    std::string error;
    ASSERT_TRUE(csv.open(path.c_str(), error)) << error;
    Field::XelDepthMarketDataField r;
    ASSERT_EQ(csv.next(r, error), 1) << error;
    // Prices in thousandths; a missing column reads as zero.
    EXPECT_EQ(std::string(r.InstrumentID) + " " + std::to_string(r.LastPrice) + " " +
                  std::to_string(r.Volume) + " " + std::to_string(r.AskPrice1) + " " +
                  r.UpdateTime + " " + std::to_string(r.OpenPrice),
              "XA2509 3500500 12 3501000 09:30:00 0");
    ASSERT_EQ(csv.next(r, error), 1) << error;
    EXPECT_EQ(r.LastPrice, LLONG_MAX) << "an empty price is null";
    EXPECT_EQ(r.BidPrice1, 10250);
    EXPECT_EQ(csv.next(r, error), -1);
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    EXPECT_EQ(csv.next(r, error), 0);
    ASSERT_TRUE(csv.rewind());
    ASSERT_EQ(csv.next(r, error), 1);
    EXPECT_STREQ(r.InstrumentID, "XA2509");

    ToolTest::write_file(path, "LastPrice\n1\n");
    Front::DepthCsv other;
    EXPECT_FALSE(other.open(path.c_str(), error));
    EXPECT_NE(error.find("no InstrumentID column"), std::string::npos);
    ToolTest::remove_dir(dir);
}

}  // namespace
