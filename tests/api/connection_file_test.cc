#include "api/connection_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/api/recording_spi.h"
#include "tests/tools/process.h"

namespace {

class ConnectionFileTest : public ::testing::Test {
  protected:
    void SetUp() override { Api::ConnectionFile::make_path(path_, dir_.c_str()); }
    void TearDown() override { ToolTest::remove_dir(dir_); }
    void put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string get() const { return ApiTest::read_file(path_); }
    std::string dir_ = ToolTest::temp_dir();
    char path_[256];
    char day_[9] = {};
    int center_ = 0;
};

TEST(ConnectionFilePath, FlowPathThenSlashThenName) {
    char out[256];
    const std::string long_dir(300, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"", "./md.con"}, {"/var/flow", "/var/flow/md.con"}, {long_dir, long_dir.substr(0, 255)}};
    for (const auto& c : cases) {
        Api::ConnectionFile::make_path(out, c.first.c_str());
        EXPECT_EQ(out, c.second);
    }
}

TEST_F(ConnectionFileTest, Reading) {
    std::string seventy = "20250912,  1\n";
    for (int i = 1; i <= 70; ++i)
        seventy += std::to_string(i) + "," + std::to_string(i * 10) + "\n";
    const struct {
        std::string text;
        std::vector<int> topics;
        std::string want;  // day, data center, topic lines kept, topic=count (0: none)
    } cases[] = {
        // Topics match on their low 16 bits.
        {"20250912,  7\n    3,      1200\n    5,        40\n",
         {3, 5, 9, 65536 + 3},
         "20250912 7 2 3=1200 5=40 9=0 65539=1200"},
        // A garbage first line keeps the day, topic lines are still read.
        {"garbage\n    3,      1200\nnot a topic\n\n12,\n    4,99\r\n",
         {3, 4, 12},
         " 0 2 3=1200 4=99 12=0"},
        {seventy, {64, 65}, "20250912 1 64 64=640 65=0"},  // at most 64 lines
    };
    for (const auto& c : cases) {
        put(c.text);
        strcpy(day_, "");
        center_ = 0;
        Api::ConnectionFile file;
        ASSERT_TRUE(file.open(path_, day_, center_));
        std::string got = std::string(day_) + " " + std::to_string(center_) + " " +
                          std::to_string(file.get_saved_count());
        for (int t : c.topics)
            got += " " + std::to_string(t) + "=" + std::to_string(file.get_saved(t));
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(ConnectionFileTest, WritesFixedColumnsAndCutsTheRest) {
    put("20250912,  7\n    3,      1200\n    5,        40\n    6,        41\n");
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_length(), 13 + 3 * 17);
    file.begin(day_, center_);
    file.add_topic(3, 1201);
    file.add_topic(5, 0x100000028UL);  // the count's low 32 bits
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "20250912,  7\n    3,      1201\n    5,        40\n");
    EXPECT_EQ(file.get_length(), 13 + 2 * 17);
    file.begin("", 0);  // an empty trading day is written as 0
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "       0,  0\n");
    file.begin("20250912", 7);
    for (int t = 0; t < 70; ++t) file.add_topic(t, 4294967295UL);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get().size(), 13u + 64 * 17);  // at most 64 lines
}

TEST_F(ConnectionFileTest, MissingFileIsCreatedUnopenableOneReported) {
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_length(), 0);
    std::string bad = dir_ + "/missing/md.con";
    Api::ConnectionFile other;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(other.open(bad.c_str(), day_, center_));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERR! open file failed: [" + bad + "]\n");
    EXPECT_FALSE(other.is_open());
    other.begin("20250912", 7);
    EXPECT_FALSE(other.write());
}

}  // namespace
