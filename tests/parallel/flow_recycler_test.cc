#include "parallel/flow_recycler.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/data_flow_iterator.h"
#include "base/measure.h"
#include "parallel/reactor.h"

namespace {

const unsigned int MIB = 1048576;

TEST(FlowRecycler, OnAReactorCellsComeAndGoThroughEventsAndMemoryIsReleased) {
    // A flow of 10,000 objects of 1,004 bytes, about 1,044 to a block.
    Base::DataFlow flow{1, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false};
    for (int i = 0; i < 10000; ++i) {
        memset(flow.alloc_object(1000), 'r', 1000);
        flow.commit_object(1000, false);
    }
    Parallel::Reactor reactor("recycler");
    ASSERT_TRUE(reactor.create(true, nullptr));
    Parallel::FlowRecycler recycler(&reactor, &flow, 100, nullptr, 0);
    unsigned long* cell = recycler.alloc_reader();
    ASSERT_NE(nullptr, cell);
    recycler.start();
    __atomic_store_n(cell, 6000UL, __ATOMIC_RELEASE);
    for (int i = 0; i < 10000 && flow.get_recycle_count() == 0; ++i) Base::Measure::sleep(1);
    EXPECT_GT(flow.get_recycle_count(), 0u);
    EXPECT_LT(flow.get_recycle_count(), 5900u);
    recycler.free_reader(cell);
    recycler.stop();
    reactor.stop();
    reactor.join();
}

}  // namespace
