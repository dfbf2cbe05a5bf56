#include "base/data_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/data_flow_iterator.h"
#include "base/data_flow_sender.h"
#include "flow_test_util.h"
#include "tests/test_table.h"

namespace {

using Base::DataFlow;
using FlowTest::append;
using FlowTest::CountingGroup;
using FlowTest::MIB;
using FlowTest::read_rest;
using Strings = std::vector<std::string>;

// Records what a flow writes and what an iterator reads.
struct Collector : Base::DataFlow::WriteCallback, Base::DataFlow::ReadCallback {
    virtual ~Collector() = default;
    void on_write(unsigned long id, const void* data, unsigned short length) override {
        ids.push_back(id);
        items.emplace_back(static_cast<const char*>(data), length);
    }
    void on_read(unsigned long id, const void* data, unsigned short length) override {
        on_write(id, data, length);
    }
    void on_version(void* version) override { versions.push_back(version); }

    std::vector<unsigned long> ids;
    std::vector<std::string> items;
    std::vector<void*> versions;
};

std::string as_string(const DataFlow::Iterator::Result* r) {
    return r == nullptr ? std::string("<null>") : std::string(r->data, r->length);
}

void* V(long v) {
    return reinterpret_cast<void*>(v);
}

// Whether a commit asks for a wake-up is checked by the sender case; here a
// flow with notification disabled wakes nobody, by commit or by notify().
TEST(DataFlow, DisabledNotificationWakesNobodyUntilEnabled) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    CountingGroup group;
    DataFlow::Iterator reader(&flow, &group, nullptr, nullptr);
    flow.enable_notify(false);
    append(flow, "z", true);
    flow.notify();
    EXPECT_EQ(0, group.wakeups.load());
    flow.enable_notify(true);
    flow.notify();
    EXPECT_EQ(1, group.wakeups.load());
}

TEST(DataFlow, ManualCommitPublishesOnlyOnCommitAndRollsBackToCheckPoint) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, true);
    DataFlow::Iterator reader(&flow, nullptr, nullptr, nullptr);
    append(flow, "a");
    append(flow, "b");
    EXPECT_EQ(0u, flow.get_count());
    EXPECT_EQ(nullptr, reader.next());
    flow.commit(false);
    EXPECT_EQ(2u, flow.get_count());

    unsigned long cp = 0;
    flow.set_check_point(&cp);
    EXPECT_EQ(2u, cp);
    append(flow, "c");
    append(flow, "d");
    flow.rollback(&cp);
    EXPECT_EQ(2u, append(flow, "e"));
    flow.rollback(nullptr);  // drops "e": never committed
    append(flow, "f");
    flow.commit(false);
    EXPECT_EQ(3u, flow.get_count());
    EXPECT_EQ(read_rest(reader), (Strings{"a", "b", "f"}));
}

TEST(DataFlow, TruncateOutsideRangeIsRefusedAndChangesNothing) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 10, nullptr, false, false);
    for (int i = 0; i < 5; ++i) append(flow, std::to_string(i));
    EXPECT_FALSE(flow.truncate(9));
    EXPECT_FALSE(flow.truncate(16));
    EXPECT_EQ(15u, flow.get_count());
    EXPECT_TRUE(flow.truncate(12));
    EXPECT_EQ(12u, flow.get_count());
    EXPECT_EQ(12u, append(flow, "new"));
    DataFlow::Iterator reader(&flow, nullptr, nullptr, nullptr);
    EXPECT_EQ(read_rest(reader), (Strings{"0", "1", "new"}));
    EXPECT_TRUE(flow.truncate(10));
    EXPECT_EQ(10u, flow.get_count());
}

