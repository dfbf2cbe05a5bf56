#include "base/data_reader.h"

#include <gtest/gtest.h>

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

// Keeps each reported line and the format it came with.
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
    std::vector<std::string> lines, formats;
};

std::string object(int i) {
    return std::to_string(i) + ":" + std::string(700 + i % 500, 'a' + i % 26);
}

std::string read_one(DataReader& reader, unsigned short limit = 0) {
    unsigned short len = limit;
    const char* data = reader.read(len);
    return data == nullptr ? "<null>" : std::string(data, len);
}

// A limit of zero delivers exactly one object; a larger one as many whole
// objects as fit, but never two from different blocks.
TEST(DataReader, ReadsNeverSplitAnObjectNorJoinTwoBlocks) {
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
    for (; next < 5; ++next) ASSERT_EQ(objects[next], read_one(reader));
    while (reader.available()) {
        std::string chunk = read_one(reader, 9000);
        ASSERT_LE(chunk.size(), 9000u);
        size_t first = next, used = 0;
        while (used < chunk.size()) {
            ASSERT_LT(next, objects.size());
            ASSERT_TRUE(next == first || block_starts.count(next) == 0) << "joined at " << next;
            ASSERT_EQ(objects[next], chunk.substr(used, objects[next].size()));
            used += objects[next++].size();
        }
        ASSERT_EQ(used, chunk.size());
    }
    EXPECT_EQ(objects.size(), next);
    unsigned short len = 0;
    EXPECT_EQ(nullptr, reader.read(len));
    EXPECT_EQ(0, len);
}

using DataReaderFile = FlowTest::TempDirTest;

TEST_F(DataReaderFile, FallsBackToTheFlowFileBehindTheRecycledRangeAndReturns) {
    DataFlow flow(2, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    for (int i = 0; i < 300; ++i) append(flow, object(i));
    { DataFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr, 0, nullptr); }
    char file[DataFlow::FILE_NAME_SIZE];
    flow.get_file_name(dir_.c_str(), nullptr, file);
    unsigned long cell = 250;  // as if this reader had already been there
    Lines log;
    DataReader reader(&flow, nullptr, nullptr, &cell, 10, file, 0, nullptr, &log);
    ASSERT_TRUE(reader.seek(20));
    EXPECT_TRUE(reader.is_reading_file());
    ASSERT_EQ(1u, log.lines.size());
    char expect[128];
    snprintf(expect, sizeof expect,
             "5 DataReader create file reader subject=[0x0002] id=[20] recycle_pos=[250] [%p]",
             static_cast<void*>(&reader));
    EXPECT_EQ(expect, log.lines[0]);
    EXPECT_EQ(object(20), read_one(reader));
    EXPECT_EQ(21u, reader.tell());
    for (int i = 21; i < 280; ++i) ASSERT_EQ(object(i), read_one(reader)) << i;
    EXPECT_FALSE(reader.is_reading_file());  // back in memory near the cell
    ASSERT_EQ(2u, log.lines.size());
    EXPECT_EQ(0u, log.lines[1].find("5 DataReader delete file reader subject=[0x0002] id=[240]"));
    // Reporters receive each line's own format, not a shared one.
    EXPECT_EQ(log.formats,
              (std::vector<std::string>{
                  "create file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]",
                  "delete file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]"}));
    ASSERT_TRUE(reader.seek(260));
    EXPECT_FALSE(reader.is_reading_file());
    reader.reset();
    EXPECT_EQ(0u, reader.tell());
}

}  // namespace
