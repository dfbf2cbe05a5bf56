#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/data_flow_iterator.h"
#include "base/data_flow_sender.h"
#include "base/memory.h"
#include "flow_test_util.h"
#include "numbered_object.h"

namespace {

using Base::DataFlow;
using FlowTest::MIB;

#ifdef __SANITIZE_THREAD__
constexpr unsigned long OBJECTS = 25000;  // still some 30 blocks
#else
constexpr unsigned long OBJECTS = 300000;
#endif
constexpr unsigned long MAX_LAG = 5000;  // objects the writer lets readers fall behind
constexpr unsigned long KEEP = 1000;
constexpr int READERS = 3;

// Objects of 8 to 2407 bytes.
const NumberedObjects NUMBERED{2400};

struct Reader {
    FlowTest::CountingGroup group;
    unsigned long* cell = nullptr;
    unsigned long seen = 0;
    unsigned long errors = 0;
};

void read_all(DataFlow* flow, Reader* r) {
    DataFlow::Iterator it(flow, &r->group, nullptr, r->cell);
    while (r->seen < OBJECTS) {
        const DataFlow::Iterator::Result* res = it.next();
        if (res == nullptr) {
            // The writer wakes us through the notify group; the timeout only
            // bounds the test if a wake-up were lost.
            r->group.sign.timed_wait(1000, true);
            continue;
        }
        bool intact = NUMBERED.holds(res->data, res->length, r->seen);
        if (it.tell() - 1 != r->seen || !intact) ++r->errors;
        ++r->seen;
    }
}

// One writer appends objects of random sizes over many 1 MiB blocks while
// three readers on other threads follow it; recycling runs on the writer's
// thread, so the store's memory must stay bounded by the readers' lag.
TEST(DataFlowStress, ReadersSeeEveryObjectOnceInOrderWhileMemoryIsRecycled) {
    Base::Memory memory(MIB, MIB);
    DataFlow flow(5, MIB, MIB, &memory, nullptr, 0, nullptr, false, false);
    DataFlow::Recycler recycler(&flow, KEEP);
    std::vector<Reader> readers(READERS);
    for (Reader& r : readers) r.cell = recycler.alloc_reader();
    std::vector<std::thread> threads;
    for (Reader& r : readers) threads.emplace_back(read_all, &flow, &r);

    unsigned long bytes = 0;
    for (unsigned long id = 0; id < OBJECTS; ++id) {
        unsigned short n = NUMBERED.size_of(id);
        NUMBERED.fill(static_cast<char*>(flow.alloc_object(n)), id);
        flow.commit_object(n, true);
        bytes += n;
        if (id % 512 == 0) {
            recycler.invoke();
            while (id - recycler.get_last_min() > MAX_LAG) {
                std::this_thread::yield();
                recycler.invoke();
            }
        }
    }
    for (std::thread& t : threads) t.join();
    for (const Reader& r : readers) {
        EXPECT_EQ(OBJECTS, r.seen);
        EXPECT_EQ(0u, r.errors);
    }
    unsigned long capacity = 0, used = 0;
    memory.get_size(capacity, used);
    EXPECT_GT(bytes, 25UL * MIB);
    // The lag (at most MAX_LAG objects of < 2.5 KB, about 12 MiB) plus
    // KEEP, the block kept behind and the block being filled.
    EXPECT_LT(capacity, 24UL * MIB);
    EXPECT_GT(flow.get_recycle_count(), OBJECTS / 2);
}

}  // namespace
