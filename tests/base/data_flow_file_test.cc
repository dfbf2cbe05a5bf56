#include "base/data_flow_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/vector.h"
#include "flow_test_util.h"

namespace {

using Base::DataFlow;
using FlowTest::append;
using FlowTest::MIB;

class FlowFileTest : public FlowTest::TempDirTest {
  protected:
    std::string path(unsigned short subject) const {
        char name[32];
        snprintf(name, sizeof name, "/%08x.flow", subject);
        return dir_ + name;
    }
    static std::string object(int i) {
        return "object-" + std::to_string(i) + std::string(i % 7, '*');
    }
    static std::vector<std::string> objects(int n) {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i) out.push_back(object(i));
        return out;
    }
    // Saves n objects of a flow with the given version to the subject's file.
    void save(unsigned short subject, int n, unsigned long version) {
        DataFlow flow(subject, MIB, MIB, nullptr, nullptr, 0, reinterpret_cast<void*>(version),
                      false, false);
        for (int i = 0; i < n; ++i) append(flow, object(i));
        DataFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr, 0, nullptr);
        ASSERT_TRUE(saver.is_open());
    }
    static std::vector<std::string> load(DataFlow& flow, const char* dir) {
        DataFlow::Loader loader(&flow, dir, nullptr, 0, nullptr);
        while (loader.invoke() == 1) {
        }
        DataFlow::Iterator it(loader.get_flow(), nullptr, nullptr, nullptr);
        return FlowTest::read_rest(it);
    }
};

TEST_F(FlowFileTest, FileHoldsVersionThenLengthPrefixedRecords) {
    save(16, 2, 0x12345);
    std::string bytes = read_all(dir_ + "/00000010.flow");
    std::string expect("\x23\x45", 2);
    for (int i = 0; i < 2; ++i) {
        std::string o = object(i);
        expect += std::string("\0\0\0", 3) + static_cast<char>(o.size()) + o;
    }
    EXPECT_EQ(expect, bytes);
}

TEST_F(FlowFileTest, OlderFileIsDeletedAndNewerFileShiftsTheFlow) {
    save(3, 5, 7);
    DataFlow newer(3, MIB, MIB, nullptr, nullptr, 0, reinterpret_cast<void*>(8), false, false);
    EXPECT_TRUE(load(newer, dir_.c_str()).empty());
    EXPECT_NE(0, access(path(3).c_str(), F_OK));

    save(3, 5, 9);
    DataFlow flow(3, MIB, MIB, nullptr, nullptr, 0, reinterpret_cast<void*>(8), false, false);
    append(flow, "held");
    EXPECT_EQ(5u, load(flow, dir_.c_str()).size());
    ASSERT_NE(nullptr, flow.get_next());
    EXPECT_EQ(reinterpret_cast<void*>(9), flow.get_next()->get_version());
}

TEST_F(FlowFileTest, SaverContinuesAnExistingFileAndRestartsOnANewVersion) {
    save(4, 3, 1);
    DataFlow flow(4, MIB, MIB, nullptr, nullptr, 0, reinterpret_cast<void*>(1), false, false);
    ASSERT_EQ(3u, load(flow, dir_.c_str()).size());
    {
        // The loaded objects are taken to be in the file already.
        DataFlow::Saver saver(&flow, dir_.c_str(), nullptr, true, nullptr, 0, nullptr);
        EXPECT_EQ(0, saver.invoke());
        append(flow, "fourth");
        EXPECT_EQ(1, saver.invoke());
        size_t expect = 2 + 4 + 6;  // version, then the new record
        for (int i = 0; i < 3; ++i) expect += 4 + object(i).size();
        EXPECT_EQ(expect, read_all(path(4)).size());
        EXPECT_EQ(0, saver.invoke());
        DataFlow* next = flow.shift(reinterpret_cast<void*>(2));
        append(*next, "day2");
        EXPECT_EQ(1, saver.invoke());
    }
    std::string bytes = read_all(path(4));
    EXPECT_EQ(std::string("\0\x02\0\0\0\x04", 6) + "day2", bytes);
}

