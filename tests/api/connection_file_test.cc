#include "api/connection_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class ConnectionFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/xelmd_confile_XXXXXX";
        dir_ = mkdtemp(tmpl);
        Api::ConnectionFile::make_path(path_, dir_.c_str());
    }
    void TearDown() override {
        unlink(path_);
        rmdir(dir_.c_str());
    }
    void put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string get() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
    char path_[256];
    char day_[9] = {};
    int center_ = 0;
};

TEST(ConnectionFilePath, FlowPathThenSlashThenName) {
    char out[256];
    Api::ConnectionFile::make_path(out, "");
    EXPECT_STREQ(out, "./md.con");
    Api::ConnectionFile::make_path(out, "/var/flow");
    EXPECT_STREQ(out, "/var/flow/md.con");
    std::string long_dir(300, 'd');
    Api::ConnectionFile::make_path(out, long_dir.c_str());
    EXPECT_EQ(std::string(out), long_dir.substr(0, 255));
}

TEST_F(ConnectionFileTest, ReadsDayCenterAndTopicCounts) {
    put("20250912,  7\n    3,      1200\n    5,        40\n");
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_STREQ(day_, "20250912");
    EXPECT_EQ(center_, 7);
    EXPECT_EQ(file.get_saved(3), 1200u);
    EXPECT_EQ(file.get_saved(5), 40u);
    EXPECT_EQ(file.get_saved(9), 0u);
    // Topics are matched on their low 16 bits.
    EXPECT_EQ(file.get_saved(65536 + 3), 1200u);
    EXPECT_EQ(file.get_length(), 13 + 2 * 17);
}

TEST_F(ConnectionFileTest, GarbageFirstLineKeepsDayButTopicsAreRead) {
    put("garbage\n    3,      1200\nnot a topic\n\n12,\n    4,99\r\n");
    strcpy(day_, "");
    center_ = 0;
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_STREQ(day_, "");
    EXPECT_EQ(center_, 0);
    EXPECT_EQ(file.get_saved_count(), 2);
    EXPECT_EQ(file.get_saved(3), 1200u);
    EXPECT_EQ(file.get_saved(4), 99u);
    EXPECT_EQ(file.get_saved(12), 0u);
}

TEST_F(ConnectionFileTest, AtMostSixtyFourTopicLinesAreRead) {
    std::string text = "20250912,  1\n";
    for (int i = 1; i <= 70; ++i) text += std::to_string(i) + "," + std::to_string(i * 10) + "\n";
    put(text);
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_saved_count(), 64);
    EXPECT_EQ(file.get_saved(64), 640u);
    EXPECT_EQ(file.get_saved(65), 0u);
}

TEST_F(ConnectionFileTest, CreatesMissingFileAndWritesFixedColumns) {
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    EXPECT_EQ(file.get_length(), 0);
    file.begin("20250912", 7);
    file.add_topic(3, 1200);
    file.add_topic(5, 0x100000028UL);  // the count's low 32 bits
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "20250912,  7\n    3,      1200\n    5,        40\n");
    // An empty trading day is written as 0.
    file.begin("", 0);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "       0,  0\n");
}

TEST_F(ConnectionFileTest, ShrinkingContentCutsTheFile) {
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    file.begin("20250912", 7);
    for (int t = 1; t <= 3; ++t) file.add_topic(t, 100000);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get().size(), 13u + 3 * 17);
    file.begin("20250912", 7);
    for (int t = 1; t <= 2; ++t) file.add_topic(t, 5);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "20250912,  7\n    1,         5\n    2,         5\n");
    EXPECT_EQ(file.get_length(), 13 + 2 * 17);
}

TEST_F(ConnectionFileTest, ExistingLongerFileIsCutAtFirstRewrite) {
    put("20250912,  7\n    3,      1200\n    5,        40\n    6,        41\n");
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    file.begin(day_, center_);
    file.add_topic(3, 1201);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get(), "20250912,  7\n    3,      1201\n");
}

TEST_F(ConnectionFileTest, AtMostSixtyFourTopicLinesAreWritten) {
    Api::ConnectionFile file;
    ASSERT_TRUE(file.open(path_, day_, center_));
    file.begin("20250912", 7);
    for (int t = 0; t < 70; ++t) file.add_topic(t, 4294967295UL);
    ASSERT_TRUE(file.write());
    EXPECT_EQ(get().size(), 13u + 64 * 17);
}

TEST_F(ConnectionFileTest, UnopenableFileIsReportedAndLeftOut) {
    std::string bad = dir_ + "/missing/md.con";
    Api::ConnectionFile file;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(file.open(bad.c_str(), day_, center_));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERR! open file failed: [" + bad + "]\n");
    EXPECT_FALSE(file.is_open());
    file.begin("20250912", 7);
    EXPECT_FALSE(file.write());
}

}  // namespace
