#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "base/lf_queue.h"
#include "base/lf_stack.h"
#include "base/tagged_stack.h"

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

// Threads churn a small pool; a node handed to two threads at once (ABA)
// would show up as a double owner.
TEST(TaggedStack, ConcurrentChurnNeverHandsOutANodeTwice) {
    constexpr int kNodes = 4;
    Base::TaggedStack pool(kNodes);
    std::atomic<int> owners[kNodes];
    std::vector<Base::TaggedNode*> nodes;
    for (int i = 0; i < kNodes; ++i) nodes.push_back(pool.pop());
    EXPECT_EQ(pool.pop(), nullptr);  // exactly the preallocated nodes, each once
    EXPECT_EQ(std::set<Base::TaggedNode*>(nodes.begin(), nodes.end()).size(), size_t{kNodes});
    for (int i = 0; i < kNodes; ++i) {
        nodes[i]->spare = reinterpret_cast<void*>(static_cast<long>(i));
        owners[i] = 0;
        pool.push(nodes[i]);
    }
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (long i = 0; i < kPerProducer / 4; ++i) {
                Base::TaggedNode* n = pool.pop();
                if (!n) continue;
                long id = reinterpret_cast<long>(n->spare);
                if (owners[id].fetch_add(1) != 0) bad = true;
                owners[id].fetch_sub(1);
                pool.push(n);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_FALSE(bad);
    std::set<Base::TaggedNode*> left;
    while (Base::TaggedNode* n = pool.pop()) left.insert(n);
    EXPECT_EQ(left, std::set<Base::TaggedNode*>(nodes.begin(), nodes.end()));
    for (Base::TaggedNode* n : nodes) pool.push(n);
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

// kProducers threads push while this one pops; take sees every element.
template <typename Container>
void drain_producers(Container& c, const std::function<void(void*)>& take) {
    std::atomic<int> done{0};
    std::vector<std::thread> producers;
    for (long p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (long i = 0; i < kPerProducer; ++i) c.push(encode(p, i));
            done.fetch_add(1);
        });
    }
    while (done.load() < kProducers) {
        if (void* e = c.pop()) take(e);
    }
    for (auto& t : producers) t.join();
    while (void* e = c.pop()) take(e);
}

// Every element comes out exactly once.
TEST(LFStack, ProducersAndConsumerSeeEveryElementOnce) {
    Base::LFStack s(1024);
    std::vector<std::vector<char>> seen(kProducers, std::vector<char>(kPerProducer, 0));
    long total = 0, dups = 0;
    drain_producers(s, [&](void* e) {
        char& c = seen[producer_of(e)][seq_of(e)];
        if (c) ++dups;
        c = 1;
        ++total;
    });
    EXPECT_EQ(dups, 0);
    EXPECT_EQ(total, kProducers * kPerProducer);
}

TEST(LFQueue, IsFirstInFirstOutPastItsPreallocatedNodesAndAfterClear) {
    Base::LFQueue q(4);
    EXPECT_EQ(q.pop(), nullptr);
    for (long i = 1; i <= 10; ++i) q.push(P(i));
    for (long i = 1; i <= 5; ++i) ASSERT_EQ(q.pop(), P(i));
    q.push(P(11));  // served by a node the pops returned
    for (long i = 6; i <= 11; ++i) ASSERT_EQ(q.pop(), P(i));
    q.push(P(12));
    q.clear();
    EXPECT_EQ(q.pop(), nullptr);
    for (long i = 1; i <= 9; ++i) q.push(P(i));
    for (long i = 1; i <= 9; ++i) ASSERT_EQ(q.pop(), P(i));
    EXPECT_EQ(q.pop(), nullptr);
}

// Every element exactly once, and each producer's in the order it pushed them.
TEST(LFQueue, ProducersAndConsumerSeeEveryElementOnceInOrder) {
    Base::LFQueue q(1024);
    std::vector<long> expected(kProducers, 0);
    long total = 0, out_of_order = 0;
    drain_producers(q, [&](void* e) {
        long p = producer_of(e);
        if (seq_of(e) != expected[p]) ++out_of_order;
        expected[p] = seq_of(e) + 1;
        ++total;
    });
    EXPECT_EQ(out_of_order, 0);
    EXPECT_EQ(total, kProducers * kPerProducer);
    for (long p = 0; p < kProducers; ++p) EXPECT_EQ(expected[p], kPerProducer);
}

// Two consumers race on the head while two producers push.
TEST(LFQueue, ConcurrentConsumersTakeEachElementOnce) {
    Base::LFQueue q(16);
    constexpr long kCount = kPerProducer / 2;
    std::vector<std::atomic<char>> seen(2 * kCount);
    for (auto& s : seen) s = 0;
    std::atomic<long> taken{0};
    std::atomic<long> dups{0};
    std::vector<std::thread> threads;
    for (long p = 0; p < 2; ++p) {
        threads.emplace_back([&, p] {
            for (long i = 0; i < kCount; ++i) q.push(encode(0, p * kCount + i));
        });
    }
    for (int c = 0; c < 2; ++c) {
        threads.emplace_back([&] {
            while (taken.load() < 2 * kCount) {
                void* e = q.pop();
                if (!e) continue;
                if (seen[seq_of(e)].exchange(1)) dups.fetch_add(1);
                taken.fetch_add(1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(dups.load(), 0);
    EXPECT_EQ(taken.load(), 2 * kCount);
    EXPECT_EQ(q.pop(), nullptr);
}

}  // namespace
