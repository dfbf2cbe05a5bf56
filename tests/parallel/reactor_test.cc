#include "parallel/reactor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "scripted_fd_reactor.h"

namespace {

const unsigned long T0 = 1000000000UL;  // an injected loop time, in ticks
const int INTERVAL = 1000;              // microseconds
const unsigned long INTERVAL_TICKS = INTERVAL * 10;

using ReactorTest::run_script;
using ReactorTest::ScriptedReactor;

// Appends its name to a shared log when invoked, fired or sent an event.
class Probe : public Parallel::Handler {
  public:
    Probe(const char* name, std::vector<std::string>* log, bool keep_timer = false)
        : name_(name), log_(log), keep_timer_(keep_timer) {}
    int timers = 0;
    int events = 0;
    bool on_invoke() override {
        log_->push_back(name_);
        return false;
    }
    bool on_timer(int id) override {
        ++timers;
        log_->push_back(name_ + ":t" + std::to_string(id));
        return keep_timer_;
    }
    int on_event(int id, void* arg) override {
        (void)arg;
        ++events;
        log_->push_back(name_ + ":e" + std::to_string(id));
        return 0;
    }

  private:
    std::string name_;
    std::vector<std::string>* log_;
    bool keep_timer_;
};

TEST(Reactor, HandlersRunNewestFirstThenRotate) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe h1("h1", &log), h2("h2", &log), h3("h3", &log);
        r.add_handler(&h1);
        r.add_handler(&h2);
        r.add_handler(&h3);
        EXPECT_EQ(r.get_handler_count(), 3);
        for (int i = 0; i < 4; ++i) r.pass(T0 + i);
        EXPECT_EQ(log, (std::vector<std::string>{"h3", "h2", "h1", "h2", "h1", "h3", "h1", "h3",
                                                 "h2", "h3", "h2", "h1"}));
        r.remove_handler(&h1);
        r.remove_handler(&h2);
        r.remove_handler(&h3);
        EXPECT_EQ(r.get_handler_count(), 0);
        EXPECT_FALSE(h1.is_linked());
    });
}

TEST(Reactor, ParkedHandlerIsNotPolledButGetsEventsAndTimers) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe a("a", &log), b("b", &log);
        r.add_handler(&a);
        r.add_handler(&b);
        r.set_now(T0);
        r.enable_handler(&a);
        EXPECT_EQ(a.get_last_active(), T0);
        r.disable_handler(&b);
        EXPECT_EQ(b.get_last_active(), 0u);
        r.add_timer(7, INTERVAL, true, &b, true);
        r.add_event(1001, nullptr, nullptr, &b, true);
        r.pass(T0);
        r.pass(T0 + 1);
        EXPECT_EQ(log, (std::vector<std::string>{"b:e1001", "a", "b:t7", "a"}));
        log.clear();
        r.enable_handler(&b);
        EXPECT_EQ(b.get_last_active(), T0 + 1);
        r.pass(T0 + 2);
        EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));
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

TEST(Reactor, NineDueTimersFireOverTwoPasses) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe h("h", &log);
        r.set_now(T0);
        for (int i = 0; i < 9; ++i) r.add_timer(i, INTERVAL, true, &h, true);
        r.pass(T0);
        EXPECT_EQ(h.timers, 8);
        r.pass(T0 + 1);
        EXPECT_EQ(h.timers, 9);
        r.pass(T0 + 100 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 9);  // each returned false: disarmed
    });
}

TEST(Reactor, DisabledTimerWaitsForEnableAtOnceOrAfterAnInterval) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe h("h", &log);
        r.set_now(T0);
        Parallel::Timer* t = r.add_timer(1, INTERVAL, false, &h, true);
        r.pass(T0 + 10 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 0);

        r.set_now(T0 + 20 * INTERVAL_TICKS);
        r.enable_timer(t, true);
        r.pass(T0 + 20 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 1);  // false disarmed it

        unsigned long at = T0 + 30 * INTERVAL_TICKS;
        r.set_now(at);
        r.enable_timer(t, false);
        r.pass(at + INTERVAL_TICKS - 1);
        EXPECT_EQ(h.timers, 1);
        r.pass(at + INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 2);
        r.remove_timer(t);
    });
}

