#include "parallel/flow_recycler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "base/data_flow_iterator.h"
#include "parallel/reactor.h"

namespace {

using Base::DataFlow;

constexpr unsigned int MIB = 1048576;

void fill(DataFlow& flow, int n) {
    for (int i = 0; i < n; ++i) {
        void* p = flow.alloc_object(1000);
        memset(p, 'r', 1000);
        flow.commit_object(1000, false);
    }
}

TEST(FlowRecycler, WithoutReadersReleasesBlocksBeforeEndMinusKeepButOne) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    fill(flow, 10000);  // 1004 bytes each: about 1044 to a block
    Parallel::FlowRecycler recycler(nullptr, &flow, 3000, "/tmp/x.flow", 0);
    EXPECT_TRUE(recycler.on_invoke());
    unsigned long recycled = flow.get_recycle_count();
    // Object 7000 lies in the seventh block; the one before it is kept.
    EXPECT_GE(recycled, 7000u - 3 * 1045u);
    EXPECT_LT(recycled, 7000u - 1044u);
    EXPECT_FALSE(recycler.on_invoke());
    EXPECT_STREQ("/tmp/x.flow", recycler.get_path());
    EXPECT_EQ(nullptr, recycler.get_index());
}

TEST(FlowRecycler, ReaderCellsHoldBackRecyclingAndStartAtTheLastMinimum) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    fill(flow, 10000);
    Parallel::FlowRecycler recycler(nullptr, &flow, 0, nullptr, 16);
    EXPECT_NE(nullptr, recycler.get_index());
    unsigned long* slow = recycler.alloc_reader();  // on this thread: no reactor
    ASSERT_NE(nullptr, slow);
    EXPECT_EQ(0u, *slow);
    EXPECT_FALSE(recycler.on_invoke());
    __atomic_store_n(slow, 5000UL, __ATOMIC_RELEASE);
    EXPECT_TRUE(recycler.on_invoke());
    EXPECT_LT(flow.get_recycle_count(), 5000u);
    unsigned long* late = recycler.alloc_reader();
    EXPECT_EQ(5000u, *late);
    recycler.free_reader(slow);
    recycler.free_reader(late);
}

TEST(FlowRecycler, OnAReactorCellsComeAndGoThroughEventsAndMemoryIsReleased) {
    DataFlow flow(1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false);
    fill(flow, 10000);
    Parallel::Reactor reactor("recycler");
    ASSERT_TRUE(reactor.create(true, nullptr));
    Parallel::FlowRecycler recycler(&reactor, &flow, 100, nullptr, 0);
    unsigned long* cell = recycler.alloc_reader();
    ASSERT_NE(nullptr, cell);
    recycler.start();
    __atomic_store_n(cell, 6000UL, __ATOMIC_RELEASE);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (flow.get_recycle_count() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    unsigned long recycled = flow.get_recycle_count();
    EXPECT_GT(recycled, 0u);
    EXPECT_LT(recycled, 5900u);
    recycler.free_reader(cell);
    recycler.stop();
    reactor.stop();
    reactor.join();
}

}  // namespace
