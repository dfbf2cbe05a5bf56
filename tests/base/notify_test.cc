#include "base/notify.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/sign.h"

namespace {

class CountingGroup : public Base::NotifyGroup {
  public:
    void wakeup(bool immediately) override {
        if (immediately) wakeups.fetch_add(1, std::memory_order_relaxed);
    }
    void notify(Base::List*) override {}
    std::atomic<int> wakeups{0};
};

class CountingNotify : public Base::Notify {
  public:
    explicit CountingNotify(Base::NotifyGroup* group) : Base::Notify(group) {}
    void wakeup(bool) override { wakeups.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<int> wakeups{0};
};

// A producer keeps one consumer per group, listing the group's notifies, and
// wakes each group once, not its notifies; a consumer wakes its group at once.
TEST(Producer, OneConsumerPerGroupWokenOncePerProduce) {
    Base::Producer producer;
    EXPECT_EQ(0, producer.produce());
    CountingGroup g1, g2;
    CountingNotify a(&g1), b(&g1), other(&g2);
    Base::List::Node* node = reinterpret_cast<Base::List::Node*>(1);
    Base::Consumer* c = producer.add(&g1, node);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(nullptr, node) << "the group itself needs no entry";
    EXPECT_EQ(&g1, c->get_group());
    Base::List::Node *na = nullptr, *nb = nullptr;
    EXPECT_EQ(c, producer.add(&a, na));
    EXPECT_EQ(c, producer.add(&b, nb));
    ASSERT_TRUE(na != nullptr && nb != nullptr);
    EXPECT_EQ(&a, na->data);
    EXPECT_EQ(2, c->get_list()->get_count());
    EXPECT_NE(c, producer.add(&other, node));
    EXPECT_EQ(2, producer.get_count());
    EXPECT_EQ(2, producer.produce());
    EXPECT_EQ(2, producer.produce());
    EXPECT_EQ((std::vector<int>{g1.wakeups, g2.wakeups, a.wakeups}), (std::vector<int>{2, 2, 0}));
    EXPECT_EQ(0u, producer.get_last_produce());

    producer.remove(c, &a, na);
    producer.remove(c, &g1, nullptr);  // nothing to remove for the group
    producer.remove(nullptr, &b, nb);  // no consumer: ignored
    EXPECT_EQ(1, c->get_list()->get_count());
    EXPECT_EQ(&b, c->get_list()->get_first()->data);

    CountingGroup group;
    Base::Consumer consumer(&group);
    CountingNotify n(&group);
    EXPECT_EQ(nullptr, consumer.add(&group));
    node = consumer.add(&n);
    ASSERT_NE(nullptr, node);
    consumer.consume();
    EXPECT_EQ(1, group.wakeups.load());
    consumer.remove(&n, node);
    EXPECT_EQ(0, consumer.get_list()->get_count());
}

// Groups register from their own threads while another thread produces
// without pause: every published consumer is complete when woken, slots are
// never handed out twice, and the 65th and later groups are refused.
TEST(Producer, ConcurrentAddAndProduce) {
    const int kThreads = 4;
    const int kGroupsPerThread = 20;  // 80 groups for 64 slots
    for (int round = 0; round < 20; ++round) {
        Base::Producer producer;
        std::atomic<bool> done{false};
        std::atomic<int> accepted{0};
        std::vector<std::unique_ptr<CountingGroup>> groups(kThreads * kGroupsPerThread);
        for (auto& g : groups) g.reset(new CountingGroup);
        std::vector<std::unique_ptr<CountingNotify>> notifies(groups.size());
        for (size_t i = 0; i < groups.size(); ++i)
            notifies[i].reset(new CountingNotify(groups[i].get()));

        std::thread waker([&] {
            while (!done.load(std::memory_order_acquire)) producer.produce();
        });
        std::vector<std::thread> adders;
        for (int t = 0; t < kThreads; ++t) {
            adders.emplace_back([&, t] {
                for (int k = 0; k < kGroupsPerThread; ++k) {
                    int i = t * kGroupsPerThread + k;
                    Base::List::Node* node;
                    Base::Consumer* c = producer.add(notifies[i].get(), node);
                    if (!c) continue;
                    accepted.fetch_add(1, std::memory_order_relaxed);
                    // The group's own thread owns the list.
                    EXPECT_EQ(groups[i].get(), c->get_group());
                    EXPECT_EQ(notifies[i].get(), node->data);
                    EXPECT_EQ(c, producer.add(groups[i].get(), node));
                }
            });
        }
        for (auto& t : adders) t.join();
        done.store(true, std::memory_order_release);
        waker.join();
        ASSERT_EQ(64, accepted.load());
        ASSERT_EQ(64, producer.get_count());
        EXPECT_EQ(64, producer.produce());
        int woken = 0;
        for (auto& g : groups) woken += g->wakeups.load() > 0;
        EXPECT_EQ(64, woken);
    }
}

long long now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// One thread: sets are counted until taken by waits with or without reset,
// or dropped by clear (join is taken from another thread, below).
TEST(Sign, CountsSetsUntilTakenOrClearedOrTheDeadline) {
    Base::Sign s(2);  // the initial count is available
    EXPECT_TRUE(s.timed_multi_wait(0, 2));
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
// from another thread, however they interleave with the joins, is taken once,
// and no join returns before a set it can take.
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
    int early = 0;  // joins that returned before their set
    for (int i = 0; i < kRounds; ++i) {
        early += taken.load() > i;
        s.set();
    }
    waiter.join();
    EXPECT_EQ(taken.load(), kRounds);
    EXPECT_EQ(early, 0);
    EXPECT_FALSE(s.timed_wait(0, false));
}

}  // namespace
