// Several threads posting to one reactor at once: every event runs exactly
// once, on the reactor thread, in the order each producer posted it.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/sign.h"
#include "parallel/fd_reactor.h"
#include "parallel/reactor.h"

namespace {

const int PRODUCERS = 4;
const int EVENTS_PER_PRODUCER = 20000;

// Checks per-producer order; runs on the reactor thread only, so its
// bookkeeping needs no locks.
class Sink : public Parallel::Handler {
  public:
    explicit Sink(Parallel::Reactor* reactor) : reactor_(reactor), next_(PRODUCERS, 0) {}
    int out_of_order = 0;
    int wrong_thread = 0;
    long total = 0;

    int on_event(int id, void* arg) override {
        if (!reactor_->is_current()) ++wrong_thread;
        int producer = id - 1001;
        long seq = reinterpret_cast<long>(arg);
        if (producer < 0 || producer >= PRODUCERS || next_[producer] != seq)
            ++out_of_order;
        else
            ++next_[producer];
        ++total;
        return 0;
    }
    long seen(int producer) const { return next_[producer]; }

  private:
    Parallel::Reactor* reactor_;
    std::vector<long> next_;
};

void post_from_many_threads(Parallel::Reactor* reactor) {
    ASSERT_TRUE(reactor->create(true, nullptr));
    Sink sink(reactor);
    std::atomic<bool> go{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < PRODUCERS; ++p) {
        producers.emplace_back([&, p] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (long i = 0; i < EVENTS_PER_PRODUCER; ++i) {
                // Mix the three ways of posting: plain, forced into the
                // queue, and with a completion sign every so often.
                if (i % 1000 == 999) {
                    Base::Sign done(0);
                    reactor->add_event(1001 + p, reinterpret_cast<void*>(i), &done, &sink, false);
                    done.join();
                } else {
                    reactor->add_event(1001 + p, reinterpret_cast<void*>(i), nullptr, &sink,
                                       i % 2 == 0);
                }
            }
        });
    }
    go.store(true, std::memory_order_release);
    for (std::thread& t : producers) t.join();
    // Every producer's last event carried a sign, and per-producer order
    // means all its earlier events ran before it.
    Base::Sign flushed(0);
    reactor->add_event(1001, reinterpret_cast<void*>(long{EVENTS_PER_PRODUCER}), &flushed, &sink,
                       false);
    flushed.join();
    reactor->stop();
    reactor->wakeup(true);
    ASSERT_TRUE(reactor->join());
    EXPECT_EQ(sink.total, long{PRODUCERS} * EVENTS_PER_PRODUCER + 1);
    EXPECT_EQ(sink.out_of_order, 0);
    EXPECT_EQ(sink.wrong_thread, 0);
    for (int p = 0; p < PRODUCERS; ++p)
        EXPECT_EQ(sink.seen(p), EVENTS_PER_PRODUCER + (p == 0 ? 1 : 0)) << p;
}

TEST(CrossThread, ReactorRunsEveryEventOnceInProducerOrder) {
    std::unique_ptr<Parallel::Reactor> reactor(new Parallel::Reactor(nullptr));
    post_from_many_threads(reactor.get());
}

TEST(CrossThread, FdReactorRunsEveryEventOnceInProducerOrder) {
    std::unique_ptr<Parallel::FdReactor> reactor(new Parallel::FdReactor(nullptr));
    post_from_many_threads(reactor.get());
}

// Handlers and timers added and removed from other threads while the loop
// runs: synchronous removal means the callbacks have stopped for good.
class Ticker : public Parallel::Handler {
  public:
    std::atomic<int> invokes{0};
    std::atomic<int> fires{0};
    bool on_invoke() override {
        invokes.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    bool on_timer(int) override {
        fires.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
};

TEST(CrossThread, HandlersAndTimersComeAndGoFromManyThreads) {
    std::unique_ptr<Parallel::FdReactor> reactor(new Parallel::FdReactor(nullptr));
    ASSERT_TRUE(reactor->create(true, nullptr));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int p = 0; p < 3; ++p) {
        threads.emplace_back([&] {
            for (int round = 0; round < 200; ++round) {
                Ticker t;
                reactor->add_handler(&t);
                Parallel::Timer* timer = reactor->add_timer(1, 100, true, &t, true);
                if (round % 2 == 0) reactor->disable_handler(&t);
                reactor->disable_timer(timer);
                reactor->remove_timer(timer);
                reactor->remove_handler(&t);
                int invokes = t.invokes.load();
                int fires = t.fires.load();
                // Once removed, nothing touches the handler again.
                Base::Sign done(0);
                Parallel::Handler barrier;
                reactor->add_event(1001, nullptr, &done, &barrier, true);
                done.join();
                if (t.invokes.load() != invokes || t.fires.load() != fires) failures.fetch_add(1);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(reactor->get_handler_count(), 0);
    reactor->stop();
    ASSERT_TRUE(reactor->join());
}

}  // namespace
