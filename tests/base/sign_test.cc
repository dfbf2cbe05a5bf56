#include "base/sign.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <thread>

#include "base/mutex.h"

namespace {

long long now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// One thread: sets are counted until taken, by join, by waits with or
// without reset, or dropped by clear.
TEST(Sign, CountsSetsUntilTakenOrClearedOrTheDeadline) {
    Base::Sign s(2);  // the initial count is available
    EXPECT_TRUE(s.timed_multi_wait(0, 2));
    EXPECT_FALSE(s.timed_wait(0, false));
    s.set();
    s.set();
    s.join();  // set before join: returns at once
    s.join();
    EXPECT_FALSE(s.timed_wait(0, false));
    s.set();
    s.set();
    EXPECT_TRUE(s.timed_wait(10, false));  // without reset: takes one
    EXPECT_TRUE(s.timed_wait(10, false));
    EXPECT_FALSE(s.timed_wait(1, false));
    s.set();
    s.clear();
    EXPECT_FALSE(s.timed_wait(1, false));
    EXPECT_TRUE(s.timed_multi_wait(100000, 0));  // nothing to wait for
    EXPECT_TRUE(s.timed_multi_wait(100000, -3));
    // A wait with reset takes every set; a multi-wait keeps what it took
    // when the deadline passes.
    s.set();
    s.set();
    EXPECT_TRUE(s.timed_wait(10, true));
    long long start = now_ms();
    EXPECT_FALSE(s.timed_wait(10, true));
    EXPECT_GE(now_ms() - start, 9);
    s.set();
    s.set();
    EXPECT_FALSE(s.timed_multi_wait(20, 3));
    EXPECT_FALSE(s.timed_wait(0, false));
    s.set();
    s.set();
    EXPECT_TRUE(s.timed_multi_wait(20, 2));
}

// A sign serves one waiting thread (a requester, or Join); every set made
// from another thread, however they interleave with the joins, is taken once.
TEST(Sign, EverySetFromAnotherThreadIsTakenOnce) {
    const int kRounds = 20000;
    Base::Sign s(0);
    std::atomic<int> taken{0};
    std::thread waiter([&] {
        for (int i = 0; i < kRounds; ++i) {
            s.join();
            taken.fetch_add(1, std::memory_order_relaxed);
        }
    });
    for (int i = 0; i < kRounds; ++i) s.set();
    waiter.join();
    EXPECT_EQ(taken.load(), kRounds);
    EXPECT_FALSE(s.timed_wait(0, false));
}

TEST(Mutex, SerialisesIncrements) {
    Base::Mutex m;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            m.enter();
            ++counter;
            m.leave();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 200000);
}

}  // namespace
