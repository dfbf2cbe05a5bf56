// Base::List, the queue and stack built on pooled nodes, and the heap.
#include "base/list.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "base/heap.h"
#include "base/queue.h"
#include "base/stack.h"

namespace {

using Longs = std::vector<long>;

void* P(long v) {
    return reinterpret_cast<void*>(v);
}

// What an iterator yields, as numbers.
template <class C>
Longs walk(const C* c) {
    typename C::Iterator it(c);
    Longs out;
    while (void* d = it.next()) out.push_back(reinterpret_cast<long>(d));
    return out;
}

Longs contents(const Base::List& l) {
    Longs out = walk(&l);
    // The backward links must agree with the forward ones.
    Longs back;
    for (Base::List::Node* n = l.get_last(); n; n = n->prev)
        back.insert(back.begin(), reinterpret_cast<long>(n->data));
    EXPECT_EQ(out, back);
    EXPECT_EQ(static_cast<int>(out.size()), l.get_count());
    return out;
}

// Inserted around given nodes, then removed from the middle and popped from
// either end until empty, when pops find nothing.
TEST(List, InsertsAroundGivenNodesRemovesAndPops) {
    Base::List l(true, 2);
    Base::List::Node* two = l.push_back(P(2));
    l.push_front(P(1));
    Base::List::Node* four = l.push_back(P(4));
    l.push_back(P(3), two);       // behind 2
    l.push_front(P(5), nullptr);  // front
    l.push_front(P(6), four);     // in front of 4
    l.push_back(P(7), four);      // behind the last
    EXPECT_EQ(contents(l), (Longs{5, 1, 2, 3, 6, 4, 7}));
    EXPECT_EQ(l.remove(two), P(2));
    EXPECT_EQ(l.pop_back(), P(7));
    EXPECT_EQ(l.pop_front(), P(5));
    EXPECT_EQ(contents(l), (Longs{1, 3, 6, 4}));
    for (long v : {4, 6, 3}) EXPECT_EQ(l.pop_back(), P(v));
    EXPECT_EQ(l.pop_front(), P(1));
    EXPECT_EQ(std::make_tuple(l.pop_back(), l.pop_front(), l.get_first()),
              std::make_tuple(nullptr, nullptr, nullptr));
    EXPECT_EQ(contents(l), Longs{});
}

TEST(List, TruncateKeepsUpToTheGivenNodeAndPooledNodesAreReused) {
    Base::List l(true, 0);
    Base::List::Node* one = l.push_back(P(1));
    Base::List::Node* two = l.push_back(P(2));
    l.push_back(P(3));
    l.push_back(P(4));
    l.truncate(two);
    EXPECT_EQ(contents(l), (Longs{1, 2}));
    l.truncate(nullptr);
    EXPECT_EQ(contents(l), Longs{});
    EXPECT_EQ(l.push_back(P(5)), one);
    l.remove(one);
    EXPECT_EQ(l.push_back(P(6)), one);
    l.clear();
    EXPECT_EQ(l.push_front(P(7)), one);
}

// Push, linking and walking are also exercised by every parsed JSON
// document; what that does not reach is a queue emptied and filled again.
TEST(Queue, FirstInFirstOutAndStartsOverWhenEmptied) {
    Base::Queue q(true, 4);
    EXPECT_EQ(q.pop(), nullptr);
    for (long i = 1; i <= 3; ++i) q.push(P(i));
    EXPECT_EQ(std::make_tuple(q.head(), q.tail(), q.get_count()), std::make_tuple(P(1), P(3), 3));
    for (long i = 1; i <= 3; ++i) EXPECT_EQ(q.pop(), P(i));
    EXPECT_EQ(std::make_tuple(q.head(), q.tail(), q.get_count()),
              std::make_tuple(nullptr, nullptr, 0));
    q.push(P(4));  // tail was reset with the last pop
    EXPECT_EQ(walk(&q), Longs{4});
}

TEST(Stack, LastInFirstOut) {
    for (bool pooled : {true, false}) {
        Base::Stack s(pooled, 2);
        EXPECT_EQ(s.pop(), nullptr);
        EXPECT_EQ(s.top(), nullptr);
        for (long i = 1; i <= 5; ++i) s.push(P(i));
        EXPECT_EQ(s.top(), P(5));
        EXPECT_EQ(walk(&s), (Longs{5, 4, 3, 2, 1}));
        for (long i = 5; i >= 3; --i) EXPECT_EQ(s.pop(), P(i));
        EXPECT_EQ(s.get_count(), 2);
        s.clear();
        EXPECT_EQ(s.pop(), nullptr);
    }
}

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
