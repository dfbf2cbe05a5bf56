#include "parallel/reactor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "base/sign.h"
#include "scripted_fd_reactor.h"

namespace {

const int INTERVAL = 1000;  // microseconds
const unsigned long TICKS = INTERVAL * 10;

using Log = std::vector<std::string>;
using ReactorTest::ScriptedReactor;
using ReactorTest::T0;

// Appends its name to a shared log, if given one, when invoked, fired
// ("name:t<id>") or sent an event ("name:e<id>"), then calls the function
// given for the callback; a missing one reports no work (and disarms a timer).
class Probe : public Parallel::Handler {
  public:
    explicit Probe(const char* name = "", Log* log = nullptr) : name_(name), log_(log) {}
    int timers = 0;
    std::function<bool()> invoke;
    std::function<bool(int)> timer;
    std::function<void(int, void*)> event;
    bool on_invoke() override {
        if (log_) log_->push_back(name_);
        return invoke && invoke();
    }
    bool on_timer(int id) override {
        ++timers;
        if (log_) log_->push_back(name_ + ":t" + std::to_string(id));
        return timer && timer(id);
    }
    int on_event(int id, void* arg) override {
        if (log_) log_->push_back(name_ + ":e" + std::to_string(id));
        if (event) event(id, arg);
        return 0;
    }

