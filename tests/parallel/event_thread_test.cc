#include "parallel/event_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "scripted_fd_reactor.h"

namespace {

using ReactorTest::Call;

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
    Call handler;
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

// On its own thread the owner runs an unqueued event at once, sign and all,
// and a queued one at its next pass.
TEST(EventThread, OwnerRunsUnqueuedEventsAtOnceAndQueuesTheRest) {
    ReactorTest::ScriptedReactor::run([](ReactorTest::ScriptedReactor& r) {
        Call target;
        int targeted = 0;
        target.event = [&](int, void*) { ++targeted; };
        Base::Sign done(0);
        r.add_event(1001, nullptr, &done, &target, false);
        EXPECT_EQ(targeted, 1);
        EXPECT_TRUE(done.timed_wait(0, false));
        r.add_event(1002, nullptr, nullptr, &target, true);
        EXPECT_EQ(targeted, 1);
        r.pass(ReactorTest::T0);
        EXPECT_EQ(targeted, 2);
    });
}

// Requesters blocked on events that will never run are released when the
// event thread is destroyed, and the events are dropped unrun.
TEST(EventThread, DestructionReleasesEveryBlockedRequester) {
    Parallel::Reactor* reactor = new Parallel::Reactor(nullptr);
    ASSERT_TRUE(reactor->create(true, nullptr));
    reactor->stop();
    reactor->wakeup(true);
    ASSERT_TRUE(reactor->join());
    Call target;
    std::atomic<int> posted{0}, released{0}, ran{0};
    target.event = [&](int, void*) { ++ran; };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            Base::Sign done(0);
            reactor->add_event(1001, nullptr, &done, &target, false);
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
    EXPECT_EQ(ran.load(), 0);
}

}  // namespace
