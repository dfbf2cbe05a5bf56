#include "parallel/event_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "scripted_fd_reactor.h"

namespace {

// Keeps the ids of the events it runs itself. Its loop drains the inbox and
// sleeps on the notify sign, like a reactor without handlers or timers.
class Inbox : public Parallel::EventThread {
  public:
    Inbox() : EventThread(nullptr) {}
    std::vector<int> ids;  // the event thread only, read when it is idle

    int on_event(int id, void*) override {
        ids.push_back(id);
        return 0;
    }
    void notify(Base::List*) override {}
    void set_loop(unsigned long t) { set_loop_time(t); }
    bool wait_sign() { return get_notify_sign()->wait(); }

  protected:
    void thread_proc() override {
        while (keep_running()) {
            set_loop_time(Base::Measure::get_clock());
            if (!event_proc()) get_notify_sign()->wait();
        }
    }
};

// Never started: every post queues; a pass runs at most eight, each to its
// handler or, without one, to the thread itself. Only posts with a done sign
// wake the owner, and any number of them wake it once.
TEST(EventThread, QueuedEventsRunEightAPassAndOnlyThoseWithASignWake) {
    Base::Sign done(0);  // outlives the inbox, which sets it when destroyed
    Inbox inbox;
    ReactorTest::Call handler;
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
    // From the owner a wake-up opens the busy window instead.
    inbox.set_loop(1000000);
    inbox.wakeup(false);
    EXPECT_EQ(inbox.get_busy_until(), 1000000u + 7500u);
}

TEST(EventThread, OwnerRunsUnqueuedEventsAtOnceAndQueuesTheRest) {
    Inbox inbox;
    ReactorTest::Call target, poster;
    std::atomic<int> targeted{0};
    bool ran_inline = false, done_inline = false, queued_later = false;
    target.event = [&](int, void*) { ++targeted; };
    poster.event = [&](int, void*) {  // on the owning thread
        Base::Sign done(0);
        inbox.add_event(2, nullptr, &done, &target, false);
        ran_inline = targeted == 1;
        done_inline = done.timed_wait(0, false);
        inbox.add_event(3, nullptr, nullptr, &target, true);
        queued_later = targeted == 1;
    };
    ASSERT_TRUE(inbox.create(true, nullptr));
    Base::Sign done(0), flushed(0);
    inbox.add_event(1, nullptr, &done, &poster, false);
    done.join();
    inbox.add_event(4, nullptr, &flushed, &target, false);
    flushed.join();
    inbox.stop();
    inbox.wakeup(true);
    ASSERT_TRUE(inbox.join());
    EXPECT_TRUE(ran_inline && done_inline && queued_later);
    EXPECT_EQ(targeted.load(), 3);
}

// Requesters blocked on events that will never run are released when the
// event thread is destroyed, and the events are dropped unrun.
TEST(EventThread, DestructionReleasesEveryBlockedRequester) {
    Inbox* inbox = new Inbox();
    ASSERT_TRUE(inbox->create(true, nullptr));
    inbox->stop();
    inbox->wakeup(true);
    ASSERT_TRUE(inbox->join());
    const int requesters = 4;
    std::atomic<int> posted{0}, released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < requesters; ++i) {
        threads.emplace_back([&] {
            Base::Sign done(0);
            inbox->add_event(1001, nullptr, &done, nullptr, false);
            ++posted;
            done.join();
            ++released;
        });
    }
    while (posted.load() < requesters) std::this_thread::yield();
    EXPECT_EQ(released.load(), 0);
    EXPECT_TRUE(inbox->ids.empty());
    delete inbox;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(released.load(), requesters);
}

}  // namespace
