#include "base/data_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "base/reportable.h"
#include "flow_test_util.h"

namespace {

using Base::DataFlow;
using Base::DataReader;
using FlowTest::append;
using FlowTest::MIB;

struct Lines : Base::Reportable {
    virtual ~Lines() = default;
    void report(int level, const char* tag, const char* format, ...) override {
        char line[256];
        va_list args;
        va_start(args, format);
        vsnprintf(line, sizeof line, format, args);
        va_end(args);
        lines.push_back(std::to_string(level) + " " + tag + " " + line);
        formats.push_back(format);
    }
    std::vector<std::string> lines;
    std::vector<std::string> formats;
};

std::string object(int i) {
    return std::to_string(i) + ":" + std::string(700 + i % 500, 'a' + i % 26);
}

TEST(DataReader, ZeroLimitDeliversExactlyOneObject) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    for (int i = 0; i < 5; ++i) append(flow, object(i));
    DataReader reader(&flow, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr);
    for (int i = 0; i < 5; ++i) {
        unsigned short len = 0;
        const char* data = reader.read(len);
        ASSERT_NE(nullptr, data);
        EXPECT_EQ(object(i), std::string(data, len));
    }
    unsigned short len = 0;
    EXPECT_EQ(nullptr, reader.read(len));
    EXPECT_EQ(0, len);
    EXPECT_FALSE(reader.available());
}

TEST(DataReader, LimitedReadsNeverSplitAnObjectNorJoinTwoBlocks) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    std::vector<std::string> objects;
    for (int i = 0; i < 4000; ++i) {
        objects.push_back(object(i));
        append(flow, objects.back());
    }
    // Objects that open a block: not stored right behind their predecessor.
    std::set<size_t> block_starts;
    {
        DataFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
        const char* expected = nullptr;
        for (size_t i = 0; const DataFlow::Iterator::Result* r = it.next(); ++i) {
            if (i > 0 && r->data != expected) block_starts.insert(i);
            expected = r->data + r->length;
        }
    }
    ASSERT_GE(block_starts.size(), 2u);

    DataReader reader(&flow, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr);
    size_t next = 0;
    while (reader.available()) {
        unsigned short len = 9000;
        const char* data = reader.read(len);
        ASSERT_NE(nullptr, data);
        ASSERT_LE(len, 9000);
        std::string chunk(data, len);
        size_t first = next;
        size_t used = 0;
        while (used < chunk.size()) {
            ASSERT_LT(next, objects.size());
            if (next != first) {
                ASSERT_EQ(0u, block_starts.count(next)) << "joined at " << next;
            }
            ASSERT_EQ(objects[next], chunk.substr(used, objects[next].size()));
            used += objects[next++].size();
        }
        ASSERT_EQ(used, chunk.size());
    }
    EXPECT_EQ(objects.size(), next);
}

TEST(DataReader, FallsBackToTheFlowFileBehindTheRecycledRangeAndReturns) {
    char tmpl[] = "/tmp/datareaderXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    std::string dir = tmpl;
    DataFlow flow(2, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    for (int i = 0; i < 300; ++i) append(flow, object(i));
    { DataFlow::Saver saver(&flow, dir.c_str(), nullptr, false, nullptr, 0, nullptr); }
    char path[256];
    flow.get_file_name(dir.c_str(), nullptr, path);
    unsigned long cell = 250;  // as if this reader had already been there
    Lines log;
    DataReader reader(&flow, nullptr, nullptr, &cell, 10, path, 0, nullptr, &log);
    ASSERT_TRUE(reader.seek(20));
    EXPECT_TRUE(reader.is_reading_file());
    ASSERT_EQ(1u, log.lines.size());
    char expect[128];
    snprintf(expect, sizeof expect,
             "5 DataReader create file reader subject=[0x0002] id=[20] recycle_pos=[250] [%p]",
             static_cast<void*>(&reader));
    EXPECT_EQ(expect, log.lines[0]);
    unsigned short len = 0;
    const char* data = reader.read(len);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(object(20), std::string(data, len));
    EXPECT_EQ(21u, reader.tell());
    for (int i = 21; i < 280; ++i) {
        len = 0;
        data = reader.read(len);
        ASSERT_NE(nullptr, data) << i;
        ASSERT_EQ(object(i), std::string(data, len));
    }
    EXPECT_FALSE(reader.is_reading_file());  // back in memory near the cell
    ASSERT_EQ(2u, log.lines.size());
    EXPECT_EQ(0u, log.lines[1].find("5 DataReader delete file reader subject=[0x0002] id=[240]"));
    // Reporters receive each line's own format, not a shared one.
    EXPECT_EQ("create file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]",
              log.formats[0]);
    EXPECT_EQ("delete file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]",
              log.formats[1]);
    ASSERT_TRUE(reader.seek(260));
    EXPECT_FALSE(reader.is_reading_file());
    reader.reset();
    EXPECT_EQ(0u, reader.tell());
    std::string cmd = "rm -rf " + dir;
    ASSERT_EQ(0, system(cmd.c_str()));
}

}  // namespace