  private:
    std::string name_;
    Log* log_;
};

// Timers h has fired after a pass at the given time.
int fired(ScriptedReactor& r, const Probe& h, unsigned long at) {
    r.pass(at);
    return h.timers;
}

// Active handlers run newest first, then rotate; a parked one is not polled
// but gets its events (queued ones at the next pass) and timers, and
// enabling stamps a handler.
TEST(Reactor, HandlersRunNewestFirstThenRotateAndParkedOnesAreNotPolled) {
    ScriptedReactor::run([](ScriptedReactor& r) {
        Log log;
        Probe a("a", &log), b("b", &log), c("c", &log);
        for (Probe* h : {&a, &b, &c}) r.add_handler(h);
        EXPECT_EQ(r.get_handler_count(), 3);
        for (int i = 0; i < 4; ++i) r.pass(T0 + i);
        EXPECT_EQ(log, (Log{"c", "b", "a", "b", "a", "c", "a", "c", "b", "c", "b", "a"}));
        r.remove_handler(&c);
        EXPECT_FALSE(c.is_linked());
        log.clear();
        r.set_now(T0 + 10);
        r.enable_handler(&a);
        EXPECT_EQ(a.get_last_active(), T0 + 10);
        r.disable_handler(&b);
        EXPECT_EQ(b.get_last_active(), 0u);
        r.add_timer(7, INTERVAL, true, &b, true);
        r.add_event(1001, nullptr, nullptr, &b, true);
        // On its own thread an unqueued event runs at once, sign and all.
        Base::Sign done(0);
        r.add_event(1002, nullptr, &done, &b, false);
        EXPECT_TRUE(done.timed_wait(0, false));
        r.pass(T0 + 10);
        r.pass(T0 + 11);
        EXPECT_EQ(log, (Log{"b:e1002", "b:e1001", "a", "b:t7", "a"}));
        log.clear();
        r.enable_handler(&b);
        EXPECT_EQ(b.get_last_active(), T0 + 11);
        r.pass(T0 + 12);
        EXPECT_EQ(log, (Log{"b", "a"}));
        r.remove_handler(&a);
        r.remove_handler(&b);
        // Operations on unlinked handlers are ignored.
        r.enable_handler(&a);
        r.disable_handler(&a);
        r.remove_handler(&a);
        EXPECT_FALSE(a.is_linked());
        EXPECT_EQ(r.get_handler_count(), 0);
    });
}

// A pass fires at most eight due entries; a timer without a handler fires
// the reactor's own on_timer; a callback may remove its own timer.
TEST(Reactor, NineDueTimersFireOverTwoPasses) {
    ScriptedReactor::run([](ScriptedReactor& r) {
        Probe h("h");
        for (int i = 0; i < 9; ++i) r.add_timer(i, INTERVAL, true, &h, true);
        EXPECT_EQ(fired(r, h, T0), 8);
        EXPECT_EQ(fired(r, h, T0 + 1), 9);
        r.add_timer(42, INTERVAL, true, nullptr, true);
        EXPECT_EQ(fired(r, h, T0 + 100 * TICKS), 9);  // each returned false: disarmed
        EXPECT_EQ(r.own_timers, std::vector<int>{42});
        Parallel::Timer* t = r.add_timer(1, INTERVAL, true, &h, true);
        h.timer = [&](int) {
            r.remove_timer(t);
            return true;  // concerns a timer that no longer exists
        };
        EXPECT_EQ(fired(r, h, T0 + 100 * TICKS), 10);
        EXPECT_EQ(fired(r, h, T0 + 200 * TICKS), 10);
    });
}

TEST(Reactor, PeriodicTimerCountsFromThePassThatFiredIt) {
    ScriptedReactor::run([](ScriptedReactor& r) {
        Probe h("h");
        h.timer = [](int) { return true; };
        Parallel::Timer* t = r.add_timer(1, INTERVAL, true, &h, false);
        // The first firing is 500 ticks late and the next counts from it, not
        // from the old grid; missed periods are not caught up.
        EXPECT_EQ(fired(r, h, T0 + TICKS + 500), 1);
        EXPECT_EQ(fired(r, h, T0 + 2 * TICKS + 499), 1);
        EXPECT_EQ(fired(r, h, T0 + 2 * TICKS + 500), 2);
        EXPECT_EQ(fired(r, h, T0 + 50 * TICKS), 3);
        EXPECT_EQ(fired(r, h, T0 + 50 * TICKS + 1), 3);
        r.disable_timer(t);
        EXPECT_EQ(fired(r, h, T0 + 60 * TICKS), 3);
        r.remove_timer(t);
    });
}

// A disabled timer waits for enabling, at once or an interval after it; the
// entries of earlier enablings (stale generations) never fire.
TEST(Reactor, DisabledTimerWaitsForEnablingAndStaleGenerationsNeverFire) {
    ScriptedReactor::run([](ScriptedReactor& r) {
        Probe h("h"), other("other");
        Parallel::Timer* t = r.add_timer(1, INTERVAL, false, &h, true);
        EXPECT_EQ(fired(r, h, T0 + 10 * TICKS), 0);
        r.set_now(T0 + 20 * TICKS);
        r.enable_timer(t, true);
        EXPECT_EQ(fired(r, h, T0 + 20 * TICKS), 1);  // false disarmed it
        // Disable and enable again before the entry comes due.
        r.set_now(T0 + 30 * TICKS);
        r.enable_timer(t, false);
        r.disable_timer(t);
        r.set_now(T0 + 35 * TICKS);
        r.enable_timer(t, false);
        r.enable_timer(t, false);  // already enabled: ignored
        EXPECT_EQ(fired(r, h, T0 + 31 * TICKS), 1);
        EXPECT_EQ(fired(r, h, T0 + 36 * TICKS - 1), 1);
        EXPECT_EQ(fired(r, h, T0 + 36 * TICKS), 2);
        EXPECT_EQ(fired(r, h, T0 + 50 * TICKS), 2);
        // A removed record comes back for the next add; the old entries of
        // it never fire the new timer.
        r.set_now(T0 + 60 * TICKS);
        r.enable_timer(t, false);
        r.remove_timer(t);
        Parallel::Timer* again = r.add_timer(2, 2 * INTERVAL, false, &other, false);
        EXPECT_EQ(again, t);
        r.pass(T0 + 100 * TICKS);
        EXPECT_EQ(other.timers + h.timers, 2);
        r.remove_timer(again);
        r.remove_timer(nullptr);
    });
}

TEST(Reactor, IdlePassWaitsForTheSignOnlyOutsideTheBusyWindow) {
    ScriptedReactor::run([](ScriptedReactor& r) {
        r.set_busy(0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0)); }), 9000);
        std::thread([&] { r.wakeup(true); }).join();
        EXPECT_TRUE(r.pass(T0 + 1));  // woken: the busy window opens
        EXPECT_EQ(r.get_busy_until(), T0 + 1 + 7500);
        EXPECT_FALSE(r.pass(T0 + 2));  // inside it: no wait, the window closes
        EXPECT_EQ(r.get_busy_until(), 0u);
    });
}