TEST_F(FlowFileTest, SaverWithoutFileReportsFailure) {
    DataFlow flow(4, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    append(flow, "x");
    DataFlow::Saver saver(&flow, "/nonexistent/dir", nullptr, false, nullptr, 0, nullptr);
    EXPECT_FALSE(saver.is_open());
    EXPECT_EQ(-1, saver.invoke());
}

// Every cut, from an empty file through a torn version word to the end of
// the last record, keeps exactly the records that are complete before the
// cut and shortens the file to end after them; loading wakes no reader.
TEST_F(FlowFileTest, CrashAtEveryByteLosesOnlyIncompleteRecords) {
    const int n = 6;
    save(6, n, 3);
    std::string full = read_all(path(6));
    std::vector<size_t> ends{2};
    for (int i = 0; i < n; ++i) ends.push_back(ends.back() + 4 + object(i).size());
    ASSERT_EQ(full.size(), ends.back());
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        write_all(path(6), full.substr(0, cut));
        DataFlow flow(6, MIB, MIB, nullptr, nullptr, 0, reinterpret_cast<void*>(3), false, false);
        FlowTest::CountingGroup group;
        DataFlow::Iterator watcher(&flow, &group, nullptr, nullptr);
        int complete = 0;
        while (complete < n && ends[complete + 1] <= cut) ++complete;
        ASSERT_EQ(objects(complete), load(flow, dir_.c_str())) << "cut at " << cut;
        size_t kept = cut < ends[0] ? cut : ends[complete];  // a torn version stays
        ASSERT_EQ(kept, read_all(path(6)).size()) << "cut at " << cut;
        ASSERT_EQ(0, group.wakeups.load());
    }
}

TEST_F(FlowFileTest, LoaderTruncateEmptiesTheFileAndKeepsWhatWasLoaded) {
    save(9, 4, 0);
    DataFlow flow(9, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    DataFlow::Loader loader(&flow, dir_.c_str(), nullptr, 0, nullptr);
    EXPECT_EQ(1, loader.invoke());
    EXPECT_EQ(object(0),
              std::string(static_cast<const char*>(loader.get_last()), object(0).size()));
    loader.truncate();
    EXPECT_FALSE(loader.is_open());
    EXPECT_EQ(0, loader.invoke());
    EXPECT_EQ(1u, flow.get_count());
    EXPECT_EQ(0u, read_all(path(9)).size());
}

TEST_F(FlowFileTest, FileReaderSeeksWithAndWithoutIndexAndDeliversWholeRecords) {
    const unsigned long step = 8;
    Base::Vector index(8, 1024, 1, nullptr);
    DataFlow flow(8, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    for (int i = 0; i < 100; ++i) append(flow, object(i));
    { DataFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr, step, &index); }
    EXPECT_EQ(13u, Base::FlowFile::get_entry_count(&index));
    EXPECT_EQ(2u, Base::FlowFile::get_entry(&index, 0));
    for (Base::Vector* idx : {static_cast<Base::Vector*>(nullptr), &index}) {
        DataFlow::FileReader reader(8, 0, path(8).c_str(), step, idx);
        for (unsigned long pos : {0UL, 1UL, 8UL, 57UL, 99UL}) {
            ASSERT_TRUE(reader.seek(pos));
            unsigned short len = 0;
            const char* data = reader.read(len);
            ASSERT_NE(nullptr, data);
            EXPECT_EQ(object(static_cast<int>(pos)), std::string(data, len));
            EXPECT_EQ(pos + 1, reader.tell());
        }
        ASSERT_TRUE(reader.seek(10));
        unsigned short limit = 30;
        const char* data = reader.read(limit);
        ASSERT_NE(nullptr, data);
        // objects 10 (12 bytes) and 11 (13) fit; 12 (14) would pass 30
        EXPECT_EQ(object(10) + object(11), std::string(data, limit));
        EXPECT_EQ(12u, reader.tell());
        ASSERT_TRUE(reader.seek(100));
        unsigned short len = 0;
        EXPECT_EQ(nullptr, reader.read(len));
        EXPECT_FALSE(reader.seek(101));
    }
}

}  // namespace