// A queue that is emptied on every reconnection and read again from the
// start by the same iterator: the iterator must not keep a block of the
// cleared store, including blocks it recycled itself while reading.
TEST(DataFlow, IteratorSoughtBackAfterClearReadsTheNewObjects) {
    DataFlow flow(0, MIB, MIB, nullptr, nullptr, 0, nullptr, true, false);
    DataFlow::Iterator reader(&flow, nullptr, nullptr, nullptr);
    for (int round = 0; round < 3; ++round) {
        Strings objects;
        for (int i = 0; i < 40; ++i) {
            objects.push_back(std::string(60000, static_cast<char>('a' + round)) +
                              std::to_string(i));
            ASSERT_EQ(static_cast<unsigned long>(i), append(flow, objects.back()));
        }
        ASSERT_EQ(objects, read_rest(reader));
        flow.clear(0);
        ASSERT_TRUE(reader.seek(0));
        EXPECT_EQ(0u, reader.tell());
        EXPECT_EQ(nullptr, reader.next());
    }
}

// Objects are numbered from the start given, each reported to the write
// callback. A flow restarted at a sequence number handed over by the peer
// numbers its next objects from there, and a reader sought there sees only
// them; free returns to zero.
TEST(DataFlow, NumbersFromTheStartAndRestartsWhereCleared) {
    Collector written;
    DataFlow flow(7, MIB, MIB, nullptr, &written, 100, nullptr, false, false);
    DataFlow::Iterator reader(&flow, nullptr, nullptr, nullptr);
    EXPECT_EQ(100u, append(flow, "x"));
    EXPECT_EQ(101u, append(flow, "yy"));
    EXPECT_EQ(102u, flow.get_count());
    EXPECT_EQ("x", as_string(reader.next()));
    flow.shift(V(5));
    ASSERT_NE(nullptr, flow.get_next());
    flow.clear(500);
    EXPECT_EQ(nullptr, flow.get_next());
    EXPECT_EQ(500u, flow.get_start_id());
    EXPECT_FALSE(reader.seek(499));
    ASSERT_TRUE(reader.seek(500));
    EXPECT_EQ(500u, append(flow, "z"));
    EXPECT_EQ(read_rest(reader), Strings{"z"});
    EXPECT_EQ((std::vector<unsigned long>{100, 101, 500}), written.ids);
    EXPECT_EQ((Strings{"x", "yy", "z"}), written.items);
    flow.free();
    EXPECT_EQ(0u, flow.get_start_id());
    EXPECT_EQ(0u, append(flow, "c"));
}

TEST(DataFlow, FileNameUsesSubjectInEightHexDigitsOrTheGivenName) {
    for (const TestTable::Row& row : TestTable::read("base/data_flow.data", "file")) {
        SCOPED_TRACE(TestTable::where("base/data_flow.data", row));
        DataFlow flow(static_cast<unsigned short>(std::stoi(row[1])), MIB, MIB, nullptr, nullptr, 0,
                      nullptr, false, false);
        auto given = [](const std::string& f) -> const char* {
            return f == "<null>" ? nullptr : f.c_str();
        };
        char name[DataFlow::FILE_NAME_SIZE];
        flow.get_file_name(given(row[2]), given(row[3]), name);
        EXPECT_STREQ(row[4].c_str(), name);
    }
}

// A seek past the end stops there and reports the last object; the
// reader's cell rises with it and is never lowered by a seek back.
TEST(DataFlowIterator, SeekToEndReportsTheLastObjectAndRaisesTheCell) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 5, nullptr, false, false);
    for (int i = 0; i < 1000; ++i) append(flow, "o" + std::to_string(i) + std::string(3000, 'x'));
    Collector seen;
    unsigned long cell = 0;
    DataFlow::Iterator reader(&flow, nullptr, &seen, &cell);
    EXPECT_EQ(0u, reader.get_recycle_pos());
    EXPECT_TRUE(reader.seek(2000));  // clamped to end
    EXPECT_EQ(1005u, reader.tell());
    EXPECT_EQ(seen.ids, std::vector<unsigned long>{1004});
    EXPECT_EQ(seen.items[0].substr(0, 4), "o999");
    EXPECT_EQ(nullptr, reader.next());
    EXPECT_EQ(1004u, cell);
    EXPECT_FALSE(reader.seek(4));
    EXPECT_TRUE(reader.seek(6));
    EXPECT_EQ(1004u, cell);  // never lowered
    EXPECT_EQ("o1x", as_string(reader.next()).substr(0, 3));
}