TEST(ReactorDeathTest, BrokenContractsAbortInCheckedBuilds) {
#if !defined(XELMD_CHECKS)
    GTEST_SKIP() << "contract checks are compiled out of this build";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const char* broken = "FATAL! broken contract";
    EXPECT_DEATH(ScriptedReactor::run([](ScriptedReactor& r) {
                     r.add_event(25, nullptr, nullptr, nullptr, true);  // for nobody
                     r.pass(T0);
                 }),
                 broken);
    EXPECT_DEATH(ScriptedReactor::run([](ScriptedReactor& r) { r.enable_timer(nullptr, true); }),
                 broken);
    EXPECT_DEATH(
        {
            Parallel::Reactor reactor(nullptr);
            reactor.create(true, nullptr);
            reactor.run_pass(T0);  // not the reactor thread
        },
        broken);
}

// The event thread the reactors are built on.

// Keeps the ids of the events it runs itself; never started.
class Inbox : public Parallel::EventThread {
  public:
    Inbox() : EventThread(nullptr) {}
    std::vector<int> ids;
    int on_event(int id, void*) override {
        ids.push_back(id);
        return 0;
    }
    void notify(Base::List*) override {}
    bool wait_sign() { return get_notify_sign()->wait(); }
};

// Never started: every post queues; a pass runs at most eight, each to its
// handler or, without one, to the thread itself. Only posts with a done sign
// wake the owner, and any number of them wake it once.
TEST(EventThread, QueuedEventsRunEightAPassAndOnlyThoseWithASignWake) {
    Base::Sign done(0);  // outlives the inbox, which sets it when destroyed
    Inbox inbox;
    Probe handler;
    int handled = 0;
    handler.event = [&](int id, void*) { handled = id; };
    for (int i = 0; i < 8; ++i) inbox.add_event(1001 + i, nullptr, nullptr, nullptr, false);
    inbox.add_event(1009, nullptr, nullptr, &handler, true);
    EXPECT_FALSE(inbox.wait_sign());  // 10 ms idle wait, nobody woke it
    inbox.add_event(1010, nullptr, &done, nullptr, true);
    inbox.add_event(1011, nullptr, &done, nullptr, true);
    EXPECT_TRUE(inbox.wait_sign());
    EXPECT_FALSE(inbox.wait_sign());          // both wake-ups were one
    EXPECT_FALSE(done.timed_wait(0, false));  // not run yet
    EXPECT_TRUE(inbox.event_proc());
    EXPECT_EQ(inbox.ids.size(), 8u);
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(inbox.event_proc());
    EXPECT_FALSE(inbox.event_proc());
    EXPECT_EQ(handled, 1009);
    EXPECT_EQ(inbox.ids,
              (std::vector<int>{1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1011}));
    EXPECT_TRUE(done.timed_wait(0, false));
}

const int PRODUCERS = 4;
const long EVENTS_PER_PRODUCER = 20000;

