// Base::List and the queue and stack built on pooled nodes.
#include "base/list.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(List, InsertsAroundGivenNodes) {
    Base::List l(true, 2);
    Base::List::Node* two = l.push_back(P(2));
    l.push_front(P(1));
    Base::List::Node* four = l.push_back(P(4));
    l.push_back(P(3), two);       // behind 2
    l.push_front(P(5), nullptr);  // front
    l.push_front(P(6), four);     // in front of 4
    l.push_back(P(7), four);      // behind the last
    EXPECT_EQ(contents(l), (Longs{5, 1, 2, 3, 6, 4, 7}));
    EXPECT_EQ(l.get_last()->data, P(7));
}

TEST(List, RemoveAndPopFromEitherEnd) {
    Base::List l(false, 0);
    EXPECT_EQ(l.pop_back(), nullptr);
    EXPECT_EQ(l.pop_front(), nullptr);
    l.push_back(P(1));
    Base::List::Node* mid = l.push_back(P(2));
    l.push_back(P(3));
    EXPECT_EQ(l.remove(mid), P(2));
    EXPECT_EQ(contents(l), (Longs{1, 3}));
    EXPECT_EQ(l.pop_back(), P(3));
    EXPECT_EQ(l.pop_front(), P(1));
    EXPECT_EQ(contents(l), Longs{});
    EXPECT_EQ(l.get_first(), nullptr);
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

TEST(Queue, FirstInFirstOutWithHeadAndTail) {
    Base::Queue q(true, 4);
    EXPECT_EQ(q.pop(), nullptr);
    EXPECT_EQ(q.head(), nullptr);
    EXPECT_EQ(q.tail(), nullptr);
    for (long i = 1; i <= 10; ++i) q.push(P(i));
    EXPECT_EQ(q.head(), P(1));
    EXPECT_EQ(q.tail(), P(10));
    EXPECT_EQ(q.get_count(), 10);
    EXPECT_EQ(walk(&q), (Longs{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    for (long i = 1; i <= 5; ++i) EXPECT_EQ(q.pop(), P(i));
    q.push(P(11));
    for (long i = 6; i <= 11; ++i) EXPECT_EQ(q.pop(), P(i));
    EXPECT_EQ(q.pop(), nullptr);
    EXPECT_EQ(q.tail(), nullptr);
    q.push(P(12));  // tail was reset with the last pop
    EXPECT_EQ(q.head(), P(12));
    q.clear();
    EXPECT_EQ(q.get_count(), 0);
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

}  // namespace
