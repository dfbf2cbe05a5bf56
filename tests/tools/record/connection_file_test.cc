#include "tools/record/connection_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/tools/record/test_util.h"

namespace {

using Record::ConnectionFile;

TEST(ConnectionFile, TextIsWhatInitReads) {
    const char* table = "tools/record/connection_file.data";
    for (const TestTable::Row& r : TestTable::read(table, "format")) {
        std::map<int, long> positions;
        std::istringstream in(r[3]);
        for (int topic; in >> topic && in.ignore(1);) in >> positions[topic];
        EXPECT_EQ(ConnectionFile::format(std::stoi(r[1]), std::stoi(r[2]), positions),
                  TestTable::text(r, 4))
            << TestTable::where(table, r);
    }
    EXPECT_EQ(ConnectionFile::path(""), "./md.con");
    EXPECT_EQ(ConnectionFile::path("/data/md"), "/data/md/md.con");
}

TEST(ConnectionFile, WriteReplacesTheWholeFile) {
    std::string dir = ToolTest::temp_dir();
    std::string path = ConnectionFile::path(dir);
    std::string error;
    std::string longer = ConnectionFile::format(20250911, 2, {{1, 10}, {2, 20}, {3, 30}});
    ASSERT_TRUE(ConnectionFile::write(path, longer, error)) << error;
    std::string shorter = ConnectionFile::format(20250912, 7, {{3, 1200}});
    ASSERT_TRUE(ConnectionFile::write(path, shorter, error)) << error;
    EXPECT_EQ(ToolTest::read_file(path), shorter);
    EXPECT_FALSE(ToolTest::read_file(path + ".tmp").size() > 0);

    int day = 0, data_center = 0;
    ASSERT_TRUE(ConnectionFile::read_head(path, day, data_center));
    EXPECT_EQ(day, 20250912);
    EXPECT_EQ(data_center, 7);
    ToolTest::write_file(path, "garbage\n    3,      1200\n");
    EXPECT_FALSE(ConnectionFile::read_head(path, day, data_center));
    EXPECT_FALSE(ConnectionFile::read_head(dir + "/none", day, data_center));

    EXPECT_FALSE(ConnectionFile::write(dir + "/no/such/md.con", shorter, error));
    EXPECT_NE(error.find("no/such"), std::string::npos) << error;
    ToolTest::remove_dir(dir);
}

}  // namespace