TEST(Reactor, PeriodicTimerCountsFromThePassThatFiredIt) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe h("h", &log, true);
        r.set_now(T0);
        Parallel::Timer* t = r.add_timer(1, INTERVAL, true, &h, false);
        r.pass(T0 + INTERVAL_TICKS + 500);  // 500 ticks late
        EXPECT_EQ(h.timers, 1);
        r.pass(T0 + 2 * INTERVAL_TICKS + 499);  // the old grid would be due
        EXPECT_EQ(h.timers, 1);
        r.pass(T0 + 2 * INTERVAL_TICKS + 500);
        EXPECT_EQ(h.timers, 2);
        r.pass(T0 + 50 * INTERVAL_TICKS);  // missed periods are not caught up
        r.pass(T0 + 50 * INTERVAL_TICKS + 1);
        EXPECT_EQ(h.timers, 3);
        r.disable_timer(t);
        r.pass(T0 + 60 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 3);
        r.remove_timer(t);
    });
}

TEST(Reactor, StaleGenerationsNeverFire) {
    run_script([](ScriptedReactor& r) {
        std::vector<std::string> log;
        Probe h("h", &log), other("other", &log);
        r.set_now(T0);
        Parallel::Timer* t = r.add_timer(1, INTERVAL, true, &h, false);
        // Disable and enable again before the first entry comes due.
        r.disable_timer(t);
        r.set_now(T0 + 5 * INTERVAL_TICKS);
        r.enable_timer(t, false);
        r.enable_timer(t, false);  // already enabled: ignored
        r.pass(T0 + INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 0);
        r.pass(T0 + 6 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 1);
        r.pass(T0 + 20 * INTERVAL_TICKS);
        EXPECT_EQ(h.timers, 1);

        // A removed record comes back for the next add; the old entries of
        // it never fire the new timer.
        r.set_now(T0 + 30 * INTERVAL_TICKS);
        r.enable_timer(t, false);
        r.remove_timer(t);
        Parallel::Timer* again = r.add_timer(2, 2 * INTERVAL, false, &other, false);
        EXPECT_EQ(again, t);
        r.pass(T0 + 100 * INTERVAL_TICKS);
        EXPECT_EQ(other.timers, 0);
        EXPECT_EQ(h.timers, 1);
        r.remove_timer(again);
        r.remove_timer(nullptr);
    });
}

TEST(Reactor, CallbackMayRemoveItsOwnTimer) {
    class SelfRemover : public Parallel::Handler {
      public:
        Parallel::Reactor* reactor = nullptr;
        Parallel::Timer* timer = nullptr;
        int fired = 0;
        bool on_timer(int) override {
            ++fired;
            reactor->remove_timer(timer);
            return true;  // concerns a timer that no longer exists
        }
    };
    run_script([](ScriptedReactor& r) {
        SelfRemover h;
        h.reactor = &r;
        r.set_now(T0);
        h.timer = r.add_timer(1, INTERVAL, true, &h, true);
        r.pass(T0);
        EXPECT_EQ(h.fired, 1);
        r.pass(T0 + 10 * INTERVAL_TICKS);
        EXPECT_EQ(h.fired, 1);
    });
}

TEST(Reactor, NullHandlerTimersGoToTheReactor) {
    run_script([](ScriptedReactor& r) {
        r.set_now(T0);
        r.add_timer(42, INTERVAL, true, nullptr, true);
        r.pass(T0);
        EXPECT_EQ(r.own_timers, std::vector<int>{42});
    });
}

