#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/lf_queue.h"
#include "base/lf_stack.h"

namespace {

#ifdef __SANITIZE_THREAD__
constexpr long kPerProducer = 100000;
#else
constexpr long kPerProducer = 1000000;
#endif
constexpr int kProducers = 3;

// Elements are encoded as (producer << 32 | sequence) + 1 so none is null.
void* encode(long producer, long seq) {
    return reinterpret_cast<void*>(((producer << 32) | seq) + 1);
}
long producer_of(void* p) {
    return (reinterpret_cast<long>(p) - 1) >> 32;
}
long seq_of(void* p) {
    return (reinterpret_cast<long>(p) - 1) & 0xFFFFFFFFL;
}

void* P(long v) {
    return reinterpret_cast<void*>(v);
}

TEST(LFStack, IsLastInFirstOutClearsAndTryPushChecksTheTop) {
    Base::LFStack s(0);
    EXPECT_EQ(s.pop(), nullptr);
    EXPECT_EQ(s.top(), nullptr);
    for (long i = 1; i <= 5; ++i) s.push(P(i));
    EXPECT_EQ(s.top(), P(5));
    Base::LFStack::Iterator it(&s);
    for (long i = 5; i >= 1; --i) EXPECT_EQ(it.next(), P(i));
    EXPECT_EQ(it.next(), nullptr);
    for (long i = 5; i >= 3; --i) EXPECT_EQ(s.pop(), P(i));
    s.clear();
    EXPECT_EQ(s.pop(), nullptr);

    Base::LFStack t(2);
    EXPECT_FALSE(t.try_push(P(1), P(2)));  // empty, but 1 expected on top
    EXPECT_TRUE(t.try_push(nullptr, P(1)));
    EXPECT_FALSE(t.try_push(nullptr, P(2)));
    EXPECT_FALSE(t.try_push(P(3), P(2)));
    EXPECT_TRUE(t.try_push(P(1), P(2)));
    EXPECT_EQ(t.pop(), P(2));
    EXPECT_EQ(t.pop(), P(1));
    EXPECT_EQ(t.pop(), nullptr);
}

// kProducers threads push while two consumers pop: every element comes out
// exactly once and, from a queue, each consumer sees each producer's
// elements in the order they were pushed.
template <typename Container>
void stress(Container& c, bool in_order) {
    constexpr long kTotal = kProducers * kPerProducer;
    std::vector<std::atomic<char>> seen(kTotal);
    for (auto& s : seen) s = 0;
    std::atomic<long> taken{0}, dups{0}, out_of_order{0};
    std::vector<std::thread> threads;
    for (long p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (long i = 0; i < kPerProducer; ++i) c.push(encode(p, i));
        });
    }
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            std::vector<long> next(kProducers, 0);
            while (taken.load() < kTotal) {
                void* e = c.pop();
                if (!e) continue;
                long p = producer_of(e), i = seq_of(e);
                if (seen[p * kPerProducer + i].exchange(1)) dups.fetch_add(1);
                if (in_order && i < next[p]) out_of_order.fetch_add(1);
                next[p] = i + 1;
                taken.fetch_add(1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(dups.load(), 0);
    EXPECT_EQ(out_of_order.load(), 0);
    EXPECT_EQ(taken.load(), kTotal);
    EXPECT_EQ(c.pop(), nullptr);
    // Cleared, it is empty and takes elements again.
    c.push(encode(0, 0));
    c.clear();
    EXPECT_EQ(c.pop(), nullptr);
    c.push(encode(0, 1));
    EXPECT_EQ(c.pop(), encode(0, 1));
}

TEST(LFStack, ProducersAndConsumersSeeEveryElementOnce) {
    Base::LFStack s(16);
    stress(s, false);
}

TEST(LFQueue, ProducersAndConsumersSeeEveryElementOnceInOrder) {
    Base::LFQueue q(16);
    stress(q, true);
}

}  // namespace