// Many threads at once on one running reactor. Producers post events: each
// runs exactly once, on the reactor thread, in the order its producer posted
// it. Others add and remove handlers and timers: once removal returns, their
// callbacks have stopped for good. Meanwhile the loop polls the sink and
// fires its timer by the real clock. Then, stopped, it is destroyed under
// requesters blocked on events that will never run: they are released and
// the events dropped unrun.
void share_between_threads(Parallel::Reactor* reactor) {
    ASSERT_TRUE(reactor->create(true, nullptr));
    // Per-producer order, checked on the reactor thread only, so the
    // bookkeeping needs no locks.
    std::vector<long> next(PRODUCERS, 0);
    long total = 0, out_of_order = 0, wrong_thread = 0, invokes = 0;
    std::atomic<int> fires{0}, failures{0};
    Probe sink;
    sink.invoke = [&] {
        wrong_thread += !reactor->is_current();
        return ++invokes < 0;
    };
    sink.timer = [&](int) {
        wrong_thread += !reactor->is_current();
        return ++fires < 5;  // the fifth disarms it
    };
    sink.event = [&](int id, void* arg) {
        wrong_thread += !reactor->is_current();
        const int p = id - 1001;
        if (p < 0 || p >= PRODUCERS || next[p] != reinterpret_cast<long>(arg))
            ++out_of_order;
        else
            ++next[p];
        ++total;
    };
    reactor->add_handler(&sink);
    Parallel::Timer* timer = reactor->add_timer(1, 1000, true, &sink, false);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int p = 0; p < PRODUCERS; ++p) {
        threads.emplace_back([&, p] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (long i = 0; i < EVENTS_PER_PRODUCER; ++i) {
                // Mix the three ways of posting: plain, forced into the
                // queue, and with a completion sign every so often.
                void* arg = reinterpret_cast<void*>(i);
                if (i % 1000 == 999) {
                    Base::Sign done(0);
                    reactor->add_event(1001 + p, arg, &done, &sink, false);
                    done.join();
                } else {
                    reactor->add_event(1001 + p, arg, nullptr, &sink, i % 2 == 0);
                }
            }
        });
    }
    for (int p = 0; p < 3; ++p) {
        threads.emplace_back([&] {
            while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
            for (int round = 0; round < 200; ++round) {
                // Relaxed: the test adds no ordering the reactor must provide.
                std::atomic<int> calls{0};
                auto count = [&](bool result) {
                    calls.fetch_add(1, std::memory_order_relaxed);
                    return result;
                };
                Probe t;
                t.invoke = [&] { return count(false); };
                t.timer = [&](int) { return count(true); };
                reactor->add_handler(&t);
                Parallel::Timer* tt = reactor->add_timer(1, 100, true, &t, true);
                if (round % 2 == 0) reactor->disable_handler(&t);
                reactor->disable_timer(tt);
                reactor->remove_timer(tt);
                reactor->remove_handler(&t);
                const int seen = calls.load(std::memory_order_relaxed);
                // Once removed, nothing touches the handler again.
                Base::Sign done(0);
                Parallel::Handler barrier;
                reactor->add_event(1001, nullptr, &done, &barrier, true);
                done.join();
                if (calls.load(std::memory_order_relaxed) != seen) ++failures;
            }
        });
    }
    go.store(true, std::memory_order_release);
    for (std::thread& t : threads) t.join();
    // Every producer's last event carried a sign, and per-producer order
    // means all its earlier events ran before it.
    Base::Sign flushed(0);
    reactor->add_event(1001, reinterpret_cast<void*>(EVENTS_PER_PRODUCER), &flushed, &sink, false);
    flushed.join();
    for (int waited = 0; fires < 5 && waited < 5000; ++waited) Base::Measure::sleep(1);
    reactor->remove_timer(timer);
    reactor->remove_handler(&sink);
    EXPECT_EQ(reactor->get_handler_count(), 0);
    reactor->stop();
    reactor->wakeup(true);
    ASSERT_TRUE(reactor->join());
    std::atomic<int> posted{0}, released{0};
    threads.clear();
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            Base::Sign done(0);
            reactor->add_event(1001, nullptr, &done, &sink, false);
            ++posted;
            done.join();
            ++released;
        });
    }
    while (posted.load() < 4) std::this_thread::yield();
    EXPECT_EQ(released.load(), 0);
    delete reactor;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(released.load(), 4);
    EXPECT_EQ(total, PRODUCERS * EVENTS_PER_PRODUCER + 1);
    EXPECT_EQ(out_of_order + wrong_thread + failures, 0);
    EXPECT_EQ(fires.load(), 5);
    EXPECT_GT(invokes, 0);
    next[0] -= 1;  // the flush
    EXPECT_EQ(next, std::vector<long>(PRODUCERS, EVENTS_PER_PRODUCER));
}

TEST(CrossThread, ReactorsSharedByManyThreadsThenDestroyedUnderBlockedRequesters) {
    share_between_threads(new Parallel::Reactor(nullptr));
    share_between_threads(new Parallel::FdReactor(nullptr));
}

}  // namespace
