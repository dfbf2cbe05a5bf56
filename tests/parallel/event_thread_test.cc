#include "parallel/event_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/measure.h"
#include "parallel/handler.h"

namespace {

// Counts the events it runs and where. Its loop drains the inbox and sleeps
// on the notify sign, like a reactor without handlers or timers.
class Inbox : public Parallel::EventThread {
  public:
    Inbox() : EventThread(nullptr) {}
    std::atomic<int> ran{0};
    std::vector<int> ids;  // owning thread only, read after join

    int on_event(int id, void* arg) override {
        (void)arg;
        ids.push_back(id);
        ran.fetch_add(1);
        return 0;
    }
    void notify(Base::List* list) override { (void)list; }
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

class Counter : public Parallel::Handler {
  public:
    std::atomic<int> events{0};
    int last_id = 0;
    int on_event(int id, void* arg) override {
        (void)arg;
        last_id = id;
        events.fetch_add(1);
        return 0;
    }
};

// Never started: every post queues; a pass runs at most eight, each to its
// handler or, without one, to the thread itself.
TEST(EventThread, QueuedEventsRunEightAPassToTheirHandlerOrTheThread) {
    Inbox inbox;
    Counter handler;
    Base::Sign done(0);
    for (int i = 0; i < 8; ++i) inbox.add_event(1001 + i, nullptr, nullptr, nullptr, false);
    inbox.add_event(1009, nullptr, nullptr, &handler, true);
    inbox.add_event(1010, nullptr, &done, nullptr, true);
    EXPECT_FALSE(done.timed_wait(0, false));  // not run yet
    EXPECT_TRUE(inbox.event_proc());
    EXPECT_EQ(inbox.ran.load(), 8);
    EXPECT_EQ(handler.events.load(), 0);
    EXPECT_TRUE(inbox.event_proc());
    EXPECT_FALSE(inbox.event_proc());
    EXPECT_EQ(handler.last_id, 1009);
    EXPECT_EQ(inbox.ids, (std::vector<int>{1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010}));
    EXPECT_TRUE(done.timed_wait(0, false));
}

TEST(EventThread, PostingWithADoneSignWakesTheOwnerAndWithoutDoesNot) {
    Base::Sign done(0);  // outlives the inbox, which sets it when destroyed
    Inbox inbox;
    inbox.add_event(1001, nullptr, nullptr, nullptr, true);
    EXPECT_FALSE(inbox.wait_sign());  // 10 ms idle wait, nobody woke it
    inbox.add_event(1002, nullptr, &done, nullptr, true);
    inbox.add_event(1003, nullptr, &done, nullptr, true);
    EXPECT_TRUE(inbox.wait_sign());
    EXPECT_FALSE(inbox.wait_sign());  // both wake-ups were one
    // From the owner a wake-up opens the busy window instead.
    inbox.set_loop(1000000);
    inbox.wakeup(false);
    EXPECT_EQ(inbox.get_busy_until(), 1000000u + 7500u);
}

TEST(EventThread, OwnerRunsUnqueuedEventsAtOnceAndQueuesTheRest) {
    // Runs on the owning thread through a handler's callback.
    class Poster : public Parallel::Handler {
      public:
        Inbox* inbox = nullptr;
        Counter* target = nullptr;
        bool ran_inline = false;
        bool done_inline = false;
        bool queued_later = false;
        int on_event(int id, void* arg) override {
            (void)arg;
            if (id != 1) return 0;
            Base::Sign done(0);
            inbox->add_event(2, nullptr, &done, target, false);
            ran_inline = target->events.load() == 1;
            done_inline = done.timed_wait(0, false);
            inbox->add_event(3, nullptr, nullptr, target, true);
            queued_later = target->events.load() == 1;
            return 0;
        }
    };
    Inbox inbox;
    Counter target;
    Poster poster;
    poster.inbox = &inbox;
    poster.target = &target;
    ASSERT_TRUE(inbox.create(true, nullptr));
    Base::Sign done(0);
    inbox.add_event(1, nullptr, &done, &poster, false);
    done.join();
    Base::Sign flushed(0);
    inbox.add_event(4, nullptr, &flushed, &target, false);
    flushed.join();
    inbox.stop();
    inbox.wakeup(true);
    ASSERT_TRUE(inbox.join());
    EXPECT_TRUE(poster.ran_inline);
    EXPECT_TRUE(poster.done_inline);
    EXPECT_TRUE(poster.queued_later);
    EXPECT_EQ(target.events.load(), 3);
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
    std::atomic<int> posted{0};
    std::atomic<int> released{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < requesters; ++i) {
        threads.emplace_back([&] {
            Base::Sign done(0);
            inbox->add_event(1001, nullptr, &done, nullptr, false);
            posted.fetch_add(1);
            done.join();
            released.fetch_add(1);
        });
    }
    while (posted.load() < requesters) std::this_thread::yield();
    EXPECT_EQ(released.load(), 0);
    int ran = inbox->ran.load();
    delete inbox;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(released.load(), requesters);
    EXPECT_EQ(ran, 0);
}

}  // namespace