TEST(Reactor, UnknownEventIdsAreRefused) {
    run_script([](ScriptedReactor& r) {
        EXPECT_EQ(r.on_event(25, nullptr), -1);
        EXPECT_EQ(r.on_event(10, nullptr), -1);
        EXPECT_EQ(r.on_event(1001, nullptr), -1);
        for (int id = 11; id <= 20; ++id) EXPECT_EQ(r.on_event(id, nullptr), 0);
        EXPECT_EQ(r.get_handler_count(), 0);
    });
}

TEST(Reactor, IdlePassWaitsForTheSignOnlyOutsideTheBusyWindow) {
    run_script([](ScriptedReactor& r) {
        r.set_busy(0);
        EXPECT_GE(ReactorTest::elapsed_us([&] { EXPECT_FALSE(r.pass(T0)); }), 9000);
        std::thread other([&] { r.wakeup(true); });
        other.join();
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
    EXPECT_DEATH(run_script([](ScriptedReactor& r) {
                     r.add_event(25, nullptr, nullptr, nullptr, true);  // for nobody
                     r.pass(T0);
                 }),
                 broken);
    EXPECT_DEATH(run_script([](ScriptedReactor& r) { r.enable_timer(nullptr, true); }), broken);
    EXPECT_DEATH(
        {
            Parallel::Reactor reactor(nullptr);
            reactor.create(true, nullptr);
            reactor.run_pass(T0);  // not the reactor thread
        },
        broken);
}

TEST(Reactor, DestructionDestroysHandlersStillLinked) {
    int destroyed = 0;
    {
        ScriptedReactor r([&](ScriptedReactor& self) {
            self.add_handler(new ReactorTest::Owned<Parallel::Handler>(&destroyed));
            Parallel::Handler* parked = new ReactorTest::Owned<Parallel::Handler>(&destroyed);
            self.add_handler(parked);
            self.disable_handler(parked);
            self.set_now(T0);
            self.add_timer(1, INTERVAL, true, nullptr, false);
            self.add_timer(2, INTERVAL, false, nullptr, false);
            self.remove_timer(self.add_timer(3, INTERVAL, true, nullptr, false));
        });
        ASSERT_TRUE(r.create(true, nullptr));
        ASSERT_TRUE(r.join());
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 2);
}

// The real loop: work posted from another thread is done on the reactor
// thread, and synchronous operations return once it is.
class Worker : public Parallel::Handler {
  public:
    explicit Worker(Parallel::Reactor* r) : reactor_(r) {}
    std::atomic<int> invokes{0};
    std::atomic<int> fires{0};
    std::atomic<int> wrong_thread{0};
    bool on_invoke() override {
        check();
        invokes.fetch_add(1);
        return false;
    }
    bool on_timer(int) override {
        check();
        return fires.fetch_add(1) + 1 < 5;
    }

  private:
    void check() {
        if (!reactor_->is_current()) wrong_thread.fetch_add(1);
    }
    Parallel::Reactor* reactor_;
};

TEST(Reactor, LoopRunsHandlersAndTimersOnItsThread) {
    Parallel::Reactor reactor(nullptr);
    ASSERT_TRUE(reactor.create(true, nullptr));
    Worker w(&reactor);
    reactor.add_handler(&w);
    Parallel::Timer* t = reactor.add_timer(1, 1000, true, &w, false);
    long long waited = 0;
    while ((w.fires.load() < 5 || w.invokes.load() < 3) && waited < 5000) {
        Base::Measure::sleep(1);
        ++waited;
    }
    EXPECT_EQ(w.fires.load(), 5);  // the fifth returned false
    EXPECT_GE(w.invokes.load(), 3);
    reactor.disable_handler(&w);
    int invokes = w.invokes.load();
    Base::Measure::sleep(30);
    EXPECT_EQ(w.invokes.load(), invokes);  // parked: no longer polled
    reactor.remove_timer(t);
    reactor.remove_handler(&w);
    EXPECT_EQ(reactor.get_handler_count(), 0);
    EXPECT_EQ(w.wrong_thread.load(), 0);
    reactor.stop();
    ASSERT_TRUE(reactor.join());
}

}  // namespace
