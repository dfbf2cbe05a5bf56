#include "base/heap.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace {

// The shape of a reactor's timer entry: earliest due time on top.
struct TimerEntry {
    void* timer;
    unsigned long generation;
    unsigned long due;
};

int compare_due(const void* a, const void* b) {
    unsigned long x = static_cast<const TimerEntry*>(a)->due;
    unsigned long y = static_cast<const TimerEntry*>(b)->due;
    return x < y ? 1 : (x > y ? -1 : 0);
}

int compare_long_ptr(const void* a, const void* b) {
    long x = *static_cast<const long*>(a);
    long y = *static_cast<const long*>(b);
    return x > y ? 1 : (x < y ? -1 : 0);
}

TEST(Heap, PointerHeapReturnsThePointers) {
    Base::Heap h(compare_long_ptr, 0, 0, 0, nullptr);
    long v[] = {3, 10, 1, 7};
    for (long& x : v) h.push(&x);
    std::vector<void*> popped;
    while (void* p = h.pop()) popped.push_back(p);
    EXPECT_EQ(popped, (std::vector<void*>{&v[1], &v[3], &v[0], &v[2]}));
}

// Random interleaving of pushes and pops against a sorted reference, with
// duplicates and enough elements to span several array blocks: the earliest
// due time is on top whatever the push order.
TEST(Heap, AgreesWithSortedReference) {
    Base::Heap h(compare_due, sizeof(TimerEntry), 4096, 1, nullptr);
    std::multiset<unsigned long> ref;
    std::mt19937 rng(3);
    for (int op = 0; op < 100000; ++op) {
        if (rng() % 3 != 0 || ref.empty()) {
            TimerEntry e{nullptr, static_cast<unsigned long>(op), rng() % 5000};
            h.push(&e);
            ref.insert(e.due);
        } else {
            ASSERT_EQ(static_cast<TimerEntry*>(h.top())->due, *ref.begin());
            TimerEntry* got = static_cast<TimerEntry*>(h.pop());
            ASSERT_NE(got, nullptr);
            ASSERT_EQ(got->due, *ref.begin());
            ref.erase(ref.begin());
        }
        ASSERT_EQ(h.get_count(), ref.size());
    }
    h.clear();
    EXPECT_EQ(h.pop(), nullptr);
    EXPECT_EQ(h.top(), nullptr);
}

}  // namespace