// An empty flow at zero takes a new version in place; one that held objects
// (or starts above zero) chains a successor, which a reader follows.
TEST(DataFlowShift, ReaderContinuesOnTheSuccessorAndReportsItsVersion) {
    DataFlow empty(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    EXPECT_EQ(&empty, empty.shift(V(3)));
    EXPECT_EQ(V(3), empty.get_version());
    EXPECT_EQ(nullptr, empty.get_next());
    DataFlow later(1, MIB, MIB, nullptr, nullptr, 8, nullptr, false, false);
    DataFlow* s = later.shift(V(3));
    EXPECT_NE(&later, s);
    EXPECT_EQ(s, later.get_next());
    EXPECT_EQ(0u, s->get_start_id());

    DataFlow flow(9, MIB, MIB, nullptr, nullptr, 0, V(1), false, false);
    flow.set_references(true);
    append(flow, "day1-a");
    append(flow, "day1-b");
    EXPECT_EQ(&flow, flow.shift(V(1)));
    DataFlow* next = flow.shift(V(2));
    ASSERT_NE(&flow, next);
    EXPECT_EQ(9, next->get_subject());
    EXPECT_TRUE(next->has_references());
    EXPECT_EQ(V(2), next->get_version());
    append(*next, "day2-a");
    DataFlow* third = flow.shift(V(3));
    EXPECT_EQ(third, next->get_next());
    EXPECT_EQ(third, flow.get_last());

    Collector seen;
    DataFlow::Iterator reader(&flow, nullptr, &seen, nullptr);
    EXPECT_EQ(read_rest(reader), (Strings{"day1-a", "day1-b", "day2-a"}));
    EXPECT_EQ(third, reader.get_flow());  // moved onto the empty third flow
    EXPECT_EQ(seen.versions, (std::vector<void*>{V(2), V(3)}));
}

// An auto-free flow recycles each block its reader leaves, and is freed
// once the reader moves on to its successor.
TEST(DataFlowShift, AutoFreeRecyclesEachBlockAReaderLeavesAndTheFlowLeftBehind) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, true, false);
    for (int i = 0; i < 3000; ++i) append(flow, std::string(1000, 'b'));  // three blocks
    DataFlow::Iterator reader(&flow, nullptr, nullptr, nullptr);
    for (int i = 0; i < 1000; ++i) ASSERT_NE(nullptr, reader.next());
    EXPECT_EQ(0u, flow.get_recycle_count());
    for (int i = 0; i < 1500; ++i) ASSERT_NE(nullptr, reader.next());
    EXPECT_GT(flow.get_recycle_count(), 0u);
    EXPECT_LT(flow.get_recycle_count(), 2500u);
    append(*flow.shift(V(2)), "new");
    EXPECT_EQ(501u, read_rest(reader).size());  // 500 left here and "new"
    EXPECT_EQ(0u, flow.get_count());
    EXPECT_EQ(0u, flow.get_start_id());
}

TEST(DataFlowSender, ReadsInOrderAndFollowsTheChain) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    DataFlow::Receiver receiver(&flow);
    CountingGroup group;
    DataFlow::Iterator watcher(&flow, &group, nullptr, nullptr);
    receiver.write("one", 3);
    EXPECT_EQ(0, group.wakeups.load());
    receiver.notify();
    EXPECT_EQ(1, group.wakeups.load());
    receiver.set_version(4);
    receiver.write("two", 3);
    EXPECT_EQ(4u, receiver.get_version());
    EXPECT_EQ(1u, receiver.get_count());

    DataFlow::Sender* sender = DataFlow::Sender::create(&flow);
    auto read_one = [sender] {
        unsigned short len = 0;
        const char* data = sender->read(len);
        return data == nullptr ? std::string("<null>") : std::string(data, len);
    };
    ASSERT_TRUE(sender->available());
    EXPECT_EQ("one", read_one());
    EXPECT_TRUE(sender->available());  // moves onto the successor
    EXPECT_EQ(4u, sender->get_version());
    EXPECT_EQ("two", read_one());
    EXPECT_FALSE(sender->available());
    EXPECT_EQ("<null>", read_one());
    EXPECT_TRUE(sender->seek(0));
    EXPECT_EQ("two", read_one());
    delete sender;
}

}  // namespace
