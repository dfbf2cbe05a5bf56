#include "tools/record/connection_file.h"

#include <gtest/gtest.h>

#include "tests/tools/record/test_util.h"

namespace {

using Record::ConnectionFile;

TEST(ConnectionFile, TextIsWhatInitReads) {
    struct {
        int day;
        int data_center;
        std::map<int, long> positions;
        const char* text;  // written out by hand: "%8d,%3d" then "%5d,%10u" lines
    } table[] = {
        {20250912, 7, {{3, 1200}, {5, 40}}, "20250912,  7\n    3,      1200\n    5,        40\n"},
        {0, 0, {}, "       0,  0\n"},
        {20250912,
         123,
         {{32767, 4294967295L}, {0, 0}},
         "20250912,123\n    0,         0\n32767,4294967295\n"},
    };
    for (const auto& t : table) {
        EXPECT_EQ(ConnectionFile::format(t.day, t.data_center, t.positions), t.text);
    }
    EXPECT_EQ(ConnectionFile::path(""), "./md.con");
    EXPECT_EQ(ConnectionFile::path("/data/md"), "/data/md/md.con");
}

TEST(ConnectionFile, WriteReplacesTheWholeFile) {
    std::string dir = RecordTest::temp_dir();
    std::string path = ConnectionFile::path(dir);
    std::string error;
    std::string longer = ConnectionFile::format(20250911, 2, {{1, 10}, {2, 20}, {3, 30}});
    ASSERT_TRUE(ConnectionFile::write(path, longer, error)) << error;
    std::string shorter = ConnectionFile::format(20250912, 7, {{3, 1200}});
    ASSERT_TRUE(ConnectionFile::write(path, shorter, error)) << error;
    EXPECT_EQ(RecordTest::read_file(path), shorter);
    EXPECT_FALSE(RecordTest::read_file(path + ".tmp").size() > 0);

    int day = 0, data_center = 0;
    ASSERT_TRUE(ConnectionFile::read_head(path, day, data_center));
    EXPECT_EQ(day, 20250912);
    EXPECT_EQ(data_center, 7);
    RecordTest::write_file(path, "garbage\n    3,      1200\n");
    EXPECT_FALSE(ConnectionFile::read_head(path, day, data_center));
    EXPECT_FALSE(ConnectionFile::read_head(dir + "/none", day, data_center));

    EXPECT_FALSE(ConnectionFile::write(dir + "/no/such/md.con", shorter, error));
    EXPECT_NE(error.find("no/such"), std::string::npos) << error;
    RecordTest::remove_dir(dir);
}

}  // namespace
