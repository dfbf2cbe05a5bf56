#include "base/queue.h"

#include <gtest/gtest.h>

#include "base/stack.h"

namespace {

void* P(long v) {
    return reinterpret_cast<void*>(v);
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
    Base::Queue::Iterator it(&q);
    for (long i = 1; i <= 10; ++i) EXPECT_EQ(it.next(), P(i));
    EXPECT_EQ(it.next(), nullptr);
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
        Base::Stack::Iterator it(&s);
        for (long i = 5; i >= 1; --i) EXPECT_EQ(it.next(), P(i));
        EXPECT_EQ(it.next(), nullptr);
        for (long i = 5; i >= 3; --i) EXPECT_EQ(s.pop(), P(i));
        EXPECT_EQ(s.get_count(), 2);
        s.clear();
        EXPECT_EQ(s.pop(), nullptr);
    }
}

}  // namespace
