// Notifies bound to a reactor: producers wake the reactor through its group,
// and the reactor's notify event wakes every notify of a list.
#include <gtest/gtest.h>

#include <thread>

#include "base/list.h"
#include "base/notify.h"
#include "parallel/fd_notify.h"
#include "parallel/fd_reactor.h"
#include "parallel/handler_notify.h"
#include "scripted_fd_reactor.h"

namespace {

using ReactorTest::run_script;
using ReactorTest::ScriptedFdReactor;

const unsigned long T0 = 1000000000UL;

class Counting : public Base::Notify {
  public:
    explicit Counting(Base::NotifyGroup* group) : Notify(group) {}
    int local = 0;
    int remote = 0;
    void wakeup(bool cross_thread) override { ++(cross_thread ? remote : local); }
};

class NoFd : public Parallel::Fd {};

TEST(Notify, HandlerAndFdNotifiesJoinTheReactorsGroup) {
    Parallel::FdReactor reactor(nullptr);
    Parallel::Handler handler;
    NoFd fd;
    Parallel::HandlerNotify hn(&reactor, &handler);
    Parallel::FdNotify fn(&reactor, &fd);
    EXPECT_TRUE(handler.is_notify());
    EXPECT_TRUE(fd.is_notify());
    EXPECT_EQ(hn.get_group(), static_cast<Base::NotifyGroup*>(&reactor));
    EXPECT_EQ(fn.get_group(), static_cast<Base::NotifyGroup*>(&reactor));
    EXPECT_EQ(Parallel::FdNotify(nullptr, nullptr).get_group(), nullptr);
    EXPECT_EQ(Parallel::HandlerNotify(nullptr, nullptr).get_group(), nullptr);
}

TEST(Notify, NotifyEventWakesEveryNotifyOfTheList) {
    run_script([](ScriptedFdReactor& r) {
        Counting a(&r), b(&r);
        Base::List list(false, 0);
        list.push_back(&a);
        list.push_back(&b);
        r.notify(&list);  // on the reactor thread: runs at once
        EXPECT_EQ(a.local, 1);
        EXPECT_EQ(b.local, 1);
        EXPECT_EQ(a.remote + b.remote, 0);
    });
}

TEST(Notify, ProducerOnAnotherThreadEndsTheIdleWait) {
    run_script([](ScriptedFdReactor& r) {
        NoFd fd;
        Parallel::FdNotify fn(&r, &fd);
        Base::Producer producer;
        Base::List::Node* node = nullptr;
        ASSERT_NE(producer.add(&fn, node), nullptr);
        r.set_busy(0);
        EXPECT_FALSE(r.pass(T0));  // nothing woke it: 10 ms wait
        std::thread writer([&] { EXPECT_EQ(producer.produce(), 1); });
        writer.join();
        EXPECT_TRUE(r.pass(T0));
        // On its own thread a produce extends the busy window instead.
        EXPECT_EQ(producer.produce(), 1);
        EXPECT_EQ(r.get_busy_until(), T0 + 7500);
    });
}

}  // namespace
